#include "tunnels/httpstunnel.h"

#include "base/useragent.h"

#include <QSettings>

#include <algorithm>

HttpsTunnel::HttpsTunnel(QObject *parent) : QObject(parent), m_clientTcpSocket(this), m_tunnelSslSocket(this)
{
    // Deprecated in name only: it negotiates every version up to TLS 1.3, which the servers may insist on.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    m_tunnelSslSocket.setProtocol(QSsl::TlsV1SslV3);
    QT_WARNING_POP

    // The network layer sends it as the User-Agent of the CONNECT request to an HTTP proxy.
    const QString userAgent = UserAgent::configured();
    m_tunnelSslSocket.setProperty("_q_user-agent", userAgent);
    m_userAgent = userAgent.toUtf8();

    m_clientTcpSocket.setReadBufferSize(ReadBufferSize);
    m_tunnelSslSocket.setReadBufferSize(ReadBufferSize);

    connect(&m_clientTcpSocket, &QTcpSocket::readyRead, this, &HttpsTunnel::clientTcpSocketReadyRead);
    connect(&m_clientTcpSocket, &QTcpSocket::errorOccurred, this, &HttpsTunnel::clientTcpSocketError);
    connect(&m_clientTcpSocket, &QTcpSocket::disconnected, this, &HttpsTunnel::clientTcpSocketDisconnected);
    connect(
        &m_tunnelSslSocket, &QSslSocket::proxyAuthenticationRequired, this, &HttpsTunnel::proxyAuthenticationRequired);
    connect(&m_tunnelSslSocket, &QSslSocket::connected, this, &HttpsTunnel::tunnelSslSocketConnected);
    connect(&m_tunnelSslSocket, &QSslSocket::readyRead, this, &HttpsTunnel::tunnelSslSocketReadyRead);
    connect(&m_tunnelSslSocket, &QSslSocket::errorOccurred, this, &HttpsTunnel::tunnelSslSocketError);
    connect(&m_tunnelSslSocket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
        &HttpsTunnel::tunnelSslSocketSslErrors);
    connect(&m_tunnelSslSocket, &QSslSocket::disconnected, this, &HttpsTunnel::tunnelSslSocketDisconnected);

    // A side that was held back because the other one lagged is read again as soon as that one drains.
    connect(&m_clientTcpSocket, &QTcpSocket::bytesWritten, this, &HttpsTunnel::tunnelSslSocketReadyRead);
    connect(&m_tunnelSslSocket, &QSslSocket::bytesWritten, this, &HttpsTunnel::clientTcpSocketReadyRead);
    connect(&m_tunnelSslSocket, &QSslSocket::encryptedBytesWritten, this, &HttpsTunnel::clientTcpSocketReadyRead);
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
    m_tunnelSslSocket.setProxy(proxyFor(host, port));
    m_tunnelSslSocket.connectToHostEncrypted(host, port);
}

HttpsTunnel::~HttpsTunnel()
{
    // The sockets close quietly: a disconnect reported while the members are being destroyed
    // would call stop() on a socket that is already gone.
    m_clientTcpSocket.disconnect(this);
    m_tunnelSslSocket.disconnect(this);
}

void HttpsTunnel::stop()
{
    m_state = Stopping;
    // What one side sent just before it went away still reaches the other side.
    if (m_tunnelSslSocket.bytesAvailable() > 0 && m_clientTcpSocket.state() == QAbstractSocket::ConnectedState)
        m_clientTcpSocket.write(m_tunnelSslSocket.readAll());
    if (m_clientTcpSocket.bytesAvailable() > 0 && m_tunnelSslSocket.state() == QAbstractSocket::ConnectedState)
        m_tunnelSslSocket.write(m_clientTcpSocket.readAll());

    m_clientTcpSocket.disconnectFromHost();
    if (m_clientTcpSocket.state() != QAbstractSocket::UnconnectedState)
        m_clientTcpSocket.waitForDisconnected(5000);
    m_tunnelSslSocket.disconnectFromHost();
    if (m_tunnelSslSocket.state() != QAbstractSocket::UnconnectedState)
        m_tunnelSslSocket.waitForDisconnected(5000);
    // Whatever is left belongs to this connection only; the next one starts empty.
    m_clientTcpSocket.abort();
    m_tunnelSslSocket.abort();
    m_state = Stopped;
}

void HttpsTunnel::setProxy(const QNetworkProxy &proxy)
{
    m_proxy = proxy;
    m_tunnelSslSocket.setProxy(proxy);
}

HttpsTunnel::State HttpsTunnel::state() const
{
    return m_state;
}

void HttpsTunnel::clientTcpSocketReadyRead()
{
    // Before the TCP connection is up the bytes wait in the client socket; tunnelSslSocketConnected()
    // picks them up. Bytes written before the handshake ends are held by the TLS socket.
    if (m_tunnelSslSocket.state() != QAbstractSocket::ConnectedState)
        return;
    if (m_clientTcpSocket.bytesAvailable() <= 0 || tunnelPendingBytes() >= MaxPendingBytes)
        return;
    m_tunnelSslSocket.write(m_clientTcpSocket.readAll());
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

void HttpsTunnel::tunnelSslSocketConnected()
{
    m_tunnelSslSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = Connected;
    if (m_clientTcpSocket.bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

void HttpsTunnel::tunnelSslSocketReadyRead()
{
    if (m_state != Connected || m_tunnelSslSocket.bytesAvailable() <= 0
        || m_clientTcpSocket.bytesToWrite() >= MaxPendingBytes)
        return;
    m_clientTcpSocket.write(m_tunnelSslSocket.readAll());
}

void HttpsTunnel::tunnelSslSocketError(QAbstractSocket::SocketError socketError)
{
    emit log(QStringLiteral("Mode https (tunnel) : ") + m_tunnelSslSocket.errorString());
    // A remote close is followed by disconnected(), which stops the tunnel.
    if (socketError != QAbstractSocket::RemoteHostClosedError && m_state != Stopping && m_state != Stopped)
        stop();
}

void HttpsTunnel::tunnelSslSocketSslErrors(const QList<QSslError> &errors)
{
    // The server's certificate is not what authenticates it: OpenVPN's own TLS inside does.
    m_tunnelSslSocket.ignoreSslErrors(errors);
}

void HttpsTunnel::tunnelSslSocketDisconnected()
{
    if (m_state != Stopping && m_state != Stopped)
        stop();
}

// Plain bytes not yet encrypted plus encrypted bytes not yet taken by the system.
qint64 HttpsTunnel::tunnelPendingBytes() const
{
    return m_tunnelSslSocket.bytesToWrite() + m_tunnelSslSocket.encryptedBytesToWrite();
}

// QSslSocket does not hand "_q_user-agent" on to the TCP socket that talks to the proxy, so the user
// agent reaches the CONNECT request as a header of the proxy itself. A default proxy is resolved here
// by the application's rules, as the socket would resolve it.
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
