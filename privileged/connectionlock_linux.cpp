#include "privileged/connectionlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

ConnectionLock::Result ConnectionLock::take()
{
    if (!QDir().mkpath(QFileInfo(m_path).path())) {
        m_errorString = QStringLiteral("cannot make the folder of %1").arg(m_path);
        return Failed;
    }
    // Not following a link: root must never open a file that a user put there to point elsewhere.
    // Not inherited: an OpenVPN outliving the program must not keep the lock from the next start.
    const int fd = open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_errorString = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(strerror(errno)));
        return Failed;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        m_errorString = QStringLiteral("%1 is not a file").arg(m_path);
        return Failed;
    }
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_handle = fd;
        return Taken;
    }
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK)
        return Held;
    m_errorString = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(strerror(error)));
    return Failed;
}

void ConnectionLock::release()
{
    // Closing the only descriptor of the open file drops the lock with it.
    close(int(m_handle));
}
