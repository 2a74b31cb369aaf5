#include "tunnels/socketwrite.h"

#include <sys/socket.h>

#include <cerrno>

qint64 writeToSocketDescriptor(qintptr descriptor, const char *data, qint64 size)
{
    ssize_t written;
    do {
        written = ::send(int(descriptor), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (written < 0 && errno == EINTR);
    if (written >= 0)
        return written;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}
