#ifndef NIMBORA_TUNNELS_HTTPTUNNEL_H
#define NIMBORA_TUNNELS_HTTPTUNNEL_H

#include "http/httprequest.h"
#include "http/httpresponse.h"

#include <QAbstractSocket>
#include <QAuthenticator>
#include <QByteArray>
#include <QNetworkProxy>
#include <QObject>
#include <QString>

class QTcpSocket;

// Carries one local connection (OpenVPN's) to the VPN server as HTTP/1.1 exchanges over two
// connections: the bodies of GET responses come down, the bodies of POSTs to "index.php" go up.
class HttpTunnel : public QObject
{
    Q_OBJECT

public:
    enum State { Connecting = 0, Connected = 1, Stopping = 2, Stopped = 3 };
    Q_ENUM(State)

    // Reading from one side stops while the other side has more than this waiting to be sent.
    static constexpr qint64 MaxPendingBytes = 256 * 1024;
    // What each socket reads from the system at most before it is emptied.
    static constexpr qint64 ReadBufferSize = 128 * 1024;

    explicit HttpTunnel(QObject *parent = nullptr);
    ~HttpTunnel() override;

    void start(qintptr socketDescriptor, const QString &host, quint16 port, const QString &session);
    // Blocking close of the three sockets.
    void stop();
    void setProxy(const QNetworkProxy &proxy);

    State currentState() const { return m_state; }

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void log(const QString &text);

private slots:
    void clientTcpSocketReadyRead();
    void clientTcpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketDisconnected();
    void downloadTunnelTcpSocketConnected();
    void downloadTunnelTcpSocketReadyRead();
    void downloadTunnelTcpSocketError(QAbstractSocket::SocketError socketError);
    void downloadTunnelTcpSocketDisconnected();
    void uploadTunnelTcpSocketConnected();
    void uploadTunnelTcpSocketReadyRead();
    void uploadTunnelTcpSocketError(QAbstractSocket::SocketError socketError);
    void uploadTunnelTcpSocketDisconnected();
    void clientTcpSocketBytesWritten();
    void uploadTunnelTcpSocketBytesWritten();

private:
    void readDownload(bool closing);
    // False when the download channel was dropped and nothing more is to be read from it.
    bool handleDownloadResponse();
    void sendDownloadRequest(const QString &path);
    void connectChannel(QTcpSocket *socket, bool first);
    void beginUpload();
    void channelError(QTcpSocket *socket, QAbstractSocket::SocketError socketError, const QString &prefix);
    void channelDisconnected(QTcpSocket *socket, bool &reconnect, HttpResponse &response);
    QByteArray buildRequest(const HttpRequest &request) const;
    static QString randomString(quint16 length);
    static QString randomFileName();
    static bool closeAfter(const HttpResponse &response);

    QString m_host;
    quint16 m_port = 0;
    QNetworkProxy m_proxy;
    QString m_session;
    QString m_reconnectHost;
    State m_state = Stopped;
    QByteArray m_proxyAuthorization;
    QString m_userAgent;
    bool m_streaming = true;
    bool m_fileUpload = true;
    QByteArray m_beforeData;
    QByteArray m_afterData;
    QTcpSocket *m_clientTcpSocket;
    QTcpSocket *m_downloadTunnelTcpSocket;
    QTcpSocket *m_uploadTunnelTcpSocket;
    bool m_uploadWaiting = false;
    bool m_downloadReconnect = false;
    bool m_uploadReconnect = false;
    HttpRequest m_uploadRequest;
    HttpResponse *m_downloadResponse;
    HttpResponse *m_uploadResponse;
};

#endif
