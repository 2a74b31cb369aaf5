#include "netconfig/networkadapter.h"

#include "netconfig/networksystem.h"

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
