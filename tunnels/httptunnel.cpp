#include "tunnels/httptunnel.h"

#include "base/settingskeys.h"
#include "base/useragent.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QTcpSocket>

namespace {

const QString DownloadPrefix = QStringLiteral("Mode http (download tunnel) : ");
const QString UploadPrefix = QStringLiteral("Mode http (upload tunnel) : ");
const QString ClientPrefix = QStringLiteral("Mode http (client) : ");

// A streamed POST declares between 5,000,000 and 9,999,999 bytes.
constexpr quint32 StreamLengthBase = 5000000;

// A status line alone is a whole header too: waiting for header lines that never come would hang.
bool headerParsed(const HttpResponse &response)
{
    return !response.headers.isEmpty() || !response.version.isEmpty();
}

int random(int bound)
{
    return int(QRandomGenerator::global()->bounded(bound));
}

} // namespace

HttpTunnel::HttpTunnel(QObject *parent)
    : QObject(parent),
      m_clientTcpSocket(new QTcpSocket(this)),
      m_downloadTunnelTcpSocket(new QTcpSocket(this)),
      m_uploadTunnelTcpSocket(new QTcpSocket(this)),
      m_downloadResponse(new HttpResponse),
      m_uploadResponse(new HttpResponse)
{
    const QSettings settings;
    m_userAgent = UserAgent::configured();
    m_streaming = settings.value(SettingsKeys::TunnelHttpStreaming, SettingsKeys::TunnelHttpStreamingDefault).toBool();
    m_fileUpload
        = settings.value(SettingsKeys::TunnelHttpFileUpload, SettingsKeys::TunnelHttpFileUploadDefault).toBool();

    // Bounded reads: what a side does not take yet waits in the system's buffers, not here.
    m_clientTcpSocket->setReadBufferSize(ReadBufferSize);
    m_downloadTunnelTcpSocket->setReadBufferSize(ReadBufferSize);

    connect(m_clientTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::clientTcpSocketReadyRead);
    connect(m_clientTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::clientTcpSocketError);
    connect(m_clientTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::clientTcpSocketDisconnected);
    connect(m_clientTcpSocket, &QTcpSocket::bytesWritten, this, &HttpTunnel::clientTcpSocketBytesWritten);

    connect(m_downloadTunnelTcpSocket, &QTcpSocket::connected, this, &HttpTunnel::downloadTunnelTcpSocketConnected);
    connect(m_downloadTunnelTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::downloadTunnelTcpSocketReadyRead);
    connect(
        m_downloadTunnelTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::downloadTunnelTcpSocketError);
    connect(
        m_downloadTunnelTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::downloadTunnelTcpSocketDisconnected);
    connect(m_downloadTunnelTcpSocket, &QTcpSocket::proxyAuthenticationRequired, this,
        &HttpTunnel::proxyAuthenticationRequired, Qt::DirectConnection);

    connect(m_uploadTunnelTcpSocket, &QTcpSocket::connected, this, &HttpTunnel::uploadTunnelTcpSocketConnected);
    connect(m_uploadTunnelTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::uploadTunnelTcpSocketReadyRead);
    connect(m_uploadTunnelTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::uploadTunnelTcpSocketError);
    connect(m_uploadTunnelTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::uploadTunnelTcpSocketDisconnected);
    connect(m_uploadTunnelTcpSocket, &QTcpSocket::bytesWritten, this, &HttpTunnel::uploadTunnelTcpSocketBytesWritten);
    connect(m_uploadTunnelTcpSocket, &QTcpSocket::proxyAuthenticationRequired, this,
        &HttpTunnel::proxyAuthenticationRequired, Qt::DirectConnection);
}

HttpTunnel::~HttpTunnel()
{
    // The sockets go first, quietly: closing them must not call back into a tunnel being destroyed.
    for (QTcpSocket *socket : { m_clientTcpSocket, m_downloadTunnelTcpSocket, m_uploadTunnelTcpSocket }) {
        socket->disconnect(this);
        delete socket;
    }
    delete m_downloadResponse;
    delete m_uploadResponse;
}

void HttpTunnel::setProxy(const QNetworkProxy &proxy)
{
    m_proxy = proxy;
    if (proxy.type() == QNetworkProxy::HttpProxy) {
        // The tunnel speaks to the HTTP proxy itself: absolute request lines and its credentials.
        m_reconnectHost = proxy.hostName();
        m_downloadTunnelTcpSocket->setProxy(QNetworkProxy::NoProxy);
        m_uploadTunnelTcpSocket->setProxy(QNetworkProxy::NoProxy);
    } else {
        m_downloadTunnelTcpSocket->setProxy(proxy);
        m_uploadTunnelTcpSocket->setProxy(proxy);
    }
}

void HttpTunnel::start(qintptr socketDescriptor, const QString &host, quint16 port, const QString &session)
{
    if (m_state == Connecting || m_state == Connected) {
        // OpenVPN opens one connection; a second one would mix two streams into one session.
        QTcpSocket refused;
        if (refused.setSocketDescriptor(socketDescriptor))
            refused.abort();
        emit log(ClientPrefix + QStringLiteral("a second local connection was refused"));
        return;
    }

    m_session = session;
    m_host = host;
    m_port = port;
    if (!m_clientTcpSocket->setSocketDescriptor(
            socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return;
    m_clientTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    // Nothing of an earlier connection may leak into this one.
    m_downloadReconnect = false;
    m_uploadReconnect = false;
    m_uploadWaiting = false;
    m_uploadRequest = HttpRequest();
    m_beforeData.clear();
    m_afterData.clear();
    *m_downloadResponse = HttpResponse();
    *m_uploadResponse = HttpResponse();

    m_state = Connecting;
    connectChannel(m_downloadTunnelTcpSocket, true);
}

void HttpTunnel::stop()
{
    m_state = Stopping;
    for (QTcpSocket *socket : { m_clientTcpSocket, m_downloadTunnelTcpSocket, m_uploadTunnelTcpSocket }) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(5000);
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
    }
    m_state = Stopped;
}

// With an HTTP proxy both channels go to the proxy, which reads the absolute request lines;
// otherwise the first connection goes to the host, the later ones to the address it resolved to.
void HttpTunnel::connectChannel(QTcpSocket *socket, bool first)
{
    if (m_proxy.type() == QNetworkProxy::HttpProxy)
        socket->connectToHost(m_proxy.hostName(), m_proxy.port());
    else
        socket->connectToHost(first ? m_host : m_reconnectHost, m_port);
}

QByteArray HttpTunnel::buildRequest(const HttpRequest &request) const
{
    HttpRequest::Sender sender;
    sender.host = m_host;
    sender.userAgent = m_userAgent;
    sender.session = m_session;
    sender.proxyType = m_proxy.type();
    sender.proxyAuthorization = m_proxyAuthorization;
    return HttpRequest::buildRequest(request, sender);
}

QString HttpTunnel::randomString(quint16 length)
{
    return HttpRequest::randomString(length);
}

// 5 to 9 characters.
QString HttpTunnel::randomFileName()
{
    return randomString(quint16(random(5) + 5));
}

bool HttpTunnel::closeAfter(const HttpResponse &response)
{
    const QString close = QStringLiteral("close");
    const QString connection = QStringLiteral("connection");
    const QString proxyConnection = QStringLiteral("proxy-connection");
    if (response.headers.value(connection) == close || response.headers.value(proxyConnection) == close)
        return true;
    return response.version != QLatin1String("HTTP/1.1") && !response.headers.contains(connection)
        && !response.headers.contains(proxyConnection);
}

void HttpTunnel::sendDownloadRequest(const QString &path)
{
    m_downloadTunnelTcpSocket->write(buildRequest(HttpRequest(QStringLiteral("GET"), path)));
}

void HttpTunnel::clientTcpSocketReadyRead()
{
    if (m_uploadTunnelTcpSocket->state() != QAbstractSocket::ConnectedState || m_uploadWaiting)
        return;
    if (m_clientTcpSocket->bytesAvailable() <= 0)
        return;
    // The upload channel drains first; the client's bytes wait in its buffers meanwhile.
    if (m_uploadTunnelTcpSocket->bytesToWrite() >= MaxPendingBytes)
        return;

    if (m_uploadRequest.remainingContentLength() == 0)
        beginUpload();

    QByteArray data;
    if (m_uploadRequest.sent == 0)
        data = m_beforeData;
    const qint64 room = m_uploadRequest.remainingContentLength() - data.size() - m_afterData.size();
    const qint64 allowed = qMin(room, MaxPendingBytes - m_uploadTunnelTcpSocket->bytesToWrite());
    if (allowed > 0)
        data += m_clientTcpSocket->read(allowed);
    if (m_uploadRequest.remainingContentLength() - data.size() == m_afterData.size())
        data += m_afterData;

    m_uploadRequest.setContent(data);
    if (m_uploadRequest.sent == data.size())
        m_uploadTunnelTcpSocket->write(buildRequest(m_uploadRequest));
    else
        m_uploadTunnelTcpSocket->write(data);

    // One request at a time: nothing more goes out until its response has come.
    if (m_uploadRequest.remainingContentLength() == 0)
        m_uploadWaiting = true;
}

void HttpTunnel::beginUpload()
{
    m_uploadRequest = HttpRequest(QStringLiteral("POST"), QStringLiteral("index.php"));
    m_beforeData.clear();
    m_afterData.clear();
    const QString contentLength = QStringLiteral("content-length");
    if (!m_streaming) {
        m_uploadRequest.headers.insert(contentLength, QString::number(m_clientTcpSocket->bytesAvailable()));
        return;
    }
    m_uploadRequest.headers.insert(contentLength, QString::number(StreamLengthBase + random(int(StreamLengthBase))));
    if (!m_fileUpload)
        return;

    const QByteArray boundary = randomString(16).toLocal8Bit();
    m_uploadRequest.headers.insert(QStringLiteral("content-type"),
        QStringLiteral("multipart/form-data; boundary=----WebKitFormBoundary") + QString::fromLocal8Bit(boundary));
    const QByteArray name = randomFileName().toLocal8Bit();
    m_beforeData = "------WebKitFormBoundary" + boundary
        + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name
        + ".pdf\"\r\nContent-Type: application/pdf\r\n\r\n";
    m_afterData = "\r\n------WebKitFormBoundary" + boundary + "--\r\n";
    m_uploadRequest.cookies.insert(QStringLiteral("beforeData"), QString::number(m_beforeData.size()));
    m_uploadRequest.cookies.insert(QStringLiteral("afterData"), QString::number(m_afterData.size()));
}

void HttpTunnel::clientTcpSocketError(QAbstractSocket::SocketError socketError)
{
    Q_UNUSED(socketError)
    emit log(ClientPrefix + m_clientTcpSocket->errorString());
}

void HttpTunnel::clientTcpSocketDisconnected()
{
    if (m_state != Stopping && m_state != Stopped)
        stop();
}

void HttpTunnel::clientTcpSocketBytesWritten()
{
    // The client drained: take up the download channel where it was left.
    if (m_clientTcpSocket->bytesToWrite() < MaxPendingBytes
        && (m_downloadTunnelTcpSocket->bytesAvailable() > 0 || !m_downloadResponse->pendingHeader.isEmpty()))
        downloadTunnelTcpSocketReadyRead();
}

void HttpTunnel::uploadTunnelTcpSocketBytesWritten()
{
    if (m_uploadTunnelTcpSocket->bytesToWrite() < MaxPendingBytes && m_clientTcpSocket->bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

void HttpTunnel::downloadTunnelTcpSocketConnected()
{
    m_downloadTunnelTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_proxy.type() == QNetworkProxy::NoProxy)
        m_reconnectHost = m_downloadTunnelTcpSocket->peerAddress().toString();
    else if (m_proxy.type() != QNetworkProxy::HttpProxy)
        m_reconnectHost = m_host;

    if (m_state == Connecting)
        sendDownloadRequest(QStringLiteral("index.php"));
    else
        sendDownloadRequest(randomFileName() + QStringLiteral(".pdf"));
}

void HttpTunnel::downloadTunnelTcpSocketReadyRead()
{
    readDownload(false);
}

// Held back while the client has enough waiting (its bytesWritten() brings us back), unless the
// channel is closing: what it still holds is the last of the stream and must not be lost.
void HttpTunnel::readDownload(bool closing)
{
    if (m_state != Connecting && m_state != Connected)
        return;
    const auto clientBusy
        = [this, closing] { return !closing && m_clientTcpSocket->bytesToWrite() >= MaxPendingBytes; };
    if (clientBusy())
        return;

    QByteArray data = m_downloadTunnelTcpSocket->readAll();
    for (;;) {
        HttpResponse::parseResponse(data, m_downloadResponse);
        if (!headerParsed(*m_downloadResponse))
            return;
        if (!handleDownloadResponse() || m_downloadResponse->remainingContentLength() != 0)
            return;
        // Bytes past this response are the start of the next one.
        if (m_downloadResponse->pendingHeader.isEmpty() || clientBusy())
            return;
    }
}

bool HttpTunnel::handleDownloadResponse()
{
    HttpResponse &response = *m_downloadResponse;
    if (response.statusCode == 200) {
        if (m_state == Connecting) {
            m_state = Connected;
            connectChannel(m_uploadTunnelTcpSocket, false);
        }
        // Body bytes that came with the header are stream bytes too, the first answer's included.
        if (!response.content.isEmpty())
            m_clientTcpSocket->write(response.content);
        if (response.remainingContentLength() != 0)
            return true;
        if (closeAfter(response)) {
            m_downloadReconnect = true;
            m_downloadTunnelTcpSocket->disconnectFromHost();
            return false;
        }
        sendDownloadRequest(randomFileName() + QStringLiteral(".pdf"));
        return true;
    }

    if (response.remainingContentLength() != 0)
        return true;
    if (response.statusCode == 407) {
        const QString challenge = response.headers.value(QStringLiteral("proxy-authenticate"));
        const QByteArray credentials = HttpRequest::basicProxyAuthorization(challenge, m_proxy);
        if (!credentials.isEmpty() && m_proxyAuthorization.isEmpty()) {
            m_proxyAuthorization = credentials;
            m_downloadReconnect = true;
        } else {
            emit log(DownloadPrefix + QStringLiteral("Unknown proxy authentication method : ") + challenge);
        }
    } else {
        emit log(DownloadPrefix + QString::number(response.statusCode) + QLatin1Char(' ') + response.reasonPhrase);
    }
    m_downloadTunnelTcpSocket->disconnectFromHost();
    return false;
}

void HttpTunnel::channelError(QTcpSocket *socket, QAbstractSocket::SocketError socketError, const QString &prefix)
{
    emit log(prefix + socket->errorString());
    // A remote close is the disconnect slot's to judge.
    if (socketError != QAbstractSocket::RemoteHostClosedError && m_state != Stopping && m_state != Stopped)
        stop();
}

void HttpTunnel::channelDisconnected(QTcpSocket *socket, bool &reconnect, HttpResponse &response)
{
    if (m_state == Connected && reconnect) {
        reconnect = false;
        response = HttpResponse();
        connectChannel(socket, false);
    } else if (m_state != Stopping && m_state != Stopped) {
        stop();
    }
}

void HttpTunnel::downloadTunnelTcpSocketError(QAbstractSocket::SocketError socketError)
{
    channelError(m_downloadTunnelTcpSocket, socketError, DownloadPrefix);
}

void HttpTunnel::downloadTunnelTcpSocketDisconnected()
{
    if (m_downloadTunnelTcpSocket->bytesAvailable() > 0 || !m_downloadResponse->pendingHeader.isEmpty())
        readDownload(true);
    channelDisconnected(m_downloadTunnelTcpSocket, m_downloadReconnect, *m_downloadResponse);
}

void HttpTunnel::uploadTunnelTcpSocketConnected()
{
    m_uploadTunnelTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_clientTcpSocket->bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

void HttpTunnel::uploadTunnelTcpSocketReadyRead()
{
    QByteArray data = m_uploadTunnelTcpSocket->readAll();
    for (;;) {
        HttpResponse::parseResponse(data, m_uploadResponse);
        if (!headerParsed(*m_uploadResponse) || m_uploadResponse->remainingContentLength() != 0)
            return;
        m_uploadWaiting = false;
        if (m_uploadResponse->statusCode != 200) {
            emit log(UploadPrefix + QString::number(m_uploadResponse->statusCode) + QLatin1Char(' ')
                + m_uploadResponse->reasonPhrase);
            m_uploadTunnelTcpSocket->disconnectFromHost();
            return;
        }
        if (closeAfter(*m_uploadResponse)) {
            m_uploadReconnect = true;
            m_uploadTunnelTcpSocket->disconnectFromHost();
            return;
        }
        if (m_clientTcpSocket->bytesAvailable() > 0)
            clientTcpSocketReadyRead();
        if (m_uploadResponse->pendingHeader.isEmpty())
            return;
    }
}

void HttpTunnel::uploadTunnelTcpSocketError(QAbstractSocket::SocketError socketError)
{
    channelError(m_uploadTunnelTcpSocket, socketError, UploadPrefix);
}

void HttpTunnel::uploadTunnelTcpSocketDisconnected()
{
    channelDisconnected(m_uploadTunnelTcpSocket, m_uploadReconnect, *m_uploadResponse);
}
