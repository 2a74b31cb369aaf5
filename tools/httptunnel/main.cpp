// Runs the HTTP tunnel's listener alone: OpenVPN (or any TCP client) connects to the local port,
// and the stream goes to the HTTP transport end of a VPN server.
//
//   nimbora-httptunnel LOCAL_PORT HOST PORT SESSION [options]
//     --mode plain|streaming|file-upload   upload mode (default file-upload)
//     --http-proxy HOST PORT USER PASSWORD through an HTTP proxy with Basic credentials
//     --socks-proxy HOST PORT              through a SOCKS 5 proxy
//
// The settings are kept in a temporary folder of its own, never in the user's store.

#include "base/settingskeys.h"
#include "tunnels/httpserver.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

int usage()
{
    QTextStream(stderr) << "usage: nimbora-httptunnel LOCAL_PORT HOST PORT SESSION [--mode plain|streaming|file-upload]"
                           " [--http-proxy HOST PORT USER PASSWORD | --socks-proxy HOST PORT]\n";
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrelle"));
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-httptunnel"));

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 4)
        return usage();
    bool localOk = false;
    bool remoteOk = false;
    const uint localPort = arguments.at(0).toUInt(&localOk);
    const uint port = arguments.at(2).toUInt(&remoteOk);
    if (!localOk || !remoteOk || localPort > 65535 || port == 0 || port > 65535)
        return usage();
    const QString host = arguments.at(1);
    const QString session = arguments.at(3);
    arguments = arguments.mid(4);

    QString mode = QStringLiteral("file-upload");
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (option == QLatin1String("--mode") && !arguments.isEmpty()) {
            mode = arguments.takeFirst();
        } else if (option == QLatin1String("--http-proxy") && arguments.size() >= 4) {
            proxy = QNetworkProxy(QNetworkProxy::HttpProxy, arguments.at(0), quint16(arguments.at(1).toUInt()),
                arguments.at(2), arguments.at(3));
            arguments = arguments.mid(4);
        } else if (option == QLatin1String("--socks-proxy") && arguments.size() >= 2) {
            proxy = QNetworkProxy(QNetworkProxy::Socks5Proxy, arguments.at(0), quint16(arguments.at(1).toUInt()));
            arguments = arguments.mid(2);
        } else {
            return usage();
        }
    }
    if (mode != QLatin1String("plain") && mode != QLatin1String("streaming") && mode != QLatin1String("file-upload"))
        return usage();

    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid())
        return 1;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    {
        QSettings settings;
        settings.setValue(SettingsKeys::TunnelHttpStreaming, mode != QLatin1String("plain"));
        settings.setValue(SettingsKeys::TunnelHttpFileUpload, mode == QLatin1String("file-upload"));
        settings.setValue(SettingsKeys::UserAgent, QStringLiteral("Mozilla/5.0 (Windows NT 10.0; Win64; x64)"));
    }

    HttpServer server;
    QObject::connect(&server, &HttpServer::log, [](const QString &text) { QTextStream(stdout) << text << Qt::endl; });
    server.setHost(host);
    server.setPort(quint16(port));
    server.setSession(session);
    server.setProxy(proxy);
    if (!server.listen(QHostAddress::LocalHost, quint16(localPort))) {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << localPort << ": " << server.errorString() << '\n';
        return 1;
    }
    QTextStream(stdout) << "listening on 127.0.0.1:" << server.serverPort() << Qt::endl;
    const int result = application.exec();
    server.close();
    return result;
}
