#ifndef NIMBORA_TOOLS_CONNECT_TUNNELCHOICE_H
#define NIMBORA_TOOLS_CONNECT_TUNNELCHOICE_H

#include <QHash>
#include <QString>
#include <QVariant>

// Picks the tunnel record to connect to from the servers refresh work's list.
namespace TunnelChoice {

bool offersProtocol(const QVariantHash &tunnel, int protocol);

// The tunnel named "server/country/tunnel"; empty when the list has none by that name.
QVariantHash byKey(const QVariantList &servers, const QString &key);

// The online tunnel offering the protocol with the lowest measured latency, the lower
// occupation breaking ties as in the server tree; empty when none qualifies. *key gets its name.
QVariantHash fastest(const QVariantList &servers, const QHash<QString, int> &latencies, int protocol, QString *key);

} // namespace TunnelChoice

#endif
