#include "privileged/openvpnmanager.h"

#include "privileged/openvpnmessages.h"

OpenVPNManager::OpenVPNManager(QObject *parent) : QObject(parent)
{
    connect(&m_server, &decltype(m_server)::newConnection, this, &OpenVPNManager::takeConnections);
}

void OpenVPNManager::closeConnection()
{
    if (m_connection) {
        m_connection->disconnect(this);
        waitForPeerToLeave();
        // A peer that never reads its end would keep the socket half-closed: drop it all the same.
        m_connection->abort();
        m_connection->deleteLater();
        m_connection = nullptr;
    }
    closeListener();
}

bool OpenVPNManager::isListening() const { return m_server.isListening(); }

void OpenVPNManager::takeConnections()
{
    while (auto *socket = m_server.nextPendingConnection()) {
        if (m_connection || !isPeerAccepted(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connection = socket;
        connect(m_connection, &QIODevice::readyRead, this, &OpenVPNManager::socketReadyRead);
        // The channel belongs to this connection: nobody else may come in after it.
        closeListener();
    }
}

void OpenVPNManager::socketReadyRead()
{
    // Whatever else OpenVPN says is dropped; a prompt split across two reads goes unanswered.
    const QByteArray answer
        = OpenVPNMessages::answer(m_connection->readAll(), m_username, m_password, m_proxy.user(), m_proxy.password());
    if (!answer.isEmpty())
        m_connection->write(answer);
}
