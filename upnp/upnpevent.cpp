#include "upnp/upnpevent.h"

#include "upnp/upnpmessages.h"

UPnPEvent::UPnPEvent(QObject *parent) : QObject(parent), m_clientTcpSocket(this), m_timeLimit(this)
{
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(UPnPMessages::EventConnectionTimeLimit);
    connect(&m_clientTcpSocket, &QTcpSocket::readyRead, this, &UPnPEvent::clientTcpSocketReadyRead);
    connect(&m_clientTcpSocket, &QTcpSocket::errorOccurred, this, &UPnPEvent::clientTcpSocketError);
    connect(&m_clientTcpSocket, &QTcpSocket::disconnected, this, &UPnPEvent::clientTcpSocketDisconnected);
    // Not restarted by reads: a peer that sends a byte now and then must not keep its place for ever.
    connect(&m_timeLimit, &QTimer::timeout, this,
        [this] { closeConnection(QStringLiteral("UPnP Service : event connection closed: open too long")); });
}

bool UPnPEvent::setSocketDescriptor(qintptr socketDescriptor)
{
    if (!m_clientTcpSocket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return false;
    // No read holds more than one whole request may: a flood waits in the system's buffers.
    m_clientTcpSocket.setReadBufferSize(UPnPMessages::MaxEventHeaderSize + UPnPMessages::MaxEventBodySize);
    m_timeLimit.start();
    return true;
}

void UPnPEvent::setTimeLimit(int msec)
{
    m_timeLimit.setInterval(msec);
    if (m_timeLimit.isActive())
        m_timeLimit.start();
}

void UPnPEvent::clientTcpSocketReadyRead()
{
    m_request += m_clientTcpSocket.readAll();
    for (;;) {
        const int length = UPnPMessages::eventRequestLength(m_request);
        if (length < 0) {
            closeConnection(QStringLiteral("UPnP Service : event connection closed: request too large or malformed"));
            return;
        }
        if (length == 0)
            return;
        // Every answer waits in memory until the peer reads it.
        if (m_requests == UPnPMessages::MaxEventRequestsPerConnection) {
            closeConnection(QStringLiteral("UPnP Service : event connection closed: too many requests"));
            return;
        }
        ++m_requests;
        const QByteArray request = m_request.left(length);
        m_request.remove(0, length);
        const int headerLength = UPnPMessages::headerLength(request);
        QString externalIpAddress;
        quint16 numberOfEntries = 0;
        if (UPnPMessages::parseEventProperties(request.mid(headerLength), &externalIpAddress, &numberOfEntries)) {
            emit portMappingPropertiesChanged(
                UPnPMessages::subscriptionId(request.left(headerLength)), externalIpAddress, numberOfEntries);
        }
        m_clientTcpSocket.write("HTTP/1.1 200 OK\r\n\r\n");
    }
}

void UPnPEvent::clientTcpSocketError(QAbstractSocket::SocketError socketError)
{
    // Only the end of the connection matters; it follows every error.
    Q_UNUSED(socketError)
}

void UPnPEvent::clientTcpSocketDisconnected()
{
    deleteLater();
}

void UPnPEvent::closeConnection(const QString &reason)
{
    emit log(reason);
    m_clientTcpSocket.abort();
    deleteLater();
}
