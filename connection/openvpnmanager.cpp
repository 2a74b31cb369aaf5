#include "connection/openvpnmanager.h"

#include "connection/openvpnmessages.h"

OpenVPNManager::OpenVPNManager(QObject *parent) : QTcpServer(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &OpenVPNManager::socketReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &OpenVPNManager::socketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &OpenVPNManager::socketDisconnected);
}

void OpenVPNManager::incomingConnection(qintptr socketDescriptor)
{
    if (m_socket.state() != QAbstractSocket::UnconnectedState) {
        // Refused: the channel belongs to the first comer of this listen.
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.abort();
        return;
    }
    m_socket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    close();
}

void OpenVPNManager::closeConnection()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(CloseTimeout);
    // A peer that never reads its end would keep the socket half-closed: drop it all the same.
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    close();
}

void OpenVPNManager::socketReadyRead()
{
    // Whatever else OpenVPN says is dropped; a prompt split across two reads goes unanswered.
    const QByteArray answer
        = OpenVPNMessages::answer(m_socket.readAll(), m_username, m_password, m_proxy.user(), m_proxy.password());
    if (!answer.isEmpty())
        m_socket.write(answer);
}

void OpenVPNManager::socketError(QAbstractSocket::SocketError socketError)
{
    // OpenVPN's end is learnt from its process, not from this connection.
    Q_UNUSED(socketError)
}

void OpenVPNManager::socketDisconnected() { }
