#ifndef NIMBORA_TESTS_TUNNELS_TST_HTTPSPEERS_H
#define NIMBORA_TESTS_TUNNELS_TST_HTTPSPEERS_H

#include <QByteArray>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

// Bytes whose value depends on their place in a stream: a lost or misplaced byte shows.
QByteArray tlsPattern(qint64 offset, int size);

// The VPN server's TLS end as the tests need it: one connection at a time, with a chosen certificate
// ("self-signed", "expired", "wrong name") and protocol.
class TlsPeer : public QTcpServer
{
    Q_OBJECT

public:
    enum Mode {
        Echo, // sends back what it gets, and keeps it
        Hold, // reads nothing until a test reads the socket itself
        Stream // sends streamSize bytes of tlsPattern() as fast as the other side takes them
    };

    bool setCertificate(const QString &kind, QString *errorString = nullptr);
    void setProtocol(QSsl::SslProtocol protocol);
    void setMode(Mode mode);
    void setStreamSize(qint64 size);
    // The TLS handshake waits for releaseHandshake(): the tunnel's TCP connection is up, its TLS one not.
    void setHoldHandshake(bool hold);
    void releaseHandshake();
    void reset();

    QSslSocket *socket() const;
    QByteArray received() const;
    qint64 sent() const;
    bool disconnected() const;

signals:
    void progress();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void pump();

    QSslCertificate m_certificate;
    QSslKey m_key;
    QSsl::SslProtocol m_protocol = QSsl::SecureProtocols;
    Mode m_mode = Echo;
    qint64 m_streamSize = 0;
    bool m_holdHandshake = false;
    QPointer<QSslSocket> m_socket;
    QByteArray m_received;
    qint64 m_sent = 0;
    bool m_disconnected = false;
};

// A minimal HTTP proxy: answers CONNECT and relays; keeps the request head.
class ConnectProxy : public QTcpServer
{
    Q_OBJECT

public:
    QByteArray head() const;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QByteArray m_head;
};

// Writes a stream of tlsPattern() bytes to a socket, never more than 1 MiB ahead of it.
class StreamWriter : public QObject
{
    Q_OBJECT

public:
    StreamWriter(QIODevice *device, qint64 size);
    void start();
    qint64 written() const;

signals:
    void progress();

private:
    void pump();

    QIODevice *m_device;
    qint64 m_size;
    qint64 m_written = 0;
};

// Reads a device to its end and checks every byte against tlsPattern().
class StreamChecker : public QObject
{
    Q_OBJECT

public:
    void attach(QIODevice *device);
    qint64 received() const;
    bool failed() const;

private:
    void read();

    QIODevice *m_device = nullptr;
    qint64 m_received = 0;
    bool m_failed = false;
};

#endif
