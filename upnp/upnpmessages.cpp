#include "upnp/upnpmessages.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <climits>

namespace UPnPMessages {

namespace {

const char EnvelopeOpening[] = "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
                               "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                               "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body>";
const char EnvelopeClosing[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

// Devices put NULs after their text now and then; what follows one is never read.
QString latin1Text(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromLatin1(bytes.constData(), end < 0 ? bytes.size() : end);
}

// The value of the first header line of that name, in any case; null when there is none.
QString headerValue(const QString &text, const QString &name)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && line.leftRef(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return QString();
}

// Characters that could end a request line or header, or bring user info into a URL.
bool hasUnsafeCharacter(const QString &url)
{
    for (const QChar character : url) {
        const ushort code = character.unicode();
        if (code <= 0x20 || code >= 0x7f || character == QLatin1Char('@') || character == QLatin1Char('\\'))
            return true;
    }
    return false;
}

QString unescaped(QString text)
{
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&apos;"), QLatin1String("'"));
    return text.replace(QLatin1String("&amp;"), QLatin1String("&"));
}

// The text of the first <name> element without attributes; null when it is absent or unclosed.
QString elementText(const QString &text, const QString &name)
{
    const QString opening = QLatin1Char('<') + name + QLatin1Char('>');
    const int start = text.indexOf(opening);
    if (start < 0)
        return QString();
    const int valueStart = start + opening.size();
    const int end = text.indexOf(QStringLiteral("</") + name + QLatin1Char('>'), valueStart);
    if (end < 0)
        return QString();
    return text.mid(valueStart, end - valueStart);
}

QByteArray valueElement(const char *name, const char *type, const QString &value)
{
    return QByteArray("<") + name + " xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"" + type + "\">"
        + value.toHtmlEscaped().toUtf8() + "</" + name + '>';
}

QByteArray actionBody(const char *action, const QByteArray &arguments)
{
    return EnvelopeOpening + QByteArray("<m:") + action + " xmlns:m=\"" + WANIPConnection + "\">" + arguments
        + "</m:" + action + '>' + EnvelopeClosing;
}

QByteArray mappingKey(quint16 externalPort, const QString &protocol)
{
    return valueElement("NewRemoteHost", "string", QString())
        + valueElement("NewExternalPort", "ui2", QString::number(externalPort))
        + valueElement("NewProtocol", "string", protocol);
}

} // namespace

QByteArray searchRequest()
{
    return QByteArrayLiteral("M-SEARCH * HTTP/1.1\r\n"
                             "HOST: 239.255.255.250:1900\r\n"
                             "MAN: \"ssdp:discover\"\r\n"
                             "MX: 3\r\n"
                             "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n");
}

QByteArray relayedSearch(const QByteArray &datagram, quint16 senderPort)
{
    QByteArray relayed = datagram;
    return relayed.insert(std::max(0, relayed.size() - 2), "PORT: " + QByteArray::number(senderPort) + "\r\n");
}

bool parseLocation(const QByteArray &datagram, Location *location)
{
    const QString url = headerValue(latin1Text(datagram), QStringLiteral("LOCATION"));
    if (url.isEmpty())
        return false;
    QString authority = url;
    if (authority.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        authority.remove(0, 7);
    const int pathStart = authority.indexOf(QLatin1Char('/'));
    if (pathStart >= 0)
        authority.truncate(pathStart);
    const int colon = authority.indexOf(QLatin1Char(':'));
    location->url = url;
    location->host = authority.left(colon < 0 ? authority.size() : colon);
    // An absent port is HTTP's own; a broken one is no port at all.
    location->port = colon < 0 ? 80 : authority.mid(colon + 1).toUShort();
    return true;
}

bool isGatewayLocation(const Location &location, const QHostAddress &gatewayAddress)
{
    if (gatewayAddress.isNull() || hasUnsafeCharacter(location.url)
        || !location.url.startsWith(QLatin1String("http://")))
        return false;
    // Both readings of the URL, ours and Qt's, must name the gateway and the same port.
    const QUrl url(location.url, QUrl::StrictMode);
    return url.isValid() && url.userInfo().isEmpty() && location.host == gatewayAddress.toString()
        && url.host() == location.host && location.port != 0 && url.port(80) == location.port;
}

QString gatewayPath(const QString &url, const QString &location)
{
    if (url.isEmpty() || hasUnsafeCharacter(url))
        return QString();
    const QUrl base(location, QUrl::StrictMode);
    const QUrl reference(url, QUrl::StrictMode);
    if (!base.isValid() || !reference.isValid())
        return QString();
    const QUrl resolved = base.resolved(reference);
    if (!resolved.isValid() || resolved.scheme() != QLatin1String("http") || !resolved.userInfo().isEmpty()
        || resolved.host() != base.host() || resolved.port(80) != base.port(80))
        return QString();
    QString path = resolved.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    // "/a/..//b" resolves to "//b", which a later reading would take for a host.
    if (path.startsWith(QLatin1String("//")))
        return QString();
    if (resolved.hasQuery())
        path += QLatin1Char('?') + resolved.query(QUrl::FullyEncoded);
    return path;
}

bool parseDescription(const QByteArray &description, QString *controlURL, QString *eventSubURL)
{
    const QString text = latin1Text(description);
    const QString serviceType = QLatin1String(WANIPConnection);
    const int typeStart = text.indexOf(serviceType);
    if (typeStart < 0)
        return false;
    // The URLs may come before the service type inside its <service> element.
    const int serviceStart = std::max(0, text.lastIndexOf(QLatin1String("<service>"), typeStart));
    int serviceEnd = text.indexOf(QLatin1String("</service>"), typeStart);
    if (serviceEnd < 0)
        serviceEnd = text.indexOf(serviceType, typeStart + serviceType.size());
    const QString service = text.mid(serviceStart, serviceEnd < 0 ? -1 : serviceEnd - serviceStart);
    const QString control = elementText(service, QStringLiteral("controlURL")).trimmed();
    const QString eventSub = elementText(service, QStringLiteral("eventSubURL")).trimmed();
    if (control.isEmpty() || eventSub.isEmpty())
        return false;
    *controlURL = control;
    *eventSubURL = eventSub;
    return true;
}

QHash<QString, QVariant> parseMappingEntry(const QByteArray &body, const QString &externalIpAddress)
{
    const QString text = latin1Text(body);
    const auto value = [&text](const char *name) { return unescaped(elementText(text, QLatin1String(name))); };
    QHash<QString, QVariant> entry;
    entry.insert(QStringLiteral("externalIpAddress"), externalIpAddress);
    entry.insert(QStringLiteral("externalPort"), int(value("NewExternalPort").trimmed().toUShort()));
    entry.insert(QStringLiteral("protocol"), value("NewProtocol"));
    entry.insert(QStringLiteral("internalPort"), int(value("NewInternalPort").trimmed().toUShort()));
    entry.insert(QStringLiteral("internalClient"), value("NewInternalClient"));
    entry.insert(QStringLiteral("description"), value("NewPortMappingDescription"));
    entry.insert(QStringLiteral("duration"), value("NewLeaseDuration"));
    return entry;
}

QByteArray soapAction(const QString &action)
{
    return '"' + QByteArray(WANIPConnection) + '#' + action.toLatin1() + '"';
}

QByteArray addPortMappingBody(quint16 externalPort, const QString &protocol, quint16 internalPort,
    const QString &internalClient, const QString &description)
{
    return actionBody("AddPortMapping",
        mappingKey(externalPort, protocol) + valueElement("NewInternalPort", "ui2", QString::number(internalPort))
            + valueElement("NewInternalClient", "string", internalClient)
            + valueElement("NewEnabled", "boolean", QStringLiteral("1"))
            + valueElement("NewPortMappingDescription", "string", description)
            + valueElement("NewLeaseDuration", "ui4", QStringLiteral("0")));
}

QByteArray deletePortMappingBody(quint16 externalPort, const QString &protocol)
{
    return actionBody("DeletePortMapping", mappingKey(externalPort, protocol));
}

QByteArray getGenericPortMappingEntryBody(int index)
{
    return actionBody("GetGenericPortMappingEntry", valueElement("NewPortMappingIndex", "ui2", QString::number(index)));
}

QByteArray subscribeRequest(
    const QString &eventSubURL, const QString &host, quint16 port, const QString &callbackAddress, quint16 callbackPort)
{
    return "SUBSCRIBE " + eventSubURL.toUtf8() + " HTTP/1.1\r\nHOST: " + host.toUtf8() + ':' + QByteArray::number(port)
        + "\r\nCALLBACK: <http://" + callbackAddress.toUtf8() + ':' + QByteArray::number(callbackPort) + EventPath
        + ">\r\nNT: upnp:event\r\nTIMEOUT: Second-1800\r\n\r\n";
}

QByteArray renewalRequest(const QString &eventSubURL, const QString &host, quint16 port, const QString &sid)
{
    return "SUBSCRIBE " + eventSubURL.toUtf8() + " HTTP/1.1\r\nHOST: " + host.toUtf8() + ':' + QByteArray::number(port)
        + "\r\nSID: " + sid.toUtf8() + "\r\nTIMEOUT: Second-1800\r\n\r\n";
}

int headerLength(const QByteArray &bytes)
{
    const int end = bytes.indexOf("\r\n\r\n");
    return end < 0 ? -1 : end + 4;
}

SubscriptionReply parseSubscriptionReply(const QByteArray &header)
{
    const QString text = latin1Text(header);
    const QStringList statusLine = text.left(text.indexOf(QLatin1Char('\n'))).split(QLatin1Char(' '));
    SubscriptionReply reply;
    reply.accepted = statusLine.size() > 1 && statusLine.at(0).startsWith(QLatin1String("HTTP/"))
        && statusLine.at(1) == QLatin1String("200");
    reply.sid = headerValue(text, QStringLiteral("SID"));
    const QString timeout = headerValue(text, QStringLiteral("TIMEOUT"));
    const int secondsStart = timeout.indexOf(QLatin1String("Second-"), 0, Qt::CaseInsensitive);
    bool isNumber = false;
    const int seconds = secondsStart < 0 ? -1 : timeout.mid(secondsStart + 7).trimmed().toInt(&isNumber);
    reply.timeoutSeconds = isNumber && seconds >= 0 ? seconds : -1;
    return reply;
}

int renewalInterval(int grantedSeconds)
{
    if (grantedSeconds < 0)
        return DefaultRenewalSeconds * 1000;
    // A gateway granting 10 s or less is still asked at most once a second.
    return std::clamp(grantedSeconds - 10, 1, INT_MAX / 1000) * 1000;
}

int eventRequestLength(const QByteArray &buffer)
{
    const int header = headerLength(buffer.left(MaxEventHeaderSize));
    if (header < 0)
        return buffer.size() >= MaxEventHeaderSize ? -1 : 0;
    const QString contentLength = headerValue(latin1Text(buffer.left(header)), QStringLiteral("Content-Length"));
    bool isNumber = contentLength.isNull();
    const int bodySize = isNumber ? 0 : contentLength.toInt(&isNumber);
    if (!isNumber || bodySize < 0 || bodySize > MaxEventBodySize)
        return -1;
    return buffer.size() >= header + bodySize ? header + bodySize : 0;
}

QString subscriptionId(const QByteArray &header)
{
    return headerValue(latin1Text(header), QStringLiteral("SID"));
}

bool parseEventProperties(const QByteArray &body, QString *externalIpAddress, quint16 *numberOfEntries)
{
    const QString text = latin1Text(body);
    const QLatin1String countTag("<PortMappingNumberOfEntries>");
    const int countStart = text.indexOf(countTag);
    if (countStart < 0)
        return false;
    const int countEnd = text.indexOf(QLatin1String("</PortMappingNumberOfEntries>"), countStart);
    const int valueStart = countStart + countTag.size();
    *numberOfEntries = text.mid(valueStart, countEnd < 0 ? -1 : countEnd - valueStart).trimmed().toUShort();
    *externalIpAddress = unescaped(elementText(text, QStringLiteral("ExternalIPAddress")).trimmed());
    return true;
}

} // namespace UPnPMessages
