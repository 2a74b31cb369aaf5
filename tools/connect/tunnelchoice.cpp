#include "tools/connect/tunnelchoice.h"

#include "core/serversrefreshwork.h"

#include <functional>

namespace {

void forEachTunnel(
    const QVariantList &servers, const std::function<void(const QString &key, const QVariantHash &tunnel)> &visit)
{
    for (const QVariant &serverValue : servers) {
        const QVariantHash server = serverValue.toHash();
        const QVariantList countries = server.value(QStringLiteral("countries")).toList();
        for (const QVariant &countryValue : countries) {
            const QVariantHash country = countryValue.toHash();
            const QVariantList tunnels = country.value(QStringLiteral("tunnels")).toList();
            for (const QVariant &tunnelValue : tunnels) {
                const QVariantHash tunnel = tunnelValue.toHash();
                visit(ServersRefreshWork::endpointKey(server, country, tunnel), tunnel);
            }
        }
    }
}

} // namespace

namespace TunnelChoice {

bool offersProtocol(const QVariantHash &tunnel, int protocol)
{
    return (tunnel.value(QStringLiteral("protocols")).toInt() & protocol) != 0;
}

QVariantHash byKey(const QVariantList &servers, const QString &key)
{
    QVariantHash found;
    bool seen = false;
    forEachTunnel(servers, [&](const QString &tunnelKey, const QVariantHash &tunnel) {
        if (!seen && tunnelKey == key) {
            found = tunnel;
            seen = true;
        }
    });
    return found;
}

QVariantHash fastest(const QVariantList &servers, const QHash<QString, int> &latencies, int protocol, QString *key)
{
    QVariantHash best;
    int bestLatency = 0;
    int bestOccupation = 0;
    forEachTunnel(servers, [&](const QString &tunnelKey, const QVariantHash &tunnel) {
        const int latency = latencies.value(tunnelKey, ServersRefreshWork::NoAnswer);
        if (latency < 0 || tunnel.value(QStringLiteral("state")).toInt() != 1 || !offersProtocol(tunnel, protocol))
            return;
        const int occupation = tunnel.value(QStringLiteral("slots")).toInt();
        if (best.isEmpty() || latency < bestLatency || (latency == bestLatency && occupation < bestOccupation)) {
            best = tunnel;
            bestLatency = latency;
            bestOccupation = occupation;
            *key = tunnelKey;
        }
    });
    return best;
}

} // namespace TunnelChoice
