#ifndef NIMBORA_PRIVILEGED_KILLSWITCHRULES_H
#define NIMBORA_PRIVILEGED_KILLSWITCHRULES_H

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
};

#endif
