#include "tunnels/httpsserver.h"

HttpsServer::HttpsServer(QObject *parent)
    : TunnelServer(0, QStringLiteral("Mode https (client) : "), parent), m_tunnel(this)
{
    relaySignals(&m_tunnel);
}

void HttpsServer::setProxy(const QNetworkProxy &proxy)
{
    m_tunnel.setProxy(proxy);
}

HttpsTunnel::State HttpsServer::tunnelState() const
{
    return m_tunnel.state();
}

void HttpsServer::startTunnel(qintptr socketDescriptor)
{
    m_tunnel.start(socketDescriptor, m_host, m_port);
}

bool HttpsServer::isTunnelStopped() const
{
    return m_tunnel.state() == HttpsTunnel::Stopping || m_tunnel.state() == HttpsTunnel::Stopped;
}

void HttpsServer::stopTunnel()
{
    m_tunnel.stop();
}
