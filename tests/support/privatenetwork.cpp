#include "tests/support/privatenetwork.h"

#include <QProcess>

#include <sched.h>
#include <unistd.h>

namespace PrivateNetwork {

namespace {

bool &enteredFlag()
{
    static bool value = false;
    return value;
}

bool runIp(const QStringList &arguments, QString *errorString)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (errorString) {
        *errorString = QStringLiteral("ip %1: %2 %3")
                           .arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                               QString::fromLocal8Bit(process.readAll()));
    }
    return false;
}

} // namespace

bool enter()
{
    if (geteuid() != 0)
        return false;
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    enteredFlag() = true;
    return true;
}

bool entered()
{
    return enteredFlag();
}

bool addAddress(const QString &address, QString *errorString)
{
    if (!entered()) {
        if (errorString)
            *errorString = QStringLiteral("not in a private network namespace");
        return false;
    }
    return runIp({ QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up") },
               errorString)
        && runIp({ QStringLiteral("addr"), QStringLiteral("add"), address + QLatin1String("/32"), QStringLiteral("dev"),
                     QStringLiteral("lo") },
            errorString);
}

} // namespace PrivateNetwork
