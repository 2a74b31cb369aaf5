// A main-server reply body, whatever bytes it holds, read as the works read it: the reply code, then the server
// list. No crash, a status that follows the code, and no more entries than the body has elements.
#include "core/mainservercall.h"
#include "core/serverlist.h"

#include <QDomDocument>
#include <QVariantHash>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void checkServerList(const QByteArray &body, const QDomElement &root)
{
    const int elements = body.count('<');
    const QList<QVariant> servers = ServerList::read(root);
    check(servers.size() <= elements);
    int entries = servers.size();
    for (const QVariant &serverValue : servers) {
        const QVariantList countries = serverValue.toHash().value(QStringLiteral("countries")).toList();
        entries += countries.size();
        for (const QVariant &countryValue : countries)
            entries += countryValue.toHash().value(QStringLiteral("tunnels")).toList().size();
    }
    check(entries <= elements);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    // As the main-server access object reads a body: without namespace processing.
    QDomDocument document;
    document.setContent(body, false);
    const QDomElement root = document.documentElement();

    const MainServerReply reply = MainServerCall::reply(root);
    check(reply.status != MainServerReply::NoReply);
    check((reply.status == MainServerReply::Ok) == (reply.code == QLatin1String("OK")));
    check((reply.status == MainServerReply::Denied) == (reply.code == QLatin1String("DENIED")));
    check(reply.code.size() <= body.size());

    checkServerList(body, root);
    ServerList::isPremium(root);
    return 0;
}
