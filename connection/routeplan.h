#ifndef NIMBORA_CONNECTION_ROUTEPLAN_H
#define NIMBORA_CONNECTION_ROUTEPLAN_H

#include "netconfig/networkadapter.h"
#include "netconfig/route.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The routes a connection adds and deletes, decided from a snapshot of the routing table and
// the user's options, without touching the system.
struct RoutePlan
{
    // What the plan is made from.
    struct Input
    {
        QList<Route> snapshot;
        QHostAddress endpoint; // the one address that stays outside the tunnel
        NetworkAdapter vpnAdapter;
        QHostAddress vpnGateway;
        NetworkAdapter physicalAdapter;
        QHostAddress physicalGateway;
        QList<QHostAddress> physicalDnsServers;
        bool redirect = true;
        bool overrideDefaultGateway = true;
        bool dnsServer = true;
    };

    QList<Route> add;
    QList<Route> remove;

    static constexpr int DemotedMetric = 9999;

    // The default routes of the snapshot, in table order.
    static QList<Route> defaultRoutes(const QList<Route> &snapshot);
    // The last non-default route whose subnet holds the endpoint; invalid when none does.
    static Route endpointRoute(const QList<Route> &snapshot, const QHostAddress &endpoint);
    static RoutePlan make(const Input &input);

    // The host name of a stored exception (description, destination): the destination without
    // scheme and path; empty when the entry has no destination.
    static QString exceptionHostName(const QStringList &exception);
    // A host route for each address of an exception, through the physical side when all traffic
    // goes through the VPN, else through the VPN; none that the snapshot already has. As for the
    // name servers and the endpoint, loopback and link-local addresses are never routed.
    void addExceptionRoutes(const Input &input, const QList<QHostAddress> &addresses);

private:
    void addUnlessPresent(const QList<Route> &snapshot, const Route &route);
};

#endif
