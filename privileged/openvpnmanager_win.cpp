#include "privileged/openvpnmanager.h"

bool OpenVPNManager::listen()
{
    closeConnection();
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString OpenVPNManager::serverName() const { return m_server.serverAddress().toString(); }

quint16 OpenVPNManager::serverPort() const { return m_server.serverPort(); }

void OpenVPNManager::closeListener() { m_server.close(); }

// Windows tells nothing of a loopback peer: the first comer of a listen is taken.
bool OpenVPNManager::isPeerAccepted(qintptr socketDescriptor)
{
    Q_UNUSED(socketDescriptor)
    return true;
}

void OpenVPNManager::waitForPeerToLeave()
{
    m_connection->disconnectFromHost();
    if (m_connection->state() != QAbstractSocket::UnconnectedState)
        m_connection->waitForDisconnected(CloseTimeout);
}
