#ifndef NIMBORA_CONNECTION_KILLSWITCHPLAN_H
#define NIMBORA_CONNECTION_KILLSWITCHPLAN_H

#include "privileged/killswitchrules.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkProxy>
#include <QString>

// What a connection lets out of the machine by its physical adapter while it redirects all
// traffic, in its two stages. Connecting, the machine must still find and reach the main server
// and the VPN server by name. Connected, only the transport's own connection and what the user
// sends outside the tunnel pass; these are also the rules that stay after a drop.
class KillSwitchPlan
{
public:
    struct Input
    {
        // Off: only IPv6 is blocked.
        bool killSwitch = true;
        QString vpnAdapter;
        // The VPN server's addresses and the transport's port; a proxy in force replaces them.
        QList<QHostAddress> serverAddresses;
        quint16 serverPort = 0;
        QNetworkProxy proxy { QNetworkProxy::NoProxy }; // its host name is already an address
        QList<QHostAddress> mainServerAddresses;
        quint16 mainServerPort = 0;
        QList<QHostAddress> physicalNameServers;
        // Name resolution through the VPN once connected ("Utiliser Nimbora comme serveur DNS").
        bool dnsThroughVpn = true;
        QList<QHostAddress> exceptionAddresses;
        bool allowLocalNetwork = false;
        // The SOCKS server's way out, once connected; null when it has none outside the tunnel.
        QHostAddress socksAddress;
    };

    static KillSwitchRules connecting(const Input &input);
    static KillSwitchRules connected(const Input &input);

private:
    static KillSwitchRules common(const Input &input);
};

#endif
