#include "privileged/machinechanges.h"

#include "privileged/leftoveropenvpn.h"
#include "netconfig/networkconfiguration.h"

#include <QFile>
#include <QUrl>

namespace {

const QString RouteAdded = QStringLiteral("route-added");
const QString RouteRemoved = QStringLiteral("route-removed");
const QString Resolver = QStringLiteral("resolver");
const QString OpenVpn = QStringLiteral("openvpn");
const QString WeakHost = QStringLiteral("weak-host");
const QHostAddress AnyAddress(QHostAddress::AnyIPv4);
const QHostAddress HostMask(QStringLiteral("255.255.255.255"));

QString adapterName(const Route &route)
{
    return route.adapter.networkInterface().name();
}

bool isDefaultRoute(const Route &route)
{
    return route.destination == AnyAddress && route.mask == AnyAddress;
}

bool hasGateway(const Route &route)
{
    return !route.gateway.isNull() && route.gateway != AnyAddress;
}

bool isInTable(const Route &route, const QList<Route> &table)
{
    for (const Route &present : table) {
        if (present == route && adapterName(present) == adapterName(route))
            return true;
    }
    return false;
}

bool holds(const Route &route, const QHostAddress &address)
{
    return address.isInSubnet(route.destination, NetworkConfiguration::prefixLength(route.mask));
}

QString encodedName(const QString &name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QString decodedName(const QString &text)
{
    return QUrl::fromPercentEncoding(text.toLatin1());
}

// The attributes a route was read with, "name=value" each, only those that were given.
QStringList attributeFields(const RouteAttributes &attributes)
{
    QStringList fields;
    if (attributes.protocol >= 0)
        fields << QStringLiteral("protocol=%1").arg(attributes.protocol);
    if (attributes.scope >= 0)
        fields << QStringLiteral("scope=%1").arg(attributes.scope);
    if (!attributes.source.isNull())
        fields << QStringLiteral("source=") + attributes.source.toString();
    if (attributes.tos)
        fields << QStringLiteral("tos=%1").arg(attributes.tos);
    if (attributes.onLink)
        fields << QStringLiteral("onlink=1");
    if (attributes.realms)
        fields << QStringLiteral("realms=%1").arg(attributes.realms);
    for (auto metric = attributes.metrics.cbegin(); metric != attributes.metrics.cend(); ++metric)
        fields << QStringLiteral("metric%1=%2").arg(metric.key()).arg(metric.value());
    return fields;
}

bool parseAttribute(const QString &field, RouteAttributes *attributes)
{
    const QString name = field.section(QLatin1Char('='), 0, 0);
    const QString value = field.section(QLatin1Char('='), 1);
    if (name == QLatin1String("source")) {
        attributes->source = QHostAddress(value);
        return attributes->source.protocol() == QAbstractSocket::IPv4Protocol;
    }
    bool read = false;
    const uint number = value.toUInt(&read);
    bool isMetric = false;
    const int metric = name.startsWith(QLatin1String("metric")) ? name.mid(6).toInt(&isMetric) : 0;
    if (name == QLatin1String("protocol"))
        attributes->protocol = int(number);
    else if (name == QLatin1String("scope"))
        attributes->scope = int(number);
    else if (name == QLatin1String("tos"))
        attributes->tos = int(number);
    else if (name == QLatin1String("onlink"))
        attributes->onLink = number != 0;
    else if (name == QLatin1String("realms"))
        attributes->realms = number;
    else if (isMetric)
        attributes->metrics.insert(metric, number);
    else
        return true; // a later version's: the route is still put back with what is known
    return read;
}

// "route-removed 0.0.0.0 0.0.0.0 198.18.1.1 eth0 100 protocol=16 scope=0 source=198.18.1.2"; a
// route of ours has no attributes, nor had any route in the journals of earlier versions.
QString routeEntry(const char *kind, const Route &route)
{
    return (QStringList { QLatin1String(kind), route.destination.toString(), route.mask.toString(),
                route.gateway.toString(), encodedName(route.adapter.networkInterface().name()),
                QString::number(route.metric) }
        + attributeFields(route.attributes))
        .join(QLatin1Char(' '));
}

bool parseRoute(const QStringList &fields, Route *route)
{
    if (fields.size() < 6)
        return false;
    bool metricRead = false;
    route->destination = QHostAddress(fields.at(1));
    route->mask = QHostAddress(fields.at(2));
    route->gateway = QHostAddress(fields.at(3));
    route->adapter = NetworkAdapter(QNetworkInterface::interfaceFromName(decodedName(fields.at(4))));
    route->metric = fields.at(5).toInt(&metricRead);
    for (int i = 6; i < fields.size(); ++i) {
        if (!parseAttribute(fields.at(i), &route->attributes))
            return false;
    }
    return metricRead && !route->destination.isNull() && !route->mask.isNull();
}

// "weak-host eth0 1 0 0": what was on, forwarding, weak-host send and receive, before it was turned off.
QString weakHostEntry(const QNetworkInterface &networkInterface, const NetworkSystem::HostModel &model)
{
    return QStringList { WeakHost, encodedName(networkInterface.name()), QString::number(int(model.forwarding)),
        QString::number(int(model.weakHostSend)), QString::number(int(model.weakHostReceive)) }
        .join(QLatin1Char(' '));
}

bool parseWeakHost(const QStringList &fields, QNetworkInterface *networkInterface, NetworkSystem::HostModel *model)
{
    if (fields.size() != 5)
        return false;
    bool *settings[] = { &model->forwarding, &model->weakHostSend, &model->weakHostReceive };
    for (int i = 0; i < 3; ++i) {
        const QString &field = fields.at(2 + i);
        if (field != QLatin1String("0") && field != QLatin1String("1"))
            return false;
        *settings[i] = field == QLatin1String("1");
    }
    *networkInterface = QNetworkInterface::interfaceFromName(decodedName(fields.at(1)));
    return true;
}

QString weakHostText(const QString &interfaceName, bool restored)
{
    return QStringLiteral("Forwarding and weak-host settings of %1 %2")
        .arg(interfaceName, QLatin1String(restored ? "restored" : "not restored"));
}

ResolverSwitch::Method resolverMethod(const QString &name)
{
    for (ResolverSwitch::Method method :
        { ResolverSwitch::Resolvectl, ResolverSwitch::Resolvconf, ResolverSwitch::ResolvConfFile }) {
        if (ResolverSwitch::methodName(method) == name)
            return method;
    }
    return ResolverSwitch::NoMethod;
}

// One leftover change undone; a line for the log, empty when the entry cannot be understood.
QString undoEntry(const QString &entry)
{
    const QStringList fields = entry.split(QLatin1Char(' '));
    const QString &kind = fields.first();
    Route route;
    QString reason;
    if ((kind == RouteAdded || kind == RouteRemoved) && parseRoute(fields, &route)) {
        const bool added = kind == RouteAdded;
        const bool done = added ? deleteRoute(route, &reason) : addRoute(route, &reason);
        return QStringLiteral("Route %1 %2%3")
            .arg(MachineChanges::routeText(route), QLatin1String(added ? "deleted" : "restored"),
                done ? QString() : QStringLiteral(" failed: ") + reason);
    }
    if (kind == Resolver && fields.size() == 3 && resolverMethod(fields.at(1)) != ResolverSwitch::NoMethod) {
        ResolverSwitch resolver;
        resolver.resume(resolverMethod(fields.at(1)), decodedName(fields.at(2)));
        return resolver.restore(&reason) ? QStringLiteral("Name servers restored")
                                         : QStringLiteral("Name servers not restored: ") + reason;
    }
    QNetworkInterface networkInterface;
    NetworkSystem::HostModel model;
    if (kind == WeakHost && parseWeakHost(fields, &networkInterface, &model)) {
        if (!networkInterface.isValid())
            return weakHostText(decodedName(fields.at(1)), false) + QStringLiteral(": the adapter is gone");
        return weakHostText(networkInterface.name(), restoreWeakHost(networkInterface, model));
    }
    bool read = false;
    if (kind == OpenVpn && fields.size() == 2) {
        const qint64 processId = fields.at(1).toLongLong(&read);
        if (read)
            return endLeftoverOpenVpn(processId);
    }
    return QStringLiteral("Unknown change left as it is: ") + entry;
}

} // namespace

MachineChanges::MachineChanges(const QString &journalPath, QObject *parent)
    : QObject(parent), m_journal(journalPath) { }

MachineChanges::~MachineChanges()
{
    undo();
    forgetOpenVpn();
}

QString MachineChanges::routeText(const Route &route)
{
    return QStringList { route.destination.toString(), route.mask.toString(), route.gateway.toString(),
        route.adapter.networkInterface().name(), QString::number(route.metric) }
        .join(QLatin1Char(' '));
}

bool MachineChanges::journal(const QString &entry)
{
    if (m_journal.add(entry))
        return true;
    // Said once; the connection goes on, only a crash would now leave this change behind.
    if (!m_journalFailed)
        emit log(QStringLiteral("Undo journal cannot be written: ") + m_journal.path());
    m_journalFailed = true;
    return false;
}

void MachineChanges::changeRoutes(const QList<Route> &remove, const QList<Route> &add)
{
    deleteRoutes(remove, &m_removed, "delete", "route-removed");
    addRoutes(add, &m_added, "add", "route-added");
}

void MachineChanges::useNameServers(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers)
{
    if (servers.isEmpty())
        return;
    QString reason;
    const ResolverSwitch::Method method = ResolverSwitch::plannedMethod(&reason);
    if (method == ResolverSwitch::NoMethod && !reason.isEmpty()) {
        emit log(QStringLiteral("Name servers not changed: ") + reason);
        return;
    }
    m_resolverAdapter = vpnAdapter;
    m_resolverServers = servers;
    if (method != ResolverSwitch::NoMethod) {
        m_resolverEntry = QStringList { Resolver, ResolverSwitch::methodName(method),
            encodedName(vpnAdapter.networkInterface().name()) }
                              .join(QLatin1Char(' '));
        journal(m_resolverEntry);
    }
    if (!m_resolver.apply(vpnAdapter, servers, &reason))
        emit log(QStringLiteral("Name servers not changed: ") + reason);
    if (!m_resolver.isApplied()) {
        m_journal.remove(m_resolverEntry);
        m_resolverEntry.clear();
    }
}

void MachineChanges::disableWeakHost(const NetworkAdapter &adapter)
{
    const QNetworkInterface networkInterface = adapter.networkInterface();
    NetworkSystem::HostModel model;
    if (!NetworkSystem::instance()->hostModel(networkInterface, &model)
        || !(model.forwarding || model.weakHostSend || model.weakHostReceive))
        return;
    m_weakHostEntry = weakHostEntry(networkInterface, model);
    journal(m_weakHostEntry);
    ::disableWeakHost(networkInterface);
    m_weakHostInterface = networkInterface;
    m_weakHostModel = model;
}

void MachineChanges::noteOpenVpn(qint64 processId)
{
    if (processId <= 0)
        return;
    m_openvpnEntry = OpenVpn + QLatin1Char(' ') + QString::number(processId);
    journal(m_openvpnEntry);
}

void MachineChanges::forgetOpenVpn()
{
    m_journal.remove(m_openvpnEntry);
    m_openvpnEntry.clear();
}

void MachineChanges::undo()
{
    QString reason;
    if (m_resolver.isApplied() && !m_resolver.restore(&reason))
        emit log(QStringLiteral("Name servers not restored: ") + reason); // the entry stays for the next start
    else
        m_journal.remove(m_resolverEntry);

    const QList<Route> added = m_added;
    const QList<Route> removed = m_removed;
    m_added.clear();
    m_removed.clear();
    QList<Route> undone;
    deleteRoutes(added, &undone, "delete", nullptr);
    addRoutes(removed, &undone, "restore", nullptr);
    for (const Route &route : added)
        m_journal.remove(routeEntry("route-added", route));
    for (const Route &route : removed)
        m_journal.remove(routeEntry("route-removed", route));

    if (!m_weakHostEntry.isEmpty()) {
        if (restoreWeakHost(m_weakHostInterface, m_weakHostModel))
            m_journal.remove(m_weakHostEntry);
        else
            emit log(weakHostText(m_weakHostInterface.name(), false)); // the entry stays for the next start
        m_weakHostEntry.clear();
    }
}

void MachineChanges::addRoutes(const QList<Route> &routes, QList<Route> *done, const char *what, const char *entryKind)
{
    for (const Route &route : routes) {
        const QString entry = entryKind ? routeEntry(entryKind, route) : QString();
        if (entryKind)
            journal(entry);
        QString reason;
        if (addRoute(route, &reason)) {
            *done << route;
            continue;
        }
        if (entryKind)
            m_journal.remove(entry);
        emit log(QStringLiteral("Route %1 failed: %2: %3").arg(QLatin1String(what), routeText(route), reason));
    }
}

void MachineChanges::deleteRoutes(
    const QList<Route> &routes, QList<Route> *done, const char *what, const char *entryKind)
{
    for (const Route &route : routes) {
        const QString entry = entryKind ? routeEntry(entryKind, route) : QString();
        if (entryKind)
            journal(entry);
        QString reason;
        if (deleteRoute(route, &reason)) {
            *done << route;
            continue;
        }
        if (entryKind)
            m_journal.remove(entry);
        emit log(QStringLiteral("Route %1 failed: %2: %3").arg(QLatin1String(what), routeText(route), reason));
    }
}

bool MachineChanges::repair(const NetworkAdapter &vpnAdapter, const QHostAddress &endpoint)
{
    const QList<Route> table = routingTable();
    const QString vpnName = vpnAdapter.networkInterface().name();
    const Route way = physicalDefaultRoute(table, vpnName);
    bool pathChanged = false;
    for (int i = 0; i < m_added.size(); ++i) {
        const Route route = m_added.at(i);
        if (isInTable(route, table))
            continue;
        const bool physical = adapterName(route) != vpnName && hasGateway(route);
        // The adapter may have been made again under its name, with another index.
        Route replacement = route;
        replacement.adapter = NetworkAdapter(QNetworkInterface::interfaceFromName(adapterName(route)));
        if (physical && way.isValid() && (way.gateway != route.gateway || adapterName(way) != adapterName(route))) {
            // The old gateway belongs to the network the machine has left.
            replacement.gateway = way.gateway;
            replacement.adapter = way.adapter;
            replacement.attributes = RouteAttributes();
        }
        if (!putBack(route, replacement))
            continue;
        m_added[i] = replacement;
        if (physical && (endpoint.isNull() ? route.mask == HostMask : holds(route, endpoint)))
            pathChanged = true;
    }
    repairResolver();
    return pathChanged;
}

Route MachineChanges::physicalDefaultRoute(const QList<Route> &table, const QString &vpnAdapterName) const
{
    const Route *best = nullptr;
    bool bestIsOurs = false;
    for (const Route &route : table) {
        if (!isDefaultRoute(route) || !hasGateway(route) || adapterName(route) == vpnAdapterName)
            continue;
        const bool ours = m_added.contains(route);
        if (!best || (bestIsOurs && !ours) || (bestIsOurs == ours && route.metric < best->metric)) {
            best = &route;
            bestIsOurs = ours;
        }
    }
    return best ? *best : Route();
}

bool MachineChanges::putBack(const Route &missing, const Route &replacement)
{
    const bool moved = replacement.gateway != missing.gateway || adapterName(replacement) != adapterName(missing);
    const QString entry = routeEntry("route-added", replacement);
    if (moved)
        journal(entry);
    QString reason;
    if (!addRoute(replacement, &reason)) {
        if (moved)
            m_journal.remove(entry);
        // Tried again at the next change.
        emit log(QStringLiteral("Network change: route %1 not added again: %2").arg(routeText(replacement), reason));
        return false;
    }
    if (!moved) {
        emit log(QStringLiteral("Network change: route %1 added again").arg(routeText(replacement)));
        return true;
    }
    m_journal.remove(routeEntry("route-added", missing));
    emit log(QStringLiteral("Network change: route %1 replaced by %2").arg(routeText(missing), routeText(replacement)));
    return true;
}

bool MachineChanges::isResolverInPlace() const
{
    if (m_resolver.method() == ResolverSwitch::ResolvConfFile) {
        QFile file(m_resolver.resolverFile());
        // What cannot be read is left as it is.
        return !file.open(QIODevice::ReadOnly)
            || ResolverSwitch::isOwnResolverFile(file.read(ResolverSwitch::MaximumFileSize));
    }
    if (m_resolver.method() == ResolverSwitch::Resolvectl) {
        // systemd-resolved forgets a link's servers when the link goes away and comes back.
        QStringList servers;
        if (!NetworkSystem::instance()->adapterDnsServers(m_resolverAdapter.networkInterface().index(), &servers))
            return true;
        for (const QHostAddress &server : m_resolverServers) {
            if (!server.isNull() && !servers.contains(server.toString()))
                return false;
        }
    }
    // resolvconf keeps its record whatever the network does.
    return true;
}

void MachineChanges::repairResolver()
{
    if (!m_resolver.isApplied() || isResolverInPlace())
        return;
    // What another program wrote meanwhile (a new lease) is what comes back at the disconnection.
    QString reason;
    const NetworkAdapter adapter(QNetworkInterface::interfaceFromName(m_resolverAdapter.networkInterface().name()));
    if (m_resolver.restore(&reason) && m_resolver.apply(adapter, m_resolverServers, &reason)) {
        m_resolverAdapter = adapter;
        emit log(QStringLiteral("Network change: name servers put back"));
        return;
    }
    emit log(QStringLiteral("Network change: name servers not put back: ") + reason);
    if (!m_resolver.isApplied()) {
        m_journal.remove(m_resolverEntry);
        m_resolverEntry.clear();
    }
}

QStringList MachineChanges::undoLeftovers(const QString &journalPath)
{
    return UndoJournal::undoLeftovers(journalPath, undoEntry);
}
