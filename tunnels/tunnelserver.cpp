#include "tunnels/tunnelserver.h"

TunnelServer::TunnelServer(quint16 defaultPort, QObject *parent) : QTcpServer(parent), m_port(defaultPort) { }

void TunnelServer::setHost(const QString &host)
{
    m_host = host;
}

void TunnelServer::setPort(quint16 port)
{
    m_port = port;
}

void TunnelServer::close()
{
    if (!isTunnelStopped())
        stopTunnel();
    QTcpServer::close();
}
