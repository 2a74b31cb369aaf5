// Runs the UPnP service alone on the interface that carries LOCAL_ADDRESS, against the gateway
// device at GATEWAY_ADDRESS, and prints what it reports, one line each:
//
//   nimbora-upnp LOCAL_ADDRESS GATEWAY_ADDRESS [--add EXTERNAL/PROTO:INTERNAL[:DESCRIPTION]]...
//                [--delete EXTERNAL/PROTO]... [--lists N]
//
//   log: <text>
//   mappings: <count>, then per entry
//   mapping: <externalPort>/<protocol> <internalClient>:<internalPort> external=<address> description=<text>
//   error: add | error: delete
//
// The actions run one at a time, in command-line order: the first once the first list has
// come, each next one after the next list or error. With --lists N it ends after N lists,
// otherwise at SIGINT or SIGTERM. A service that cannot start ends it with status 1.

#include "base/terminationwatcher.h"
#include "netconfig/networkadapter.h"
#include "netconfig/networkconfiguration.h"
#include "upnp/upnpservice.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QTimer>

#include <cstdio>

namespace {

struct Action
{
    bool add = false;
    quint16 externalPort = 0;
    QString protocol;
    quint16 internalPort = 0;
    QString description;
};

int usage(const QString &problem)
{
    fprintf(stderr,
        "nimbora-upnp: %s\nusage: nimbora-upnp LOCAL_ADDRESS GATEWAY_ADDRESS "
        "[--add EXTERNAL/PROTO:INTERNAL[:DESCRIPTION]]... [--delete EXTERNAL/PROTO]... [--lists N]\n",
        qPrintable(problem));
    return 2;
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    *port = quint16(value);
    return ok && value >= 1 && value <= 65535;
}

// "EXTERNAL/PROTO" and, for an addition, ":INTERNAL[:DESCRIPTION]"; the description may hold colons.
bool parseAction(const QString &text, bool add, Action *action)
{
    action->add = add;
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash < 0 || !parsePort(text.left(slash), &action->externalPort))
        return false;
    QString rest = text.mid(slash + 1);
    const int colon = rest.indexOf(QLatin1Char(':'));
    action->protocol = colon < 0 ? rest : rest.left(colon);
    if (action->protocol != QLatin1String("TCP") && action->protocol != QLatin1String("UDP"))
        return false;
    if (!add)
        return colon < 0;
    if (colon < 0)
        return false;
    rest = rest.mid(colon + 1);
    const int second = rest.indexOf(QLatin1Char(':'));
    action->description = second < 0 ? QString() : rest.mid(second + 1);
    return parsePort(second < 0 ? rest : rest.left(second), &action->internalPort);
}

void printLine(const QString &line)
{
    fputs(line.toUtf8().append('\n').constData(), stdout);
    fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nimbora-upnp"));

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2)
        return usage(QStringLiteral("LOCAL_ADDRESS and GATEWAY_ADDRESS are needed"));
    QHostAddress localAddress;
    QHostAddress gatewayAddress;
    if (!localAddress.setAddress(arguments.at(0)) || localAddress.protocol() != QAbstractSocket::IPv4Protocol)
        return usage(QStringLiteral("not an IPv4 address: %1").arg(arguments.at(0)));
    if (!gatewayAddress.setAddress(arguments.at(1)) || gatewayAddress.protocol() != QAbstractSocket::IPv4Protocol)
        return usage(QStringLiteral("not an IPv4 address: %1").arg(arguments.at(1)));
    arguments = arguments.mid(2);

    QList<Action> actions;
    int lists = 0; // 0: until a signal
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (arguments.isEmpty())
            return usage(QStringLiteral("%1 needs a value").arg(option));
        const QString value = arguments.takeFirst();
        Action action;
        if (option == QLatin1String("--add") || option == QLatin1String("--delete")) {
            if (!parseAction(value, option == QLatin1String("--add"), &action))
                return usage(QStringLiteral("malformed %1 %2").arg(option, value));
            actions.append(action);
        } else if (option == QLatin1String("--lists")) {
            bool ok = false;
            lists = value.toInt(&ok);
            if (!ok || lists < 1)
                return usage(QStringLiteral("--lists needs a positive number, not %1").arg(value));
        } else {
            return usage(QStringLiteral("unknown option %1").arg(option));
        }
    }

    NetworkAdapter adapter;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = addressEntries(networkInterface, QAbstractSocket::IPv4Protocol);
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip() == localAddress && !adapter.isValid())
                adapter = NetworkAdapter(networkInterface);
        }
    }
    if (!adapter.isValid()) {
        fprintf(stderr, "nimbora-upnp: no network interface carries %s\n", qPrintable(localAddress.toString()));
        return 1;
    }

    UPnPService service;
    int listsSeen = 0;
    bool waiting = true; // for the list or error that lets the next action go
    auto next = [&] {
        if (!waiting || actions.isEmpty())
            return;
        waiting = false;
        const Action action = actions.takeFirst();
        // Queued: the service is still inside the emission that brought us here.
        QTimer::singleShot(0, &service, [&service, action] {
            if (action.add)
                service.addPortMapping(action.externalPort, action.protocol, action.internalPort, action.description);
            else
                service.deletePortMapping(action.externalPort, action.protocol);
        });
    };
    QObject::connect(&service, &UPnPService::log, [](const QString &text) {
        printLine(QStringLiteral("log: ") + text);
        // Only a failed start ends this way ("... bind failed", "... listen failed"): the service has
        // stopped itself and nothing more will come.
        if (text.endsWith(QLatin1String(" failed")))
            QCoreApplication::exit(1);
    });
    QObject::connect(&service, &UPnPService::portMappingChanged, [&](const QList<QHash<QString, QVariant>> &entries) {
        printLine(QStringLiteral("mappings: %1").arg(entries.size()));
        for (const QHash<QString, QVariant> &entry : entries) {
            printLine(QStringLiteral("mapping: %1/%2 %3:%4 external=%5 description=%6")
                          .arg(entry.value(QStringLiteral("externalPort")).toString(),
                              entry.value(QStringLiteral("protocol")).toString(),
                              entry.value(QStringLiteral("internalClient")).toString(),
                              entry.value(QStringLiteral("internalPort")).toString(),
                              entry.value(QStringLiteral("externalIpAddress")).toString(),
                              entry.value(QStringLiteral("description")).toString()));
        }
        if (lists > 0 && ++listsSeen >= lists) {
            QCoreApplication::quit();
            return;
        }
        waiting = true;
        next();
    });
    QObject::connect(&service, &UPnPService::error, [&](UPnPService::Error error) {
        printLine(error == UPnPService::DeletePortMappingError ? QStringLiteral("error: delete")
                                                               : QStringLiteral("error: add"));
        waiting = true;
        next();
    });

    TerminationWatcher terminationWatcher;
    QObject::connect(
        &terminationWatcher, &TerminationWatcher::terminationRequested, &application, &QCoreApplication::quit);
    service.setInterface(adapter);
    service.setGatewayAddress(gatewayAddress);
    QTimer::singleShot(0, &service, &UPnPService::start);
    const int result = application.exec();
    service.stop();
    return result;
}
