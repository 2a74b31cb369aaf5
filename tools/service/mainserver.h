#ifndef NIMBORA_TOOLS_SERVICE_MAINSERVER_H
#define NIMBORA_TOOLS_SERVICE_MAINSERVER_H

#include "tools/service/mainserverapi.h"
#include "tools/service/serviceconfig.h"

#include <QList>
#include <QObject>

class HttpConnection;
class QTcpServer;

// The main server: the client API over HTTP and HTTPS on the configured addresses, with the
// configured faults applied to each command's answer.
class MainServer : public QObject
{
    Q_OBJECT

public:
    MainServer(const ServiceConfig &config, QObject *parent = nullptr);

    bool listen(QString *error);

private slots:
    void newConnection();
    void requestFinished(HttpConnection *connection);

private:
    const ServiceConfig &m_config;
    MainServerApi m_api;
    QList<QTcpServer *> m_servers;
};

#endif
