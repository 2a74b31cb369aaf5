#include "tunnels/httptunnel.h"

#include "base/settingskeys.h"

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
      clientTcpSocket(new QTcpSocket(this)),
      downloadTunnelTcpSocket(new QTcpSocket(this)),
      uploadTunnelTcpSocket(new QTcpSocket(this)),
      downloadResponse(new HttpResponse),
      uploadResponse(new HttpResponse)
{
    const QSettings settings;
    userAgent = settings.value(SettingsKeys::UserAgent, SettingsKeys::defaultUserAgent()).toString();
    streaming = settings.value(SettingsKeys::TunnelHttpStreaming, SettingsKeys::TunnelHttpStreamingDefault).toBool();
    fileUpload = settings.value(SettingsKeys::TunnelHttpFileUpload, SettingsKeys::TunnelHttpFileUploadDefault).toBool();

    // Bounded reads: what a side does not take yet waits in the system's buffers, not here.
    clientTcpSocket->setReadBufferSize(ReadBufferSize);
    downloadTunnelTcpSocket->setReadBufferSize(ReadBufferSize);

    connect(clientTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::clientTcpSocketReadyRead);
    connect(clientTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::clientTcpSocketError);
    connect(clientTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::clientTcpSocketDisconnected);
    connect(clientTcpSocket, &QTcpSocket::bytesWritten, this, &HttpTunnel::clientTcpSocketBytesWritten);

    connect(downloadTunnelTcpSocket, &QTcpSocket::connected, this, &HttpTunnel::downloadTunnelTcpSocketConnected);
    connect(downloadTunnelTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::downloadTunnelTcpSocketReadyRead);
    connect(downloadTunnelTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::downloadTunnelTcpSocketError);
    connect(downloadTunnelTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::downloadTunnelTcpSocketDisconnected);
    connect(downloadTunnelTcpSocket, &QTcpSocket::proxyAuthenticationRequired, this,
        &HttpTunnel::proxyAuthenticationRequired, Qt::DirectConnection);

    connect(uploadTunnelTcpSocket, &QTcpSocket::connected, this, &HttpTunnel::uploadTunnelTcpSocketConnected);
    connect(uploadTunnelTcpSocket, &QTcpSocket::readyRead, this, &HttpTunnel::uploadTunnelTcpSocketReadyRead);
    connect(uploadTunnelTcpSocket, &QAbstractSocket::errorOccurred, this, &HttpTunnel::uploadTunnelTcpSocketError);
    connect(uploadTunnelTcpSocket, &QTcpSocket::disconnected, this, &HttpTunnel::uploadTunnelTcpSocketDisconnected);
    connect(uploadTunnelTcpSocket, &QTcpSocket::bytesWritten, this, &HttpTunnel::uploadTunnelTcpSocketBytesWritten);
    connect(uploadTunnelTcpSocket, &QTcpSocket::proxyAuthenticationRequired, this,
        &HttpTunnel::proxyAuthenticationRequired, Qt::DirectConnection);
}

HttpTunnel::~HttpTunnel()
{
    // The sockets go first, quietly: closing them must not call back into a tunnel being destroyed.
    for (QTcpSocket *socket : { clientTcpSocket, downloadTunnelTcpSocket, uploadTunnelTcpSocket }) {
        socket->disconnect(this);
        delete socket;
    }
    delete downloadResponse;
    delete uploadResponse;
}

void HttpTunnel::setProxy(const QNetworkProxy &proxy)
{
    this->proxy = proxy;
    if (proxy.type() == QNetworkProxy::HttpProxy) {
        // The tunnel speaks to the HTTP proxy itself: absolute request lines and its credentials.
        reconnectHost = proxy.hostName();
        downloadTunnelTcpSocket->setProxy(QNetworkProxy::NoProxy);
        uploadTunnelTcpSocket->setProxy(QNetworkProxy::NoProxy);
    } else {
        downloadTunnelTcpSocket->setProxy(proxy);
        uploadTunnelTcpSocket->setProxy(proxy);
    }
}

void HttpTunnel::start(qintptr socketDescriptor, const QString &host, quint16 port, const QString &session)
{
    if (state == Connecting || state == Connected) {
        // OpenVPN opens one connection; a second one would mix two streams into one session.
        QTcpSocket refused;
        if (refused.setSocketDescriptor(socketDescriptor))
            refused.abort();
        emit log(ClientPrefix + QStringLiteral("a second local connection was refused"));
        return;
    }

    this->session = session;
    this->host = host;
    this->port = port;
    if (!clientTcpSocket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite))
        return;
    clientTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    // Nothing of an earlier connection may leak into this one.
    downloadReconnect = false;
    uploadReconnect = false;
    uploadWaiting = false;
    uploadRequest = HttpRequest();
    beforeData.clear();
    afterData.clear();
    *downloadResponse = HttpResponse();
    *uploadResponse = HttpResponse();

    state = Connecting;
    connectChannel(downloadTunnelTcpSocket, true);
}

void HttpTunnel::stop()
{
    state = Stopping;
    for (QTcpSocket *socket : { clientTcpSocket, downloadTunnelTcpSocket, uploadTunnelTcpSocket }) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(5000);
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
    }
    state = Stopped;
}

// With an HTTP proxy both channels go to the proxy, which reads the absolute request lines;
// otherwise the first connection goes to the host, the later ones to the address it resolved to.
void HttpTunnel::connectChannel(QTcpSocket *socket, bool first)
{
    if (proxy.type() == QNetworkProxy::HttpProxy)
        socket->connectToHost(proxy.hostName(), proxy.port());
    else
        socket->connectToHost(first ? host : reconnectHost, port);
}

QByteArray HttpTunnel::buildRequest(const HttpRequest &request) const
{
    HttpRequest::Sender sender;
    sender.host = host;
    sender.userAgent = userAgent;
    sender.session = session;
    sender.proxyType = proxy.type();
    sender.proxyAuthorization = proxyAuthorization;
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
    downloadTunnelTcpSocket->write(buildRequest(HttpRequest(QStringLiteral("GET"), path)));
}

void HttpTunnel::clientTcpSocketReadyRead()
{
    if (uploadTunnelTcpSocket->state() != QAbstractSocket::ConnectedState || uploadWaiting)
        return;
    if (clientTcpSocket->bytesAvailable() <= 0)
        return;
    // The upload channel drains first; the client's bytes wait in its buffers meanwhile.
    if (uploadTunnelTcpSocket->bytesToWrite() >= MaxPendingBytes)
        return;

    if (uploadRequest.remainingContentLength() == 0)
        beginUpload();

    QByteArray data;
    if (uploadRequest.sent == 0)
        data = beforeData;
    const qint64 room = uploadRequest.remainingContentLength() - data.size() - afterData.size();
    const qint64 allowed = qMin(room, MaxPendingBytes - uploadTunnelTcpSocket->bytesToWrite());
    if (allowed > 0)
        data += clientTcpSocket->read(allowed);
    if (uploadRequest.remainingContentLength() - data.size() == afterData.size())
        data += afterData;

    uploadRequest.setContent(data);
    if (uploadRequest.sent == data.size())
        uploadTunnelTcpSocket->write(buildRequest(uploadRequest));
    else
        uploadTunnelTcpSocket->write(data);

    // One request at a time: nothing more goes out until its response has come.
    if (uploadRequest.remainingContentLength() == 0)
        uploadWaiting = true;
}

void HttpTunnel::beginUpload()
{
    uploadRequest = HttpRequest(QStringLiteral("POST"), QStringLiteral("index.php"));
    beforeData.clear();
    afterData.clear();
    const QString contentLength = QStringLiteral("content-length");
    if (!streaming) {
        uploadRequest.headers.insert(contentLength, QString::number(clientTcpSocket->bytesAvailable()));
        return;
    }
    uploadRequest.headers.insert(contentLength, QString::number(StreamLengthBase + random(int(StreamLengthBase))));
    if (!fileUpload)
        return;

    const QByteArray boundary = randomString(16).toLocal8Bit();
    uploadRequest.headers.insert(QStringLiteral("content-type"),
        QStringLiteral("multipart/form-data; boundary=----WebKitFormBoundary") + QString::fromLocal8Bit(boundary));
    const QByteArray name = randomFileName().toLocal8Bit();
    beforeData = "------WebKitFormBoundary" + boundary
        + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name
        + ".pdf\"\r\nContent-Type: application/pdf\r\n\r\n";
    afterData = "\r\n------WebKitFormBoundary" + boundary + "--\r\n";
    uploadRequest.cookies.insert(QStringLiteral("beforeData"), QString::number(beforeData.size()));
    uploadRequest.cookies.insert(QStringLiteral("afterData"), QString::number(afterData.size()));
}

void HttpTunnel::clientTcpSocketError(QAbstractSocket::SocketError socketError)
{
    Q_UNUSED(socketError)
    emit log(ClientPrefix + clientTcpSocket->errorString());
}

void HttpTunnel::clientTcpSocketDisconnected()
{
    if (state != Stopping && state != Stopped)
        stop();
}

void HttpTunnel::clientTcpSocketBytesWritten()
{
    // The client drained: take up the download channel where it was left.
    if (clientTcpSocket->bytesToWrite() < MaxPendingBytes
        && (downloadTunnelTcpSocket->bytesAvailable() > 0 || !downloadResponse->pendingHeader.isEmpty()))
        downloadTunnelTcpSocketReadyRead();
}

void HttpTunnel::uploadTunnelTcpSocketBytesWritten()
{
    if (uploadTunnelTcpSocket->bytesToWrite() < MaxPendingBytes && clientTcpSocket->bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

void HttpTunnel::downloadTunnelTcpSocketConnected()
{
    downloadTunnelTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (proxy.type() == QNetworkProxy::NoProxy)
        reconnectHost = downloadTunnelTcpSocket->peerAddress().toString();
    else if (proxy.type() != QNetworkProxy::HttpProxy)
        reconnectHost = host;

    if (state == Connecting)
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
    if (state != Connecting && state != Connected)
        return;
    const auto clientBusy = [this, closing] { return !closing && clientTcpSocket->bytesToWrite() >= MaxPendingBytes; };
    if (clientBusy())
        return;

    QByteArray data = downloadTunnelTcpSocket->readAll();
    for (;;) {
        HttpResponse::parseResponse(data, downloadResponse);
        if (!headerParsed(*downloadResponse))
            return;
        if (!handleDownloadResponse() || downloadResponse->remainingContentLength() != 0)
            return;
        // Bytes past this response are the start of the next one.
        if (downloadResponse->pendingHeader.isEmpty() || clientBusy())
            return;
    }
}

bool HttpTunnel::handleDownloadResponse()
{
    HttpResponse &response = *downloadResponse;
    if (response.statusCode == 200) {
        if (state == Connecting) {
            state = Connected;
            connectChannel(uploadTunnelTcpSocket, false);
        }
        // Body bytes that came with the header are stream bytes too, the first answer's included.
        if (!response.content.isEmpty())
            clientTcpSocket->write(response.content);
        if (response.remainingContentLength() != 0)
            return true;
        if (closeAfter(response)) {
            downloadReconnect = true;
            downloadTunnelTcpSocket->disconnectFromHost();
            return false;
        }
        sendDownloadRequest(randomFileName() + QStringLiteral(".pdf"));
        return true;
    }

    if (response.remainingContentLength() != 0)
        return true;
    if (response.statusCode == 407) {
        const QString challenge = response.headers.value(QStringLiteral("proxy-authenticate"));
        const QString method = challenge.section(QLatin1Char(' '), 0, 0).toLower();
        if (method == QLatin1String("basic") && proxyAuthorization.isEmpty()) {
            proxyAuthorization = (proxy.user() + QLatin1Char(':') + proxy.password()).toLocal8Bit().toBase64();
            downloadReconnect = true;
        } else {
            emit log(DownloadPrefix + QStringLiteral("Unknown proxy authentication method : ") + challenge);
        }
    } else {
        emit log(DownloadPrefix + QString::number(response.statusCode) + QLatin1Char(' ') + response.reasonPhrase);
    }
    downloadTunnelTcpSocket->disconnectFromHost();
    return false;
}

void HttpTunnel::channelError(QTcpSocket *socket, QAbstractSocket::SocketError socketError, const QString &prefix)
{
    emit log(prefix + socket->errorString());
    // A remote close is the disconnect slot's to judge.
    if (socketError != QAbstractSocket::RemoteHostClosedError && state != Stopping && state != Stopped)
        stop();
}

void HttpTunnel::channelDisconnected(QTcpSocket *socket, bool &reconnect, HttpResponse &response)
{
    if (state == Connected && reconnect) {
        reconnect = false;
        response = HttpResponse();
        connectChannel(socket, false);
    } else if (state != Stopping && state != Stopped) {
        stop();
    }
}

void HttpTunnel::downloadTunnelTcpSocketError(QAbstractSocket::SocketError socketError)
{
    channelError(downloadTunnelTcpSocket, socketError, DownloadPrefix);
}

void HttpTunnel::downloadTunnelTcpSocketDisconnected()
{
    if (downloadTunnelTcpSocket->bytesAvailable() > 0 || !downloadResponse->pendingHeader.isEmpty())
        readDownload(true);
    channelDisconnected(downloadTunnelTcpSocket, downloadReconnect, *downloadResponse);
}

void HttpTunnel::uploadTunnelTcpSocketConnected()
{
    uploadTunnelTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (clientTcpSocket->bytesAvailable() > 0)
        clientTcpSocketReadyRead();
}

void HttpTunnel::uploadTunnelTcpSocketReadyRead()
{
    QByteArray data = uploadTunnelTcpSocket->readAll();
    for (;;) {
        HttpResponse::parseResponse(data, uploadResponse);
        if (!headerParsed(*uploadResponse) || uploadResponse->remainingContentLength() != 0)
            return;
        uploadWaiting = false;
        if (uploadResponse->statusCode != 200) {
            emit log(UploadPrefix + QString::number(uploadResponse->statusCode) + QLatin1Char(' ')
                + uploadResponse->reasonPhrase);
            uploadTunnelTcpSocket->disconnectFromHost();
            return;
        }
        if (closeAfter(*uploadResponse)) {
            uploadReconnect = true;
            uploadTunnelTcpSocket->disconnectFromHost();
            return;
        }
        if (clientTcpSocket->bytesAvailable() > 0)
            clientTcpSocketReadyRead();
        if (uploadResponse->pendingHeader.isEmpty())
            return;
    }
}

void HttpTunnel::uploadTunnelTcpSocketError(QAbstractSocket::SocketError socketError)
{
    channelError(uploadTunnelTcpSocket, socketError, UploadPrefix);
}

void HttpTunnel::uploadTunnelTcpSocketDisconnected()
{
    channelDisconnected(uploadTunnelTcpSocket, uploadReconnect, *uploadResponse);
}
