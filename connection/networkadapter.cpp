#include "networkadapter.h"

#include "networkconfiguration.h"
#include "networksystem.h"

#include <QUuid>

NetworkAdapter::NetworkAdapter(const QNetworkInterface &networkInterface) : m_interface(networkInterface)
{
    if (!m_interface.isValid())
        return;
    m_guid = m_interface.name();
    QUuid uuid;
    if (NetworkSystem::instance()->interfaceGuid(m_interface.index(), &uuid))
        m_guid = uuid.toString().toUpper(); // the registry's own form: braces, upper case
}

QHostAddress NetworkAdapter::gateway()
{
    if (!m_gateway.isNull())
        return m_gateway;
    const QList<Route> routes = adapterRoutes(m_interface);
    const QHostAddress any(QHostAddress::AnyIPv4);
    for (const Route &route : routes) {
        if (route.destination == any && route.mask == any) {
            m_gateway = route.gateway;
            break;
        }
    }
    return m_gateway;
}
