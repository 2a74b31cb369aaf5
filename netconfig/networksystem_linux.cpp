#include "netconfig/networksystem.h"

#include "netconfig/networkconfiguration.h"
#include "netconfig/resolverswitch.h"
#include "netconfig/routesocket.h"

#include <QFile>
#include <QNetworkInterface>
#include <QUuid>

#include <algorithm>
#include <cstring>

#include <linux/ethtool.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <netlink/errno.h>
#include <net/if.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The resolver's file is small; anything beyond this is not a resolver configuration.
constexpr qint64 MaximumResolverFileSize = 64 * 1024;

// One rtnetlink socket for one operation.
quint32 addressValue(nl_addr *address)
{
    if (!address || nl_addr_get_family(address) != AF_INET || nl_addr_get_len(address) != 4)
        return 0;
    quint32 value;
    std::memcpy(&value, nl_addr_get_binary_addr(address), sizeof value);
    return ntohl(value);
}

nl_addr *makeAddress(quint32 hostOrder, int prefixLength)
{
    const quint32 value = htonl(hostOrder);
    nl_addr *address = nl_addr_build(AF_INET, &value, sizeof value);
    if (address)
        nl_addr_set_prefixlen(address, prefixLength);
    return address;
}

quint32 errorCode(int libnlError)
{
    return libnlError < 0 ? quint32(-libnlError) : quint32(libnlError);
}

enum class RouteChange { Add, Delete };

// The kernel reports more flags than it takes back (linkdown, offload...): on-link is the one
// that a route is made with.
RouteAttributes readAttributes(rtnl_route *route, rtnl_nexthop *nexthop)
{
    RouteAttributes attributes;
    attributes.protocol = rtnl_route_get_protocol(route);
    attributes.scope = rtnl_route_get_scope(route);
    if (nl_addr *source = rtnl_route_get_pref_src(route))
        attributes.source = QHostAddress(addressValue(source));
    attributes.tos = rtnl_route_get_tos(route);
    attributes.onLink = ((rtnl_route_get_flags(route) | rtnl_route_nh_get_flags(nexthop)) & RTNH_F_ONLINK) != 0;
    attributes.realms = rtnl_route_nh_get_realms(nexthop);
    for (int metric = RTAX_LOCK; metric <= RTAX_MAX; ++metric) {
        uint32_t value = 0;
        // The congestion control algorithm is a name, which libnl would read as a number.
        if (metric != RTAX_CC_ALGO && rtnl_route_get_metric(route, metric, &value) == 0)
            attributes.metrics.insert(metric, value);
    }
    return attributes;
}

// A route of ours has no attributes: made by hand ("static"), its scope from its gateway.
void applyAttributes(rtnl_route *route, rtnl_nexthop *nexthop, const RouteAttributes &attributes, bool viaGateway)
{
    rtnl_route_set_protocol(route, quint8(attributes.protocol >= 0 ? attributes.protocol : RTPROT_STATIC));
    rtnl_route_set_scope(
        route, quint8(attributes.scope >= 0 ? attributes.scope : (viaGateway ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK)));
    if (!attributes.source.isNull()) {
        if (nl_addr *source = makeAddress(attributes.source.toIPv4Address(), 32)) {
            rtnl_route_set_pref_src(route, source);
            nl_addr_put(source);
        }
    }
    if (attributes.onLink)
        rtnl_route_nh_set_flags(nexthop, RTNH_F_ONLINK);
    if (attributes.realms)
        rtnl_route_nh_set_realms(nexthop, attributes.realms);
    for (auto metric = attributes.metrics.cbegin(); metric != attributes.metrics.cend(); ++metric)
        rtnl_route_set_metric(route, metric.key(), metric.value());
}

quint32 changeRoute(const NetworkSystem::ForwardRow &row, RouteChange change)
{
    const int length = NetworkConfiguration::prefixLength(QHostAddress(row.mask));
    if (length < 0)
        return errorCode(-NLE_INVAL);
    RouteSocket socket;
    if (!socket.get())
        return errorCode(-NLE_NOMEM);
    rtnl_route *route = rtnl_route_alloc();
    rtnl_nexthop *nexthop = rtnl_route_nh_alloc();
    nl_addr *destination = makeAddress(row.destination, length);
    nl_addr *gateway = row.nextHop ? makeAddress(row.nextHop, 32) : nullptr;
    int result = -NLE_NOMEM;
    if (route && nexthop && destination && (gateway || !row.nextHop)) {
        rtnl_route_set_family(route, AF_INET);
        rtnl_route_set_table(route, RT_TABLE_MAIN);
        rtnl_route_set_type(route, RTN_UNICAST);
        rtnl_route_set_dst(route, destination);
        rtnl_route_set_tos(route, quint8(row.attributes.tos));
        rtnl_route_nh_set_ifindex(nexthop, row.interfaceIndex);
        if (gateway)
            rtnl_route_nh_set_gateway(nexthop, gateway);
        if (change == RouteChange::Add) {
            applyAttributes(route, nexthop, row.attributes, gateway);
            rtnl_route_set_priority(route, quint32(row.metric));
        } else {
            // The kernel refuses to delete a route of another protocol than the one named: a
            // dhcp route is named as one, ours as "static". Without a priority it takes the
            // route whatever its metric.
            rtnl_route_set_protocol(
                route, quint8(row.attributes.protocol >= 0 ? row.attributes.protocol : RTPROT_STATIC));
        }
        rtnl_route_add_nexthop(route, nexthop);
        nexthop = nullptr; // the route owns it now
        result = change == RouteChange::Add ? rtnl_route_add(socket.get(), route, NLM_F_EXCL)
                                            : rtnl_route_delete(socket.get(), route, 0);
    }
    if (nexthop)
        rtnl_route_nh_free(nexthop);
    nl_addr_put(gateway);
    nl_addr_put(destination);
    rtnl_route_put(route);
    return errorCode(result);
}

bool changeLink(int interfaceIndex, const QString *name, bool up)
{
    RouteSocket socket;
    if (!socket.get())
        return false;
    rtnl_link *current = nullptr;
    if (rtnl_link_get_kernel(socket.get(), interfaceIndex, nullptr, &current) < 0)
        return false;
    const bool wasUp = rtnl_link_get_flags(current) & IFF_UP;
    auto apply = [&](const QByteArray *newName, int setFlags, int unsetFlags) {
        rtnl_link *change = rtnl_link_alloc();
        if (!change)
            return false;
        if (newName)
            rtnl_link_set_name(change, newName->constData());
        if (setFlags)
            rtnl_link_set_flags(change, setFlags);
        if (unsetFlags)
            rtnl_link_unset_flags(change, unsetFlags);
        const int result = rtnl_link_change(socket.get(), current, change, 0);
        rtnl_link_put(change);
        return result >= 0;
    };
    bool done;
    if (name) {
        const QByteArray newName = name->toLocal8Bit();
        done = apply(&newName, 0, 0);
        // The kernel renames only links that are down.
        if (!done && wasUp && apply(nullptr, 0, IFF_UP)) {
            done = apply(&newName, 0, 0);
            apply(nullptr, IFF_UP, 0);
        }
    } else {
        done = apply(nullptr, up ? IFF_UP : 0, up ? 0 : IFF_UP);
    }
    rtnl_link_put(current);
    return done;
}

QString forwardingFile(const QNetworkInterface &networkInterface)
{
    return QStringLiteral("/proc/sys/net/ipv4/conf/%1/forwarding").arg(networkInterface.name());
}

class LinuxNetworkSystem : public NetworkSystem
{
public:
    LinuxNetworkSystem() : NetworkSystem(Linux) { }

    // No GUIDs here: the interface name serves.
    bool interfaceGuid(int, QUuid *) override { return false; }

    bool forwardTable(QList<ForwardRow> *rows) override
    {
        RouteSocket socket;
        nl_cache *cache = nullptr;
        if (!socket.get() || rtnl_route_alloc_cache(socket.get(), AF_INET, 0, &cache) < 0)
            return false;
        rows->clear();
        for (nl_object *object = nl_cache_get_first(cache); object; object = nl_cache_get_next(object)) {
            auto *route = reinterpret_cast<rtnl_route *>(object);
            // The main table's unicast routes are what Windows calls the forwarding table.
            if (rtnl_route_get_table(route) != RT_TABLE_MAIN || rtnl_route_get_type(route) != RTN_UNICAST)
                continue;
            nl_addr *destination = rtnl_route_get_dst(route);
            const int length = destination ? int(nl_addr_get_prefixlen(destination)) : 0;
            ForwardRow row;
            row.destination = addressValue(destination);
            row.mask = length <= 0 ? 0 : quint32(0xffffffffu << (32 - std::min(length, 32)));
            row.metric = int(rtnl_route_get_priority(route));
            const int nexthops = rtnl_route_get_nnexthops(route);
            for (int i = 0; i < nexthops; ++i) {
                rtnl_nexthop *nexthop = rtnl_route_nexthop_n(route, i);
                row.interfaceIndex = rtnl_route_nh_get_ifindex(nexthop);
                row.nextHop = addressValue(rtnl_route_nh_get_gateway(nexthop));
                row.type = row.nextHop ? 4 : 3;
                row.attributes = readAttributes(route, nexthop);
                rows->append(row);
            }
        }
        nl_cache_free(cache);
        // The dump comes in the kernel's own order; Windows sorts by destination.
        std::stable_sort(rows->begin(), rows->end(),
            [](const ForwardRow &a, const ForwardRow &b) { return a.destination < b.destination; });
        return true;
    }

    quint32 createForwardEntry(const ForwardRow &row) override { return changeRoute(row, RouteChange::Add); }
    quint32 deleteForwardEntry(const ForwardRow &row) override { return changeRoute(row, RouteChange::Delete); }
    QString errorText(quint32 code) const override { return QString::fromLocal8Bit(nl_geterror(int(code))); }

    // Asked only where the resolver switch would use systemd-resolved too: a lab or a test that
    // keeps the product to its own resolver file never reaches the machine's resolver service.
    bool adapterDnsServers(int interfaceIndex, QStringList *addresses) override
    {
        if (ResolverSwitch::plannedMethod() != ResolverSwitch::Resolvectl)
            return false;
        const ProgramResult result = runProgram(QStringLiteral("resolvectl"),
            { QStringLiteral("dns"), QString::number(interfaceIndex) }, ResolverSwitch::ProgramTimeout);
        if (!result.finished || result.exitCode != 0)
            return false;
        *addresses = NetworkConfiguration::resolvectlServers(result.output);
        return true;
    }

    bool resolverConfiguration(QByteArray *contents) override
    {
        QFile file(QStringLiteral("/etc/resolv.conf"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        *contents = file.read(MaximumResolverFileSize);
        return true;
    }

    bool hostModel(const QNetworkInterface &networkInterface, HostModel *model) override
    {
        QFile file(forwardingFile(networkInterface));
        if (!networkInterface.isValid() || !file.open(QIODevice::ReadOnly))
            return false;
        *model = HostModel();
        model->forwarding = file.read(16).trimmed() != "0";
        return true;
    }

    bool setForwarding(const QNetworkInterface &networkInterface, bool enabled) override
    {
        QFile file(forwardingFile(networkInterface));
        return file.open(QIODevice::WriteOnly) && file.write(enabled ? "1\n" : "0\n") == 2;
    }

    bool renameLink(int interfaceIndex, const QString &name) override
    {
        return changeLink(interfaceIndex, &name, false);
    }

    bool enableLink(int interfaceIndex) override { return changeLink(interfaceIndex, nullptr, true); }

    // The driver of each interface as the kernel reports it; the interface name is its guid.
    QList<DriverEntry> driverEntries() override
    {
        QList<DriverEntry> entries;
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return entries;
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &networkInterface : interfaces) {
            const QByteArray name = networkInterface.name().toLocal8Bit();
            if (name.isEmpty() || name.size() >= IFNAMSIZ)
                continue;
            ethtool_drvinfo info {};
            info.cmd = ETHTOOL_GDRVINFO;
            ifreq request {};
            std::memcpy(request.ifr_name, name.constData(), size_t(name.size()));
            request.ifr_data = reinterpret_cast<char *>(&info);
            if (ioctl(fd, SIOCETHTOOL, &request) != 0)
                continue;
            entries << DriverEntry { QString::fromLatin1(info.driver, int(qstrnlen(info.driver, sizeof info.driver))),
                QString::fromLatin1(info.version, int(qstrnlen(info.version, sizeof info.version))),
                networkInterface.name() };
        }
        close(fd);
        return entries;
    }
};

} // namespace

NetworkSystem *NetworkSystem::platformSystem()
{
    static LinuxNetworkSystem system;
    return &system;
}
