#include "tools/service/httpconnection.h"

#include "tools/service/httprequestparser.h"
#include "tools/service/servicelog.h"

#include <QHostAddress>
#include <QTcpSocket>

int HttpConnection::s_count = 0;

HttpConnection *HttpConnection::accept(QTcpSocket *socket, QObject *parent)
{
    if (s_count >= MaximumConnections) {
        ServiceLog::problem(
            socket->peerAddress().toString() + QStringLiteral(": connection refused, %1 are open").arg(s_count));
        socket->abort();
        socket->deleteLater();
        return nullptr;
    }
    return new HttpConnection(socket, parent);
}

HttpConnection::HttpConnection(QTcpSocket *socket, QObject *parent) : QObject(parent), m_socket(socket)
{
    ++s_count;
    m_socket->setParent(this);
    m_socket->setReadBufferSize(ReadChunk);
    m_peer = m_socket->peerAddress().toString() + QLatin1Char(':') + QString::number(m_socket->peerPort());
    m_local = m_socket->localAddress().toString() + QLatin1Char(':') + QString::number(m_socket->localPort());
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::timerFired);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::processInput);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::socketDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] { emit bytesWritten(this); });
    restartTimer();
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(this, "socketDisconnected", Qt::QueuedConnection);
}

HttpConnection::~HttpConnection()
{
    --s_count;
}

qint64 HttpConnection::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

void HttpConnection::processInput()
{
    if (m_processing)
        return;
    m_processing = true;
    for (;;) {
        if (m_state == Closing || (m_state == ReadingBody && m_paused) || m_state == AwaitingResponse)
            break;
        if (m_state == ReadingHeader && !m_answered)
            break;
        const int room = ReadChunk + HttpRequestParser::MaximumHeaderSize - m_buffer.size();
        if (room > 0 && m_socket->bytesAvailable() > 0)
            m_buffer += m_socket->read(room);

        if (m_state == ReadingHeader) {
            QString error;
            const HttpRequestParser::Status status = HttpRequestParser::parse(m_buffer, &m_request, &error);
            if (status == HttpRequestParser::NeedMore) {
                if (m_socket->bytesAvailable() > 0 && m_buffer.size() < ReadChunk)
                    continue;
                break;
            }
            if (status == HttpRequestParser::Malformed) {
                fail(error);
                break;
            }
            m_state = ReadingBody;
            m_bodyRemaining = m_request.contentLength;
            m_answered = false;
            m_closeAfterResponse = !m_request.keepAlive();
            restartTimer();
            emit requestStarted(this);
            continue;
        }

        // ReadingBody
        if (m_bodyRemaining > 0 && !m_buffer.isEmpty()) {
            const int size = int(qMin<qint64>(m_bodyRemaining, m_buffer.size()));
            const QByteArray piece = m_buffer.left(size);
            m_buffer.remove(0, size);
            m_bodyRemaining -= size;
            restartTimer();
            emit bodyReceived(this, piece);
            continue;
        }
        if (m_bodyRemaining == 0) {
            m_state = AwaitingResponse;
            restartTimer();
            emit requestFinished(this);
            if (m_answered && m_state == AwaitingResponse) {
                m_state = ReadingHeader;
                restartTimer();
            }
            continue;
        }
        if (m_socket->bytesAvailable() == 0)
            break;
    }
    m_processing = false;
}

void HttpConnection::respond(
    int status, const QByteArray &contentType, const QByteArray &body, Style style, const QByteArray &extraHeaders)
{
    beginResponse(status, contentType, body.size(), style, extraHeaders);
    if (!body.isEmpty())
        writeBody(body);
}

void HttpConnection::beginResponse(
    int status, const QByteArray &contentType, qint64 contentLength, Style style, const QByteArray &extraHeaders)
{
    if (m_state == Closing || m_responding || m_answered)
        return;
    if (style != KeepAlive || (m_state == ReadingBody && m_bodyRemaining > 0))
        m_closeAfterResponse = true; // an answer before the whole body leaves the stream unusable
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += m_closeAfterResponse ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += extraHeaders;
    head += "\r\n";
    m_socket->write(head);
    m_responding = true;
    m_responseRemaining = contentLength;
    m_timer.stop();
    const QString line = m_peer + QStringLiteral(" -> ") + m_local + QStringLiteral(" \"") + m_request.describe()
        + QStringLiteral("\" ") + QString::number(status);
    if (status >= 400)
        ServiceLog::problem(line);
    else
        ServiceLog::request(line);
    if (contentLength == 0)
        responseDone();
}

void HttpConnection::writeBody(const QByteArray &bytes)
{
    if (!m_responding || bytes.isEmpty())
        return;
    // Never more than announced: the peer would read the surplus as the next response.
    const qint64 size = qMin<qint64>(bytes.size(), m_responseRemaining);
    m_socket->write(bytes.constData(), size);
    m_responseRemaining -= size;
    if (m_responseRemaining == 0)
        responseDone();
}

void HttpConnection::responseDone()
{
    m_responding = false;
    m_answered = true;
    if (m_closeAfterResponse) {
        close();
        return;
    }
    if (m_state == AwaitingResponse) {
        m_state = ReadingHeader;
        restartTimer();
        QMetaObject::invokeMethod(this, "processInput", Qt::QueuedConnection);
    }
}

void HttpConnection::setReadingPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    if (!paused)
        QMetaObject::invokeMethod(this, "processInput", Qt::QueuedConnection);
}

void HttpConnection::close()
{
    if (m_state == Closing)
        return;
    m_state = Closing;
    m_timer.stop();
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        QMetaObject::invokeMethod(this, "socketDisconnected", Qt::QueuedConnection);
}

void HttpConnection::abort()
{
    m_state = Closing;
    m_timer.stop();
    m_socket->abort();
    socketDisconnected();
}

void HttpConnection::fail(const QString &reason)
{
    ServiceLog::problem(m_peer + QStringLiteral(" -> ") + m_local + QStringLiteral(" bad request: ") + reason);
    m_answered = false;
    m_responding = false;
    m_state = AwaitingResponse;
    m_request = HttpRequest();
    m_request.method = m_request.target = m_request.version = QStringLiteral("-");
    respond(400, "text/plain", "Bad Request\n", Close);
}

void HttpConnection::socketDisconnected()
{
    if (m_closedSignalled)
        return;
    m_closedSignalled = true;
    if (m_state == ReadingBody && m_bodyRemaining > 0) {
        ServiceLog::problem(m_peer + QStringLiteral(" -> ") + m_local + QStringLiteral(" \"") + m_request.describe()
            + QStringLiteral("\": body shorter than announced, %1 of %2 bytes missing")
                  .arg(m_bodyRemaining)
                  .arg(m_request.contentLength));
    } else if (m_state == ReadingHeader && !m_buffer.isEmpty()) {
        ServiceLog::problem(
            m_peer + QStringLiteral(" -> ") + m_local + QStringLiteral(" closed in the middle of a request header"));
    }
    m_state = Closing;
    m_timer.stop();
    emit closed(this);
    deleteLater();
}

void HttpConnection::restartTimer()
{
    if (m_state == ReadingBody || (m_state == ReadingHeader && !m_buffer.isEmpty()))
        m_timer.start(StalledRequestTimeout);
    else if (m_state == ReadingHeader)
        m_timer.start(IdleTimeout);
    else
        m_timer.stop();
}

void HttpConnection::timerFired()
{
    if (m_state == ReadingBody && !m_responding && !m_answered) {
        m_closeAfterResponse = true;
        ServiceLog::problem(m_peer + QStringLiteral(" -> ") + m_local + QStringLiteral(" \"") + m_request.describe()
            + QStringLiteral("\": body shorter than announced, %1 of %2 bytes missing after %3 s")
                  .arg(m_bodyRemaining)
                  .arg(m_request.contentLength)
                  .arg(StalledRequestTimeout / 1000));
        respond(400, "text/plain", "Bad Request\n", Close);
    } else if (m_state == ReadingHeader && !m_buffer.isEmpty()) {
        fail(QStringLiteral("header incomplete after %1 s").arg(StalledRequestTimeout / 1000));
    } else if (m_state == ReadingHeader) {
        close();
    }
}

QByteArray HttpConnection::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Payload Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}
