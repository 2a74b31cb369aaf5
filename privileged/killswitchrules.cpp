#include "privileged/killswitchrules.h"

#include <QRegularExpression>
#include <QStringList>

const char KillSwitchRules::TableName[] = "nimbora";

namespace {

using Family = KillSwitchRules::Family;
using Protocol = KillSwitchRules::Protocol;
using Allow = KillSwitchRules::Allow;
using Subnet = KillSwitchRules::Subnet;

constexpr quint16 DnsPort = 53;
constexpr int NeighbourDiscoveryFirst = 133; // router solicitation
constexpr int NeighbourDiscoveryLast = 137; // redirect

// A mapped IPv4 address is the IPv4 one, and a scope never reaches a firewall rule.
QHostAddress canonical(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4);
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(address.toIPv6Address());
    return QHostAddress();
}

Family familyOf(const QHostAddress &address)
{
    const QHostAddress plain = canonical(address);
    if (plain.protocol() == QAbstractSocket::IPv4Protocol)
        return Family::IPv4;
    return plain.protocol() == QAbstractSocket::IPv6Protocol ? Family::IPv6 : Family::Any;
}

int addressBits(Family family)
{
    return family == Family::IPv4 ? 32 : 128;
}

// The subnet's own address: the firewalls take no host bits.
Subnet network(const Subnet &subnet)
{
    const QHostAddress address = canonical(subnet.first);
    if (familyOf(address) == Family::IPv4) {
        const quint32 mask = subnet.second == 0 ? 0 : ~quint32(0) << (32 - subnet.second);
        return { QHostAddress(address.toIPv4Address() & mask), subnet.second };
    }
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int bit = subnet.second; bit < 128; ++bit)
        bytes[bit / 8] &= quint8(~(0x80 >> (bit % 8)));
    return { QHostAddress(bytes), subnet.second };
}

Subnet host(const QHostAddress &address)
{
    const QHostAddress plain = canonical(address);
    return { plain, addressBits(familyOf(plain)) };
}

Allow allowTo(const Subnet &remote)
{
    Allow allow;
    allow.remote = network(remote);
    allow.family = familyOf(allow.remote.first);
    return allow;
}

Allow allowProtocol(Family family, Protocol protocol, quint16 localPort, quint16 remotePort)
{
    Allow allow;
    allow.family = family;
    allow.protocol = protocol;
    allow.localPort = localPort;
    allow.remotePort = remotePort;
    return allow;
}

bool isUsable(const QHostAddress &address)
{
    return familyOf(address) != Family::Any;
}

bool isInSubnet(const QHostAddress &address, const Subnet &subnet)
{
    return familyOf(address) == familyOf(subnet.first) && canonical(address).isInSubnet(subnet.first, subnet.second);
}

bool matches(const Allow &allow, const KillSwitchRules::Packet &packet, const QString &vpnAdapter)
{
    const Family family = familyOf(packet.destination);
    switch (allow.way) {
    case KillSwitchRules::Way::AnyAdapter:
        break;
    case KillSwitchRules::Way::Loopback:
        if (!packet.loopback)
            return false;
        break;
    case KillSwitchRules::Way::VpnAdapter:
        if (vpnAdapter.isEmpty() || packet.loopback || packet.adapter != vpnAdapter)
            return false;
        break;
    }
    if (allow.family != Family::Any && allow.family != family)
        return false;
    if (allow.protocol != Protocol::Any && allow.protocol != packet.protocol)
        return false;
    if (!allow.remote.first.isNull() && !isInSubnet(packet.destination, allow.remote))
        return false;
    if ((allow.remotePort && allow.remotePort != packet.destinationPort)
        || (allow.localPort && allow.localPort != packet.sourcePort))
        return false;
    if (allow.icmpTypeLast && (packet.icmpType < allow.icmpTypeFirst || packet.icmpType > allow.icmpTypeLast))
        return false;
    if (!allow.localAddress.isNull() && canonical(allow.localAddress) != canonical(packet.source))
        return false;
    if (allow.user >= 0 && allow.user != packet.user)
        return false;
    return allow.program.isEmpty() || allow.program == packet.program;
}

QString nftAddress(const Subnet &subnet)
{
    const QString text = canonical(subnet.first).toString();
    return subnet.second == addressBits(familyOf(subnet.first))
        ? text
        : text + QLatin1Char('/') + QString::number(subnet.second);
}

QString nftFamily(Family family)
{
    return family == Family::IPv4 ? QStringLiteral("ip") : QStringLiteral("ip6");
}

QString nftProtocol(Protocol protocol)
{
    return protocol == Protocol::Tcp ? QStringLiteral("tcp") : QStringLiteral("udp");
}

// One rule's conditions; empty when nftables cannot check one of them (a program).
QString nftConditions(const Allow &allow, const QString &vpnAdapter)
{
    if (!allow.program.isEmpty())
        return QString();
    QStringList words;
    if (allow.way == KillSwitchRules::Way::Loopback)
        words << QStringLiteral("oifname \"lo\"");
    else if (allow.way == KillSwitchRules::Way::VpnAdapter)
        words << QStringLiteral("oifname \"%1\"").arg(vpnAdapter);
    const bool namesAddress = !allow.remote.first.isNull() || !allow.localAddress.isNull();
    if (allow.family != Family::Any && !namesAddress && allow.protocol != Protocol::IcmpV6)
        words << QStringLiteral("meta nfproto ") + (allow.family == Family::IPv4 ? "ipv4" : "ipv6");
    if (!allow.remote.first.isNull())
        words << nftFamily(allow.family) + QStringLiteral(" daddr ") + nftAddress(allow.remote);
    if (!allow.localAddress.isNull())
        words << nftFamily(allow.family) + QStringLiteral(" saddr ") + nftAddress(host(allow.localAddress));
    if (allow.protocol == Protocol::IcmpV6) {
        words << QStringLiteral("icmpv6 type %1-%2").arg(allow.icmpTypeFirst).arg(allow.icmpTypeLast);
    } else if (allow.protocol != Protocol::Any) {
        const QString protocol = nftProtocol(allow.protocol);
        if (allow.localPort)
            words << protocol + QStringLiteral(" sport ") + QString::number(allow.localPort);
        if (allow.remotePort)
            words << protocol + QStringLiteral(" dport ") + QString::number(allow.remotePort);
        if (!allow.localPort && !allow.remotePort)
            words << QStringLiteral("meta l4proto ") + protocol;
    }
    if (allow.user >= 0)
        words << QStringLiteral("meta skuid ") + QString::number(allow.user);
    return words.join(QLatin1Char(' '));
}

QString nftChain(const QString &name, const QStringList &rules)
{
    QString chain = QStringLiteral("\tchain %1 {\n\t\ttype filter hook %1 priority 0; policy accept;\n").arg(name);
    for (const QString &rule : rules)
        chain += QStringLiteral("\t\t") + rule + QLatin1Char('\n');
    return chain + QStringLiteral("\t}\n");
}

} // namespace

bool KillSwitchRules::operator==(const KillSwitchRules &other) const
{
    return blockIPv4 == other.blockIPv4 && vpnAdapter == other.vpnAdapter && endpoints == other.endpoints
        && nameServers == other.nameServers && exceptions == other.exceptions
        && allowLocalNetwork == other.allowLocalNetwork && socksAddress == other.socksAddress
        && socksUser == other.socksUser && socksProgram == other.socksProgram;
}

bool KillSwitchRules::isPlainAdapterName(const QString &name)
{
    // What the kernel takes as a link name (at most 15 bytes), without anything a rule would quote.
    static const QRegularExpression plain(QStringLiteral("\\A[A-Za-z0-9_.-]{1,15}\\z"));
    return plain.match(name).hasMatch() && name != QLatin1String(".") && name != QLatin1String("..");
}

QString KillSwitchRules::invalidity() const
{
    if (!vpnAdapter.isEmpty() && !isPlainAdapterName(vpnAdapter))
        return QStringLiteral("the VPN adapter's name \"%1\" is not a plain interface name").arg(vpnAdapter);
    for (const Endpoint &endpoint : endpoints) {
        if (!isUsable(endpoint.address) || endpoint.port == 0)
            return QStringLiteral("the endpoint %1:%2 is not an address and port")
                .arg(endpoint.address.toString())
                .arg(endpoint.port);
    }
    for (const QHostAddress &server : nameServers) {
        if (!isUsable(server))
            return QStringLiteral("the name server \"%1\" is not an address").arg(server.toString());
    }
    for (const Subnet &exception : exceptions) {
        if (!isUsable(exception.first) || exception.second < 0
            || exception.second > addressBits(familyOf(exception.first)))
            return QStringLiteral("the exception %1/%2 is not a subnet")
                .arg(exception.first.toString())
                .arg(exception.second);
    }
    if (!socksAddress.isNull() && !isUsable(socksAddress))
        return QStringLiteral("the SOCKS server's address \"%1\" is not an address").arg(socksAddress.toString());
    return QString();
}

QList<KillSwitchRules::Subnet> KillSwitchRules::localNetworks()
{
    QList<Subnet> networks;
    for (const char *subnet : { "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16", "169.254.0.0/16", "224.0.0.0/4",
             "255.255.255.255/32", "fc00::/7", "fe80::/10", "ff00::/8" })
        networks << QHostAddress::parseSubnet(QLatin1String(subnet));
    return networks;
}

QList<KillSwitchRules::Allow> KillSwitchRules::allowList() const
{
    QList<Allow> list;
    Allow loopback;
    loopback.way = Way::Loopback;
    list << loopback;
    if (!vpnAdapter.isEmpty()) {
        Allow tunnel;
        tunnel.way = Way::VpnAdapter;
        list << tunnel;
    }
    // Without neighbour discovery and link-local traffic IPv6 stops working on the link itself.
    Allow neighbourDiscovery = allowProtocol(Family::IPv6, Protocol::IcmpV6, 0, 0);
    neighbourDiscovery.icmpTypeFirst = NeighbourDiscoveryFirst;
    neighbourDiscovery.icmpTypeLast = NeighbourDiscoveryLast;
    list << neighbourDiscovery;
    list << allowTo(QHostAddress::parseSubnet(QStringLiteral("fe80::/10")));
    list << allowTo(QHostAddress::parseSubnet(QStringLiteral("ff02::/16")));
    list << allowProtocol(Family::IPv4, Protocol::Udp, 68, 67);
    list << allowProtocol(Family::IPv6, Protocol::Udp, 546, 547);
    if (!blockIPv4)
        return list;

    for (const Endpoint &endpoint : endpoints) {
        Allow allow = allowTo(host(endpoint.address));
        allow.protocol = Protocol::Tcp;
        allow.remotePort = endpoint.port;
        list << allow;
    }
    for (const QHostAddress &server : nameServers) {
        for (const Protocol protocol : { Protocol::Udp, Protocol::Tcp }) {
            Allow allow = allowTo(host(server));
            allow.protocol = protocol;
            allow.remotePort = DnsPort;
            list << allow;
        }
    }
    for (const Subnet &exception : exceptions)
        list << allowTo(exception);
    if (allowLocalNetwork) {
        for (const Subnet &local : localNetworks())
            list << allowTo(local);
    }
    // An address alone would let any program that binds it out: the way out is also the server's own.
    if (!socksAddress.isNull() && (socksUser >= 0 || !socksProgram.isEmpty())) {
        Allow socks;
        socks.family = familyOf(socksAddress);
        socks.localAddress = canonical(socksAddress);
        socks.user = socksUser;
        socks.program = socksProgram;
        list << socks;
    }
    return list;
}

bool KillSwitchRules::passes(const Packet &packet) const
{
    const QList<Allow> list = allowList();
    for (const Allow &allow : list) {
        if (matches(allow, packet, vpnAdapter))
            return true;
    }
    return !blockIPv4 && familyOf(packet.destination) == Family::IPv4;
}

QByteArray KillSwitchRules::nftablesScript() const
{
    if (!invalidity().isEmpty())
        return QByteArray();
    QStringList rules;
    const QList<Allow> list = allowList();
    for (const Allow &allow : list) {
        const QString conditions = nftConditions(allow, vpnAdapter);
        if (!conditions.isEmpty())
            rules << conditions + QStringLiteral(" accept");
    }
    // A refusal rather than a silent drop: programs give up at once instead of waiting for a timeout.
    const QString onlyIPv6 = blockIPv4 ? QString() : QStringLiteral("meta nfproto ipv6 ");
    rules << onlyIPv6 + QStringLiteral("meta l4proto tcp reject with tcp reset");
    rules << onlyIPv6 + QStringLiteral("reject with icmpx type admin-prohibited");

    // Adding the table first makes the delete succeed when there was none; the whole buffer is one
    // transaction, so the old table is never gone without the new one in place.
    const QString table = QLatin1String(TableName);
    QString script = QStringLiteral("add table inet %1\ndelete table inet %1\ntable inet %1 {\n").arg(table);
    script += nftChain(QStringLiteral("output"), rules);
    script += nftChain(QStringLiteral("forward"), rules);
    script += QStringLiteral("}\n");
    return script.toUtf8();
}

QList<KillSwitchRules::WindowsFilter> KillSwitchRules::windowsFilters() const
{
    QList<WindowsFilter> filters;
    if (!invalidity().isEmpty())
        return filters;
    const QList<Allow> list = allowList();
    for (const Allow &allow : list) {
        // The filters know the program, not the user.
        if (allow.user >= 0 && allow.program.isEmpty())
            continue;
        for (const Family layer : { Family::IPv4, Family::IPv6 }) {
            if (allow.family != Family::Any && allow.family != layer)
                continue;
            WindowsFilter filter;
            filter.layer = layer;
            filter.permit = true;
            filter.weight = 10;
            filter.conditions = allow;
            filter.conditions.user = -1;
            filters << filter;
        }
    }
    for (const Family layer : { Family::IPv4, Family::IPv6 }) {
        if (layer == Family::IPv4 && !blockIPv4)
            continue;
        WindowsFilter block;
        block.layer = layer;
        block.permit = false;
        block.weight = 0;
        filters << block;
    }
    return filters;
}
