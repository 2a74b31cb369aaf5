#include "tests/support/privatenetwork.h"

#include "tests/support/commands.h"

#include <sched.h>
#include <unistd.h>

namespace PrivateNetwork {

namespace {

bool isEntered = false;

bool runIp(const QString &arguments, QString *errorString)
{
    QString output;
    if (ip(arguments, &output))
        return true;
    if (errorString)
        *errorString = QStringLiteral("ip %1: %2").arg(arguments, output);
    return false;
}

} // namespace

bool enter()
{
    isEntered = geteuid() == 0 && unshare(CLONE_NEWNET) == 0;
    return isEntered;
}

bool entered()
{
    return isEntered;
}

bool addAddress(const QString &address, QString *errorString)
{
    if (!entered()) {
        if (errorString)
            *errorString = QStringLiteral("not in a private network namespace");
        return false;
    }
    return runIp(QStringLiteral("link set lo up"), errorString)
        && runIp(QStringLiteral("addr add %1/32 dev lo").arg(address), errorString);
}

} // namespace PrivateNetwork
