#include "tests/support/testhttpserver.h"

#include "tests/support/testcertificate.h"

#include <QSettings>
#include <QSslSocket>

namespace {

const int MaximumHeadSize = 64 * 1024;
const qint64 FloodChunkSize = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

QList<QByteArray> TestHttpServer::Request::headerValues(const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            values.append(header.second);
    }
    return values;
}

TestHttpServer::TestHttpServer(QObject *parent) : QTcpServer(parent)
{
    setAnswer(QByteArray(), "<nimbora><code>OK</code></nimbora>");
}

TestHttpServer::~TestHttpServer()
{
    close();
}

bool TestHttpServer::start(bool secure, const QHostAddress &address)
{
    m_secure = secure;
    if (secure && !TestCertificate::generate())
        return false;
    return listen(address, 0);
}

void TestHttpServer::useAsMainServer() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("options/connection/mainServerAddress"), address());
    settings.setValue(QStringLiteral("options/connection/mainServerSecure"), false);
    settings.setValue(QStringLiteral("options/connection/proxy"), QStringLiteral("none"));
}

QString TestHttpServer::address() const
{
    return QStringLiteral("%1:%2").arg(serverAddress().toString()).arg(serverPort());
}

void TestHttpServer::setBehaviour(Behaviour behaviour)
{
    m_behaviour = behaviour;
}

void TestHttpServer::setAnswer(
    const QByteArray &command, const QByteArray &body, const QByteArray &contentType, int status)
{
    m_answers.insert(command, { status, contentType, body });
}

void TestHttpServer::setRawAnswer(const QByteArray &bytes)
{
    m_rawAnswer = bytes;
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    return m_requests;
}

qint64 TestHttpServer::floodBytesSent() const
{
    return m_floodBytesSent;
}

void TestHttpServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_secure) {
        auto *sslSocket = new QSslSocket(this);
        if (!sslSocket->setSocketDescriptor(descriptor)) {
            delete sslSocket;
            return;
        }
        sslSocket->setLocalCertificate(TestCertificate::certificate());
        sslSocket->setPrivateKey(TestCertificate::privateKey());
        sslSocket->startServerEncryption();
        socket = sslSocket;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    m_buffers.insert(socket, QByteArray());
    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { socketReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
        m_buffers.remove(socket);
        socket->deleteLater();
    });
}

void TestHttpServer::socketReadyRead(QTcpSocket *socket)
{
    auto buffer = m_buffers.find(socket);
    if (buffer == m_buffers.end()) {
        socket->readAll();
        return;
    }
    buffer->append(socket->readAll());
    const int end = buffer->indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer->size() > MaximumHeadSize)
            socket->abort();
        return;
    }
    const QList<QByteArray> lines = buffer->left(end).split('\n');
    m_buffers.remove(socket); // one request per connection
    Request request;
    request.requestLine = lines.value(0).trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
        const int colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
        else
            request.headers.append({ line, QByteArray() });
    }
    m_requests.append(request);
    emit requestReceived();
    respond(socket, request);
}

void TestHttpServer::respond(QTcpSocket *socket, const Request &request)
{
    switch (m_behaviour) {
    case Silent:
        return;
    case Drop:
        socket->abort();
        return;
    case Raw:
        socket->write(m_rawAnswer);
        socket->disconnectFromHost();
        return;
    case Flood:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<nimbora><code>OK</code>");
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket]() { feedFlood(socket); });
        if (auto *sslSocket = qobject_cast<QSslSocket *>(socket))
            connect(sslSocket, &QSslSocket::encryptedBytesWritten, this, [this, socket]() { feedFlood(socket); });
        feedFlood(socket);
        return;
    case Answer:
        break;
    }

    // "GET /client/login?username=... HTTP/1.1", or the absolute form a proxy may pass on.
    QByteArray target = request.requestLine.split(' ').value(1);
    target = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
    const int client = target.indexOf("/client/");
    const QByteArray command = client < 0 ? QByteArray() : target.mid(client + 8);
    const auto answer = m_answers.value(command, m_answers.value(QByteArray()));

    QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
    if (!answer.contentType.isEmpty())
        response += "Content-Type: " + answer.contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n";
    response += answer.body;
    socket->write(response);
    socket->disconnectFromHost();
}

void TestHttpServer::feedFlood(QTcpSocket *socket)
{
    // With TLS, what waits for the network sits in the encrypted buffer.
    qint64 pending = socket->bytesToWrite();
    if (auto *sslSocket = qobject_cast<QSslSocket *>(socket))
        pending += sslSocket->encryptedBytesToWrite();
    if (socket->state() != QAbstractSocket::ConnectedState || pending > 4 * FloodChunkSize)
        return;
    static const QByteArray chunk
        = QByteArray("<filler>").append(QByteArray(FloodChunkSize - 19, 'x')).append("</filler>\n");
    socket->write(chunk);
    m_floodBytesSent += chunk.size();
}
