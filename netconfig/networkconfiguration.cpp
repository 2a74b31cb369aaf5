#include "netconfig/networkconfiguration.h"

#include "netconfig/networksystem.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

using NetworkConfiguration::RouteProgram;
using NetworkConfiguration::RouteProgramTimeout;

namespace {

bool isDefaultRoute(const Route &route)
{
    const QHostAddress any(QHostAddress::AnyIPv4);
    return route.destination == any && route.mask == any;
}

NetworkSystem::ForwardRow forwardRow(const Route &route)
{
    NetworkSystem::ForwardRow row;
    row.destination = route.destination.toIPv4Address();
    row.mask = route.mask.toIPv4Address();
    row.nextHop = route.gateway.toIPv4Address();
    row.interfaceIndex = route.adapter.networkInterface().index();
    row.type = 4;
    row.protocol = 3;
    row.metric = route.metric == -1 ? 1 : route.metric;
    row.attributes = route.attributes;
    return row;
}

// "10.0.0.0/8", or the mask in full where it has no prefix form (ip then refuses it).
QString ipDestination(const Route &route)
{
    const int length = NetworkConfiguration::prefixLength(route.mask);
    return route.destination.toString() + QLatin1Char('/')
        + (length < 0 ? route.mask.toString() : QString::number(length));
}

// What the table said about a route, for ip to add it back the same; the per-route metrics
// (mtu...) only go through rtnetlink.
QStringList ipAttributeArguments(const RouteAttributes &attributes)
{
    QStringList arguments;
    if (attributes.protocol >= 0)
        arguments << QStringLiteral("proto") << QString::number(attributes.protocol);
    if (attributes.scope >= 0)
        arguments << QStringLiteral("scope") << QString::number(attributes.scope);
    if (!attributes.source.isNull())
        arguments << QStringLiteral("src") << attributes.source.toString();
    if (attributes.tos)
        arguments << QStringLiteral("tos") << QString::number(attributes.tos);
    if (attributes.realms)
        arguments << QStringLiteral("realms")
                  << QStringLiteral("%1/%2").arg(attributes.realms >> 16).arg(attributes.realms & 0xffff);
    if (attributes.onLink)
        arguments << QStringLiteral("onlink");
    return arguments;
}

QStringList ipRouteArguments(const QString &command, const Route &route, bool adding)
{
    QStringList arguments { QStringLiteral("route"), command, ipDestination(route) };
    // A route without a next hop lies on the adapter's own link.
    if (route.gateway != QHostAddress(QHostAddress::AnyIPv4))
        arguments << QStringLiteral("via") << route.gateway.toString();
    arguments << QStringLiteral("dev") << route.adapter.networkInterface().name();
    // The metric the system call used, automatic included: a route that the call found
    // already there is not added again beside it with another metric.
    if (adding) {
        arguments << QStringLiteral("metric") << QString::number(route.metric == -1 ? 1 : route.metric);
        arguments << ipAttributeArguments(route.attributes);
    }
    return arguments;
}

QStringList routeExeArguments(const QString &command, const Route &route, bool withMetric)
{
    QStringList arguments { command, route.destination.toString(), QStringLiteral("mask"), route.mask.toString(),
        route.gateway.toString() };
    if (withMetric && route.metric != -1)
        arguments << QStringLiteral("metric") << QString::number(route.metric);
    return arguments;
}

// The command-line way, for when the system call refused: route.exe says "OK" on success,
// ip says it with its exit status. The reason of a failure goes after systemError.
bool changeRouteByProgram(NetworkSystem *system, const QString &command, const Route &route, bool withMetric,
    const QString &systemError, QString *errorString)
{
    const bool windows = system->platform() == NetworkSystem::Windows;
    const QString program = windows ? QString::fromLatin1(RouteProgram) : NetworkConfiguration::ipProgram();
    const QStringList arguments
        = windows ? routeExeArguments(command, route, withMetric) : ipRouteArguments(command, route, withMetric);
    const NetworkSystem::ProgramResult result = system->runProgram(program, arguments, RouteProgramTimeout);
    const bool changed = result.finished && (windows ? result.output.contains("OK") : result.exitCode == 0);
    if (!changed && errorString) {
        const QString programOutcome = result.finished ? QStringLiteral("exit status %1").arg(result.exitCode)
                                                       : QStringLiteral("did not run to its end");
        *errorString = QStringLiteral("%1; %2 %3").arg(systemError, QFileInfo(program).fileName(), programOutcome);
    }
    return changed;
}

// The system's list always has a first entry, empty when the adapter has no server: an empty
// entry would become a route to nowhere or an empty OpenVPN option.
QList<QHostAddress> ipv4Addresses(const QStringList &texts)
{
    QList<QHostAddress> addresses;
    for (const QString &text : texts) {
        const QHostAddress address(text);
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses << address;
    }
    return addresses;
}

// A loopback name server is a local stub (systemd-resolved's 127.0.0.53, dnsmasq's 127.0.0.1):
// the servers that matter are those it forwards to, when the system can tell them for the link.
QList<QHostAddress> withStubUpstreams(
    NetworkSystem *system, const QNetworkInterface &networkInterface, const QList<QHostAddress> &servers)
{
    const auto isStub = [](const QHostAddress &server) { return server.isLoopback(); };
    QStringList upstreamTexts;
    if (std::none_of(servers.cbegin(), servers.cend(), isStub)
        || !system->adapterDnsServers(networkInterface.index(), &upstreamTexts))
        return servers;
    QList<QHostAddress> resolved;
    for (const QHostAddress &server : servers) {
        const QList<QHostAddress> replacing
            = isStub(server) ? ipv4Addresses(upstreamTexts) : QList<QHostAddress> { server };
        for (const QHostAddress &address : replacing) {
            if (!resolved.contains(address))
                resolved << address;
        }
    }
    return resolved;
}

bool runNetsh(NetworkSystem *system, const QStringList &arguments)
{
    const NetworkSystem::ProgramResult result
        = system->runProgram(QString::fromLatin1(NetworkConfiguration::NetshProgram), arguments, -1);
    return result.finished && result.exitCode == 0;
}

QStringList netshSetInterface(const QNetworkInterface &networkInterface)
{
    return { QStringLiteral("interface"), QStringLiteral("ip"), QStringLiteral("set"), QStringLiteral("interface"),
        networkInterface.humanReadableName() };
}

} // namespace

QList<NetworkAdapter> allAdapters()
{
    QList<NetworkAdapter> adapters;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    adapters.reserve(interfaces.size());
    for (const QNetworkInterface &networkInterface : interfaces)
        adapters << NetworkAdapter(networkInterface);
    return adapters;
}

NetworkAdapter adapterByIndex(int interfaceIndex, const QList<NetworkAdapter> &adapters)
{
    for (const NetworkAdapter &adapter : adapters) {
        if (adapter.networkInterface().index() == interfaceIndex)
            return adapter;
    }
    return NetworkAdapter();
}

NetworkAdapter adapterByGuid(const QString &guid, const QList<NetworkAdapter> &adapters)
{
    for (const NetworkAdapter &adapter : adapters) {
        if (adapter.guid() == guid)
            return adapter;
    }
    return NetworkAdapter();
}

QList<Route> routingTable()
{
    const QList<NetworkAdapter> adapters = allAdapters();
    QList<NetworkSystem::ForwardRow> rows;
    QList<Route> routes;
    if (!NetworkSystem::instance()->forwardTable(&rows))
        return routes;
    routes.reserve(rows.size());
    for (const NetworkSystem::ForwardRow &row : qAsConst(rows)) {
        Route route;
        route.destination = QHostAddress(row.destination);
        route.mask = QHostAddress(row.mask);
        route.gateway = QHostAddress(row.nextHop);
        route.adapter = adapterByIndex(row.interfaceIndex, adapters);
        route.metric = row.metric;
        route.attributes = row.attributes;
        routes << route;
    }
    return routes;
}

QList<Route> adapterRoutes(const QNetworkInterface &networkInterface)
{
    QList<Route> routes = routingTable();
    const int index = networkInterface.index();
    routes.erase(std::remove_if(routes.begin(), routes.end(),
                     [index](const Route &route) { return route.adapter.networkInterface().index() != index; }),
        routes.end());
    return routes;
}

QHostAddress adapterGateway(NetworkAdapter &adapter)
{
    if (!adapter.gateway().isNull())
        return adapter.gateway();
    const QList<Route> routes = adapterRoutes(adapter.networkInterface());
    const QHostAddress any(QHostAddress::AnyIPv4);
    for (const Route &route : routes) {
        if (route.destination == any && route.mask == any) {
            adapter.setGateway(route.gateway);
            break;
        }
    }
    return adapter.gateway();
}

NetworkAdapter defaultAdapter()
{
    const QList<Route> routes = routingTable();
    const Route *best = nullptr;
    for (const Route &route : routes) {
        if (isDefaultRoute(route) && (!best || route.metric < best->metric))
            best = &route;
    }
    return best ? best->adapter : NetworkAdapter();
}

bool addRoute(const Route &route, QString *errorString)
{
    if (!route.isValid()) {
        if (errorString)
            *errorString = QStringLiteral("not a valid route");
        return false;
    }
    NetworkSystem *system = NetworkSystem::instance();
    NetworkSystem::ForwardRow row = forwardRow(route);
    quint32 result = system->createForwardEntry(row);
    if (result == 0)
        return true;
    const quint32 firstResult = result;
    // Some adapters take a route only as a direct one, or only above their own metric.
    if (system->platform() == NetworkSystem::Windows) {
        bool badArguments = true;
        while (badArguments && row.metric <= NetworkConfiguration::HighestRetriedMetric) {
            for (int type : { 4, 3 }) {
                row.type = type;
                result = system->createForwardEntry(row);
                if (result == 0)
                    return true;
                if (result != NetworkSystem::ErrorBadArguments) {
                    badArguments = false;
                    break;
                }
            }
            if (badArguments)
                ++row.metric;
        }
    }
    return changeRouteByProgram(
        system, QStringLiteral("add"), route, true, system->errorText(firstResult), errorString);
}

bool deleteRoute(const Route &route, QString *errorString)
{
    if (!route.isValid()) {
        if (errorString)
            *errorString = QStringLiteral("not a valid route");
        return false;
    }
    NetworkSystem *system = NetworkSystem::instance();
    const quint32 result = system->deleteForwardEntry(forwardRow(route));
    if (result == 0)
        return true;
    return changeRouteByProgram(system,
        system->platform() == NetworkSystem::Windows ? QStringLiteral("delete") : QStringLiteral("del"), route, false,
        system->errorText(result), errorString);
}

QList<QHostAddress> dnsServers(const QNetworkInterface &networkInterface)
{
    NetworkSystem *system = NetworkSystem::instance();
    QList<QHostAddress> servers;
    if (system->platform() == NetworkSystem::Linux) {
        QByteArray contents;
        if (system->resolverConfiguration(&contents))
            servers = NetworkConfiguration::resolverNameServers(contents);
        return withStubUpstreams(system, networkInterface, servers);
    }
    QStringList texts;
    if (!system->adapterDnsServers(networkInterface.index(), &texts))
        return servers;
    return ipv4Addresses(texts);
}

QList<QNetworkAddressEntry> addressEntries(
    const QNetworkInterface &networkInterface, QAbstractSocket::NetworkLayerProtocol protocol)
{
    QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                      [protocol](const QNetworkAddressEntry &entry) { return entry.ip().protocol() != protocol; }),
        entries.end());
    return entries;
}

void renameInterface(const QNetworkInterface &networkInterface, const QString &newName)
{
    NetworkSystem *system = NetworkSystem::instance();
    if (system->platform() == NetworkSystem::Linux) {
        system->renameLink(networkInterface.index(), newName);
        return;
    }
    runNetsh(system,
        { QStringLiteral("interface"), QStringLiteral("set"), QStringLiteral("interface"),
            QStringLiteral("name=") + networkInterface.humanReadableName(), QStringLiteral("newname=") + newName });
}

void enableInterface(const QNetworkInterface &networkInterface)
{
    NetworkSystem *system = NetworkSystem::instance();
    if (system->platform() == NetworkSystem::Linux) {
        system->enableLink(networkInterface.index());
        return;
    }
    runNetsh(system,
        { QStringLiteral("interface"), QStringLiteral("set"), QStringLiteral("interface"),
            networkInterface.humanReadableName(), QStringLiteral("ENABLED") });
}

void disableWeakHost(const QNetworkInterface &networkInterface)
{
    NetworkSystem *system = NetworkSystem::instance();
    NetworkSystem::HostModel model;
    if (!system->hostModel(networkInterface, &model))
        return;
    if (system->platform() == NetworkSystem::Linux) {
        // Linux has no weak-host switches; sockets bound to the address choose the adapter.
        if (model.forwarding)
            system->setForwarding(networkInterface, false);
        return;
    }
    const QStringList setInterface = netshSetInterface(networkInterface);
    if (model.forwarding)
        runNetsh(system, setInterface + QStringList { QStringLiteral("forwarding=disabled") });
    if (model.weakHostSend)
        runNetsh(system, setInterface + QStringList { QStringLiteral("weakhostsend=disabled") });
    if (model.weakHostReceive)
        runNetsh(system, setInterface + QStringList { QStringLiteral("weakhostreceive=disabled") });
}

bool restoreWeakHost(const QNetworkInterface &networkInterface, const NetworkSystem::HostModel &model)
{
    NetworkSystem *system = NetworkSystem::instance();
    if (system->platform() == NetworkSystem::Linux)
        return !model.forwarding || system->setForwarding(networkInterface, true);
    const QStringList setInterface = netshSetInterface(networkInterface);
    bool restored = true;
    if (model.forwarding)
        restored &= runNetsh(system, setInterface + QStringList { QStringLiteral("forwarding=enabled") });
    if (model.weakHostSend)
        restored &= runNetsh(system, setInterface + QStringList { QStringLiteral("weakhostsend=enabled") });
    if (model.weakHostReceive)
        restored &= runNetsh(system, setInterface + QStringList { QStringLiteral("weakhostreceive=enabled") });
    return restored;
}

namespace NetworkConfiguration {

QList<QHostAddress> resolverNameServers(const QByteArray &contents)
{
    QList<QHostAddress> servers;
    const QList<QByteArray> lines = contents.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || words.first() != "nameserver")
            continue;
        const QHostAddress address(QString::fromLatin1(words.at(1)));
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            servers << address;
    }
    return servers;
}

// "Link 2 (eth0): 192.0.2.1 192.0.2.2#dns.example 2001:db8::1", resolvectl's answer for a link;
// an address may carry a port and a server name.
QStringList resolvectlServers(const QByteArray &output)
{
    QStringList servers;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        const int listStart = line.lastIndexOf("):");
        if (!line.startsWith("Link ") || listStart < 0)
            continue;
        const QList<QByteArray> words = line.mid(listStart + 2).simplified().split(' ');
        for (const QByteArray &word : words) {
            const int nameStart = word.indexOf('#');
            QByteArray address = nameStart < 0 ? word : word.left(nameStart);
            // An IPv4 address with its port: "192.0.2.1:53"; IPv6 ones come in brackets.
            if (address.count(':') == 1)
                address.truncate(address.indexOf(':'));
            if (!address.isEmpty())
                servers << QString::fromLatin1(address);
        }
    }
    return servers;
}

int prefixLength(const QHostAddress &mask)
{
    bool isIPv4 = false;
    const quint32 bits = mask.toIPv4Address(&isIPv4);
    if (!isIPv4)
        return -1;
    const quint32 hostBits = ~bits;
    // A contiguous mask leaves host bits of the form 0...01...1.
    if ((hostBits & (hostBits + 1)) != 0)
        return -1;
    int length = 0;
    for (quint32 value = bits; value; value <<= 1)
        ++length;
    return length;
}

QString ipProgram()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ip"),
        { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
    return found.isEmpty() ? QStringLiteral("ip") : found;
}

} // namespace NetworkConfiguration
