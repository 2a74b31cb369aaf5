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

    // A UPnP Internet gateway device: SSDP answers, its description, WANIPConnection:1 control
    // and events, with quirks that real gateways show and miniupnpd does not make on demand.
    struct Gateway
    {
        QHostAddress address;
        quint16 ssdpPort = 1900;
        quint16 httpPort = 5000;
        bool locationWithoutPort = false; // LOCATION names no port, so HTTP is served on port 80
        QString locationHeader = QStringLiteral("LOCATION"); // the header name as written
        bool controlUrlLast = false; // eventSubURL before controlURL in the description
        bool withoutWanIpConnection = false; // a WANPPPConnection:1 service instead
        int subscriptionTimeout = 1800; // seconds granted to a subscriber
        QList<quint16> refusedPorts; // AddPortMapping answers these external ports with a fault
        int extraEntries = 0; // events announce this many entries more than the table holds
        bool splitNotify = false; // every NOTIFY in two writes, cut inside the entry count
        QString externalAddress = QStringLiteral("198.18.255.254");
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
    QList<Gateway> gateways;

    const User *user(const QString &username) const;
    // The tunnel with that id, and the server it belongs to; null when there is none.
    const Tunnel *tunnel(int id, const Server **server = nullptr) const;

private:
    QString m_error;
};

#endif
