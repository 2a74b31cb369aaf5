#include "tools/service/mainserver.h"

#include "tools/service/httpconnection.h"
#include "tools/service/servicelog.h"
#include "tools/service/tlsserver.h"

#include <QPointer>
#include <QTcpServer>
#include <QTimer>

MainServer::MainServer(const ServiceConfig &config, QObject *parent) : QObject(parent), m_config(config), m_api(config)
{ }

bool MainServer::listen(QString *error)
{
    for (const ServiceConfig::Listen &listen : m_config.mainServerListen) {
        QTcpServer *server = nullptr;
        if (listen.tls) {
            auto *tls = new TlsServer(this);
            if (!tls->loadCredentials(m_config.certificateFile, m_config.keyFile, error))
                return false;
            server = tls;
        } else {
            server = new QTcpServer(this);
        }
        if (!server->listen(listen.address, listen.port)) {
            *error = QStringLiteral("main server: cannot listen on %1:%2: %3")
                         .arg(listen.address.toString())
                         .arg(listen.port)
                         .arg(server->errorString());
            return false;
        }
        connect(server, &QTcpServer::newConnection, this, &MainServer::newConnection);
        m_servers.append(server);
        ServiceLog::problem(QStringLiteral("main server listening on %1:%2 (%3)")
                                .arg(server->serverAddress().toString())
                                .arg(server->serverPort())
                                .arg(listen.tls ? QStringLiteral("HTTPS") : QStringLiteral("HTTP")));
    }
    return true;
}

void MainServer::newConnection()
{
    auto *server = qobject_cast<QTcpServer *>(sender());
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        HttpConnection *connection = HttpConnection::accept(socket, this);
        if (!connection)
            continue;
        connect(connection, &HttpConnection::requestFinished, this, &MainServer::requestFinished);
    }
}

void MainServer::requestFinished(HttpConnection *connection)
{
    const MainServerApi::Reply reply = m_api.answer(connection->request());
    if (!reply.note.isEmpty() && reply.status < 400)
        ServiceLog::request(connection->peer() + QStringLiteral(" \"") + connection->request().describe()
            + QStringLiteral("\": ") + reply.note);
    else if (!reply.note.isEmpty())
        ServiceLog::problem(connection->peer() + QStringLiteral(" \"") + connection->request().describe()
            + QStringLiteral("\": ") + reply.note);

    const ServiceConfig::Fault &fault = reply.fault;
    QPointer<HttpConnection> target(connection);
    auto answer = [target, reply, fault] {
        if (!target)
            return;
        if (fault.close) {
            ServiceLog::request(target->peer() + QStringLiteral(" closed without an answer, as configured"));
            target->abort();
        } else if (fault.noAnswer) {
            ServiceLog::request(target->peer() + QStringLiteral(" left without an answer, as configured"));
        } else {
            target->respond(reply.status, reply.contentType, reply.body);
        }
    };
    if (fault.delay > 0)
        QTimer::singleShot(fault.delay, connection, answer);
    else
        answer();
}
