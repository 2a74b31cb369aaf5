#include "upnp/upnpevent.h"

#include "upnp/upnpmessages.h"

UPnPEvent::UPnPEvent(QObject *parent) : QObject(parent), m_clientTcpSocket(this), m_idleTimer(this)
{
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(DefaultIdleTimeout);
    connect(&m_clientTcpSocket, &QTcpSocket::readyRead, this, &UPnPEvent::clientTcpSocketReadyRead);
    connect(&m_clientTcpSocket, &QTcpSocket::errorOccurred, this, &UPnPEvent::clientTcpSocketError);
    connect(&m_clientTcpSocket, &QTcpSocket::disconnected, this, &UPnPEvent::clientTcpSocketDisconnected);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        m_clientTcpSocket.abort();
        deleteLater();
    });
}

bool UPnPEvent::setSocketDescriptor(qintptr socketDescriptor)
{
    if (!m_clientTcpSocket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return false;
    // No read holds more than one whole request may: a flood waits in the system's buffers.
    m_clientTcpSocket.setReadBufferSize(UPnPMessages::MaxEventHeaderSize + UPnPMessages::MaxEventBodySize);
    m_idleTimer.start();
    return true;
}

void UPnPEvent::setIdleTimeout(int msec)
{
    m_idleTimer.setInterval(msec);
    if (m_idleTimer.isActive())
        m_idleTimer.start();
}

void UPnPEvent::clientTcpSocketReadyRead()
{
    m_idleTimer.start();
    m_request += m_clientTcpSocket.readAll();
    for (;;) {
        const int length = UPnPMessages::eventRequestLength(m_request);
        if (length < 0) {
            m_clientTcpSocket.abort();
            deleteLater();
            return;
        }
        if (length == 0)
            return;
        const QByteArray request = m_request.left(length);
        m_request.remove(0, length);
        QString externalIpAddress;
        quint16 numberOfEntries = 0;
        if (UPnPMessages::parseEventProperties(
                request.mid(UPnPMessages::headerLength(request)), &externalIpAddress, &numberOfEntries))
            emit portMappingPropertiesChanged(externalIpAddress, numberOfEntries);
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
