#ifndef NIMBORA_TUNNELS_HTTPSSERVER_H
#define NIMBORA_TUNNELS_HTTPSSERVER_H

#include "tunnels/httpstunnel.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>
#include <QTcpServer>

// The local listener of the HTTPS transport: OpenVPN connects here, and the one tunnel carries the
// connection to the VPN server.
class HttpsServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit HttpsServer(QObject *parent = nullptr);

    void setHost(const QString &host);
    void setPort(quint16 port);
    void setProxy(const QNetworkProxy &proxy);
    // Stops the tunnel, then the listener.
    void close();
    HttpsTunnel::State tunnelState() const;

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void log(const QString &text);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QString host;
    quint16 port = 0;
    HttpsTunnel tunnel;
};

#endif
