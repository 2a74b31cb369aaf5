#include "upnp/upnpeventserver.h"

#include "upnp/upnpevent.h"
#include "upnp/upnpmessages.h"

#include <QTcpSocket>

UPnPEventServer::UPnPEventServer(QObject *parent)
    : QTcpServer(parent), m_timeLimit(UPnPMessages::EventConnectionTimeLimit)
{ }

void UPnPEventServer::incomingConnection(qintptr socketDescriptor)
{
    if (openConnections() >= UPnPMessages::MaxEventConnections) {
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.abort();
        emit log(QStringLiteral("UPnP Service : event connection refused: too many open at once"));
        return;
    }
    auto *event = new UPnPEvent(this);
    connect(event, &UPnPEvent::log, this, &UPnPEventServer::log);
    connect(event, &UPnPEvent::portMappingPropertiesChanged, this, &UPnPEventServer::portMappingPropertiesChanged);
    event->setTimeLimit(m_timeLimit);
    // A connection that could not be taken over must not keep its place.
    if (!event->setSocketDescriptor(socketDescriptor))
        event->deleteLater();
}

int UPnPEventServer::openConnections() const
{
    return findChildren<UPnPEvent *>(QString(), Qt::FindDirectChildrenOnly).size();
}
