#ifndef NIMBORA_NETCONFIG_SOCKETOWNER_H
#define NIMBORA_NETCONFIG_SOCKETOWNER_H

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>

// Who holds the other end of an accepted loopback TCP connection: the kernel's socket diagnostics
// on Linux (the user), the TCP table on Windows (the process). Our listeners on 127.0.0.1 are
// reachable by every local user, so they ask before they read a byte.
class SocketOwner
{
public:
    enum Status {
        Found,
        NotFound, // no such connection, or no process holds its socket any more
        LookupFailed,
    };

    SocketOwner() = default;
    SocketOwner(Status status, qint64 userId = -1, qint64 processId = -1, quint64 inode = 0);

    Status status() const { return m_status; }
    qint64 userId() const { return m_userId; }
    qint64 processId() const { return m_processId; }
    quint64 inode() const { return m_inode; }
    bool isOwnedBy(qint64 userId, qint64 processId) const;

    // The socket whose local end is peerAddress:peerPort and whose remote end is localAddress:localPort.
    static SocketOwner ofPeer(
        const QHostAddress &localAddress, quint16 localPort, const QHostAddress &peerAddress, quint16 peerPort);
    // The same for the connection an accepted socket descriptor stands for.
    static SocketOwner ofPeer(qintptr socketDescriptor);
    // Whether the peer of an accepted connection is owned by userId and processId (-1: any). A
    // requirement the lookup cannot answer refuses, as does a failed lookup.
    static bool peerIsOwnedBy(qintptr socketDescriptor, qint64 userId, qint64 processId, Status *status = nullptr);
    // The user this program runs as (its effective uid), or -1 where users are not told apart.
    static qint64 currentUserId();

#ifdef Q_OS_LINUX
    // Reads the kernel's answer to request sequence number `sequence` for the socket whose local
    // end is source:sourcePort and remote end destination:destinationPort (both of one family).
    static SocketOwner fromDiagnosticReply(const QByteArray &reply, quint32 sequence, const QHostAddress &source,
        quint16 sourcePort, const QHostAddress &destination, quint16 destinationPort);
#endif

private:
    Status m_status = LookupFailed;
    qint64 m_userId = -1;
    qint64 m_processId = -1;
    quint64 m_inode = 0;
};

#endif
