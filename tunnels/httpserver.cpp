#include "tunnels/httpserver.h"

HttpServer::HttpServer(QObject *parent) : QTcpServer(parent)
{
    connect(&tunnel, &HttpTunnel::proxyAuthenticationRequired, this, &HttpServer::proxyAuthenticationRequired);
    connect(&tunnel, &HttpTunnel::log, this, &HttpServer::log);
}

void HttpServer::setHost(const QString &host)
{
    this->host = host;
}

void HttpServer::setPort(quint16 port)
{
    this->port = port;
}

void HttpServer::setSession(const QString &session)
{
    this->session = session;
}

void HttpServer::setProxy(const QNetworkProxy &proxy)
{
    tunnel.setProxy(proxy);
}

void HttpServer::close()
{
    if (tunnel.currentState() != HttpTunnel::Stopping && tunnel.currentState() != HttpTunnel::Stopped)
        tunnel.stop();
    QTcpServer::close();
}

void HttpServer::incomingConnection(qintptr socketDescriptor)
{
    tunnel.start(socketDescriptor, host, port, session);
}
