#ifndef NIMBORA_PRIVILEGED_KILLSWITCHRULES_H
#define NIMBORA_PRIVILEGED_KILLSWITCHRULES_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// What may still leave the machine by an adapter other than the VPN's while all traffic is
// redirected: values only, decided by the connection and checked by whoever applies them. The
// firewall of each platform is written from rules() and nothing else, so that what passes is
// decided once, here, and tested on every platform.
struct KillSwitchRules
{
    struct Endpoint
    {
        QHostAddress address;
        quint16 port = 0;
        bool operator==(const Endpoint &other) const { return address == other.address && port == other.port; }
    };
    using Subnet = QPair<QHostAddress, int>; // address and prefix length

    // True: IPv4 is blocked too (the kill switch); false: only IPv6 is, while redirecting.
    bool blockIPv4 = true;
    // Traffic by this adapter always passes.
    QString vpnAdapter;
    // TCP connections of the transport itself: to the VPN server, or to the user's proxy.
    QList<Endpoint> endpoints;
    // The physical name servers, on port 53 (UDP and TCP).
    QList<QHostAddress> nameServers;
    // Destinations the user sends outside the tunnel (static exceptions).
    QList<Subnet> exceptions;
    // Private, link-local and multicast ranges of both families.
    bool allowLocalNetwork = false;
    // The SOCKS server's way out: its sockets are bound to this physical address. On Linux only the
    // sockets of socksUser pass (the caller's user id, never the caller's own word); on Windows
    // only those of socksProgram (the program's path).
    QHostAddress socksAddress;
    qint64 socksUser = -1;
    QString socksProgram;

    bool operator==(const KillSwitchRules &other) const;
    bool operator!=(const KillSwitchRules &other) const { return !(*this == other); }

    enum class Family { Any, IPv4, IPv6 };
    enum class Protocol { Any, Tcp, Udp, IcmpV6 };
    enum class Way { AnyAdapter, Loopback, VpnAdapter };

    // One kind of traffic let through; every condition that is set must hold.
    struct Allow
    {
        Family family = Family::Any;
        Way way = Way::AnyAdapter;
        Protocol protocol = Protocol::Any;
        Subnet remote; // a null address: any destination
        quint16 remotePort = 0; // 0: any
        quint16 localPort = 0; // 0: any
        // ICMPv6 types, first and last; 0 and 0: any.
        int icmpTypeFirst = 0;
        int icmpTypeLast = 0;
        QHostAddress localAddress; // null: any
        qint64 user = -1; // -1: any
        QString program; // empty: any
    };

    // A packet leaving the machine, as far as the rules look at it.
    struct Packet
    {
        QString adapter;
        bool loopback = false;
        Protocol protocol = Protocol::Tcp;
        QHostAddress destination;
        quint16 destinationPort = 0;
        QHostAddress source;
        quint16 sourcePort = 0;
        int icmpType = -1;
        qint64 user = -1;
        QString program;
    };

    // One Windows Filtering Platform filter of the plan, at the layer where connections are
    // authorised (ALE_AUTH_CONNECT_V4 or _V6); the heavier filter decides first.
    struct WindowsFilter
    {
        Family layer = Family::IPv4; // never Any
        bool permit = true;
        quint8 weight = 0;
        Allow conditions; // family and way as the layer and the adapter conditions
    };

    // What is wrong with these values for a firewall (an empty text when nothing): a missing or
    // unusable address, a port or prefix out of range, an adapter name that is not a plain one.
    QString invalidity() const;
    // What passes, in order; whatever leaves and matches none of them is rejected.
    QList<Allow> allowList() const;
    bool passes(const Packet &packet) const;
    // One nftables transaction that replaces the table "inet nimbora" whole, or creates it; empty
    // when the values are invalid.
    QByteArray nftablesScript() const;
    // The same decisions as Windows filters: the permits, then the blocks.
    QList<WindowsFilter> windowsFilters() const;

    // The ranges of "allowLocalNetwork".
    static QList<Subnet> localNetworks();
    // A plain interface name: what may be quoted in a firewall rule.
    static bool isPlainAdapterName(const QString &name);
    static const char TableName[];
};

#endif
