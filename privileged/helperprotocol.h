#ifndef NIMBORA_PRIVILEGED_HELPERPROTOCOL_H
#define NIMBORA_PRIVILEGED_HELPERPROTOCOL_H

#include "netconfig/route.h"

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>

// The privileged helper's names on the system bus and the values its calls carry, shared by the
// helper and its client.
namespace HelperProtocol {

constexpr char Service[] = "example.ostrelle.NimboraHelper";
constexpr char Path[] = "/example/ostrelle/NimboraHelper";
constexpr char Interface[] = "example.ostrelle.NimboraHelper";

constexpr char NotOwnerError[] = "example.ostrelle.NimboraHelper.Error.NotOwner";
constexpr char NotAuthorizedError[] = "example.ostrelle.NimboraHelper.Error.NotAuthorized";
constexpr char BusyError[] = "example.ostrelle.NimboraHelper.Error.Busy";
constexpr char FailedError[] = "example.ostrelle.NimboraHelper.Error.Failed";

constexpr char ConnectAction[] = "example.ostrelle.nimbora.connect";
constexpr char RestoreAction[] = "example.ostrelle.nimbora.restore";

// The keys of Connect's values.
namespace ConnectKey {
constexpr char Adapter[] = "adapter";
constexpr char Host[] = "host";
constexpr char Port[] = "port";
constexpr char ProxyType[] = "proxy-type";
constexpr char ProxyAddress[] = "proxy-address";
constexpr char ProxyPort[] = "proxy-port";
constexpr char ProxyUser[] = "proxy-user";
constexpr char ProxyPassword[] = "proxy-password";
constexpr char ProxyAuthMethod[] = "proxy-auth-method";
constexpr char Username[] = "username";
constexpr char Password[] = "password";
constexpr char AutoReconnect[] = "auto-reconnect";
constexpr char UseServerDns[] = "use-server-dns";
constexpr char DnsServers[] = "dns-servers";
} // namespace ConnectKey

// The keys of Block's values.
namespace BlockKey {
constexpr char BlockIPv4[] = "block-ipv4"; // b
constexpr char VpnAdapter[] = "vpn-adapter"; // s
constexpr char Endpoints[] = "endpoints"; // as, "198.19.1.2:443" or "[2001:db8::1]:443"
constexpr char NameServers[] = "name-servers"; // as
constexpr char Exceptions[] = "exceptions"; // as, "198.18.5.0/24"
constexpr char LocalNetwork[] = "local-network"; // b
constexpr char SocksAddress[] = "socks-address"; // s, empty for none; the user is the caller's
} // namespace BlockKey

// Time the helper may take to answer: stopping OpenVPN takes up to three steps of 5 s.
constexpr int CallTimeout = 30000;

// A route as the bus carries it: (destination, mask, gateway, adapter name, metric).
struct WireRoute
{
    QString destination;
    QString mask;
    QString gateway;
    QString adapter;
    int metric = -1;
};

WireRoute toWire(const Route &route);
void registerTypes();

} // namespace HelperProtocol

Q_DECLARE_METATYPE(HelperProtocol::WireRoute)

QDBusArgument &operator<<(QDBusArgument &argument, const HelperProtocol::WireRoute &route);
const QDBusArgument &operator>>(const QDBusArgument &argument, HelperProtocol::WireRoute &route);

#endif
