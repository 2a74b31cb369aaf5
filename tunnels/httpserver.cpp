#include "tunnels/httpserver.h"

HttpServer::HttpServer(QObject *parent) : TunnelServer(80, QStringLiteral("Mode http (client) : "), parent)
{
    relaySignals(&m_tunnel);
}

void HttpServer::setSession(const QString &session)
{
    m_session = session;
}

void HttpServer::setProxy(const QNetworkProxy &proxy)
{
    m_tunnel.setProxy(proxy);
}

void HttpServer::startTunnel(qintptr socketDescriptor)
{
    m_tunnel.start(socketDescriptor, m_host, m_port, m_session);
}

bool HttpServer::isTunnelStopped() const
{
    return m_tunnel.currentState() == HttpTunnel::Stopping || m_tunnel.currentState() == HttpTunnel::Stopped;
}

void HttpServer::stopTunnel()
{
    m_tunnel.stop();
}
