#include "tests/support/testhttpserver.h"

#include "base/settingskeys.h"

#include <QFile>
#include <QSettings>
#include <QSslSocket>

namespace {

const int MaximumHeadSize = 64 * 1024;
const qint64 FloodChunkSize = 64 * 1024;

} // namespace

QList<QByteArray> TestHttpServer::Request::headerValues(const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const QByteArray &line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
            values.append(line.mid(colon + 1).trimmed());
    }
    return values;
}

TestHttpServer::TestHttpServer(QObject *parent) : QTcpServer(parent)
{
    setAnswer(QByteArray(), "<nimbora><code>OK</code></nimbora>");
}

bool TestHttpServer::start(bool secure, const QHostAddress &address)
{
    m_secure = secure;
    return (!secure || TestCertificate::generate()) && listen(address, 0);
}

QString TestHttpServer::address() const
{
    return QStringLiteral("%1:%2").arg(serverAddress().toString()).arg(serverPort());
}

void TestHttpServer::useAsMainServer() const
{
    QSettings settings;
    settings.setValue(SettingsKeys::MainServerAddress, address());
    settings.setValue(SettingsKeys::MainServerSecure, m_secure);
    settings.setValue(SettingsKeys::Proxy, QStringLiteral("none"));
    if (m_secure)
        qputenv("NIMBORA_MAIN_SERVER_CA", QFile::encodeName(TestCertificate::authorityFile()));
}

QString TestHttpServer::certificateKeyPin()
{
    return TestCertificate::generate() ? TestCertificate::keyPin() : QString();
}

void TestHttpServer::setAnswer(
    const QByteArray &command, const QByteArray &body, const QByteArray &contentType, int status)
{
    m_answers.insert(command, { status, contentType, body });
}

void TestHttpServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = m_secure ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (auto *tls = qobject_cast<QSslSocket *>(socket)) {
        tls->setLocalCertificate(TestCertificate::certificate(m_certificate));
        tls->setPrivateKey(TestCertificate::privateKey());
        tls->startServerEncryption();
        connect(tls, &QSslSocket::encryptedBytesWritten, this, [this, socket]() { feedFlood(socket); });
    }
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket]() { feedFlood(socket); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

// One request per connection; what comes after it is read and ignored.
void TestHttpServer::readRequest(QTcpSocket *socket)
{
    const QByteArray data = socket->property("head").toByteArray() + socket->readAll();
    if (socket->property("answered").toBool())
        return;
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("head", data);
        if (data.size() > MaximumHeadSize)
            socket->abort();
        return;
    }
    socket->setProperty("answered", true);
    const int lineEnd = data.indexOf('\n');
    m_requests.append({ data.left(lineEnd).trimmed(), data.mid(lineEnd + 1, end - lineEnd - 1) });
    respond(socket, m_requests.last().requestLine);
}

void TestHttpServer::respond(QTcpSocket *socket, const QByteArray &requestLine)
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
        socket->setProperty("flooding", true);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<nimbora><code>OK</code>");
        return;
    case Answer:
        break;
    }

    // "GET /client/login?username=... HTTP/1.1", or the absolute form a proxy may pass on.
    QByteArray target = requestLine.split(' ').value(1);
    target = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
    const int client = target.indexOf("/client/");
    const auto answer = m_answers.value(client < 0 ? QByteArray() : target.mid(client + 8), m_answers.value({}));
    // The reason phrase is free text that no client reads.
    QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + " Reason\r\n";
    if (!answer.contentType.isEmpty())
        response += "Content-Type: " + answer.contentType + "\r\n";
    socket->write(response + "Content-Length: " + QByteArray::number(answer.body.size())
        + "\r\nConnection: close\r\n\r\n" + answer.body);
    socket->disconnectFromHost();
}

void TestHttpServer::feedFlood(QTcpSocket *socket)
{
    // With TLS, what waits for the network sits in the encrypted buffer.
    qint64 pending = socket->bytesToWrite();
    if (auto *tls = qobject_cast<QSslSocket *>(socket))
        pending += tls->encryptedBytesToWrite();
    if (!socket->property("flooding").toBool() || socket->state() != QAbstractSocket::ConnectedState
        || pending > 4 * FloodChunkSize)
        return;
    static const QByteArray chunk
        = QByteArray("<filler>").append(QByteArray(FloodChunkSize - 19, 'x')).append("</filler>\n");
    socket->write(chunk);
    m_floodBytesSent += chunk.size();
}
