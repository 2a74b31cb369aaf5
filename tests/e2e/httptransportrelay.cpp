#include "tests/e2e/httptransportrelay.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <cstdio>

HttpTransportRelay::HttpTransportRelay(
    const QString &host, quint16 port, const QByteArray &session, Upload upload, QObject *parent)
    : QTcpServer(parent), m_host(host), m_port(port), m_session(session), m_upload(upload)
{
    connect(&m_download, &QTcpSocket::connected, this, &HttpTransportRelay::downloadConnected);
    connect(&m_download, &QTcpSocket::readyRead, this, &HttpTransportRelay::downloadReadyRead);
    connect(&m_download, &QTcpSocket::disconnected, this, &HttpTransportRelay::downloadDisconnected);
    connect(&m_uploadSocket, &QTcpSocket::connected, this, &HttpTransportRelay::clientReadyRead);
    connect(&m_uploadSocket, &QTcpSocket::readyRead, this, &HttpTransportRelay::uploadReadyRead);
    connect(&m_uploadSocket, &QTcpSocket::disconnected, this, &HttpTransportRelay::uploadDisconnected);
}

void HttpTransportRelay::incomingConnection(qintptr socketDescriptor)
{
    if (m_client) {
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        return;
    }
    m_client = new QTcpSocket(this);
    m_client->setSocketDescriptor(socketDescriptor);
    connect(m_client, &QTcpSocket::readyRead, this, &HttpTransportRelay::clientReadyRead);
    connect(m_client, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
    m_download.connectToHost(m_host, m_port);
}

QByteArray HttpTransportRelay::requestHead(
    const QByteArray &method, const QByteArray &path, const QByteArray &extra) const
{
    return method + " /" + path + " HTTP/1.1\r\nHost: " + m_host.toUtf8()
        + "\r\nUser-Agent: Mozilla/5.0\r\nCookie: session=" + m_session + extra + "\r\nConnection: keep-alive\r\n\r\n";
}

QByteArray HttpTransportRelay::randomName(int length)
{
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray name;
    for (int i = 0; i < length; ++i)
        name += alphabet[QRandomGenerator::global()->bounded(62)];
    return name;
}

void HttpTransportRelay::downloadConnected()
{
    if (m_address.isNull())
        m_address = m_download.peerAddress();
    m_download.write(requestHead("GET", m_first ? "index.php" : randomName(7) + ".pdf", QByteArray()));
}

QByteArray HttpTransportRelay::parse(QByteArray &buffer, Response *response, bool *complete, bool *failed)
{
    *complete = false;
    *failed = false;
    if (response->header.isEmpty()) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return QByteArray();
        response->header = buffer.left(end);
        buffer.remove(0, end + 4);
        const QList<QByteArray> lines = response->header.split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            response->fields.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
        *failed = !lines.first().contains(" 200 ");
        response->remaining = response->fields.value("content-length").toLongLong();
        const QByteArray connection = response->fields.value("connection");
        response->close = connection == "close"
            || (!lines.first().startsWith("HTTP/1.1") && !response->fields.contains("connection"));
    }
    const QByteArray body = buffer.left(int(qMin<qint64>(buffer.size(), response->remaining)));
    buffer.remove(0, body.size());
    response->remaining -= body.size();
    *complete = response->remaining == 0;
    return body;
}

void HttpTransportRelay::downloadReadyRead()
{
    m_downloadBuffer += m_download.readAll();
    for (;;) {
        bool complete = false;
        bool failed = false;
        const bool hadHeader = !m_downloadResponse.header.isEmpty();
        const QByteArray body = parse(m_downloadBuffer, &m_downloadResponse, &complete, &failed);
        if (failed)
            return fail(QStringLiteral("download: ") + QString::fromLatin1(m_downloadResponse.header));
        if (!hadHeader && !m_downloadResponse.header.isEmpty() && m_first) {
            m_first = false;
            m_uploadSocket.connectToHost(m_address, m_port);
        }
        if (!body.isEmpty())
            m_client->write(body);
        if (!complete)
            return;
        const bool close = m_downloadResponse.close;
        m_downloadResponse = Response();
        if (close) {
            m_reconnectDownload = true;
            m_download.disconnectFromHost();
            return;
        }
        m_download.write(requestHead("GET", randomName(7) + ".pdf", QByteArray()));
        if (m_downloadBuffer.isEmpty())
            return;
    }
}

void HttpTransportRelay::downloadDisconnected()
{
    if (!m_reconnectDownload)
        return fail(QStringLiteral("the download channel closed"));
    m_reconnectDownload = false;
    m_downloadBuffer.clear();
    m_download.connectToHost(m_address, m_port);
}

void HttpTransportRelay::clientReadyRead()
{
    if (m_uploadSocket.state() != QAbstractSocket::ConnectedState || m_uploadWaiting || !m_client)
        return;
    if (m_uploadRemaining == 0) {
        if (!m_client->bytesAvailable())
            return;
        if (m_upload == Burst) {
            const QByteArray data = m_client->readAll();
            m_uploadSocket.write(requestHead("POST", "index.php",
                                     "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                                         + QByteArray::number(data.size()))
                + data);
            m_uploadWaiting = true;
            return;
        }
        const QByteArray boundary = randomName(16);
        const QByteArray before = "------WebKitFormBoundary" + boundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + randomName(6)
            + ".pdf\"\r\nContent-Type: application/pdf\r\n\r\n";
        m_after = "\r\n------WebKitFormBoundary" + boundary + "--\r\n";
        const qint64 length = 5000000 + QRandomGenerator::global()->bounded(5000000);
        m_uploadSocket.write(requestHead("POST", "index.php",
                                 "; beforeData=" + QByteArray::number(before.size())
                                     + "; afterData=" + QByteArray::number(m_after.size())
                                     + "\r\nContent-Type: multipart/form-data; boundary=----WebKitFormBoundary"
                                     + boundary + "\r\nContent-Length: " + QByteArray::number(length))
            + before);
        m_uploadRemaining = length - before.size();
    }
    const QByteArray data = m_client->read(m_uploadRemaining - m_after.size());
    m_uploadSocket.write(data);
    m_uploadRemaining -= data.size();
    if (m_uploadRemaining == m_after.size()) {
        m_uploadSocket.write(m_after);
        m_uploadRemaining = 0;
        m_uploadWaiting = true;
    }
}

void HttpTransportRelay::uploadReadyRead()
{
    m_uploadBuffer += m_uploadSocket.readAll();
    bool complete = false;
    bool failed = false;
    parse(m_uploadBuffer, &m_uploadResponse, &complete, &failed);
    if (failed)
        return fail(QStringLiteral("upload: ") + QString::fromLatin1(m_uploadResponse.header));
    if (!complete)
        return;
    const bool close = m_uploadResponse.close;
    m_uploadResponse = Response();
    m_uploadWaiting = false;
    if (close)
        m_uploadSocket.disconnectFromHost();
    else
        clientReadyRead();
}

void HttpTransportRelay::uploadDisconnected()
{
    if (m_uploadWaiting || m_uploadRemaining > 0)
        return fail(QStringLiteral("the upload channel closed in the middle of a request"));
    m_uploadBuffer.clear();
    m_uploadSocket.connectToHost(m_address, m_port);
}

void HttpTransportRelay::fail(const QString &why)
{
    std::fprintf(stderr, "http relay: %s\n", qPrintable(why));
    QCoreApplication::exit(1);
}
