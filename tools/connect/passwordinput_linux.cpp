#include "tools/connect/passwordinput.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct termios savedTerminal;

// Ended at the prompt, the program must not leave the terminal without echo.
void restoreTerminalAndEnd(int signalNumber)
{
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Up to a line break, the end, or one byte past the longest password.
bool readLine(int fd, QByteArray *bytes, bool *ended, QString *problem)
{
    char buffer[256];
    *ended = false;
    while (!bytes->contains('\n') && bytes->size() <= PasswordInput::MaximumLength) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *problem = QStringLiteral("cannot read the password: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        if (count == 0) {
            *ended = true;
            break;
        }
        bytes->append(buffer, int(count));
    }
    return true;
}

QString systemError(const QString &path)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

bool PasswordInput::readFile(const QString &path, QString *password, QString *problem)
{
    // Not blocking: a FIFO put there must not hang the program before it is refused.
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ELOOP) {
        *problem = QStringLiteral("the password file %1 is a link: give the file itself").arg(path);
        return false;
    }
    if (fd < 0) {
        *problem = QStringLiteral("cannot open the password file ") + systemError(path);
        return false;
    }
    struct stat status;
    bool read = false;
    if (fstat(fd, &status) != 0) {
        *problem = QStringLiteral("cannot read the password file ") + systemError(path);
    } else if (!S_ISREG(status.st_mode)) {
        *problem = QStringLiteral("the password file %1 is not a regular file").arg(path);
    } else if (status.st_uid != geteuid()) {
        *problem = QStringLiteral("the password file %1 belongs to another user").arg(path);
    } else if ((status.st_mode & 077) != 0) {
        // Another local user could read it, or put another password in it.
        *problem = QStringLiteral("the password file %1 is open to other users (chmod 600 it)").arg(path);
    } else {
        QByteArray bytes;
        bool ended = false;
        read = readLine(fd, &bytes, &ended, problem) && firstLine(bytes, ended, password, problem);
    }
    close(fd);
    return read;
}

bool PasswordInput::readStandardInput(QString *password, QString *problem)
{
    QByteArray bytes;
    bool ended = false;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return readLine(STDIN_FILENO, &bytes, &ended, problem) && firstLine(bytes, ended, password, problem);

    struct termios silent = savedTerminal;
    silent.c_lflag &= ~tcflag_t(ECHO);
    silent.c_lflag |= ECHONL;
    struct sigaction restore = {};
    struct sigaction previous[3];
    restore.sa_handler = restoreTerminalAndEnd;
    sigemptyset(&restore.sa_mask);
    const int endingSignals[] = { SIGINT, SIGTERM, SIGHUP };
    for (int i = 0; i < 3; ++i)
        sigaction(endingSignals[i], &restore, &previous[i]);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    fputs("Password: ", stderr);
    fflush(stderr);
    const bool read = readLine(STDIN_FILENO, &bytes, &ended, problem);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (int i = 0; i < 3; ++i)
        sigaction(endingSignals[i], &previous[i], nullptr);
    return read && firstLine(bytes, ended, password, problem);
}
