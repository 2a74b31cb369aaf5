#ifndef NIMBORA_NETCONFIG_ROUTEATTRIBUTES_H
#define NIMBORA_NETCONFIG_ROUTEATTRIBUTES_H

#include <QHostAddress>
#include <QMap>

// What the system keeps about a route besides its destination, mask, gateway, adapter and
// metric: on Linux who made it (dhcp, boot, ra...), its scope, preferred source address, type
// of service, on-link flag, realms and per-route metrics (mtu, advmss...). A route read from the
// table carries them, so that one deleted for a connection comes back as it was and the network
// manager that made it still knows it as its own. A route the client makes has none: the
// system's defaults apply. Windows keeps none of them.
struct RouteAttributes
{
    int protocol = -1; // -1: none given
    int scope = -1; // -1: none given, from the gateway
    QHostAddress source; // null: none
    int tos = 0;
    bool onLink = false;
    quint32 realms = 0;
    QMap<int, quint32> metrics; // by the system's metric number

    bool operator==(const RouteAttributes &other) const
    {
        return protocol == other.protocol && scope == other.scope && source == other.source && tos == other.tos
            && onLink == other.onLink && realms == other.realms && metrics == other.metrics;
    }
    bool operator!=(const RouteAttributes &other) const { return !(*this == other); }
};

#endif
