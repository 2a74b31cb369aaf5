#include "connection/killswitchplan.h"

#ifdef Q_OS_WIN
#include <QCoreApplication>
#else
#include <unistd.h>
#endif

namespace {

void addEndpoints(QList<KillSwitchRules::Endpoint> *endpoints, const QList<QHostAddress> &addresses, quint16 port)
{
    for (const QHostAddress &address : addresses) {
        const KillSwitchRules::Endpoint endpoint { address, port };
        if (!address.isNull() && port != 0 && !endpoints->contains(endpoint))
            endpoints->append(endpoint);
    }
}

bool throughProxy(const QNetworkProxy &proxy)
{
    return proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::Socks5Proxy;
}

int hostPrefixLength(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32;
}

} // namespace

KillSwitchRules KillSwitchPlan::common(const Input &input)
{
    KillSwitchRules rules;
    rules.blockIPv4 = input.killSwitch;
    rules.vpnAdapter = input.vpnAdapter;
    if (!throughProxy(input.proxy))
        addEndpoints(&rules.endpoints, input.serverAddresses, input.serverPort);
    else
        addEndpoints(&rules.endpoints, { QHostAddress(input.proxy.hostName()) }, input.proxy.port());
    for (const QHostAddress &address : input.exceptionAddresses) {
        const KillSwitchRules::Subnet subnet(address, hostPrefixLength(address));
        if (!address.isNull() && !rules.exceptions.contains(subnet))
            rules.exceptions << subnet;
    }
    rules.allowLocalNetwork = input.allowLocalNetwork;
    return rules;
}

KillSwitchRules KillSwitchPlan::connecting(const Input &input)
{
    KillSwitchRules rules = common(input);
    // The main server gives the permission to connect, by name: a reconnection after a drop
    // needs both while the block stands.
    if (!throughProxy(input.proxy))
        addEndpoints(&rules.endpoints, input.mainServerAddresses, input.mainServerPort);
    rules.nameServers = input.physicalNameServers;
    return rules;
}

KillSwitchRules KillSwitchPlan::connected(const Input &input)
{
    KillSwitchRules rules = common(input);
    if (!input.dnsThroughVpn)
        rules.nameServers = input.physicalNameServers;
    if (!input.socksAddress.isNull()) {
        rules.socksAddress = input.socksAddress;
#ifdef Q_OS_WIN
        rules.socksProgram = QCoreApplication::applicationFilePath();
#else
        rules.socksUser = qint64(::getuid());
#endif
    }
    return rules;
}
