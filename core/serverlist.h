#ifndef NIMBORA_CORE_SERVERLIST_H
#define NIMBORA_CORE_SERVERLIST_H

#include <QDomElement>
#include <QList>
#include <QVariant>

// The VPN servers in the main server's reply, as the main window and the latency measurement read them:
// one hash per server with its countries, one per country with its tunnels.
class ServerList
{
public:
    static QList<QVariant> read(const QDomElement &root);
    static bool isPremium(const QDomElement &root);
};

#endif
