#include "tunnels/socksserver.h"

#include "netconfig/socketowner.h"
#include "tunnels/sockstunnel.h"

#include <QTcpSocket>

SocksServer::SocksServer(QObject *parent) : QTcpServer(parent)
{
    setMaxPendingConnections(1000);
}

void SocksServer::setAddress(const QHostAddress &address)
{
    m_bindAddress = address;
}

void SocksServer::close()
{
    QTcpServer::close();
    emit closed();
}

void SocksServer::incomingConnection(qintptr socketDescriptor)
{
    // Other users' programs must not reach out through this machine's VPN or physical adapter as us.
    SocketOwner::Status lookup = SocketOwner::LookupFailed;
    if (!SocketOwner::peerIsOwnedBy(socketDescriptor, SocketOwner::currentUserId(), -1, &lookup)) {
        QTcpSocket refused;
        if (refused.setSocketDescriptor(socketDescriptor))
            refused.abort();
        emit log(lookup == SocketOwner::LookupFailed
                ? QStringLiteral("SOCKS error: connection refused: its program could not be identified")
                : QStringLiteral("SOCKS error: connection from another program refused"));
        return;
    }
    SocksTunnel *tunnel = new SocksTunnel(socketDescriptor, m_bindAddress);
    connect(tunnel, &SocksTunnel::log, this, &SocksServer::log);
    connect(tunnel, &QThread::finished, tunnel, &QObject::deleteLater);
    connect(this, &SocksServer::closed, tunnel, &QThread::quit);
    tunnel->start();
}
