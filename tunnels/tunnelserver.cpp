#include "tunnels/tunnelserver.h"

#include "netconfig/socketowner.h"

#include <QTcpSocket>

TunnelServer::TunnelServer(quint16 defaultPort, const QString &clientLogPrefix, QObject *parent)
    : QTcpServer(parent),
      m_port(defaultPort),
      m_clientLogPrefix(clientLogPrefix),
      m_acceptedUserId(SocketOwner::currentUserId())
{ }

void TunnelServer::setHost(const QString &host)
{
    m_host = host;
}

void TunnelServer::setPort(quint16 port)
{
    m_port = port;
}

void TunnelServer::setAcceptedPeer(qint64 userId, qint64 processId)
{
    m_acceptedUserId = userId;
    m_acceptedProcessId = processId;
}

void TunnelServer::close()
{
    if (!isTunnelStopped())
        stopTunnel();
    QTcpServer::close();
}

void TunnelServer::incomingConnection(qintptr socketDescriptor)
{
    SocketOwner::Status lookup = SocketOwner::LookupFailed;
    if (SocketOwner::peerIsOwnedBy(socketDescriptor, m_acceptedUserId, m_acceptedProcessId, &lookup)) {
        startTunnel(socketDescriptor);
        return;
    }
    QTcpSocket refused;
    if (refused.setSocketDescriptor(socketDescriptor))
        refused.abort();
    emit log(m_clientLogPrefix
        + (lookup == SocketOwner::LookupFailed
                ? QStringLiteral("Connection refused: its program could not be identified")
                : QStringLiteral("Connection from another program refused")));
}
