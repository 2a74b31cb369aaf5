#include "connection/routeplan.h"

#include <QPair>

namespace {

const QHostAddress Any(QHostAddress::AnyIPv4);
const QHostAddress HostMask(QStringLiteral("255.255.255.255"));
const QHostAddress HalfMask(QStringLiteral("128.0.0.0"));
constexpr int AutomaticMetric = -1;

Route makeRoute(const QHostAddress &destination, const QHostAddress &mask, const QHostAddress &gateway,
    const NetworkAdapter &adapter, int metric)
{
    Route route;
    route.destination = destination;
    route.mask = mask;
    route.gateway = gateway;
    route.adapter = adapter;
    route.metric = metric;
    return route;
}

bool isDefault(const Route &route)
{
    return route.destination == Any && route.mask == Any;
}

// A loopback address (a local stub resolver, a local proxy) or a link-local one (a cloud's
// metadata server) is reached without a gateway; a host route through one would take it away.
bool isRoutable(const QHostAddress &address)
{
    return !address.isLoopback() && !address.isInSubnet(QHostAddress::parseSubnet(QStringLiteral("169.254.0.0/16")));
}

} // namespace

QList<Route> RoutePlan::defaultRoutes(const QList<Route> &snapshot)
{
    QList<Route> routes;
    for (const Route &route : snapshot) {
        if (isDefault(route))
            routes << route;
    }
    return routes;
}

Route RoutePlan::endpointRoute(const QList<Route> &snapshot, const QHostAddress &endpoint)
{
    Route found;
    for (const Route &route : snapshot) {
        if (isDefault(route))
            continue;
        const QPair<QHostAddress, int> subnet
            = QHostAddress::parseSubnet(route.destination.toString() + QLatin1Char('/') + route.mask.toString());
        if (endpoint.isInSubnet(subnet))
            found = route;
    }
    return found;
}

RoutePlan RoutePlan::make(const Input &input)
{
    RoutePlan plan;
    if (!input.redirect) {
        plan.add << makeRoute(Any, Any, input.vpnGateway, input.vpnAdapter, DemotedMetric);
        return plan;
    }
    if (!input.dnsServer) {
        // The physical name servers stay reachable outside the tunnel.
        for (const QHostAddress &server : input.physicalDnsServers) {
            if (server != input.physicalGateway && isRoutable(server)) {
                plan.addUnlessPresent(input.snapshot,
                    makeRoute(server, HostMask, input.physicalGateway, input.physicalAdapter, AutomaticMetric));
            }
        }
    }
    if (!endpointRoute(input.snapshot, input.endpoint).isValid() && isRoutable(input.endpoint)) {
        plan.add << makeRoute(input.endpoint, HostMask, input.physicalGateway, input.physicalAdapter, AutomaticMetric);
    }
    if (input.overrideDefaultGateway) {
        // Two halves beat the default route without touching it.
        plan.add << makeRoute(Any, HalfMask, input.vpnGateway, input.vpnAdapter, AutomaticMetric)
                 << makeRoute(HalfMask, HalfMask, input.vpnGateway, input.vpnAdapter, AutomaticMetric);
    } else {
        for (const Route &route : defaultRoutes(input.snapshot)) {
            plan.remove << route;
            Route demoted = route;
            demoted.metric = DemotedMetric;
            plan.add << demoted;
        }
        plan.add << makeRoute(Any, Any, input.vpnGateway, input.vpnAdapter, AutomaticMetric);
    }
    return plan;
}

QString RoutePlan::exceptionHostName(const QStringList &exception)
{
    const QString destination = exception.size() < 2 ? QString() : exception.at(1);
    return destination.section(QStringLiteral("//"), -1, -1).section(QLatin1Char('/'), 0, 0);
}

void RoutePlan::addExceptionRoutes(const Input &input, const QList<QHostAddress> &addresses)
{
    const QHostAddress gateway = input.redirect ? input.physicalGateway : input.vpnGateway;
    const NetworkAdapter adapter = input.redirect ? input.physicalAdapter : input.vpnAdapter;
    for (const QHostAddress &address : addresses) {
        if (isRoutable(address))
            addUnlessPresent(input.snapshot, makeRoute(address, HostMask, gateway, adapter, AutomaticMetric));
    }
}

void RoutePlan::addUnlessPresent(const QList<Route> &snapshot, const Route &route)
{
    if (!snapshot.contains(route))
        add << route;
}
