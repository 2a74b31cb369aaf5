#ifndef NIMBORA_PRIVILEGED_OPENVPNARGUMENTS_H
#define NIMBORA_PRIVILEGED_OPENVPNARGUMENTS_H

#include <QHostAddress>
#include <QList>
#include <QNetworkProxy>
#include <QString>
#include <QStringList>

// The command line of the OpenVPN client, from values the controller has already gathered, so
// that both platforms' lists can be built and compared anywhere.
class OpenVPNArguments
{
public:
    enum Platform { Windows, Linux };

    static Platform currentPlatform();

    // Windows: the adapter's GUID, given as the device node; Linux: the tun interface's name.
    QString adapter;
    QString host;
    quint16 port = 0;
    // Windows: the management listener's address and port.
    QString managementAddress;
    quint16 managementPort = 0;
    // Linux: the path of the management listener's Unix socket.
    QString managementSocket;
    QNetworkProxy::ProxyType proxyType = QNetworkProxy::NoProxy;
    // Numeric, already resolved; empty when the name gave no address.
    QString proxyAddress;
    quint16 proxyPort = 0;
    QString proxyAuthMethod = QStringLiteral("Automatique");
    QString caFile;
    bool autoReconnect = true;
    // True: the VPN server's DNS is used and no server is pushed from here.
    bool useServerDns = true;
    QList<QHostAddress> dnsServers;
    QString windowsIpMethod = QStringLiteral("dynamic");

    QStringList build(Platform platform) const;
};

#endif
