#include "tools/service/mainserverapi.h"

#include <QRandomGenerator>
#include <QXmlStreamWriter>

constexpr char MainServerApi::VerifyPath[];

namespace {

constexpr char CommandPrefix[] = "/client/";

void writeText(QXmlStreamWriter &xml, const QString &name, const QString &text)
{
    xml.writeTextElement(name, text);
}

} // namespace

MainServerApi::MainServerApi(const ServiceConfig &config) : m_config(config) { }

MainServerApi::Reply MainServerApi::answer(const HttpRequest &request)
{
    Reply reply;
    if (request.path == QLatin1String(VerifyPath)) {
        const bool ok
            = verify(request.queryValue(QStringLiteral("username")), request.queryValue(QStringLiteral("session")));
        reply.status = ok ? 200 : 403;
        reply.contentType = "text/plain";
        reply.body = ok ? "OK\n" : "DENIED\n";
        return reply;
    }
    const QString command = request.path.startsWith(QLatin1String(CommandPrefix))
        ? request.path.mid(int(qstrlen(CommandPrefix)))
        : QString();
    if (!ServiceConfig::Commands.contains(command)) {
        reply.status = 404;
        reply.contentType = "text/plain";
        reply.body = "Not Found\n";
        reply.note = command.isEmpty() ? QStringLiteral("unknown path") : QStringLiteral("unknown command");
        return reply;
    }
    if (request.method != QLatin1String("GET")) {
        reply.status = 400;
        reply.contentType = "text/plain";
        reply.body = "Bad Request\n";
        reply.note = QStringLiteral("commands are GET requests");
        return reply;
    }

    reply.fault = m_config.faults.value(command);
    reply.status = reply.fault.status;
    if (reply.fault.hasBody) {
        reply.contentType = "text/plain";
        reply.body = reply.fault.body;
        return reply;
    }

    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("nimbora"));
    const QString &forced = reply.fault.code;

    if (command == QLatin1String("check")) {
        writeText(xml, "code", forced.isEmpty() ? QStringLiteral("OK") : forced);
    } else if (command == QLatin1String("version")) {
        writeText(xml, "code", forced.isEmpty() ? QStringLiteral("OK") : forced);
        writeText(xml, "optional", m_config.optionalVersion);
        writeText(xml, "mandatory", m_config.mandatoryVersion);
    } else if (command == QLatin1String("login")) {
        QString session;
        const QString code = forced.isEmpty() ? login(request, &session) : forced;
        writeText(xml, "code", code);
        if (code == QLatin1String("OK")) {
            if (session.isEmpty())
                session = newSession(request.queryValue(QStringLiteral("username")));
            writeText(xml, "session", session);
        } else {
            reply.note = QStringLiteral("login refused");
        }
    } else {
        QString code;
        const ServiceConfig::User *user = sessionUser(request, &code);
        // The client connects to a tunnel: "server_id" is the tunnel's id.
        const ServiceConfig::Tunnel *tunnel = nullptr;
        if (user && command == QLatin1String("connection")) {
            bool ok = false;
            const ServiceConfig::Server *server = nullptr;
            tunnel = m_config.tunnel(request.queryValue(QStringLiteral("server_id")).toInt(&ok), &server);
            if (!ok || !tunnel)
                code = QStringLiteral("FAILED");
            else if (tunnel->state != 1 || server->state != 1)
                code = QStringLiteral("OFFLINE");
        }
        if (code != QLatin1String("OK"))
            reply.note = QStringLiteral("refused with %1").arg(code);
        writeText(xml, "code", forced.isEmpty() ? code : forced);
        if (user && command == QLatin1String("account")) {
            writeText(xml, "username", user->username);
            writeText(xml, "subscription", user->subscription);
            writeText(xml, "bandwidth", user->bandwidth);
            writeText(xml, "ports", QString::number(user->ports));
            writeText(xml, "premium", user->premium ? QStringLiteral("1") : QStringLiteral("0"));
        } else if (user && command == QLatin1String("servers")) {
            // The client walks the "server" siblings without checking names: nothing may follow them.
            writeText(xml, "premium", user->premium ? QStringLiteral("1") : QStringLiteral("0"));
            writeServers(xml, m_config.servers);
        } else if (tunnel && code == QLatin1String("OK")) {
            writeText(xml, "server_id", QString::number(tunnel->id));
        }
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    reply.body = body;
    return reply;
}

QString MainServerApi::login(const HttpRequest &request, QString *session)
{
    const QString username = request.queryValue(QStringLiteral("username"));
    const QString password = request.queryValue(QStringLiteral("password"));
    const ServiceConfig::User *user = m_config.user(username);
    if (!user || password.toLower() != user->passwordDigest)
        return QStringLiteral("DENIED");
    *session = newSession(username);
    return QStringLiteral("OK");
}

QString MainServerApi::newSession(const QString &username)
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    const QString token = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
    while (m_sessions.size() >= MaximumSessions && !m_sessionOrder.isEmpty())
        m_sessions.remove(m_sessionOrder.dequeue());
    m_sessions.insert(token, username);
    m_sessionOrder.enqueue(token);
    return token;
}

const ServiceConfig::User *MainServerApi::sessionUser(const HttpRequest &request, QString *code) const
{
    const auto it = m_sessions.constFind(request.queryValue(QStringLiteral("session")));
    const ServiceConfig::User *user = it == m_sessions.constEnd() ? nullptr : m_config.user(it.value());
    *code = user ? QStringLiteral("OK") : QStringLiteral("DENIED");
    return user;
}

bool MainServerApi::verify(const QString &username, const QString &session) const
{
    const auto it = m_sessions.constFind(session);
    return !session.isEmpty() && it != m_sessions.constEnd() && it.value() == username;
}

void MainServerApi::writeServers(QXmlStreamWriter &xml, const QList<ServiceConfig::Server> &servers)
{
    for (const ServiceConfig::Server &server : servers) {
        xml.writeStartElement(QStringLiteral("server"));
        writeText(xml, "id", QString::number(server.id));
        writeText(xml, "name", server.name);
        writeText(xml, "state", QString::number(server.state));
        writeText(xml, "bandwidth", QString::number(server.bandwidth));
        for (const ServiceConfig::Country &country : server.countries) {
            xml.writeStartElement(QStringLiteral("country"));
            writeText(xml, "code", country.code);
            for (const ServiceConfig::Tunnel &tunnel : country.tunnels) {
                xml.writeStartElement(QStringLiteral("tunnel"));
                writeText(xml, "id", QString::number(tunnel.id));
                writeText(xml, "type", QString::number(tunnel.type));
                writeText(xml, "name", tunnel.name);
                writeText(xml, "hostname", tunnel.hostname);
                writeText(xml, "address", tunnel.address);
                writeText(xml, "protocols", QString::number(tunnel.protocols));
                writeText(xml, "slots", QString::number(tunnel.load));
                writeText(xml, "state", QString::number(tunnel.state));
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
}
