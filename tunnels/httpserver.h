#ifndef NIMBORA_TUNNELS_HTTPSERVER_H
#define NIMBORA_TUNNELS_HTTPSERVER_H

#include "tunnels/httptunnel.h"
#include "tunnels/tunnelserver.h"

// Local listener of the HTTP transport: hands each accepted connection to its one tunnel.
class HttpServer : public TunnelServer
{
    Q_OBJECT

public:
    explicit HttpServer(QObject *parent = nullptr);

    void setSession(const QString &session);
    void setProxy(const QNetworkProxy &proxy) override;

    const HttpTunnel &httpTunnel() const { return m_tunnel; }

protected:
    void startTunnel(qintptr socketDescriptor) override;
    bool isTunnelStopped() const override;
    void stopTunnel() override;

private:
    QString m_session;
    HttpTunnel m_tunnel;
};

#endif
