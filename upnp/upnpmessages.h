#ifndef NIMBORA_UPNP_UPNPMESSAGES_H
#define NIMBORA_UPNP_UPNPMESSAGES_H

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QVariant>

// Every byte the UPnP service sends to the gateway or reads from it goes through here. Nothing
// touches the network, and every reader looks only at the bytes it is given.
namespace UPnPMessages {

constexpr char WANIPConnection[] = "urn:schemas-upnp-org:service:WANIPConnection:1";
constexpr char EventPath[] = "/upnp/eventing/nimbora";

// Event requests: a header longer than this, or a body announced longer, closes the connection.
constexpr int MaxEventHeaderSize = 16 * 1024;
constexpr int MaxEventBodySize = 64 * 1024;
// The gateway sends one notification per connection, one connection at a time: these bounds
// only ever stop a flood.
constexpr int MaxEventConnections = 8;
constexpr int MaxEventRequestsPerConnection = 16;
constexpr int EventConnectionTimeLimit = 30000;
// The subscription reply is judged once its header is whole, or at this size.
constexpr int MaxSubscriptionReplySize = 16 * 1024;
// Descriptions and SOAP answers larger than this are given up.
constexpr int MaxReplySize = 1024 * 1024;
// Renewal when the gateway grants no usable time.
constexpr int DefaultRenewalSeconds = 1790;

QByteArray searchRequest();
// The datagram with "PORT: <senderPort>" as its last header line, so that the gateway answers the
// local application directly.
QByteArray relayedSearch(const QByteArray &datagram, quint16 senderPort);

struct Location
{
    QString url;
    QString host;
    quint16 port = 0;
};
// The LOCATION header of an SSDP answer; false when there is none.
bool parseLocation(const QByteArray &datagram, Location *location);
// True when the location is a plain http URL whose host is the gateway's address, written as
// such, on a usable port and without user info.
bool isGatewayLocation(const Location &location, const QHostAddress &gatewayAddress);
// The path (and query) that requests to the description's own host and port carry for a
// control or event URL of the description found at location; null when the URL leads
// anywhere else or holds a character that could break a request line or header.
QString gatewayPath(const QString &url, const QString &location);

// The control and event subscription paths of the WANIPConnection:1 service of a device
// description; false when the description has no such service.
bool parseDescription(const QByteArray &description, QString *controlURL, QString *eventSubURL);

// A GetGenericPortMappingEntry answer as a mapping entry.
QHash<QString, QVariant> parseMappingEntry(const QByteArray &body, const QString &externalIpAddress);

QByteArray soapAction(const QString &action);
QByteArray addPortMappingBody(quint16 externalPort, const QString &protocol, quint16 internalPort,
    const QString &internalClient, const QString &description);
QByteArray deletePortMappingBody(quint16 externalPort, const QString &protocol);
QByteArray getGenericPortMappingEntryBody(int index);

QByteArray subscribeRequest(const QString &eventSubURL, const QString &host, quint16 port,
    const QString &callbackAddress, quint16 callbackPort);
QByteArray renewalRequest(const QString &eventSubURL, const QString &host, quint16 port, const QString &sid);

// Bytes of the reply's header, up to and including its blank line; -1 while it is incomplete.
int headerLength(const QByteArray &bytes);

struct SubscriptionReply
{
    bool accepted = false;
    QString sid;
    int timeoutSeconds = -1; // -1 when missing or not a number
};
SubscriptionReply parseSubscriptionReply(const QByteArray &header);
// Milliseconds until the renewal: 10 s before the granted time ends.
int renewalInterval(int grantedSeconds);

// Length of the first whole request of the buffer (header and Content-Length body); 0 while
// incomplete, -1 when it breaks the bounds or its Content-Length is not a number.
int eventRequestLength(const QByteArray &buffer);
// The SID header of an event request; null when there is none.
QString subscriptionId(const QByteArray &header);
// The property set of a NOTIFY body; false when it does not announce a mapping count.
bool parseEventProperties(const QByteArray &body, QString *externalIpAddress, quint16 *numberOfEntries);

} // namespace UPnPMessages

#endif
