#include "tunnels/tlsclient.h"

#include <QHostAddress>
#include <QStringList>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// What curl offers for HTTPS: HTTP/2, then HTTP/1.1.
const unsigned char AlpnProtocols[] = { 2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1' };

// curl's own choices: every version from TLS 1.0 up, no TLS 1.2 session ticket, no compression, post-handshake
// authentication offered. Everything else in the hello (ciphers, groups, key share) is OpenSSL's default, as curl
// leaves it.
SSL_CTX *newCurlLikeContext()
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    SSL_CTX_set_options(
        context, (SSL_OP_ALL & ~SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS) | SSL_OP_NO_TICKET | SSL_OP_NO_COMPRESSION);
    if (SSL_CTX_set_min_proto_version(context, TLS1_VERSION) != 1
        || SSL_CTX_set_alpn_protos(context, AlpnProtocols, sizeof AlpnProtocols) != 0) {
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_set_post_handshake_auth(context, 1);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    return context;
}

QString openSslErrors()
{
    QStringList texts;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        texts += QString::fromLatin1(text);
    }
    return texts.join(QStringLiteral(", "));
}

} // namespace

TlsClient::~TlsClient()
{
    end();
}

bool TlsClient::begin(const QString &host)
{
    end();
    ERR_clear_error();
    SSL_CTX *context = newCurlLikeContext();
    if (context) {
        m_ssl = SSL_new(context);
        SSL_CTX_free(context); // the connection holds its own reference
    }
    m_fromServer = BIO_new(BIO_s_mem());
    m_toServer = BIO_new(BIO_s_mem());
    if (!m_ssl || !m_fromServer || !m_toServer) {
        BIO_free(m_fromServer);
        BIO_free(m_toServer);
        m_fromServer = m_toServer = nullptr;
        m_errorString = QStringLiteral("TLS setup failed: ") + openSslErrors();
        end();
        return false;
    }
    // Running out of received bytes is "wait for more", not end of file.
    BIO_set_mem_eof_return(m_fromServer, -1);
    SSL_set_bio(m_ssl, m_fromServer, m_toServer);
    SSL_set_connect_state(m_ssl);
    SSL_set_mode(m_ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // As curl names it: the ASCII form, without a final dot.
    QByteArray serverName = QUrl::toAce(host);
    if (serverName.endsWith('.'))
        serverName.chop(1);
    if (!serverName.isEmpty() && QHostAddress(host).isNull())
        SSL_set_tlsext_host_name(m_ssl, serverName.constData());
    m_errorString.clear();
    return true;
}

void TlsClient::end()
{
    m_unsent.clear();
    SSL_free(m_ssl);
    m_ssl = nullptr;
    m_fromServer = m_toServer = nullptr;
}

bool TlsClient::isHandshakeDone() const
{
    return m_ssl && SSL_is_init_finished(m_ssl);
}

void TlsClient::feedEncrypted(const char *data, qint64 size)
{
    if (m_fromServer && size > 0)
        BIO_write(m_fromServer, data, int(size));
}

QByteArray TlsClient::takeEncrypted()
{
    QByteArray bytes;
    const int pending = m_toServer ? int(BIO_ctrl_pending(m_toServer)) : 0;
    if (pending <= 0)
        return bytes;
    bytes.resize(pending);
    bytes.resize(qMax(0, BIO_read(m_toServer, bytes.data(), pending)));
    return bytes;
}

TlsClient::Status TlsClient::handshake()
{
    if (!m_ssl)
        return Failed;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    return result == 1 ? Ok : failure(result, "Error during SSL handshake");
}

TlsClient::Status TlsClient::readPlain(QByteArray *out)
{
    if (!m_ssl)
        return Failed;
    int result;
    do {
        // Decrypted in place: out costs nothing more while its capacity holds a record.
        const int start = out->size();
        out->resize(start + MaxRecordSize);
        ERR_clear_error();
        result = SSL_read(m_ssl, out->data() + start, MaxRecordSize);
        out->resize(start + qMax(0, result));
        // Once every received byte is decrypted, one more call would only say so.
    } while (result > 0 && (BIO_ctrl_pending(m_fromServer) > 0 || SSL_has_pending(m_ssl)));
    const Status status = result > 0 ? Ok : failure(result, "Error while reading");
    return status == Ok && !m_unsent.isEmpty() ? writeUnsent() : status;
}

TlsClient::Status TlsClient::writePlain(const char *data, qint64 size)
{
    if (!m_ssl)
        return Failed;
    if (!m_unsent.isEmpty()) {
        m_unsent.append(data, int(size));
        return writeUnsent();
    }
    while (size > 0) {
        ERR_clear_error();
        const int result = SSL_write(m_ssl, data, int(qMin<qint64>(size, 1 << 30)));
        if (result <= 0) {
            // A renegotiation can make writing wait for the server: the rest goes after its answer.
            m_unsent = QByteArray(data, int(size));
            return failure(result, "Unable to write data");
        }
        data += result;
        size -= result;
    }
    return Ok;
}

TlsClient::Status TlsClient::writeUnsent()
{
    while (!m_unsent.isEmpty()) {
        ERR_clear_error();
        const int result = SSL_write(m_ssl, m_unsent.constData(), m_unsent.size());
        if (result <= 0)
            return failure(result, "Unable to write data");
        m_unsent.remove(0, result);
    }
    return Ok;
}

void TlsClient::shutdown()
{
    if (m_ssl && SSL_is_init_finished(m_ssl))
        SSL_shutdown(m_ssl);
}

// Waiting for more bytes is fine; the peer's close_notify ends the stream; anything else is fatal.
TlsClient::Status TlsClient::failure(int result, const char *what)
{
    switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return Ok;
    case SSL_ERROR_ZERO_RETURN:
        m_errorString = QStringLiteral("The TLS/SSL connection has been closed");
        return Closed;
    default:
        break;
    }
    const QString details = openSslErrors();
    m_errorString = QLatin1String(what) + (details.isEmpty() ? QString() : QStringLiteral(": ") + details);
    return Failed;
}
