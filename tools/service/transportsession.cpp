#include "tools/service/transportsession.h"

#include "tools/service/servicelog.h"

TransportSession::TransportSession(const QString &session, const ServiceConfig::Endpoint &endpoint, QObject *parent)
    : QObject(parent), m_session(session), m_endpoint(endpoint)
{
    // Downstream bytes wait in this bounded buffer until a GET can take them.
    m_openvpn.setReadBufferSize(256 * 1024);
    connect(&m_openvpn, &QTcpSocket::connected, this, &TransportSession::openvpnConnected);
    connect(&m_openvpn, &QTcpSocket::readyRead, this, &TransportSession::openvpnReadyRead);
    connect(&m_openvpn, &QTcpSocket::bytesWritten, this, &TransportSession::openvpnBytesWritten);
    connect(&m_openvpn, &QTcpSocket::disconnected, this, &TransportSession::openvpnGone);
    connect(&m_openvpn, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            ServiceLog::problem(QStringLiteral("session %1: OpenVPN server %2:%3: %4")
                                    .arg(m_session, m_endpoint.openvpnAddress.toString())
                                    .arg(m_endpoint.openvpnPort)
                                    .arg(m_openvpn.errorString()));
        if (m_openvpn.state() == QAbstractSocket::UnconnectedState)
            openvpnGone();
    });
    m_poll.setSingleShot(true);
    connect(&m_poll, &QTimer::timeout, this, &TransportSession::pollExpired);
    connect(&m_idle, &QTimer::timeout, this, &TransportSession::idleExpired);
    m_idle.start(IdleTimeout);
    m_openvpn.connectToHost(m_endpoint.openvpnAddress, m_endpoint.openvpnPort);
}

// The socket is a member: its last signals would reach a half-destroyed session.
TransportSession::~TransportSession()
{
    m_finished = true;
    m_openvpn.disconnect(this);
}

void TransportSession::download(HttpConnection *connection, bool first)
{
    m_idle.start(IdleTimeout);
    if (m_download && m_download != connection) {
        // A client only has one download under way; an older one is left over from a broken channel.
        if (m_download->isResponding())
            m_download->abort();
        else
            m_download->respond(200, "application/pdf", QByteArray());
    }
    m_download = connection;
    m_downloadFirst = first;
    connect(
        connection, &HttpConnection::bytesWritten, this, &TransportSession::downloadBytesWritten, Qt::UniqueConnection);
    connect(connection, &HttpConnection::closed, this, &TransportSession::channelClosed, Qt::UniqueConnection);
    const QByteArray type = first ? "text/html" : "application/pdf";
    if (m_endpoint.streaming) {
        m_download->beginResponse(200, type, StreamLength);
        // The client drops body bytes that share a read with the first answer's header.
        if (!first)
            pump();
        return;
    }
    if (first || m_openvpn.bytesAvailable() > 0) {
        pump();
        return;
    }
    m_poll.start(PollTimeout);
}

void TransportSession::pump()
{
    if (!m_download)
        return;
    if (m_endpoint.streaming) {
        while (m_download && m_download->isResponding() && m_openvpn.bytesAvailable() > 0
            && m_download->bytesToWrite() < WriteHighWater) {
            const qint64 size = qMin<qint64>(m_download->responseRemaining(), 64 * 1024);
            m_download->writeBody(m_openvpn.read(size));
        }
        if (m_download && !m_download->isResponding())
            m_download.clear();
        return;
    }
    if (m_download->isResponding() || m_download->bytesToWrite() >= WriteHighWater)
        return;
    m_poll.stop();
    const QByteArray bytes = m_openvpn.read(1024 * 1024);
    HttpConnection *connection = m_download;
    m_download.clear();
    connection->respond(200, m_downloadFirst ? "text/html" : "application/pdf", bytes);
}

void TransportSession::beginUpload(HttpConnection *connection, qint64 before, qint64 after)
{
    m_idle.start(IdleTimeout);
    QString error;
    m_stripper.start(connection->request().contentLength, before, after, &error);
    if (m_upload && m_upload != connection)
        m_upload->abort();
    m_upload = connection;
    connect(connection, &HttpConnection::bodyReceived, this, &TransportSession::uploadBody, Qt::UniqueConnection);
    connect(
        connection, &HttpConnection::requestFinished, this, &TransportSession::uploadFinished, Qt::UniqueConnection);
    connect(connection, &HttpConnection::closed, this, &TransportSession::channelClosed, Qt::UniqueConnection);
}

void TransportSession::uploadBody(HttpConnection *connection, const QByteArray &bytes)
{
    if (connection != m_upload)
        return;
    const QByteArray payload = m_stripper.take(bytes);
    if (!payload.isEmpty())
        m_openvpn.write(payload);
    if (m_openvpn.bytesToWrite() > WriteHighWater)
        connection->setReadingPaused(true);
}

void TransportSession::uploadFinished(HttpConnection *connection)
{
    if (connection != m_upload)
        return;
    disconnect(connection, &HttpConnection::bodyReceived, this, nullptr);
    disconnect(connection, &HttpConnection::requestFinished, this, nullptr);
    m_upload.clear();
    connection->respond(200, "text/html", QByteArray());
}

void TransportSession::openvpnConnected()
{
    ServiceLog::request(QStringLiteral("session %1: connected to the OpenVPN server %2:%3")
                            .arg(m_session, m_endpoint.openvpnAddress.toString())
                            .arg(m_endpoint.openvpnPort));
}

void TransportSession::openvpnReadyRead()
{
    pump();
}

void TransportSession::openvpnBytesWritten()
{
    if (m_upload && m_openvpn.bytesToWrite() <= WriteHighWater / 2)
        m_upload->setReadingPaused(false);
}

void TransportSession::downloadBytesWritten(HttpConnection *connection)
{
    if (connection == m_download)
        pump();
}

void TransportSession::channelClosed(HttpConnection *connection)
{
    if (connection == m_download)
        m_download.clear();
    if (connection == m_upload)
        m_upload.clear();
}

void TransportSession::pollExpired()
{
    // Nothing came from the OpenVPN server for a while: an empty answer keeps proxies content.
    if (m_download && !m_endpoint.streaming && !m_download->isResponding())
        pump();
}

void TransportSession::idleExpired()
{
    if (!m_download && !m_upload) {
        ServiceLog::request(
            QStringLiteral("session %1: no channel for %2 s, closed").arg(m_session).arg(IdleTimeout / 1000));
        close();
    }
}

void TransportSession::openvpnGone()
{
    if (m_finished)
        return;
    ServiceLog::request(QStringLiteral("session %1: the OpenVPN server closed the connection").arg(m_session));
    answerPending(502);
    close();
}

void TransportSession::answerPending(int status)
{
    if (m_download) {
        if (m_download->isResponding())
            m_download->close();
        else
            m_download->respond(
                status, "text/plain", HttpConnection::reasonPhrase(status) + '\n', HttpConnection::Close);
    }
    if (m_upload)
        m_upload->respond(status, "text/plain", HttpConnection::reasonPhrase(status) + '\n', HttpConnection::Close);
}

void TransportSession::close()
{
    if (m_finished)
        return;
    m_finished = true;
    m_poll.stop();
    m_idle.stop();
    if (m_download)
        disconnect(m_download, nullptr, this, nullptr);
    if (m_upload) {
        disconnect(m_upload, nullptr, this, nullptr);
        m_upload->close();
    }
    m_openvpn.abort();
    emit finished(this);
}
