// Every reader of the gateway's bytes on arbitrary input: no read past the end, no crash, and the
// bounds of the event listener hold.
#include "upnp/upnpmessages.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    UPnPMessages::Location location;
    if (UPnPMessages::parseLocation(bytes, &location)) {
        check(!location.url.isEmpty());
        if (UPnPMessages::isGatewayLocation(location, QHostAddress(QStringLiteral("198.18.0.1"))))
            check(location.host == QLatin1String("198.18.0.1") && location.port != 0 && !location.url.contains('@'));
    }

    // Whatever the description names, requests stay on the gateway and their lines whole.
    const QString path
        = UPnPMessages::gatewayPath(QString::fromLatin1(bytes), QStringLiteral("http://198.18.0.1:5000/d"));
    if (!path.isNull()) {
        check(path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//")));
        for (const QChar character : path)
            check(character.unicode() > 0x20 && character.unicode() < 0x7f && character != QLatin1Char('@'));
    }

    QString controlURL;
    QString eventSubURL;
    if (UPnPMessages::parseDescription(bytes, &controlURL, &eventSubURL))
        check(!controlURL.isEmpty() && !eventSubURL.isEmpty());

    UPnPMessages::parseMappingEntry(bytes, QString());

    const UPnPMessages::SubscriptionReply reply = UPnPMessages::parseSubscriptionReply(bytes);
    check(UPnPMessages::renewalInterval(reply.timeoutSeconds) >= 1000);

    const int length = UPnPMessages::eventRequestLength(bytes);
    check(length <= int(size) && length <= UPnPMessages::MaxEventHeaderSize + UPnPMessages::MaxEventBodySize);
    if (length > 0)
        check(UPnPMessages::eventRequestLength(bytes.left(length)) == length);

    QString externalIpAddress;
    quint16 numberOfEntries = 0;
    UPnPMessages::parseEventProperties(bytes, &externalIpAddress, &numberOfEntries);

    // Whatever a value holds, it cannot break the request it lands in.
    const QString text = QString::fromLatin1(bytes);
    const QByteArray add = UPnPMessages::addPortMappingBody(1, text, 1, text, text);
    check(add.count("<NewPortMappingDescription ") == 1 && add.count("</NewPortMappingDescription>") == 1
        && add.count("<NewProtocol ") == 1 && add.count("</NewInternalClient>") == 1);
    return 0;
}
