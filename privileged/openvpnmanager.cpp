#include "privileged/openvpnmanager.h"

#include "privileged/openvpnmessages.h"

OpenVPNManager::OpenVPNManager(QObject *parent) : QObject(parent)
{
    connect(&m_server, &decltype(m_server)::newConnection, this, &OpenVPNManager::takeConnections);
}

void OpenVPNManager::closeConnection()
{
    m_commandsWaiting = 0;
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

bool OpenVPNManager::sendCommand(const QByteArray &command)
{
    const QString text = QString::fromLatin1(command.left(MaximumCommandLength));
    if (command.isEmpty() || command.size() > MaximumCommandLength || command.contains('\n')
        || command.contains('\r')) {
        emit log(QStringLiteral("Management channel: command refused: ") + text);
        return false;
    }
    if (!m_connection || !m_connection->isOpen()) {
        emit log(QStringLiteral("Management channel: no OpenVPN connected for: ") + text);
        return false;
    }
    emit log(QStringLiteral("Management channel: ") + text);
    m_connection->write(command + "\r\n");
    ++m_commandsWaiting;
    return true;
}

void OpenVPNManager::socketReadyRead()
{
    // Whatever else OpenVPN says is dropped; a prompt split across two reads goes unanswered.
    const QByteArray received = m_connection->readAll();
    const QByteArray answer
        = OpenVPNMessages::answer(received, m_username, m_password, m_proxy.user(), m_proxy.password());
    if (!answer.isEmpty())
        m_connection->write(answer);
    logCommandAnswers(received);
}

void OpenVPNManager::logCommandAnswers(const QByteArray &received)
{
    if (m_commandsWaiting == 0)
        return;
    const QList<QByteArray> lines = received.split('\n');
    for (const QByteArray &line : lines) {
        if (m_commandsWaiting > 0 && (line.startsWith("SUCCESS:") || line.startsWith("ERROR:"))) {
            --m_commandsWaiting;
            emit log(QStringLiteral("Management channel: ")
                + OpenVPNMessages::outputText(line.trimmed().left(MaximumAnswerLength)));
        }
    }
}
