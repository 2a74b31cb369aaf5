#ifndef NIMBORA_NETCONFIG_NETWORKCONFIGURATION_H
#define NIMBORA_NETCONFIG_NETWORKCONFIGURATION_H

#include "netconfig/networkadapter.h"
#include "netconfig/networksystem.h"
#include "netconfig/route.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QString>
#include <QStringList>

// The IPv4 configuration of the machine: adapters, the routing table, route changes, DNS
// servers and the few adapter settings the client changes. Nothing here keeps state; every
// call asks the system again. Failures give empty results; only the route changes report.

QList<NetworkAdapter> allAdapters();
NetworkAdapter adapterByIndex(int interfaceIndex, const QList<NetworkAdapter> &adapters);
NetworkAdapter adapterByGuid(const QString &guid, const QList<NetworkAdapter> &adapters);

// Each call also enumerates every interface: take one snapshot and work on it.
QList<Route> routingTable();
QList<Route> adapterRoutes(const QNetworkInterface &networkInterface);
// The first default route of the adapter gives its gateway; kept in the record once found,
// looked up again while there is none.
QHostAddress adapterGateway(NetworkAdapter &adapter);
// The adapter of the default route with the lowest metric, the first of equals.
NetworkAdapter defaultAdapter();

// An invalid route is refused without asking the system. The command-line fallback may block
// for up to RouteProgramTimeout. On failure errorString says why, for the log.
bool addRoute(const Route &route, QString *errorString = nullptr);
bool deleteRoute(const Route &route, QString *errorString = nullptr);

// The name servers the machine asks through the adapter. On Linux those of the resolver file, a
// local stub's own replaced by the link's servers it forwards to where systemd-resolved tells them.
QList<QHostAddress> dnsServers(const QNetworkInterface &networkInterface);
QList<QNetworkAddressEntry> addressEntries(
    const QNetworkInterface &networkInterface, QAbstractSocket::NetworkLayerProtocol protocol);

void renameInterface(const QNetworkInterface &networkInterface, const QString &newName);
void enableInterface(const QNetworkInterface &networkInterface);
// Connections bound to the adapter's address leave through that adapter only.
void disableWeakHost(const QNetworkInterface &networkInterface);
// Turns back on what the model, read before disableWeakHost(), says was on; false when a change failed.
bool restoreWeakHost(const QNetworkInterface &networkInterface, const NetworkSystem::HostModel &model);

namespace NetworkConfiguration {

constexpr char RouteProgram[] = "C:\\Windows\\System32\\route.exe";
constexpr char NetshProgram[] = "C:\\Windows\\System32\\netsh.exe";
constexpr int RouteProgramTimeout = 30000;
// Past this metric the system is not asked again with a higher one.
constexpr int HighestRetriedMetric = 2048;

// The IPv4 name servers of a resolv.conf, in file order.
QList<QHostAddress> resolverNameServers(const QByteArray &contents);
// The server addresses of resolvectl's "dns LINK" answer, without their ports and names.
QStringList resolvectlServers(const QByteArray &output);
// The prefix length of a contiguous IPv4 mask, -1 for any other.
int prefixLength(const QHostAddress &mask);
QString ipProgram();

} // namespace NetworkConfiguration

#endif
