#ifndef NIMBORA_TUNNELS_HTTPSTUNNEL_H
#define NIMBORA_TUNNELS_HTTPSTUNNEL_H

#include "tunnels/tlsclient.h"

#include <QAuthenticator>
#include <QNetworkProxy>
#include <QObject>
#include <QTcpSocket>

// Carries one local connection (OpenVPN's) unchanged inside a TLS connection to the VPN server.
class HttpsTunnel : public QObject
{
    Q_OBJECT

public:
    enum State { Connecting = 0, Connected = 1, Stopping = 2, Stopped = 3 };
    Q_ENUM(State)

    // A side stops being read while the other side has more than this waiting to be sent, so a
    // slow reader cannot make the tunnel buffer without end.
    static constexpr qint64 MaxPendingBytes = 256 * 1024;
    // What each socket holds at most before the tunnel empties it.
    static constexpr qint64 ReadBufferSize = 128 * 1024;

    explicit HttpsTunnel(QObject *parent = nullptr);
    ~HttpsTunnel() override;

    void start(qintptr socketDescriptor, const QString &host, quint16 port);
    // Blocks for up to 5 seconds per socket while they close.
    void stop();
    void setProxy(const QNetworkProxy &proxy);
    State state() const;

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void log(const QString &text);

private slots:
    void clientTcpSocketReadyRead();
    void clientTcpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketDisconnected();
    void tunnelTcpSocketConnected();
    void tunnelTcpSocketReadyRead();
    void tunnelTcpSocketError(QAbstractSocket::SocketError socketError);
    void tunnelTcpSocketDisconnected();

private:
    void continueHandshake();
    void relayFromServer();
    void sendEncrypted();
    void writeNow(QTcpSocket *socket, const QByteArray &bytes);
    void failTunnel(const QString &reason);
    QNetworkProxy proxyFor(const QString &host, quint16 port) const;

    State m_state = Stopped;
    QNetworkProxy m_proxy;
    QByteArray m_userAgent;
    QTcpSocket m_clientTcpSocket;
    // The TCP connection to the server (through the proxy, if any) carries the TLS records of m_tls.
    QTcpSocket m_tunnelTcpSocket;
    TlsClient m_tls;
    QByteArray m_plainFromServer;
    QString m_host;
    // No proxy stands between the tunnel socket and its descriptor: writes may go straight to it.
    bool m_tunnelIsDirect = false;
    bool m_relayingFromClient = false;
    bool m_relayingFromServer = false;
};

#endif
