#include "tunnels/httpsserver.h"

HttpsServer::HttpsServer(QObject *parent) : QTcpServer(parent), tunnel(this)
{
    connect(&tunnel, &HttpsTunnel::proxyAuthenticationRequired, this, &HttpsServer::proxyAuthenticationRequired);
    connect(&tunnel, &HttpsTunnel::log, this, &HttpsServer::log);
}

void HttpsServer::setHost(const QString &host)
{
    this->host = host;
}

void HttpsServer::setPort(quint16 port)
{
    this->port = port;
}

void HttpsServer::setProxy(const QNetworkProxy &proxy)
{
    tunnel.setProxy(proxy);
}

void HttpsServer::close()
{
    if (tunnel.state() != HttpsTunnel::Stopping && tunnel.state() != HttpsTunnel::Stopped)
        tunnel.stop();
    QTcpServer::close();
}

HttpsTunnel::State HttpsServer::tunnelState() const
{
    return tunnel.state();
}

void HttpsServer::incomingConnection(qintptr socketDescriptor)
{
    tunnel.start(socketDescriptor, host, port);
}
