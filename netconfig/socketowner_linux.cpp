#include "netconfig/socketowner.h"

#include <QAtomicInteger>

#include <cerrno>
#include <cstring>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One answer to one exact request is a single small datagram.
constexpr int ReplyBufferSize = 8192;
// Datagrams from anything but the kernel (only a privileged process could send one) are dropped;
// a few of them end the wait.
constexpr int MaximumDatagrams = 4;

QAtomicInteger<quint32> nextSequence(1);

// A dual-stack listener sees IPv4 clients as ::ffff:a.b.c.d; the kernel files their sockets as IPv4.
QHostAddress plainAddress(const QHostAddress &address)
{
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    static const quint8 mappedPrefix[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };
    if (std::memcmp(bytes.c, mappedPrefix, sizeof mappedPrefix) != 0)
        return address;
    return QHostAddress(
        quint32(bytes.c[12]) << 24 | quint32(bytes.c[13]) << 16 | quint32(bytes.c[14]) << 8 | bytes.c[15]);
}

bool putAddress(const QHostAddress &address, __be32 *field)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        field[0] = htonl(address.toIPv4Address());
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(field, bytes.c, sizeof bytes.c);
        return true;
    }
    return false;
}

int familyOf(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol ? AF_INET : AF_INET6;
}

inet_diag_sockid socketId(
    const QHostAddress &source, quint16 sourcePort, const QHostAddress &destination, quint16 destinationPort, bool *ok)
{
    inet_diag_sockid id;
    std::memset(&id, 0, sizeof id);
    id.idiag_sport = htons(sourcePort);
    id.idiag_dport = htons(destinationPort);
    *ok = source.protocol() == destination.protocol() && putAddress(source, id.idiag_src)
        && putAddress(destination, id.idiag_dst);
    return id;
}

bool sameConnection(const inet_diag_sockid &answer, const inet_diag_sockid &asked)
{
    return answer.idiag_sport == asked.idiag_sport && answer.idiag_dport == asked.idiag_dport
        && std::memcmp(answer.idiag_src, asked.idiag_src, sizeof asked.idiag_src) == 0
        && std::memcmp(answer.idiag_dst, asked.idiag_dst, sizeof asked.idiag_dst) == 0;
}

class NetlinkSocket
{
public:
    NetlinkSocket() : m_descriptor(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) { }
    ~NetlinkSocket()
    {
        if (m_descriptor >= 0)
            close(m_descriptor);
    }
    NetlinkSocket(const NetlinkSocket &) = delete;
    NetlinkSocket &operator=(const NetlinkSocket &) = delete;

    bool open()
    {
        if (m_descriptor < 0)
            return false;
        // The kernel answers at once; the limit only keeps a listener from hanging on a broken system.
        const timeval limit = { 2, 0 };
        return setsockopt(m_descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
    }

    bool send(const void *message, size_t size)
    {
        sockaddr_nl kernel;
        std::memset(&kernel, 0, sizeof kernel);
        kernel.nl_family = AF_NETLINK;
        ssize_t sent;
        do
            sent = sendto(m_descriptor, message, size, 0, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel);
        while (sent < 0 && errno == EINTR);
        return sent == ssize_t(size);
    }

    // The next datagram the kernel itself sent.
    QByteArray receiveFromKernel()
    {
        for (int datagram = 0; datagram < MaximumDatagrams; ++datagram) {
            QByteArray buffer(ReplyBufferSize, Qt::Uninitialized);
            sockaddr_nl sender;
            socklen_t senderLength = sizeof sender;
            ssize_t received;
            do {
                senderLength = sizeof sender;
                received = recvfrom(m_descriptor, buffer.data(), size_t(buffer.size()), MSG_TRUNC,
                    reinterpret_cast<sockaddr *>(&sender), &senderLength);
            } while (received < 0 && errno == EINTR);
            if (received < 0)
                return QByteArray();
            if (senderLength < socklen_t(sizeof sender) || sender.nl_family != AF_NETLINK || sender.nl_pid != 0)
                continue;
            if (received > buffer.size())
                return QByteArray();
            buffer.truncate(int(received));
            return buffer;
        }
        return QByteArray();
    }

private:
    int m_descriptor;
};

} // namespace

SocketOwner SocketOwner::ofPeer(
    const QHostAddress &localAddress, quint16 localPort, const QHostAddress &peerAddress, quint16 peerPort)
{
    // The peer's socket has the peer's end as its source.
    const QHostAddress source = plainAddress(peerAddress);
    const QHostAddress destination = plainAddress(localAddress);
    bool valid = false;
    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message;
    std::memset(&message, 0, sizeof message);
    message.request.id = socketId(source, peerPort, destination, localPort, &valid);
    if (!valid)
        return SocketOwner(LookupFailed);
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    message.request.sdiag_family = quint8(familyOf(source));
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.header.nlmsg_seq = nextSequence.fetchAndAddRelaxed(1);

    NetlinkSocket netlink;
    if (!netlink.open() || !netlink.send(&message, sizeof message))
        return SocketOwner(LookupFailed);
    return fromDiagnosticReply(
        netlink.receiveFromKernel(), message.header.nlmsg_seq, source, peerPort, destination, localPort);
}

SocketOwner SocketOwner::fromDiagnosticReply(const QByteArray &reply, quint32 sequence, const QHostAddress &source,
    quint16 sourcePort, const QHostAddress &destination, quint16 destinationPort)
{
    bool valid = false;
    const inet_diag_sockid asked = socketId(source, sourcePort, destination, destinationPort, &valid);
    if (!valid)
        return SocketOwner(LookupFailed);
    const char *data = reply.constData();
    const size_t size = size_t(reply.size());
    size_t offset = 0;
    while (size - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > size - offset)
            return SocketOwner(LookupFailed);
        const char *payload = data + offset + NLMSG_HDRLEN;
        const size_t payloadSize = header.nlmsg_len - NLMSG_HDRLEN;
        if (header.nlmsg_seq == sequence) {
            if (header.nlmsg_type == NLMSG_ERROR) {
                int error = 0;
                if (payloadSize < sizeof error)
                    return SocketOwner(LookupFailed);
                std::memcpy(&error, payload, sizeof error);
                return SocketOwner(error == -ENOENT ? NotFound : LookupFailed);
            }
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY) {
                inet_diag_msg answer;
                if (payloadSize < sizeof answer)
                    return SocketOwner(LookupFailed);
                std::memcpy(&answer, payload, sizeof answer);
                if (answer.idiag_family != familyOf(source) || !sameConnection(answer.id, asked))
                    return SocketOwner(LookupFailed);
                // A socket that no process holds any more (closed, or waiting out its close) has no owner:
                // the kernel then reports its user as root.
                if (answer.idiag_inode == 0)
                    return SocketOwner(NotFound);
                return SocketOwner(Found, answer.idiag_uid, -1, answer.idiag_inode);
            }
        }
        const size_t step = NLMSG_ALIGN(header.nlmsg_len);
        if (step > size - offset)
            break;
        offset += step;
    }
    return SocketOwner(LookupFailed);
}

SocketOwner SocketOwner::ofPeer(qintptr socketDescriptor)
{
    sockaddr_storage local, peer;
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (getsockname(int(socketDescriptor), reinterpret_cast<sockaddr *>(&local), &localLength) != 0
        || getpeername(int(socketDescriptor), reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0
        || local.ss_family != peer.ss_family)
        return SocketOwner(LookupFailed);
    const auto port = [](const sockaddr_storage &address) {
        return ntohs(address.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in &>(address).sin_port
                                                  : reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    };
    if (local.ss_family != AF_INET && local.ss_family != AF_INET6)
        return SocketOwner(LookupFailed);
    return ofPeer(QHostAddress(reinterpret_cast<const sockaddr *>(&local)), port(local),
        QHostAddress(reinterpret_cast<const sockaddr *>(&peer)), port(peer));
}

qint64 SocketOwner::currentUserId()
{
    return qint64(geteuid());
}
