#ifndef NIMBORA_TUNNELS_HTTPSERVER_H
#define NIMBORA_TUNNELS_HTTPSERVER_H

#include "tunnels/httptunnel.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>
#include <QTcpServer>

// Local listener of the HTTP transport: hands each accepted connection to its one tunnel.
class HttpServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit HttpServer(QObject *parent = nullptr);

    void setHost(const QString &host);
    void setPort(quint16 port);
    void setSession(const QString &session);
    void setProxy(const QNetworkProxy &proxy);
    // Stops the tunnel, then listening.
    void close();

    const HttpTunnel &httpTunnel() const { return tunnel; }

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void log(const QString &text);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QString host;
    quint16 port = 80;
    QString session;
    HttpTunnel tunnel;
};

#endif
