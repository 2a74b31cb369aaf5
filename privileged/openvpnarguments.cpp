#include "privileged/openvpnarguments.h"

OpenVPNArguments::Platform OpenVPNArguments::currentPlatform()
{
#ifdef Q_OS_WIN
    return Windows;
#else
    return Linux;
#endif
}

QStringList OpenVPNArguments::build(Platform platform) const
{
    QStringList arguments;
    arguments << QStringLiteral("--client");
    if (platform == Windows) {
        arguments << QStringLiteral("--dev") << QStringLiteral("tun") << QStringLiteral("--dev-node") << adapter;
    } else {
        arguments << QStringLiteral("--dev") << adapter << QStringLiteral("--dev-type") << QStringLiteral("tun");
    }
    arguments << QStringLiteral("--proto") << QStringLiteral("tcp-client");
    arguments << QStringLiteral("--remote") << host << QString::number(port);
    if (platform == Windows)
        arguments << QStringLiteral("--management") << managementAddress << QString::number(managementPort);
    else
        arguments << QStringLiteral("--management") << managementSocket << QStringLiteral("unix");
    arguments << QStringLiteral("--management-client");
    arguments << QStringLiteral("--management-query-passwords");

    if (proxyType == QNetworkProxy::Socks5Proxy) {
        arguments << QStringLiteral("--socks-proxy") << proxyAddress << QString::number(proxyPort);
    } else if (proxyType == QNetworkProxy::HttpProxy) {
        arguments << QStringLiteral("--http-proxy") << proxyAddress << QString::number(proxyPort);
        // With "stdin" OpenVPN asks for the proxy's credentials on the management connection.
        if (proxyAuthMethod == QLatin1String("Automatique"))
            arguments << QStringLiteral("auto");
        else if (proxyAuthMethod == QLatin1String("Basic"))
            arguments << QStringLiteral("stdin") << QStringLiteral("basic");
        else if (proxyAuthMethod == QLatin1String("NTLM"))
            arguments << QStringLiteral("stdin") << QStringLiteral("ntlm");
    }

    arguments << QStringLiteral("--ca") << caFile;
    arguments << QStringLiteral("--remote-cert-tls") << QStringLiteral("server");
    arguments << QStringLiteral("--reneg-sec") << QStringLiteral("0");
    arguments << QStringLiteral("--auth-user-pass");
    arguments << QStringLiteral("--auth-nocache");
    arguments << QStringLiteral("--compress");
    arguments << QStringLiteral("--resolv-retry") << QStringLiteral("0");
    arguments << QStringLiteral("--ping") << QStringLiteral("10");
    arguments << QStringLiteral("--ping-exit") << QStringLiteral("30");
    if (autoReconnect) {
        arguments << QStringLiteral("--persist-tun") << QStringLiteral("--persist-key")
                  << QStringLiteral("--persist-local-ip") << QStringLiteral("--connect-retry") << QStringLiteral("1");
    } else {
        arguments << QStringLiteral("--connect-retry-max") << QStringLiteral("1") << QStringLiteral("--remap-usr1")
                  << QStringLiteral("SIGTERM");
    }
    if (!useServerDns) {
        for (const QHostAddress &server : dnsServers)
            arguments << QStringLiteral("--dhcp-option") << QStringLiteral("DNS") << server.toString();
    }
    // OpenVPN refuses this option outside Windows.
    if (platform == Windows)
        arguments << QStringLiteral("--ip-win32") << windowsIpMethod;
    arguments << QStringLiteral("--verb") << QStringLiteral("3");
    return arguments;
}
