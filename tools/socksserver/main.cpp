// Runs the SOCKS server on its own: nimbora-socksserver [--listen ADDRESS] [--bind ADDRESS] [--quiet] PORT
#include "tunnels/socksserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

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
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-socksserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local SOCKS 4, 4a and 5 server. Prints the port it listens on, "
                                                    "then one line per log message on standard error."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("port"), QStringLiteral("Port to listen on (0 picks a free one)."));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1)."), QStringLiteral("address"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
        QStringLiteral("Local address of every outgoing socket (default 127.0.0.1)."), QStringLiteral("address"),
        QStringLiteral("127.0.0.1"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Do not print log messages."));
    parser.addOptions({ listenOption, bindOption, quietOption });
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return usageError(parser, QStringLiteral("exactly one port is needed"));
    bool ok = false;
    const uint port = arguments.first().toUInt(&ok);
    if (!ok || port > 65535)
        return usageError(parser, QStringLiteral("not a port number: %1").arg(arguments.first()));
    QHostAddress listenAddress;
    if (!listenAddress.setAddress(parser.value(listenOption)))
        return usageError(parser, QStringLiteral("not an IP address: %1").arg(parser.value(listenOption)));
    QHostAddress bindAddress;
    if (!bindAddress.setAddress(parser.value(bindOption)))
        return usageError(parser, QStringLiteral("not an IP address: %1").arg(parser.value(bindOption)));

    SocksServer server;
    server.setAddress(bindAddress);
    if (!parser.isSet(quietOption)) {
        QObject::connect(&server, &SocksServer::log, [](const QString &text) {
            fprintf(stderr, "%s\n", qPrintable(text));
            fflush(stderr);
        });
    }
    if (!server.listen(listenAddress, quint16(port))) {
        fprintf(stderr, "nimbora-socksserver: cannot listen on %s port %u: %s\n", qPrintable(listenAddress.toString()),
            port, qPrintable(server.errorString()));
        return 1;
    }
    printf("%u\n", server.serverPort());
    fflush(stdout);
    return application.exec();
}
