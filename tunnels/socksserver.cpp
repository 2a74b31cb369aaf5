#include "tunnels/socksserver.h"

#include "tunnels/sockstunnel.h"

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
    SocksTunnel *tunnel = new SocksTunnel(socketDescriptor, m_bindAddress);
    connect(tunnel, &SocksTunnel::log, this, &SocksServer::log);
    connect(tunnel, &QThread::finished, tunnel, &QObject::deleteLater);
    connect(this, &SocksServer::closed, tunnel, &QThread::quit);
    tunnel->start();
}
