#ifndef NIMBORA_TUNNELS_HTTPSSERVER_H
#define NIMBORA_TUNNELS_HTTPSSERVER_H

#include "tunnels/httpstunnel.h"
#include "tunnels/tunnelserver.h"

// The local listener of the HTTPS transport: the one tunnel carries the connection to the VPN
// server inside TLS.
class HttpsServer : public TunnelServer
{
    Q_OBJECT

public:
    explicit HttpsServer(QObject *parent = nullptr);

    void setProxy(const QNetworkProxy &proxy) override;
    HttpsTunnel::State tunnelState() const;

protected:
    void startTunnel(qintptr socketDescriptor) override;
    bool isTunnelStopped() const override;
    void stopTunnel() override;

private:
    HttpsTunnel m_tunnel;
};

#endif
