#include "tunnels/socketwrite.h"

#include <winsock2.h>

#include <climits>

qint64 writeToSocketDescriptor(qintptr descriptor, const char *data, qint64 size)
{
    // Qt's sockets are non-blocking here too.
    const int written = ::send(SOCKET(descriptor), data, int(qMin<qint64>(size, INT_MAX)), 0);
    if (written != SOCKET_ERROR)
        return written;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}
