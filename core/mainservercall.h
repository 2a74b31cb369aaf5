#ifndef NIMBORA_CORE_MAINSERVERCALL_H
#define NIMBORA_CORE_MAINSERVERCALL_H

#include "core/mainserveraccess.h"

#include <QDomElement>
#include <QList>
#include <QPair>
#include <QString>

// What a work makes of one main-server call: no usable reply, "DENIED", another code, or "OK"
// with the reply's root element. Each work maps these to its own errors.
struct MainServerReply
{
    enum Status { NoReply, Denied, OtherCode, Ok };

    Status status = NoReply;
    QString code; // the reply's "code" element, empty without a reply
    QDomElement root;
};

namespace MainServerCall {

using Query = QList<QPair<QString, QString>>;

// "name=value&..." with each value percent-encoded, so that "&", "+" or "=" in a user name or
// a digest cannot change the query; letters and digits go out as they are.
QString encodeQuery(const Query &query);

// What a reply's root element says; a null element, from a body that is not XML, reads as another code.
MainServerReply reply(const QDomElement &root);

inline MainServerReply reply(const MainServerAccess &access, const QDomElement &root)
{
    return access.error() == QNetworkReply::NoError ? reply(root) : MainServerReply();
}

// One call on the calling thread. The access object's proxy credential requests are emitted as
// the work's own signal, on the same thread, so the work's blocking connection to the GUI holds.
template <typename Work, typename Signal>
MainServerReply call(
    Work *work, Signal proxyAuthenticationRequired, MainServerAccess::Command command, const Query &query)
{
    MainServerAccess access;
    QObject::connect(&access, &MainServerAccess::proxyAuthenticationRequired, work, proxyAuthenticationRequired,
        Qt::DirectConnection);
    const QDomElement root = access.request(command, encodeQuery(query));
    return reply(access, root);
}

} // namespace MainServerCall

#endif
