#include "tools/service/upnpgateway.h"

#include "tools/service/gatewaysubscription.h"
#include "tools/service/httpconnection.h"
#include "tools/service/servicelog.h"

#include <QUrl>
#include <QUuid>
#include <QXmlStreamReader>

namespace {

const QByteArray DescriptionPath = "/rootDesc.xml";
const QByteArray ControlPath = "/ctl/IPConn";
const QByteArray EventPath = "/evt/IPConn";
const QByteArray ServiceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
const QByteArray GatewayType = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
const QByteArray Server = "Linux/6 UPnP/1.1 nimbora-service/1.0";
const QByteArray XmlType = "text/xml; charset=\"utf-8\"";

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray envelope(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
        + body + "</s:Body></s:Envelope>\r\n";
}

QByteArray faultBody(int code)
{
    const char *text = "ActionFailed";
    switch (code) {
    case 401:
        text = "Invalid Action";
        break;
    case 402:
        text = "Invalid Args";
        break;
    case 713:
        text = "SpecifiedArrayIndexInvalid";
        break;
    case 714:
        text = "NoSuchEntryInArray";
        break;
    case 716:
        text = "WildCardNotPermittedInExtPort";
        break;
    case 718:
        text = "ConflictInMappingEntry";
        break;
    case 728:
        text = "NoPortMapsAvailable";
        break;
    }
    return envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                    "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>"
        + QByteArray::number(code) + "</errorCode><errorDescription>" + text
        + "</errorDescription></UPnPError></detail></s:Fault>");
}

QByteArray actionResponse(const QString &action, const QByteArray &arguments = QByteArray())
{
    return envelope("<u:" + action.toLatin1() + "Response xmlns:u=\"" + ServiceType + "\">" + arguments
        + "</u:" + action.toLatin1() + "Response>");
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    *port = quint16(value);
    return ok && value <= 65535;
}

// The action element in the SOAP body and its arguments by local name; false when the body is
// not such an envelope.
bool parseAction(const QByteArray &body, QString *action, QHash<QString, QString> *arguments)
{
    QXmlStreamReader reader(body);
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            ++depth;
            if (depth == 1 && reader.name() != QLatin1String("Envelope"))
                return false;
            if (depth == 2 && reader.name() != QLatin1String("Body"))
                return false;
            if (depth == 3 && action->isEmpty())
                *action = reader.name().toString();
            if (depth == 4) {
                const QString name = reader.name().toString();
                const QString value = reader.readElementText(QXmlStreamReader::SkipChildElements);
                if (!arguments->contains(name))
                    arguments->insert(name, value);
                --depth;
            }
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    return !reader.hasError() && !action->isEmpty();
}

} // namespace

UPnPGateway::UPnPGateway(const ServiceConfig::Gateway &gateway, QObject *parent) : QObject(parent), m_gateway(gateway)
{
    connect(&m_ssdpSocket, &QUdpSocket::readyRead, this, &UPnPGateway::ssdpReadyRead);
    connect(&m_httpServer, &QTcpServer::newConnection, this, &UPnPGateway::newConnection);
}

bool UPnPGateway::listen(QString *error)
{
    if (!m_httpServer.listen(m_gateway.address, m_gateway.httpPort)) {
        *error = QStringLiteral("gateway: cannot listen on %1:%2: %3")
                     .arg(m_gateway.address.toString())
                     .arg(m_gateway.httpPort)
                     .arg(m_httpServer.errorString());
        return false;
    }
    if (!m_ssdpSocket.bind(m_gateway.address, m_gateway.ssdpPort)) {
        *error = QStringLiteral("gateway: cannot bind UDP %1:%2: %3")
                     .arg(m_gateway.address.toString())
                     .arg(m_gateway.ssdpPort)
                     .arg(m_ssdpSocket.errorString());
        return false;
    }
    ServiceLog::problem(QStringLiteral("gateway listening on %1:%2 (SSDP on UDP port %3, LOCATION %4)")
                            .arg(m_gateway.address.toString())
                            .arg(m_httpServer.serverPort())
                            .arg(m_ssdpSocket.localPort())
                            .arg(QString::fromLatin1(location())));
    return true;
}

void UPnPGateway::ssdpReadyRead()
{
    while (m_ssdpSocket.hasPendingDatagrams()) {
        const qint64 size = m_ssdpSocket.pendingDatagramSize();
        QByteArray datagram(int(qBound<qint64>(0, size, MaximumDatagram)), Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 read = m_ssdpSocket.readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (read < 0 || size > MaximumDatagram) {
            ServiceLog::problem(
                QStringLiteral("gateway: datagram of %1 bytes from %2 ignored").arg(size).arg(sender.toString()));
            continue;
        }
        datagram.truncate(int(read));
        answerSearch(datagram, sender, senderPort);
    }
}

void UPnPGateway::answerSearch(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort)
{
    const QList<QByteArray> lines = datagram.split('\n');
    if (!lines.first().startsWith("M-SEARCH * HTTP/1.1")) {
        ServiceLog::problem(QStringLiteral("gateway: datagram from %1 is not an M-SEARCH").arg(sender.toString()));
        return;
    }
    QHash<QByteArray, QByteArray> headers;
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            headers.insert(lines.at(i).left(colon).trimmed().toUpper(), lines.at(i).mid(colon + 1).trimmed());
    }
    const QByteArray st = headers.value("ST");
    if (headers.value("MAN") != "\"ssdp:discover\""
        || (st != "ssdp:all" && st != "upnp:rootdevice" && st != GatewayType)) {
        ServiceLog::problem(QStringLiteral("gateway: M-SEARCH from %1 for \"%2\" not answered")
                                .arg(sender.toString(), QString::fromLatin1(st.left(200))));
        return;
    }
    // A relay names the port of the application that searched; that one is answered.
    quint16 port = senderPort;
    if (headers.contains("PORT") && (!parsePort(QString::fromLatin1(headers.value("PORT")), &port) || port == 0)) {
        ServiceLog::problem(QStringLiteral("gateway: M-SEARCH from %1 with a bad PORT").arg(sender.toString()));
        return;
    }
    const QByteArray usn
        = "uuid:" + QUuid::createUuidV5(QUuid(), m_gateway.address.toString()).toByteArray(QUuid::WithoutBraces);
    const QByteArray answer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + st + "\r\nUSN: " + usn
        + "::" + st + "\r\nEXT:\r\nSERVER: " + Server + "\r\n" + m_gateway.locationHeader.toLatin1() + ": " + location()
        + "\r\n\r\n";
    // At once, not after a random part of MX seconds: tests need not wait for it.
    m_ssdpSocket.writeDatagram(answer, sender, port);
    ServiceLog::request(QStringLiteral("gateway: M-SEARCH from %1:%2 answered at port %3")
                            .arg(sender.toString())
                            .arg(senderPort)
                            .arg(port));
}

QByteArray UPnPGateway::location() const
{
    QByteArray url = "http://" + m_gateway.address.toString().toLatin1();
    if (!m_gateway.locationWithoutPort)
        url += ':' + QByteArray::number(m_httpServer.serverPort());
    return url + DescriptionPath;
}

QByteArray UPnPGateway::description() const
{
    const QByteArray type
        = m_gateway.withoutWanIpConnection ? "urn:schemas-upnp-org:service:WANPPPConnection:1" : ServiceType;
    const QByteArray control = "<controlURL>" + ControlPath + "</controlURL>";
    const QByteArray events = "<eventSubURL>" + EventPath + "</eventSubURL>";
    const QByteArray udn = QUuid::createUuidV5(QUuid(), m_gateway.address.toString()).toByteArray(QUuid::WithoutBraces);
    // Layer3Forwarding comes first with URLs of its own, as in real descriptions: only the URLs
    // that follow the WANIPConnection:1 type are the right ones.
    return "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion><device><deviceType>"
        + GatewayType
        + "</deviceType><friendlyName>Nimbora stand-in gateway</friendlyName><manufacturer>Ostrelle</manufacturer>"
          "<modelName>nimbora-service</modelName><UDN>uuid:"
        + udn
        + "</UDN><serviceList><service><serviceType>urn:schemas-upnp-org:service:Layer3Forwarding:1</serviceType>"
          "<serviceId>urn:upnp-org:serviceId:L3Forwarding1</serviceId><SCPDURL>/L3F.xml</SCPDURL>"
          "<controlURL>/ctl/L3F</controlURL><eventSubURL>/evt/L3F</eventSubURL></service></serviceList>"
          "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
          "<friendlyName>WANDevice</friendlyName><UDN>uuid:"
        + udn
        + "-1</UDN><deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
          "<friendlyName>WANConnectionDevice</friendlyName><UDN>uuid:"
        + udn + "-2</UDN><serviceList><service><serviceType>" + type
        + "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId><SCPDURL>/WANIPCn.xml</SCPDURL>"
        + (m_gateway.controlUrlLast ? events + control : control + events)
        + "</service></serviceList></device></deviceList></device></deviceList><presentationURL>http://"
        + m_gateway.address.toString().toLatin1() + "/</presentationURL></device></root>\r\n";
}

void UPnPGateway::newConnection()
{
    while (QTcpSocket *socket = m_httpServer.nextPendingConnection()) {
        HttpConnection *connection = HttpConnection::accept(socket, this);
        if (!connection)
            continue;
        connect(connection, &HttpConnection::requestStarted, this, &UPnPGateway::requestStarted);
        connect(connection, &HttpConnection::bodyReceived, this, &UPnPGateway::bodyReceived);
        connect(connection, &HttpConnection::requestFinished, this, &UPnPGateway::requestFinished);
        connect(connection, &HttpConnection::closed, this, &UPnPGateway::connectionClosed);
    }
}

void UPnPGateway::requestStarted(HttpConnection *connection)
{
    m_bodies.remove(connection);
    if (connection->request().contentLength > MaximumBody) {
        ServiceLog::problem(connection->peer() + QStringLiteral(" \"") + connection->request().describe()
            + QStringLiteral("\": body above %1 bytes").arg(MaximumBody));
        connection->respond(413, "text/plain", "Payload Too Large\n", HttpConnection::Close);
    }
}

void UPnPGateway::bodyReceived(HttpConnection *connection, const QByteArray &bytes)
{
    m_bodies[connection] += bytes; // bounded by the length checked when the request started
}

void UPnPGateway::connectionClosed(HttpConnection *connection)
{
    m_bodies.remove(connection);
}

void UPnPGateway::requestFinished(HttpConnection *connection)
{
    const HttpRequest &request = connection->request();
    const QByteArray body = m_bodies.take(connection);
    const QByteArray path = request.path.toLatin1();
    if (request.method == QLatin1String("GET") && path == DescriptionPath) {
        connection->respond(200, XmlType, description());
    } else if (request.method == QLatin1String("POST") && path == ControlPath) {
        control(connection, body);
    } else if (request.method == QLatin1String("SUBSCRIBE") && path == EventPath) {
        subscribe(connection);
    } else if (request.method == QLatin1String("UNSUBSCRIBE") && path == EventPath) {
        unsubscribe(connection);
    } else {
        ServiceLog::problem(
            connection->peer() + QStringLiteral(" \"") + request.describe() + QStringLiteral("\": unknown path"));
        connection->respond(404, "text/plain", "Not Found\n");
    }
}

void UPnPGateway::control(HttpConnection *connection, const QByteArray &body)
{
    QString soapAction = connection->request().header(QStringLiteral("soapaction"));
    if (soapAction.size() >= 2 && soapAction.startsWith(QLatin1Char('"')) && soapAction.endsWith(QLatin1Char('"')))
        soapAction = soapAction.mid(1, soapAction.size() - 2);
    QString action;
    QHash<QString, QString> arguments;
    int fault = 0;
    QByteArray answer;
    if (!parseAction(body, &action, &arguments)) {
        ServiceLog::problem(connection->peer() + QStringLiteral(": SOAP body is not an envelope with an action"));
        fault = 401;
    } else if (soapAction != QString::fromLatin1(ServiceType) + QLatin1Char('#') + action) {
        ServiceLog::problem(connection->peer()
            + QStringLiteral(": SOAPAction \"%1\" does not name the action %2").arg(soapAction.left(200), action));
        fault = 401;
    } else if (action == QLatin1String("AddPortMapping")) {
        answer = addPortMapping(arguments, &fault);
    } else if (action == QLatin1String("DeletePortMapping")) {
        answer = deletePortMapping(arguments, &fault);
    } else if (action == QLatin1String("GetGenericPortMappingEntry")) {
        answer = portMappingEntry(arguments, &fault);
    } else if (action == QLatin1String("GetExternalIPAddress")) {
        answer = actionResponse(
            action, "<NewExternalIPAddress>" + escaped(m_gateway.externalAddress) + "</NewExternalIPAddress>");
    } else {
        ServiceLog::problem(connection->peer() + QStringLiteral(": unknown action %1").arg(action.left(200)));
        fault = 401;
    }
    if (fault != 0) {
        ServiceLog::request(QStringLiteral("gateway: %1 answered with fault %2").arg(action.left(200)).arg(fault));
        connection->respond(
            500, XmlType, faultBody(fault), HttpConnection::KeepAlive, "EXT:\r\nSERVER: " + Server + "\r\n");
        return;
    }
    connection->respond(200, XmlType, answer, HttpConnection::KeepAlive, "EXT:\r\nSERVER: " + Server + "\r\n");
}

int UPnPGateway::mappingIndex(quint16 externalPort, const QString &protocol) const
{
    for (int i = 0; i < m_mappings.size(); ++i) {
        if (m_mappings.at(i).externalPort == externalPort && m_mappings.at(i).protocol == protocol)
            return i;
    }
    return -1;
}

QByteArray UPnPGateway::addPortMapping(const QHash<QString, QString> &arguments, int *fault)
{
    Mapping mapping;
    QHostAddress client;
    mapping.protocol = arguments.value(QStringLiteral("NewProtocol"));
    mapping.internalClient = arguments.value(QStringLiteral("NewInternalClient"));
    mapping.description = arguments.value(QStringLiteral("NewPortMappingDescription")).left(256);
    mapping.leaseDuration = arguments.value(QStringLiteral("NewLeaseDuration"), QStringLiteral("0"));
    bool leaseOk = false;
    mapping.leaseDuration.toUInt(&leaseOk);
    if (!parsePort(arguments.value(QStringLiteral("NewExternalPort")), &mapping.externalPort)
        || !parsePort(arguments.value(QStringLiteral("NewInternalPort")), &mapping.internalPort)
        || mapping.internalPort == 0 || !leaseOk
        || (mapping.protocol != QLatin1String("TCP") && mapping.protocol != QLatin1String("UDP"))
        || !client.setAddress(mapping.internalClient) || client.protocol() != QAbstractSocket::IPv4Protocol) {
        *fault = 402;
        return QByteArray();
    }
    const int index = mappingIndex(mapping.externalPort, mapping.protocol);
    if (mapping.externalPort == 0)
        *fault = 716;
    else if (m_gateway.refusedPorts.contains(mapping.externalPort))
        *fault = 718;
    else if (index >= 0 && m_mappings.at(index).internalClient != mapping.internalClient)
        *fault = 718;
    else if (index < 0 && m_mappings.size() >= MaximumMappings)
        *fault = 728;
    if (*fault != 0)
        return QByteArray();
    if (index >= 0)
        m_mappings[index] = mapping;
    else
        m_mappings.append(mapping);
    ServiceLog::request(QStringLiteral("gateway: mapping %1/%2 -> %3:%4 \"%5\" added")
                            .arg(mapping.externalPort)
                            .arg(mapping.protocol, mapping.internalClient)
                            .arg(mapping.internalPort)
                            .arg(mapping.description));
    announce();
    return actionResponse(QStringLiteral("AddPortMapping"));
}

QByteArray UPnPGateway::deletePortMapping(const QHash<QString, QString> &arguments, int *fault)
{
    quint16 externalPort = 0;
    if (!parsePort(arguments.value(QStringLiteral("NewExternalPort")), &externalPort)) {
        *fault = 402;
        return QByteArray();
    }
    const QString protocol = arguments.value(QStringLiteral("NewProtocol"));
    const int index = mappingIndex(externalPort, protocol);
    if (index < 0) {
        *fault = 714;
        return QByteArray();
    }
    m_mappings.removeAt(index);
    ServiceLog::request(QStringLiteral("gateway: mapping %1/%2 deleted").arg(externalPort).arg(protocol));
    announce();
    return actionResponse(QStringLiteral("DeletePortMapping"));
}

QByteArray UPnPGateway::portMappingEntry(const QHash<QString, QString> &arguments, int *fault) const
{
    bool ok = false;
    const uint index = arguments.value(QStringLiteral("NewPortMappingIndex")).toUInt(&ok);
    if (!ok) {
        *fault = 402;
        return QByteArray();
    }
    // Beyond the table, also where the events announced more entries than there are.
    if (index >= uint(m_mappings.size())) {
        *fault = 713;
        return QByteArray();
    }
    const Mapping &mapping = m_mappings.at(int(index));
    return actionResponse(QStringLiteral("GetGenericPortMappingEntry"),
        "<NewRemoteHost></NewRemoteHost><NewExternalPort>" + QByteArray::number(mapping.externalPort)
            + "</NewExternalPort><NewProtocol>" + escaped(mapping.protocol) + "</NewProtocol><NewInternalPort>"
            + QByteArray::number(mapping.internalPort) + "</NewInternalPort><NewInternalClient>"
            + escaped(mapping.internalClient) + "</NewInternalClient><NewEnabled>1</NewEnabled>"
            + "<NewPortMappingDescription>" + escaped(mapping.description)
            + "</NewPortMappingDescription><NewLeaseDuration>" + escaped(mapping.leaseDuration)
            + "</NewLeaseDuration>");
}

void UPnPGateway::subscribe(HttpConnection *connection)
{
    const HttpRequest &request = connection->request();
    const QString sid = request.header(QStringLiteral("sid"));
    const QString callback = request.header(QStringLiteral("callback"));
    const QString nt = request.header(QStringLiteral("nt"));
    const QString problemStart
        = connection->peer() + QStringLiteral(" \"") + request.describe() + QStringLiteral("\": ");
    GatewaySubscription *subscription = nullptr;
    for (int i = m_subscriptions.size() - 1; i >= 0; --i) {
        if (m_subscriptions.at(i)->hasExpired())
            delete m_subscriptions.takeAt(i);
    }
    if (!sid.isEmpty()) {
        if (!callback.isEmpty() || !nt.isEmpty()) {
            ServiceLog::problem(problemStart + QStringLiteral("SID together with CALLBACK or NT"));
            connection->respond(400, "text/plain", "Bad Request\n");
            return;
        }
        for (GatewaySubscription *known : qAsConst(m_subscriptions)) {
            if (known->sid() == sid)
                subscription = known;
        }
        if (!subscription) {
            ServiceLog::problem(problemStart + QStringLiteral("unknown or expired SID"));
            connection->respond(412, "text/plain", "Precondition Failed\n");
            return;
        }
        subscription->renew();
    } else {
        // Only an address is taken, never a name: the stand-in resolves nothing.
        const int open = callback.indexOf(QLatin1Char('<'));
        const int close = callback.indexOf(QLatin1Char('>'), open + 1);
        const QUrl url(open < 0 || close < 0 ? QString() : callback.mid(open + 1, close - open - 1), QUrl::StrictMode);
        QHostAddress address;
        if (nt != QLatin1String("upnp:event") || !url.isValid() || url.scheme() != QLatin1String("http")
            || !address.setAddress(url.host()) || address.protocol() != QAbstractSocket::IPv4Protocol
            || url.port(80) <= 0) {
            ServiceLog::problem(
                problemStart + QStringLiteral("NT must be upnp:event and CALLBACK <http://IPv4 address[:port]/path>"));
            connection->respond(412, "text/plain", "Precondition Failed\n");
            return;
        }
        if (m_subscriptions.size() >= MaximumSubscriptions) {
            ServiceLog::problem(problemStart + QStringLiteral("%1 subscribers already").arg(MaximumSubscriptions));
            connection->respond(503, "text/plain", "Service Unavailable\n");
            return;
        }
        const QString path
            = url.path(QUrl::FullyEncoded).isEmpty() ? QStringLiteral("/") : url.path(QUrl::FullyEncoded);
        subscription = new GatewaySubscription(
            address, quint16(url.port(80)), path, m_gateway.subscriptionTimeout, m_gateway.splitNotify, this);
        m_subscriptions.append(subscription);
    }
    ServiceLog::request(
        QStringLiteral("gateway: %1 %2 for %3 s, events to %4")
            .arg(sid.isEmpty() ? QStringLiteral("subscription") : QStringLiteral("renewal"), subscription->sid())
            .arg(m_gateway.subscriptionTimeout)
            .arg(subscription->callback()));
    connection->respond(200, QByteArray(), QByteArray(), HttpConnection::KeepAlive,
        "SERVER: " + Server + "\r\nSID: " + subscription->sid().toLatin1() + "\r\nTIMEOUT: Second-"
            + QByteArray::number(m_gateway.subscriptionTimeout) + "\r\n");
    // A new subscriber is first sent every evented variable.
    if (sid.isEmpty())
        subscription->notify(propertySet());
}

void UPnPGateway::unsubscribe(HttpConnection *connection)
{
    const QString sid = connection->request().header(QStringLiteral("sid"));
    for (int i = 0; i < m_subscriptions.size(); ++i) {
        if (m_subscriptions.at(i)->sid() == sid) {
            delete m_subscriptions.takeAt(i);
            ServiceLog::request(QStringLiteral("gateway: %1 unsubscribed").arg(sid));
            connection->respond(200, QByteArray(), QByteArray());
            return;
        }
    }
    ServiceLog::problem(connection->peer() + QStringLiteral(": UNSUBSCRIBE of an unknown SID"));
    connection->respond(412, "text/plain", "Precondition Failed\n");
}

QByteArray UPnPGateway::propertySet() const
{
    return "<?xml version=\"1.0\"?>\r\n<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">"
           "<e:property><PossibleConnectionTypes>IP_Routed</PossibleConnectionTypes></e:property>"
           "<e:property><ConnectionStatus>Connected</ConnectionStatus></e:property>"
           "<e:property><ExternalIPAddress>"
        + escaped(m_gateway.externalAddress)
        + "</ExternalIPAddress></e:property><e:property><PortMappingNumberOfEntries>"
        + QByteArray::number(m_mappings.size() + m_gateway.extraEntries)
        + "</PortMappingNumberOfEntries></e:property></e:propertyset>\r\n";
}

void UPnPGateway::announce()
{
    const QByteArray properties = propertySet();
    for (int i = m_subscriptions.size() - 1; i >= 0; --i) {
        if (m_subscriptions.at(i)->hasExpired())
            delete m_subscriptions.takeAt(i);
        else
            m_subscriptions.at(i)->notify(properties);
    }
}
