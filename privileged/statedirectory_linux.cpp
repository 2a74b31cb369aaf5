#include "privileged/statedirectory.h"

#include "netconfig/resolverswitch.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

QString StateDirectory::defaultPath()
{
    return QStringLiteral("/var/lib/nimbora");
}

bool StateDirectory::prepare(QString *errorString)
{
    const QByteArray folder = QFile::encodeName(path());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        *errorString = QStringLiteral("%1 cannot be made: %2").arg(path(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat status = {};
    // lstat: a link planted in place of the folder is refused, never followed.
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()
        || (status.st_mode & (S_IWGRP | S_IWOTH))) {
        *errorString = QStringLiteral("%1 is not a folder that only this program's user may change").arg(path());
        return false;
    }
    ResolverSwitch::setStateFolder(path());
    return true;
}

bool StateDirectory::changesInProcess()
{
    return ::geteuid() == 0;
}
