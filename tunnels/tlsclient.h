#ifndef NIMBORA_TUNNELS_TLSCLIENT_H
#define NIMBORA_TUNNELS_TLSCLIENT_H

#include <QByteArray>
#include <QString>

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

// The client end of one TLS connection, run over memory buffers so that the caller owns the socket
// (and with it the proxy). Its hello is the one Debian's curl sends with the same OpenSSL: a TLS
// connection to port 443 that looks like any other. Every server certificate is accepted: what rides
// inside authenticates the server.
class TlsClient
{
public:
    enum Status { Ok, Closed, Failed };
    // The most plain bytes one TLS record carries.
    static constexpr int MaxRecordSize = 16 * 1024;

    TlsClient() = default;
    ~TlsClient();
    TlsClient(const TlsClient &) = delete;
    TlsClient &operator=(const TlsClient &) = delete;

    // Starts a new connection; the server name is sent only for a host name, never for an address.
    bool begin(const QString &host);
    void end();
    bool isHandshakeDone() const;

    // Bytes that came from the server; then handshake() or readPlain() take them.
    void feedEncrypted(const char *data, qint64 size);
    // Bytes for the server, the whole of them at once.
    QByteArray takeEncrypted();
    Status handshake();
    // Appends the server's plain bytes decrypted so far to out, a record's room at a time.
    Status readPlain(QByteArray *out);
    // Encrypts the whole of data, or keeps what must wait for the server (unsentSize()).
    Status writePlain(const char *data, qint64 size);
    qint64 unsentSize() const { return m_unsent.size(); }
    // Queues close_notify.
    void shutdown();
    QString errorString() const { return m_errorString; }

private:
    Status writeUnsent();
    Status failure(int result, const char *what);

    SSL *m_ssl = nullptr;
    BIO *m_fromServer = nullptr; // owned by m_ssl
    BIO *m_toServer = nullptr; // owned by m_ssl
    QByteArray m_unsent;
    QString m_errorString;
};

#endif
