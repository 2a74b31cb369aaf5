#include "upnp/upnpeventserver.h"

#include "upnp/upnpevent.h"

UPnPEventServer::UPnPEventServer(QObject *parent) : QTcpServer(parent), m_idleTimeout(UPnPEvent::DefaultIdleTimeout) { }

void UPnPEventServer::incomingConnection(qintptr socketDescriptor)
{
    auto *event = new UPnPEvent(this);
    connect(event, &UPnPEvent::portMappingPropertiesChanged, this, &UPnPEventServer::portMappingPropertiesChanged);
    event->setIdleTimeout(m_idleTimeout);
    event->setSocketDescriptor(socketDescriptor);
}
