#include "privileged/openvpnmanager.h"

#include "netconfig/socketowner.h"

bool OpenVPNManager::listen()
{
    closeConnection();
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString OpenVPNManager::serverName() const { return m_server.serverAddress().toString(); }

quint16 OpenVPNManager::serverPort() const { return m_server.serverPort(); }

void OpenVPNManager::closeListener() { m_server.close(); }

// Every local user may connect to 127.0.0.1: only the OpenVPN child itself is taken, as the TCP
// table tells. Without a known child nobody is.
bool OpenVPNManager::isPeerAccepted(qintptr socketDescriptor)
{
    const SocketOwner owner = SocketOwner::ofPeer(socketDescriptor);
    if (owner.status() != SocketOwner::Found) {
        emit log(QStringLiteral("Management connection refused: its peer is unknown"));
        return false;
    }
    if (m_peerProcessId > 0 && owner.isOwnedBy(-1, m_peerProcessId))
        return true;
    emit log(QStringLiteral("Management connection refused: process %1 is not OpenVPN").arg(owner.processId()));
    return false;
}

void OpenVPNManager::waitForPeerToLeave()
{
    m_connection->disconnectFromHost();
    if (m_connection->state() != QAbstractSocket::UnconnectedState)
        m_connection->waitForDisconnected(CloseTimeout);
}
