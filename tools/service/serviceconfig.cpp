#include "tools/service/serviceconfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSet>

const QStringList ServiceConfig::Commands = { QStringLiteral("check"), QStringLiteral("version"),
    QStringLiteral("login"), QStringLiteral("account"), QStringLiteral("servers"), QStringLiteral("connection") };

namespace {

// Walks the JSON tree and remembers the first problem with its place in the file.
class Reader
{
public:
    QString error;

    bool failed() const { return !error.isEmpty(); }

    void fail(const QString &where, const QString &what)
    {
        if (error.isEmpty())
            error = where + QStringLiteral(": ") + what;
    }

    // Refuses members that the configuration does not know, so that a typo is not ignored.
    void allowOnly(const QJsonObject &object, const QString &where, const QStringList &names)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!names.contains(it.key()))
                fail(where, QStringLiteral("unknown member \"%1\" (known: %2)").arg(it.key(), names.join(", ")));
        }
    }

    QJsonObject object(const QJsonValue &value, const QString &where)
    {
        if (!value.isObject())
            fail(where, QStringLiteral("expected an object"));
        return value.toObject();
    }

    QJsonArray array(const QJsonObject &parent, const QString &name, const QString &where, bool required)
    {
        const QJsonValue value = parent.value(name);
        if (value.isUndefined()) {
            if (required)
                fail(where, QStringLiteral("missing"));
            return QJsonArray();
        }
        if (!value.isArray())
            fail(where, QStringLiteral("expected an array"));
        return value.toArray();
    }

    QString string(const QJsonObject &parent, const QString &name, const QString &where, bool required,
        const QString &fallback = QString())
    {
        const QJsonValue value = parent.value(name);
        if (value.isUndefined()) {
            if (required)
                fail(where, QStringLiteral("missing"));
            return fallback;
        }
        if (!value.isString()) {
            fail(where, QStringLiteral("expected a string"));
            return fallback;
        }
        return value.toString();
    }

    qint64 integer(const QJsonObject &parent, const QString &name, const QString &where, bool required, qint64 fallback,
        qint64 minimum, qint64 maximum)
    {
        const QJsonValue value = parent.value(name);
        if (value.isUndefined()) {
            if (required)
                fail(where, QStringLiteral("missing"));
            return fallback;
        }
        const double number = value.toDouble(-1e300);
        if (!value.isDouble() || number != double(qint64(number)) || number < minimum || number > maximum) {
            fail(where, QStringLiteral("expected a whole number from %1 to %2").arg(minimum).arg(maximum));
            return fallback;
        }
        return qint64(number);
    }

    bool boolean(const QJsonObject &parent, const QString &name, const QString &where, bool fallback)
    {
        const QJsonValue value = parent.value(name);
        if (value.isUndefined())
            return fallback;
        if (!value.isBool()) {
            fail(where, QStringLiteral("expected true or false"));
            return fallback;
        }
        return value.toBool();
    }

    QHostAddress address(const QJsonObject &parent, const QString &name, const QString &where)
    {
        const QString text = string(parent, name, where, true);
        QHostAddress address;
        if (!failed() && (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol))
            fail(where, QStringLiteral("\"%1\" is not an IPv4 address").arg(text));
        return address;
    }

    ServiceConfig::Fault fault(const QJsonValue &value, const QString &where)
    {
        ServiceConfig::Fault fault;
        const QJsonObject object = this->object(value, where);
        allowOnly(object, where, { "code", "delay", "noAnswer", "close", "status", "body" });
        fault.code = string(object, "code", where + ".code", false);
        fault.delay = int(integer(object, "delay", where + ".delay", false, 0, 0, 600000));
        fault.noAnswer = boolean(object, "noAnswer", where + ".noAnswer", false);
        fault.close = boolean(object, "close", where + ".close", false);
        fault.status = int(integer(object, "status", where + ".status", false, 200, 100, 599));
        fault.hasBody = object.contains("body");
        fault.body = string(object, "body", where + ".body", false).toUtf8();
        return fault;
    }

    ServiceConfig::Listen listen(const QJsonValue &value, const QString &where)
    {
        ServiceConfig::Listen listen;
        const QJsonObject object = this->object(value, where);
        allowOnly(object, where, { "address", "port", "tls" });
        listen.address = address(object, "address", where + ".address");
        listen.port = quint16(integer(object, "port", where + ".port", true, 0, 0, 65535));
        listen.tls = boolean(object, "tls", where + ".tls", false);
        return listen;
    }
};

} // namespace

bool ServiceConfig::load(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1: cannot read: %2").arg(fileName, file.errorString());
        return false;
    }
    // A configuration file is small; a huge one is a mistake, not something to load.
    if (file.size() > 4 * 1024 * 1024) {
        m_error = QStringLiteral("%1: larger than 4 MiB").arg(fileName);
        return false;
    }
    if (!parse(file.readAll())) {
        m_error = fileName + QStringLiteral(": ") + m_error;
        return false;
    }
    return true;
}

bool ServiceConfig::parse(const QByteArray &json)
{
    *this = ServiceConfig();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = json.left(parseError.offset).count('\n') + 1;
        m_error = QStringLiteral("line %1: %2").arg(line).arg(parseError.errorString());
        return false;
    }
    Reader r;
    if (!document.isObject()) {
        m_error = QStringLiteral("the top level must be an object");
        return false;
    }
    const QJsonObject root = document.object();
    r.allowOnly(root, "(top level)", { "mainServer", "users", "servers", "endpoints", "gateways" });

    const QJsonObject main = r.object(root.value("mainServer"), "mainServer");
    r.allowOnly(
        main, "mainServer", { "listen", "certificate", "key", "optionalVersion", "mandatoryVersion", "faults" });
    const QJsonArray listens = r.array(main, "listen", "mainServer.listen", true);
    bool anyTls = false;
    for (int i = 0; i < listens.size(); ++i) {
        mainServerListen.append(r.listen(listens.at(i), QStringLiteral("mainServer.listen[%1]").arg(i)));
        anyTls = anyTls || mainServerListen.last().tls;
    }
    certificateFile = r.string(main, "certificate", "mainServer.certificate", anyTls);
    keyFile = r.string(main, "key", "mainServer.key", anyTls);
    const QRegularExpression dotted(QStringLiteral("^[0-9]+(\\.[0-9]+){0,3}$"));
    optionalVersion = r.string(main, "optionalVersion", "mainServer.optionalVersion", false, optionalVersion);
    mandatoryVersion = r.string(main, "mandatoryVersion", "mainServer.mandatoryVersion", false, mandatoryVersion);
    if (!dotted.match(optionalVersion).hasMatch())
        r.fail("mainServer.optionalVersion", QStringLiteral("expected a dotted version such as 1.6.7"));
    if (!dotted.match(mandatoryVersion).hasMatch())
        r.fail("mainServer.mandatoryVersion", QStringLiteral("expected a dotted version such as 1.6.7"));
    const QJsonObject faultObject = main.value("faults").toObject();
    if (main.contains("faults"))
        r.object(main.value("faults"), "mainServer.faults");
    r.allowOnly(faultObject, "mainServer.faults", Commands);
    for (auto it = faultObject.begin(); it != faultObject.end(); ++it)
        faults.insert(it.key(), r.fault(it.value(), "mainServer.faults." + it.key()));

    const QRegularExpression md5(QStringLiteral("^[0-9a-f]{32}$"));
    const QJsonArray userArray = r.array(root, "users", "users", true);
    for (int i = 0; i < userArray.size(); ++i) {
        const QString where = QStringLiteral("users[%1]").arg(i);
        const QJsonObject object = r.object(userArray.at(i), where);
        r.allowOnly(object, where, { "username", "password", "subscription", "bandwidth", "ports", "premium" });
        User user;
        user.username = r.string(object, "username", where + ".username", true);
        user.passwordDigest = r.string(object, "password", where + ".password", true);
        user.subscription = r.string(object, "subscription", where + ".subscription", false);
        user.bandwidth = r.string(object, "bandwidth", where + ".bandwidth", false, QStringLiteral("0"));
        user.ports = int(r.integer(object, "ports", where + ".ports", false, 0, 0, 65535));
        user.premium = r.boolean(object, "premium", where + ".premium", false);
        if (!r.failed() && user.username.isEmpty())
            r.fail(where + ".username", QStringLiteral("must not be empty"));
        if (!r.failed() && !md5.match(user.passwordDigest).hasMatch())
            r.fail(where + ".password",
                QStringLiteral("expected the lower-case hex MD5 digest of the password "
                               "(32 characters, as from md5sum)"));
        if (!r.failed() && this->user(user.username))
            r.fail(where + ".username", QStringLiteral("\"%1\" is listed twice").arg(user.username));
        users.append(user);
    }

    QSet<int> serverIds;
    const QJsonArray serverArray = r.array(root, "servers", "servers", true);
    for (int i = 0; i < serverArray.size(); ++i) {
        const QString where = QStringLiteral("servers[%1]").arg(i);
        const QJsonObject object = r.object(serverArray.at(i), where);
        r.allowOnly(object, where, { "id", "name", "state", "bandwidth", "countries" });
        Server server;
        server.id = int(r.integer(object, "id", where + ".id", true, 0, 0, 2147483647));
        server.name = r.string(object, "name", where + ".name", true);
        server.state = int(r.integer(object, "state", where + ".state", false, 1, 0, 9));
        server.bandwidth = int(r.integer(object, "bandwidth", where + ".bandwidth", false, 0, 0, 100));
        if (!r.failed() && serverIds.contains(server.id))
            r.fail(where + ".id", QStringLiteral("%1 is used twice").arg(server.id));
        serverIds.insert(server.id);
        const QJsonArray countryArray = r.array(object, "countries", where + ".countries", true);
        for (int c = 0; c < countryArray.size(); ++c) {
            const QString countryWhere = where + QStringLiteral(".countries[%1]").arg(c);
            const QJsonObject countryObject = r.object(countryArray.at(c), countryWhere);
            r.allowOnly(countryObject, countryWhere, { "code", "tunnels" });
            Country country;
            country.code = r.string(countryObject, "code", countryWhere + ".code", true);
            const QJsonArray tunnelArray = r.array(countryObject, "tunnels", countryWhere + ".tunnels", true);
            for (int t = 0; t < tunnelArray.size(); ++t) {
                const QString tw = countryWhere + QStringLiteral(".tunnels[%1]").arg(t);
                const QJsonObject to = r.object(tunnelArray.at(t), tw);
                r.allowOnly(to, tw, { "id", "type", "name", "hostname", "address", "protocols", "slots", "state" });
                Tunnel tunnel;
                tunnel.id = int(r.integer(to, "id", tw + ".id", true, 0, 0, 2147483647));
                tunnel.type = int(r.integer(to, "type", tw + ".type", false, 0, 0, 2));
                tunnel.name = r.string(to, "name", tw + ".name", true);
                tunnel.hostname = r.string(to, "hostname", tw + ".hostname", false);
                tunnel.address = r.string(to, "address", tw + ".address", false);
                tunnel.protocols = int(r.integer(to, "protocols", tw + ".protocols", false, 7, 0, 7));
                tunnel.load = int(r.integer(to, "slots", tw + ".slots", false, 0, 0, 100));
                tunnel.state = int(r.integer(to, "state", tw + ".state", false, 1, 0, 9));
                country.tunnels.append(tunnel);
            }
            server.countries.append(country);
        }
        servers.append(server);
    }

    const QJsonArray endpointArray = r.array(root, "endpoints", "endpoints", false);
    for (int i = 0; i < endpointArray.size(); ++i) {
        const QString where = QStringLiteral("endpoints[%1]").arg(i);
        const QJsonObject object = r.object(endpointArray.at(i), where);
        r.allowOnly(object, where, { "address", "port", "openvpn", "ping", "transport" });
        Endpoint endpoint;
        endpoint.listen.address = r.address(object, "address", where + ".address");
        endpoint.listen.port = quint16(r.integer(object, "port", where + ".port", false, 80, 0, 65535));
        const QJsonObject openvpn = r.object(object.value("openvpn"), where + ".openvpn");
        r.allowOnly(openvpn, where + ".openvpn", { "address", "port" });
        endpoint.openvpnAddress = r.address(openvpn, "address", where + ".openvpn.address");
        endpoint.openvpnPort = quint16(r.integer(openvpn, "port", where + ".openvpn.port", false, 443, 1, 65535));
        if (object.contains("ping"))
            endpoint.ping = r.fault(object.value("ping"), where + ".ping");
        if (!endpoint.ping.hasBody) {
            endpoint.ping.hasBody = true;
            endpoint.ping.body = "pong";
        }
        if (!endpoint.ping.code.isEmpty())
            r.fail(where + ".ping.code", QStringLiteral("the probe has no reply code; use \"body\" or \"status\""));
        const QJsonObject transport = object.value("transport").toObject();
        if (object.contains("transport"))
            r.object(object.value("transport"), where + ".transport");
        const QString tw = where + ".transport";
        r.allowOnly(transport, tw, { "streaming" });
        endpoint.streaming = r.boolean(transport, "streaming", tw + ".streaming", true);
        endpoints.append(endpoint);
    }

    const QJsonArray gatewayArray = r.array(root, "gateways", "gateways", false);
    for (int i = 0; i < gatewayArray.size(); ++i) {
        const QString where = QStringLiteral("gateways[%1]").arg(i);
        const QJsonObject object = r.object(gatewayArray.at(i), where);
        r.allowOnly(object, where,
            { "address", "ssdpPort", "httpPort", "locationWithoutPort", "locationHeader", "controlUrlLast",
                "withoutWanIpConnection", "subscriptionTimeout", "refusedPorts", "extraEntries", "splitNotify",
                "externalAddress" });
        Gateway gateway;
        gateway.address = r.address(object, "address", where + ".address");
        gateway.ssdpPort = quint16(r.integer(object, "ssdpPort", where + ".ssdpPort", false, 1900, 0, 65535));
        gateway.locationWithoutPort = r.boolean(object, "locationWithoutPort", where + ".locationWithoutPort", false);
        const int defaultPort = gateway.locationWithoutPort ? 80 : 5000;
        gateway.httpPort = quint16(r.integer(object, "httpPort", where + ".httpPort", false, defaultPort, 0, 65535));
        if (gateway.locationWithoutPort && gateway.httpPort != 80)
            r.fail(where + ".httpPort", QStringLiteral("must be 80 when the LOCATION names no port"));
        gateway.locationHeader
            = r.string(object, "locationHeader", where + ".locationHeader", false, gateway.locationHeader);
        if (gateway.locationHeader.compare(QLatin1String("LOCATION"), Qt::CaseInsensitive) != 0)
            r.fail(where + ".locationHeader", QStringLiteral("expected LOCATION written in any case"));
        gateway.controlUrlLast = r.boolean(object, "controlUrlLast", where + ".controlUrlLast", false);
        gateway.withoutWanIpConnection
            = r.boolean(object, "withoutWanIpConnection", where + ".withoutWanIpConnection", false);
        gateway.subscriptionTimeout
            = int(r.integer(object, "subscriptionTimeout", where + ".subscriptionTimeout", false, 1800, 1, 86400));
        const QJsonArray refused = r.array(object, "refusedPorts", where + ".refusedPorts", false);
        for (int p = 0; p < refused.size(); ++p) {
            const QJsonObject holder { { "port", refused.at(p) } };
            gateway.refusedPorts.append(quint16(
                r.integer(holder, "port", where + QStringLiteral(".refusedPorts[%1]").arg(p), true, 0, 1, 65535)));
        }
        gateway.extraEntries = int(r.integer(object, "extraEntries", where + ".extraEntries", false, 0, 0, 16));
        gateway.splitNotify = r.boolean(object, "splitNotify", where + ".splitNotify", false);
        if (object.contains("externalAddress"))
            gateway.externalAddress = r.address(object, "externalAddress", where + ".externalAddress").toString();
        gateways.append(gateway);
    }

    m_error = r.error;
    return !r.failed();
}

const ServiceConfig::User *ServiceConfig::user(const QString &username) const
{
    for (const User &user : users) {
        if (user.username == username)
            return &user;
    }
    return nullptr;
}

const ServiceConfig::Tunnel *ServiceConfig::tunnel(int id, const Server **owner) const
{
    for (const Server &server : servers) {
        for (const Country &country : server.countries) {
            for (const Tunnel &tunnel : country.tunnels) {
                if (tunnel.id != id)
                    continue;
                if (owner)
                    *owner = &server;
                return &tunnel;
            }
        }
    }
    return nullptr;
}
