#include "netconfig/socketowner.h"

#include <QByteArray>

#include <cstddef>

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
// Winsock before windows.h, and windows.h before the IP Helper headers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

namespace {

// The table may grow between the size query and the read; a few tries cover that.
constexpr int TableReadAttempts = 4;

bool readTcpTable(QByteArray *table)
{
    ULONG size = 0;
    DWORD result = GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    for (int attempt = 0; attempt < TableReadAttempts && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        if (size == 0 || size > ULONG(64 * 1024 * 1024))
            return false;
        table->resize(int(size));
        result = GetExtendedTcpTable(table->data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    }
    return result == NO_ERROR && table->size() >= int(offsetof(MIB_TCPTABLE_OWNER_PID, table));
}

} // namespace

SocketOwner SocketOwner::ofPeer(
    const QHostAddress &localAddress, quint16 localPort, const QHostAddress &peerAddress, quint16 peerPort)
{
    bool localIsIpv4 = false, peerIsIpv4 = false;
    const quint32 local = localAddress.toIPv4Address(&localIsIpv4);
    const quint32 peer = peerAddress.toIPv4Address(&peerIsIpv4);
    if (!localIsIpv4 || !peerIsIpv4)
        return SocketOwner(LookupFailed);
    QByteArray buffer;
    if (!readTcpTable(&buffer))
        return SocketOwner(LookupFailed);
    const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.constData());
    const size_t rowsRoom
        = (size_t(buffer.size()) - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
    if (table->dwNumEntries > rowsRoom)
        return SocketOwner(LookupFailed);
    // The peer's row has the peer's end as its local end; ports sit in the low 16 bits, in network order.
    for (DWORD index = 0; index < table->dwNumEntries; ++index) {
        const MIB_TCPROW_OWNER_PID &row = table->table[index];
        if (row.dwLocalAddr == htonl(peer) && ntohs(u_short(row.dwLocalPort)) == peerPort
            && row.dwRemoteAddr == htonl(local) && ntohs(u_short(row.dwRemotePort)) == localPort)
            return SocketOwner(Found, -1, qint64(row.dwOwningPid));
    }
    return SocketOwner(NotFound);
}

SocketOwner SocketOwner::ofPeer(qintptr socketDescriptor)
{
    sockaddr_storage local, peer;
    int localLength = sizeof local, peerLength = sizeof peer;
    const SOCKET socket = SOCKET(socketDescriptor);
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&local), &localLength) != 0
        || getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0 || local.ss_family != AF_INET
        || peer.ss_family != AF_INET)
        return SocketOwner(LookupFailed);
    const auto &localIpv4 = reinterpret_cast<const sockaddr_in &>(local);
    const auto &peerIpv4 = reinterpret_cast<const sockaddr_in &>(peer);
    return ofPeer(QHostAddress(reinterpret_cast<const sockaddr *>(&localIpv4)), ntohs(localIpv4.sin_port),
        QHostAddress(reinterpret_cast<const sockaddr *>(&peerIpv4)), ntohs(peerIpv4.sin_port));
}

qint64 SocketOwner::currentUserId()
{
    return -1;
}
