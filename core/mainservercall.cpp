#include "core/mainservercall.h"

#include <QUrl>

namespace MainServerCall {

QString encodeQuery(const Query &query)
{
    QString encoded;
    for (const auto &item : query) {
        if (!encoded.isEmpty())
            encoded += QLatin1Char('&');
        encoded += item.first + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(item.second));
    }
    return encoded;
}

MainServerReply reply(const QDomElement &root)
{
    MainServerReply reply;
    reply.root = root;
    reply.code = root.firstChildElement(QStringLiteral("code")).text();
    // Codes compare case-sensitively.
    if (reply.code == QLatin1String("OK"))
        reply.status = MainServerReply::Ok;
    else if (reply.code == QLatin1String("DENIED"))
        reply.status = MainServerReply::Denied;
    else
        reply.status = MainServerReply::OtherCode;
    return reply;
}

} // namespace MainServerCall
