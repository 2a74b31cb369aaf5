#ifndef NIMBORA_TOOLS_SERVICE_SERVICECONFIG_H
#define NIMBORA_TOOLS_SERVICE_SERVICECONFIG_H

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The stand-in's whole configuration, read from one JSON file. Every value is checked when
// the file is read, and the first problem is reported with its place in the file
// ("endpoints[2].ping.delay: expected a number from 0 to 600000").
class ServiceConfig
{
public:
    // What a command or a probe does instead of its normal answer.
    struct Fault
    {
        QString code; // reply code replacing the normal outcome ("FAILED", "FULL", "ok", ...)
        int delay = 0; // milliseconds before the answer
        bool noAnswer = false; // read the request, never answer, keep the connection
        bool close = false; // close the connection without answering
        int status = 200; // HTTP status of the answer
        bool hasBody = false;
        QByteArray body; // sent as it is instead of the XML document
    };

    struct Listen
    {
        QHostAddress address;
        quint16 port = 0;
        bool tls = false;
    };

    struct User
    {
        QString username;
        QString passwordDigest; // lower-case hex MD5, as the client sends it
        QString subscription;
        QString bandwidth;
        int ports = 0;
        bool premium = false;
    };

    struct Tunnel
    {
        int id = 0;
        int type = 0;
        QString name;
        QString hostname;
        QString address;
        int protocols = 7;
        int load = 0; // the "slots" element (a Qt keyword cannot name the member)
        int state = 1;
    };

    struct Country
    {
        QString code;
        QList<Tunnel> tunnels;
    };

    struct Server
    {
        int id = 0;
        QString name;
        int state = 1;
        int bandwidth = 0;
        QList<Country> countries;
    };

    struct Endpoint
    {
        Listen listen;
        QHostAddress openvpnAddress;
        quint16 openvpnPort = 443;
        Fault ping; // body "pong" unless the fault gives another
        // Downloads announce a large length and fill it as bytes come; otherwise one answer per
        // request with what is there.
        bool streaming = true;
    };

    static const QStringList Commands; // check, version, login, account, servers, connection

    bool load(const QString &fileName);
    bool parse(const QByteArray &json);
    QString errorString() const { return m_error; }

    QList<Listen> mainServerListen;
    QString certificateFile;
    QString keyFile;
    QString optionalVersion = QStringLiteral("1.6.7");
    QString mandatoryVersion = QStringLiteral("1.0");
    QHash<QString, Fault> faults; // by command
    QList<User> users;
    QList<Server> servers;
    QList<Endpoint> endpoints;

    const User *user(const QString &username) const;
    const Server *server(int id) const;

private:
    QString m_error;
};

#endif
