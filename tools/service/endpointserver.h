#ifndef NIMBORA_TOOLS_SERVICE_ENDPOINTSERVER_H
#define NIMBORA_TOOLS_SERVICE_ENDPOINTSERVER_H

#include "tools/service/serviceconfig.h"

#include <QHash>
#include <QObject>
#include <QTcpServer>

class HttpConnection;
class TransportSession;

// Port 80 of one VPN endpoint: the latency responder ("/ping") and the server end of the
// HTTP transport ("/index.php", "/<name>.pdf"), whose sessions it pairs by cookie.
class EndpointServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaximumSessions = 64;

    EndpointServer(const ServiceConfig::Endpoint &endpoint, QObject *parent = nullptr);

    bool listen(QString *error);

private slots:
    void newConnection();
    void requestStarted(HttpConnection *connection);
    void requestFinished(HttpConnection *connection);
    void sessionFinished(TransportSession *session);

private:
    enum Kind { Ping, Download, Upload, Other };
    static Kind kind(const QString &method, const QString &path, bool *first);
    TransportSession *session(HttpConnection *connection, bool restart = false);
    void answerPing(HttpConnection *connection);

    const ServiceConfig::Endpoint &m_endpoint;
    QTcpServer m_server;
    QHash<QString, TransportSession *> m_sessions;
};

#endif
