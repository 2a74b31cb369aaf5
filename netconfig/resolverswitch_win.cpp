#include "netconfig/resolverswitch.h"

// OpenVPN's DHCP answer on the TAP adapter already gives Windows the VPN's name servers, and
// Windows asks the servers of the adapter with the best route: nothing to switch here.

bool ResolverSwitch::apply(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers, QString *errorString)
{
    Q_UNUSED(vpnAdapter)
    Q_UNUSED(servers)
    Q_UNUSED(errorString)
    m_method = NoMethod;
    m_applied = false;
    return true;
}

bool ResolverSwitch::restore(QString *errorString)
{
    Q_UNUSED(errorString)
    return true;
}

ResolverSwitch::Method ResolverSwitch::plannedMethod(QString *errorString)
{
    Q_UNUSED(errorString)
    return NoMethod;
}

void ResolverSwitch::resume(Method method, const QString &interfaceName)
{
    Q_UNUSED(method)
    Q_UNUSED(interfaceName)
}
