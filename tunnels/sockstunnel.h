#ifndef NIMBORA_TUNNELS_SOCKSTUNNEL_H
#define NIMBORA_TUNNELS_SOCKSTUNNEL_H

#include <QByteArray>
#include <QHostAddress>
#include <QThread>

class QTcpSocket;
class QUdpSocket;

// One SOCKS client: a thread with its own event loop, which owns the client's sockets.
class SocksTunnel : public QThread
{
    Q_OBJECT

public:
    enum State { WaitingGreeting = 0, WaitingRequest = 1, Relaying = 2 };
    enum Version { Socks4 = 0, Socks5 = 1 };

    // A relay stops reading one side while the other has more than this waiting to be sent.
    static constexpr qint64 MaxPendingBytes = 256 * 1024;
    // What each TCP socket reads from the system at most before it is emptied.
    static constexpr qint64 ReadBufferSize = 128 * 1024;
    // A client that has not completed its greeting and request by then loses its connection, so
    // that one that never finishes cannot hold a thread for good.
    static constexpr int HandshakeTimeLimit = 30000;

    SocksTunnel(qintptr socketDescriptor, const QHostAddress &bindAddress);

    // For tests: the limit of the tunnels started from now on.
    static void setHandshakeTimeLimit(int msec);

signals:
    void log(const QString &text);

protected:
    void run() override;

private slots:
    void clientTcpSocketReadyRead();
    void clientTcpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketDisconnected();
    void clientUdpSocketReadyRead();
    void clientUdpSocketError(QAbstractSocket::SocketError socketError);
    void remoteTcpSocketConnected();
    void remoteTcpSocketReadyRead();
    void remoteTcpSocketError(QAbstractSocket::SocketError socketError);
    void remoteTcpSocketDisconnected();
    void remoteUdpSocketReadyRead();
    void remoteUdpSocketError(QAbstractSocket::SocketError socketError);
    void clientTcpSocketBytesWritten();
    void remoteTcpSocketBytesWritten();

private:
    void handshakeTimedOut();
    void readMessages();
    bool readGreeting();
    bool readSocks5Request();
    void connectRemote(const QHostAddress &address, quint16 port);
    void associateUdp();
    void startRelaying();
    void relay(QTcpSocket *from, QTcpSocket *to);
    QHostAddress resolve(const QByteArray &name) const;
    void sendReply(quint8 code, const QHostAddress &address, quint16 port);
    QString errorPrefix() const;

    qintptr m_socketDescriptor;
    QHostAddress m_bindAddress;
    State m_state = WaitingGreeting;
    Version m_version = Socks5;
    QHostAddress m_clientUdpAddress;
    quint16 m_clientUdpPort = 0;
    QTcpSocket *m_clientTcpSocket;
    QUdpSocket *m_clientUdpSocket;
    QTcpSocket *m_remoteTcpSocket;
    QUdpSocket *m_remoteUdpSocket;
    // Bytes read from the client that no message has taken yet; they go out first once relaying.
    QByteArray m_clientBuffer;
    bool m_remoteConnecting = false;
};

#endif
