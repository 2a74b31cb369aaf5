#include "tunnels/httpstunnel.h"

#include "base/useragent.h"
#include "tunnels/socketwrite.h"

#include <QScopedValueRollback>

#include <algorithm>

namespace {

// How much of the server's TLS stream is decrypted at a time.
constexpr qint64 RecordChunkSize = 64 * 1024;
const QString TunnelLogPrefix = QStringLiteral("Mode https (tunnel) : ");

} // namespace

HttpsTunnel::HttpsTunnel(QObject *parent) : QObject(parent), m_clientTcpSocket(this), m_tunnelTcpSocket(this)
{
    // The network layer sends it as the User-Agent of the CONNECT request to an HTTP proxy.
    m_userAgent = UserAgent::configured().toUtf8();

    m_clientTcpSocket.setReadBufferSize(ReadBufferSize);
    m_tunnelTcpSocket.setReadBufferSize(ReadBufferSize);
    // Reserved, it keeps its room when emptied: no packet pays for an allocation.
    m_plainFromServer.reserve(int(RecordChunkSize) + TlsClient::MaxRecordSize);

    connect(&m_clientTcpSocket, &QTcpSocket::readyRead, this, &HttpsTunnel::clientTcpSocketReadyRead);
    connect(&m_clientTcpSocket, &QTcpSocket::errorOccurred, this, &HttpsTunnel::clientTcpSocketError);
    connect(&m_clientTcpSocket, &QTcpSocket::disconnected, this, &HttpsTunnel::clientTcpSocketDisconnected);
    connect(
        &m_tunnelTcpSocket, &QTcpSocket::proxyAuthenticationRequired, this, &HttpsTunnel::proxyAuthenticationRequired);
    connect(&m_tunnelTcpSocket, &QTcpSocket::connected, this, &HttpsTunnel::tunnelTcpSocketConnected);
    connect(&m_tunnelTcpSocket, &QTcpSocket::readyRead, this, &HttpsTunnel::tunnelTcpSocketReadyRead);
    connect(&m_tunnelTcpSocket, &QTcpSocket::errorOccurred, this, &HttpsTunnel::tunnelTcpSocketError);
    connect(&m_tunnelTcpSocket, &QTcpSocket::disconnected, this, &HttpsTunnel::tunnelTcpSocketDisconnected);

    // A side that was held back because the other one lagged is read again as soon as that one drains.
    connect(&m_clientTcpSocket, &QTcpSocket::bytesWritten, this, &HttpsTunnel::tunnelTcpSocketReadyRead);
    connect(&m_tunnelTcpSocket, &QTcpSocket::bytesWritten, this, &HttpsTunnel::clientTcpSocketReadyRead);
}

void HttpsTunnel::start(qintptr socketDescriptor, const QString &host, quint16 port)
{
    // A new local connection is OpenVPN starting over, possibly before the old connection's close has
    // been seen here: it gets a TLS connection of its own, since the old one carries the old session.
    if (m_state == Connecting || m_state == Connected)
        stop();
    if (!m_clientTcpSocket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return;
    m_clientTcpSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = Connecting;
    m_host = host;
    m_tunnelIsDirect = false;
    m_tunnelTcpSocket.setProxy(proxyFor(host, port));
    m_tunnelTcpSocket.connectToHost(host, port);
}

HttpsTunnel::~HttpsTunnel()
{
    // The sockets close quietly: a disconnect reported while the members are being destroyed
    // would call stop() on a socket that is already gone.
    m_clientTcpSocket.disconnect(this);
    m_tunnelTcpSocket.disconnect(this);
}

void HttpsTunnel::stop()
{
    m_state = Stopping;
    // What one side sent just before it went away still reaches the other side.
    if (m_tls.isHandshakeDone()) {
        if (m_clientTcpSocket.state() == QAbstractSocket::ConnectedState) {
            const QByteArray encrypted = m_tunnelTcpSocket.readAll();
            m_tls.feedEncrypted(encrypted.constData(), encrypted.size());
            QByteArray plain;
            m_tls.readPlain(&plain);
            m_clientTcpSocket.write(plain);
        }
        if (m_tunnelTcpSocket.state() == QAbstractSocket::ConnectedState) {
            const QByteArray plain = m_clientTcpSocket.readAll();
            m_tls.writePlain(plain.constData(), plain.size());
            m_tls.shutdown();
            sendEncrypted();
        }
    }

    m_clientTcpSocket.disconnectFromHost();
    if (m_clientTcpSocket.state() != QAbstractSocket::UnconnectedState)
        m_clientTcpSocket.waitForDisconnected(5000);
    m_tunnelTcpSocket.disconnectFromHost();
    if (m_tunnelTcpSocket.state() != QAbstractSocket::UnconnectedState)
        m_tunnelTcpSocket.waitForDisconnected(5000);
    // Whatever is left belongs to this connection only; the next one starts empty.
    m_clientTcpSocket.abort();
    m_tunnelTcpSocket.abort();
    m_tls.end();
    m_state = Stopped;
}

void HttpsTunnel::setProxy(const QNetworkProxy &proxy)
{
    m_proxy = proxy;
    m_tunnelTcpSocket.setProxy(proxy);
}

HttpsTunnel::State HttpsTunnel::state() const
{
    return m_state;
}

void HttpsTunnel::clientTcpSocketReadyRead()
{
    // Until the handshake is over the bytes wait in the client socket; the handshake's end picks them up.
    if (m_state != Connected || !m_tls.isHandshakeDone() || m_relayingFromClient)
        return;
    const QScopedValueRollback<bool> relaying(m_relayingFromClient, true);
    if (m_clientTcpSocket.bytesAvailable() <= 0
        || m_tunnelTcpSocket.bytesToWrite() + m_tls.unsentSize() >= MaxPendingBytes)
        return;
    // A record's worth at a time through the stack, rather than through a buffer grown to hold it all.
    char plain[TlsClient::MaxRecordSize];
    qint64 size;
    while ((size = m_clientTcpSocket.read(plain, sizeof plain)) > 0) {
        if (m_tls.writePlain(plain, size) != TlsClient::Ok) {
            failTunnel(m_tls.errorString());
            return;
        }
    }
    sendEncrypted();
}

void HttpsTunnel::clientTcpSocketError(QAbstractSocket::SocketError socketError)
{
    Q_UNUSED(socketError)
    emit log(QStringLiteral("Mode https (client) : ") + m_clientTcpSocket.errorString());
}

void HttpsTunnel::clientTcpSocketDisconnected()
{
    if (m_state != Stopping && m_state != Stopped)
        stop();
}

// The TCP connection is up, through the proxy if there is one: the TLS handshake starts.
void HttpsTunnel::tunnelTcpSocketConnected()
{
    m_tunnelTcpSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Through a proxy the descriptor is the proxy engine's, which may still hold bytes of its own.
    m_tunnelIsDirect = m_tunnelTcpSocket.proxy().type() == QNetworkProxy::NoProxy;
    m_state = Connected;
    if (!m_tls.begin(m_host)) {
        failTunnel(m_tls.errorString());
        return;
    }
    continueHandshake();
}

void HttpsTunnel::tunnelTcpSocketReadyRead()
{
    if (m_state != Connected)
        return;
    if (m_tls.isHandshakeDone())
        relayFromServer();
    else
        continueHandshake();
}

void HttpsTunnel::continueHandshake()
{
    const QByteArray encrypted = m_tunnelTcpSocket.readAll();
    m_tls.feedEncrypted(encrypted.constData(), encrypted.size());
    const TlsClient::Status status = m_tls.handshake();
    sendEncrypted();
    if (status != TlsClient::Ok) {
        failTunnel(m_tls.errorString());
        return;
    }
    if (!m_tls.isHandshakeDone())
        return;
    // The server may have sent its first bytes with the end of the handshake.
    relayFromServer();
    if (m_state == Connected && m_clientTcpSocket.bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

// Decrypts the server's stream a chunk at a time, and only while the client keeps up. What the handshake
// or an earlier turn left undecrypted goes first.
void HttpsTunnel::relayFromServer()
{
    // Sending reports bytes written at once, which lands here again: the loop below goes on anyway.
    if (m_relayingFromServer)
        return;
    const QScopedValueRollback<bool> relaying(m_relayingFromServer, true);
    QByteArray &plain = m_plainFromServer;
    qint64 available;
    do {
        if (m_clientTcpSocket.bytesToWrite() >= MaxPendingBytes)
            return;
        available = m_tunnelTcpSocket.bytesAvailable();
        if (available > 0) {
            const QByteArray encrypted = m_tunnelTcpSocket.read(qMin(available, RecordChunkSize));
            m_tls.feedEncrypted(encrypted.constData(), encrypted.size());
        }
        const TlsClient::Status status = m_tls.readPlain(&plain);
        // Reading may have answered the server (a key update, a certificate request).
        sendEncrypted();
        if (!plain.isEmpty()) {
            writeNow(&m_clientTcpSocket, plain);
            plain.resize(0);
        }
        if (status != TlsClient::Ok) {
            failTunnel(m_tls.errorString());
            return;
        }
    } while (available > RecordChunkSize);
}

// Sent now rather than at the next turn of the event loop: a round trip through the tunnel is what
// OpenVPN's own handshakes and pings wait for.
void HttpsTunnel::sendEncrypted()
{
    const QByteArray encrypted = m_tls.takeEncrypted();
    if (encrypted.isEmpty() || m_tunnelTcpSocket.state() != QAbstractSocket::ConnectedState)
        return;
    writeNow(&m_tunnelTcpSocket, encrypted);
}

// Straight to the descriptor while nothing waits in the socket's own buffer, which keeps the order of
// the bytes; the rest goes through the socket, which reports errors and drains what the system did not
// take at once.
void HttpsTunnel::writeNow(QTcpSocket *socket, const QByteArray &bytes)
{
    qint64 written = 0;
    if ((socket == &m_clientTcpSocket || m_tunnelIsDirect) && socket->bytesToWrite() == 0)
        written = qMax<qint64>(0, writeToSocketDescriptor(socket->socketDescriptor(), bytes.constData(), bytes.size()));
    if (written == bytes.size())
        return;
    socket->write(bytes.constData() + written, bytes.size() - written);
    socket->flush();
}

void HttpsTunnel::failTunnel(const QString &reason)
{
    emit log(TunnelLogPrefix + reason);
    if (m_state != Stopping && m_state != Stopped)
        stop();
}

void HttpsTunnel::tunnelTcpSocketError(QAbstractSocket::SocketError socketError)
{
    emit log(TunnelLogPrefix + m_tunnelTcpSocket.errorString());
    // A remote close is followed by disconnected(), which stops the tunnel.
    if (socketError != QAbstractSocket::RemoteHostClosedError && m_state != Stopping && m_state != Stopped)
        stop();
}

void HttpsTunnel::tunnelTcpSocketDisconnected()
{
    if (m_state != Stopping && m_state != Stopped)
        stop();
}

// A proxy's CONNECT request carries the user agent as a header of the proxy itself. A default proxy
// is resolved here by the application's rules, as the socket would resolve it.
QNetworkProxy HttpsTunnel::proxyFor(const QString &host, quint16 port) const
{
    QNetworkProxy proxy = m_proxy;
    if (proxy.type() == QNetworkProxy::DefaultProxy) {
        const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(
            QNetworkProxyQuery(host, port, QString(), QNetworkProxyQuery::TcpSocket));
        const auto usable = std::find_if(proxies.cbegin(), proxies.cend(), [](const QNetworkProxy &candidate) {
            return candidate.type() == QNetworkProxy::NoProxy
                || candidate.capabilities().testFlag(QNetworkProxy::TunnelingCapability);
        });
        if (usable == proxies.cend())
            return m_proxy;
        proxy = *usable;
    }
    if (proxy.type() == QNetworkProxy::HttpProxy && !proxy.hasRawHeader("User-Agent"))
        proxy.setRawHeader("User-Agent", m_userAgent);
    return proxy;
}
