#ifndef NIMBORA_TUNNELS_TUNNELSERVER_H
#define NIMBORA_TUNNELS_TUNNELSERVER_H

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QString>
#include <QTcpServer>

// What the HTTPS and HTTP transports' local listeners share: the VPN server to reach, the
// user's proxy, and one tunnel that carries each accepted connection. OpenVPN connects here.
class TunnelServer : public QTcpServer
{
    Q_OBJECT

public:
    void setHost(const QString &host);
    void setPort(quint16 port);
    virtual void setProxy(const QNetworkProxy &proxy) = 0;
    // The only owner whose connections are taken (-1: any); see SocketOwner::peerIsOwnedBy. By
    // default only the running user's own programs get through.
    void setAcceptedPeer(qint64 userId, qint64 processId);
    // Stops the tunnel, then listening.
    void close();

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void log(const QString &text);

protected:
    // clientLogPrefix starts the log lines about the local connection.
    TunnelServer(quint16 defaultPort, const QString &clientLogPrefix, QObject *parent);

    // A connection from another owner is closed here, before the tunnel reads it or connects out.
    void incomingConnection(qintptr socketDescriptor) final;
    virtual void startTunnel(qintptr socketDescriptor) = 0;

    // Relays the tunnel's proxy credential requests and log lines as the listener's own.
    template <typename Tunnel>
    void relaySignals(Tunnel *tunnel)
    {
        connect(tunnel, &Tunnel::proxyAuthenticationRequired, this, &TunnelServer::proxyAuthenticationRequired);
        connect(tunnel, &Tunnel::log, this, &TunnelServer::log);
    }
    virtual bool isTunnelStopped() const = 0;
    virtual void stopTunnel() = 0;

    QString m_host;
    quint16 m_port;

private:
    QString m_clientLogPrefix;
    qint64 m_acceptedUserId;
    qint64 m_acceptedProcessId = -1;
};

#endif
