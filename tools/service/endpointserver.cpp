#include "tools/service/endpointserver.h"

#include "tools/service/httpconnection.h"
#include "tools/service/multipartstripper.h"
#include "tools/service/servicelog.h"
#include "tools/service/transportsession.h"

#include <QPointer>
#include <QTimer>

EndpointServer::EndpointServer(const ServiceConfig::Endpoint &endpoint, QObject *parent)
    : QObject(parent), m_endpoint(endpoint)
{
    connect(&m_server, &QTcpServer::newConnection, this, &EndpointServer::newConnection);
}

bool EndpointServer::listen(QString *error)
{
    if (!m_server.listen(m_endpoint.listen.address, m_endpoint.listen.port)) {
        *error = QStringLiteral("endpoint: cannot listen on %1:%2: %3")
                     .arg(m_endpoint.listen.address.toString())
                     .arg(m_endpoint.listen.port)
                     .arg(m_server.errorString());
        return false;
    }
    ServiceLog::problem(QStringLiteral("endpoint listening on %1:%2 (OpenVPN server %3:%4)")
                            .arg(m_server.serverAddress().toString())
                            .arg(m_server.serverPort())
                            .arg(m_endpoint.openvpnAddress.toString())
                            .arg(m_endpoint.openvpnPort));
    return true;
}

void EndpointServer::newConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        HttpConnection *connection = HttpConnection::accept(socket, this);
        if (!connection)
            continue;
        connect(connection, &HttpConnection::requestStarted, this, &EndpointServer::requestStarted);
        connect(connection, &HttpConnection::requestFinished, this, &EndpointServer::requestFinished);
    }
}

EndpointServer::Kind EndpointServer::kind(const QString &method, const QString &path, bool *first)
{
    *first = path == QLatin1String("/index.php");
    if (path == QLatin1String("/ping"))
        return method == QLatin1String("GET") ? Ping : Other;
    if (method == QLatin1String("POST") && *first)
        return Upload;
    const bool pdf = path.endsWith(QLatin1String(".pdf")) && path.size() > 5 && path.count(QLatin1Char('/')) == 1;
    if (method == QLatin1String("GET") && (*first || pdf))
        return Download;
    return Other;
}

TransportSession *EndpointServer::session(HttpConnection *connection, bool restart)
{
    const HttpRequest &request = connection->request();
    const QString cookie = request.cookie(QStringLiteral("session"));
    if (cookie.isEmpty() || cookie.size() > 256) {
        ServiceLog::problem(connection->peer() + QStringLiteral(" \"") + request.describe()
            + QStringLiteral("\": missing or oversized cookie \"session\""));
        connection->respond(400, "text/plain", "Bad Request\n", HttpConnection::Close);
        return nullptr;
    }
    TransportSession *session = m_sessions.value(cookie);
    // "index.php" opens a client's tunnel: a client that comes back with the same cookie (its
    // OpenVPN reconnecting) gets a fresh OpenVPN connection, not the middle of the old stream.
    if (session && restart) {
        ServiceLog::request(QStringLiteral("session %1: starts again, from %2").arg(cookie, connection->peer()));
        session->close();
        session = nullptr;
    }
    if (!session) {
        if (m_sessions.size() >= MaximumSessions) {
            ServiceLog::problem(connection->peer() + QStringLiteral(": too many transport sessions"));
            connection->respond(503, "text/plain", "Service Unavailable\n", HttpConnection::Close);
            return nullptr;
        }
        session = new TransportSession(cookie, m_endpoint, this);
        connect(session, &TransportSession::finished, this, &EndpointServer::sessionFinished);
        m_sessions.insert(cookie, session);
        ServiceLog::request(QStringLiteral("session %1: new, from %2").arg(cookie, connection->peer()));
    }
    return session;
}

// Uploads are streamed as their bodies arrive; everything else waits for the whole request.
void EndpointServer::requestStarted(HttpConnection *connection)
{
    const HttpRequest &request = connection->request();
    bool first = false;
    if (kind(request.method, request.path, &first) != Upload)
        return;
    qint64 before = 0;
    qint64 after = 0;
    QString error;
    const bool sizesOk = MultipartStripper::parseSize(request.cookie(QStringLiteral("beforeData")),
                             request.hasCookie(QStringLiteral("beforeData")), &before)
        && MultipartStripper::parseSize(
            request.cookie(QStringLiteral("afterData")), request.hasCookie(QStringLiteral("afterData")), &after);
    const bool multipart = request.header(QStringLiteral("content-type")).startsWith(QLatin1String("multipart/"));
    MultipartStripper check;
    if (!sizesOk)
        error = QStringLiteral("malformed cookie \"beforeData\" or \"afterData\"");
    else if (multipart
        && (!request.hasCookie(QStringLiteral("beforeData")) || !request.hasCookie(QStringLiteral("afterData"))))
        error = QStringLiteral("multipart upload without the cookies \"beforeData\" and \"afterData\"");
    else
        check.start(request.contentLength, before, after, &error);
    // A refused upload opens no session and no connection to the OpenVPN server.
    if (!error.isEmpty()) {
        ServiceLog::problem(
            connection->peer() + QStringLiteral(" \"") + request.describe() + QStringLiteral("\": ") + error);
        connection->respond(400, "text/plain", "Bad Request\n", HttpConnection::Close);
        return;
    }
    if (TransportSession *target = session(connection))
        target->beginUpload(connection, before, after);
}

void EndpointServer::requestFinished(HttpConnection *connection)
{
    const HttpRequest &request = connection->request();
    bool first = false;
    switch (kind(request.method, request.path, &first)) {
    case Ping:
        answerPing(connection);
        return;
    case Download:
        if (TransportSession *target = session(connection, first))
            target->download(connection, first);
        return;
    case Upload:
        return; // answered by its session, or refused when it started
    case Other:
        ServiceLog::problem(
            connection->peer() + QStringLiteral(" \"") + request.describe() + QStringLiteral("\": unknown path"));
        connection->respond(404, "text/plain", "Not Found\n");
        return;
    }
}

void EndpointServer::answerPing(HttpConnection *connection)
{
    const ServiceConfig::Fault &fault = m_endpoint.ping;
    QPointer<HttpConnection> target(connection);
    auto answer = [target, fault] {
        if (!target)
            return;
        if (fault.close)
            target->abort();
        else if (!fault.noAnswer)
            target->respond(fault.status, "text/plain", fault.body);
    };
    if (fault.delay > 0)
        QTimer::singleShot(fault.delay, connection, answer);
    else
        answer();
}

void EndpointServer::sessionFinished(TransportSession *session)
{
    m_sessions.remove(session->session());
    session->deleteLater();
}
