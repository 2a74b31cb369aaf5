#ifndef NIMBORA_NETCONFIG_ROUTE_H
#define NIMBORA_NETCONFIG_ROUTE_H

#include "netconfig/networkadapter.h"
#include "netconfig/routeattributes.h"

#include <QHostAddress>

// An IPv4 route. Two routes are the same route when destination, mask and gateway agree,
// whatever adapter and metric they carry.
struct Route
{
    QHostAddress destination;
    QHostAddress mask;
    QHostAddress gateway;
    NetworkAdapter adapter;
    int metric = -1; // -1: automatic
    RouteAttributes attributes;

    bool isValid() const;
    bool operator==(const Route &other) const;
    bool operator!=(const Route &other) const { return !(*this == other); }
};

#endif
