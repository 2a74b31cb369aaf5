#include "connection/trafficblock.h"

#include "privileged/helperprotocol.h"
#include "privileged/killswitch.h"
#include "privileged/statedirectory.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

QDBusMessage askHelper(const QString &method, bool interactive)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(HelperProtocol::Service),
        QLatin1String(HelperProtocol::Path), QLatin1String(HelperProtocol::Interface), method);
    call.setInteractiveAuthorizationAllowed(interactive);
    return QDBusConnection::systemBus().call(call, QDBus::Block, HelperProtocol::CallTimeout);
}

} // namespace

bool TrafficBlock::isInPlace()
{
    if (StateDirectory::changesInProcess())
        return KillSwitch(StateDirectory::blockPath()).isInPlace();
    // A helper out of reach holds no block this program could see or lift.
    const QDBusMessage reply = askHelper(QStringLiteral("IsBlocked"), false);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool TrafficBlock::lift(QString *errorString)
{
    if (StateDirectory::changesInProcess())
        return KillSwitch(StateDirectory::blockPath()).lift(errorString);
    const QDBusMessage reply = askHelper(QStringLiteral("Unblock"), true);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    *errorString = QStringLiteral("The Nimbora helper refused to lift the block: %1 (%2)")
                       .arg(reply.errorMessage(), reply.errorName());
    return false;
}
