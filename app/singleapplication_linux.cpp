#include "app/singleapplicationprivate.h"

#include <cerrno>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

QString SingleApplicationPrivate::platformUserName()
{
    const passwd *entry = getpwuid(geteuid());
    if (!entry || !entry->pw_name)
        return QString();
    return QString::fromLocal8Bit(entry->pw_name);
}

bool SingleApplicationPrivate::processExists(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}
