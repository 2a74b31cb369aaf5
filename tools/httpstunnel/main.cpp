// Runs the HTTPS transport's listener on its own:
//     nimbora-httpstunnel [--proxy URL] [--user-agent TEXT] [--quiet] HOST PORT
#include "tunnels/httpsserver.h"

#include "base/settingskeys.h"

#include <QAuthenticator>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

namespace {

int usageError(const QCommandLineParser &parser, const QString &message)
{
    QTextStream err(stderr);
    err << QCoreApplication::applicationName() << ": " << message << "\n\n" << parser.helpText();
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-httpstunnel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local listener of the HTTPS transport on 127.0.0.1: carries one "
                                                    "connection inside TLS to HOST:PORT. Prints the port it listens "
                                                    "on, then one line per log message on standard error."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("host"), QStringLiteral("VPN server to connect to."));
    parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("Its TLS port."));
    const QCommandLineOption proxyOption(QStringLiteral("proxy"),
        QStringLiteral("Proxy: http://[user:password@]host:port or socks5://[user:password@]host:port."),
        QStringLiteral("url"));
    const QCommandLineOption listenPortOption(QStringLiteral("listen-port"),
        QStringLiteral("Local port (default 0: the system picks one)."), QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption userAgentOption(QStringLiteral("user-agent"),
        QStringLiteral("User agent of the proxy CONNECT request."), QStringLiteral("text"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Do not print log messages."));
    parser.addOptions({ proxyOption, listenPortOption, userAgentOption, quietOption });
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        return usageError(parser, QStringLiteral("a host and a port are needed"));
    bool ok = false;
    const uint port = arguments.at(1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return usageError(parser, QStringLiteral("not a port number: %1").arg(arguments.at(1)));
    const uint listenPort = parser.value(listenPortOption).toUInt(&ok);
    if (!ok || listenPort > 65535)
        return usageError(parser, QStringLiteral("not a port number: %1").arg(parser.value(listenPortOption)));

    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    QString proxyUser;
    QString proxyPassword;
    if (parser.isSet(proxyOption)) {
        const QUrl url(parser.value(proxyOption));
        const QString scheme = url.scheme();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("socks5")) || url.host().isEmpty()
            || url.port() <= 0)
            return usageError(parser, QStringLiteral("not a proxy URL: %1").arg(parser.value(proxyOption)));
        proxy = QNetworkProxy(scheme == QLatin1String("http") ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy,
            url.host(), quint16(url.port()));
        // Credentials are handed over when the proxy asks, as the product's dialog does.
        proxyUser = url.userName();
        proxyPassword = url.password();
    }

    // A settings store of its own, so that trials never touch a user's settings.
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    if (parser.isSet(userAgentOption))
        QSettings().setValue(SettingsKeys::UserAgent, parser.value(userAgentOption));

    HttpsServer server;
    server.setHost(arguments.at(0));
    server.setPort(quint16(port));
    server.setProxy(proxy);
    QObject::connect(&server, &HttpsServer::proxyAuthenticationRequired,
        [proxyUser, proxyPassword](const QNetworkProxy &, QAuthenticator *authenticator) {
            if (proxyUser.isEmpty())
                return;
            authenticator->setUser(proxyUser);
            authenticator->setPassword(proxyPassword);
        });
    if (!parser.isSet(quietOption)) {
        QObject::connect(&server, &HttpsServer::log, [](const QString &text) {
            fprintf(stderr, "%s\n", qPrintable(text));
            fflush(stderr);
        });
    }
    if (!server.listen(QHostAddress::LocalHost, quint16(listenPort))) {
        fprintf(stderr, "nimbora-httpstunnel: cannot listen on port %u: %s\n", listenPort,
            qPrintable(server.errorString()));
        return 1;
    }
    printf("%u\n", server.serverPort());
    fflush(stdout);
    return application.exec();
}
