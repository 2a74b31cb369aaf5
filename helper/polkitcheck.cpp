#include "helper/polkitcheck.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMap>

namespace {

using Details = QMap<QString, QString>;

// CheckAuthorization's flag that lets polkit ask the user (auth_admin_keep).
constexpr uint AllowUserInteraction = 1;

QDBusArgument busNameSubject(const QString &busName)
{
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name");
    subject.beginMap(QVariant::String, qMetaTypeId<QDBusVariant>());
    subject.beginMapEntry();
    subject << QStringLiteral("name") << QDBusVariant(busName);
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();
    return subject;
}

// (bba{ss}): authorized, challenge, details.
bool isAuthorized(const QDBusMessage &reply, QString *reason)
{
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *reason = QStringLiteral("polkit did not answer: ") + reply.errorMessage();
        return false;
    }
    if (reply.signature() != QLatin1String("(bba{ss})")) {
        *reason = QStringLiteral("polkit's answer has an unexpected form");
        return false;
    }
    const QDBusArgument result = reply.arguments().first().value<QDBusArgument>();
    bool authorized = false;
    bool challenge = false;
    Details details;
    result.beginStructure();
    result >> authorized >> challenge >> details;
    result.endStructure();
    if (!authorized)
        *reason = challenge ? QStringLiteral("authentication is required") : QStringLiteral("not authorized");
    return authorized;
}

} // namespace

PolkitCheck::PolkitCheck(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<Details>();
}

void PolkitCheck::check(const QString &busName, const QString &actionId, bool interactive,
    const std::function<void(bool authorized, const QString &reason)> &done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
        QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
        QStringLiteral("CheckAuthorization"));
    call << QVariant::fromValue(busNameSubject(busName)) << actionId << QVariant::fromValue(Details())
         << uint(interactive ? AllowUserInteraction : 0) << QString();
    auto *watcher
        = new QDBusPendingCallWatcher(m_bus.asyncCall(call, interactive ? InteractiveTimeout : Timeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done] {
        watcher->deleteLater();
        QString reason;
        const bool authorized = isAuthorized(watcher->reply(), &reason);
        done(authorized, reason);
    });
}
