#include "privileged/leftoveropenvpn.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <signal.h>

namespace {

constexpr int EndTimeout = 5000;

// A process that has ended but not been waited for (a zombie) counts as gone.
bool alive(qint64 processId)
{
    if (kill(pid_t(processId), 0) != 0 && errno != EPERM)
        return false;
    QFile status(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray fields = status.read(1024);
    const int end = fields.lastIndexOf(')'); // the program name may hold anything
    return end < 0 || fields.mid(end + 2, 1) != "Z";
}

bool waitForEnd(qint64 processId)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (alive(processId)) {
        if (elapsed.hasExpired(EndTimeout))
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

QString endLeftoverOpenVpn(qint64 processId)
{
    if (processId <= 1)
        return QString();
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(processId));
    if (!commandLine.open(QIODevice::ReadOnly))
        return QString(); // gone already
    QByteArray arguments = commandLine.read(64 * 1024);
    if (arguments.isEmpty())
        return QString(); // ended, not yet waited for
    if (arguments.endsWith('\0'))
        arguments.chop(1);
    if (!LeftoverOpenVpn::isOurCommandLine(arguments.split('\0')))
        return QStringLiteral("Process %1 is not our OpenVPN any more: left alone").arg(processId);
    kill(pid_t(processId), SIGTERM);
    if (waitForEnd(processId))
        return QStringLiteral("Leftover OpenVPN (process %1) ended").arg(processId);
    kill(pid_t(processId), SIGKILL);
    return waitForEnd(processId) ? QStringLiteral("Leftover OpenVPN (process %1) killed").arg(processId)
                                 : QStringLiteral("Leftover OpenVPN (process %1) does not end").arg(processId);
}
