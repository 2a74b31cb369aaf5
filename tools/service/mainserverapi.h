#ifndef NIMBORA_TOOLS_SERVICE_MAINSERVERAPI_H
#define NIMBORA_TOOLS_SERVICE_MAINSERVERAPI_H

#include "tools/service/httprequest.h"
#include "tools/service/serviceconfig.h"

#include <QByteArray>
#include <QHash>
#include <QQueue>
#include <QString>

class QXmlStreamWriter;

// The main server's commands: users, sessions and the XML replies.
class MainServerApi
{
public:
    struct Reply
    {
        int status = 200;
        QByteArray contentType = "text/xml; charset=utf-8";
        QByteArray body;
        ServiceConfig::Fault fault; // delay, no answer, close
        QString note; // for the log: why a request was refused
    };

    static constexpr char VerifyPath[] = "/lab/verify";
    static constexpr int MaximumSessions = 1000;

    explicit MainServerApi(const ServiceConfig &config);

    Reply answer(const HttpRequest &request);

    // Whether session is a live session of username; OpenVPN's credential check asks this.
    bool verify(const QString &username, const QString &session) const;

private:
    QString login(const HttpRequest &request, QString *session);
    QString newSession(const QString &username);
    const ServiceConfig::User *sessionUser(const HttpRequest &request, QString *code) const;
    static void writeServers(QXmlStreamWriter &xml, const QList<ServiceConfig::Server> &servers);

    const ServiceConfig &m_config;
    QHash<QString, QString> m_sessions; // token -> user name
    QQueue<QString> m_sessionOrder; // oldest first, so that the table stays bounded
};

#endif
