#include "tests/support/foreignclient.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Only async-signal-safe calls: the test process has threads.
[[noreturn]] void runChild(int status, const sockaddr_storage &server, socklen_t serverLength, const QByteArray &bytes)
{
    const gid_t group = ForeignClient::UserId;
    if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0
        || setresuid(ForeignClient::UserId, ForeignClient::UserId, ForeignClient::UserId) != 0)
        _exit(2);
    const int client = socket(server.ss_family, SOCK_STREAM, 0);
    if (client < 0 || connect(client, reinterpret_cast<const sockaddr *>(&server), serverLength) != 0)
        _exit(3);
    sockaddr_storage local;
    socklen_t localLength = sizeof local;
    if (getsockname(client, reinterpret_cast<sockaddr *>(&local), &localLength) != 0)
        _exit(4);
    const in_port_t port = local.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in &>(local).sin_port
                                                      : reinterpret_cast<const sockaddr_in6 &>(local).sin6_port;
    if (write(status, &port, sizeof port) != ssize_t(sizeof port))
        _exit(5);
    if (!bytes.isEmpty() && write(client, bytes.constData(), size_t(bytes.size())) < 0 && errno != ECONNRESET
        && errno != EPIPE)
        _exit(6);
    char answer;
    const char outcome = read(client, &answer, 1) > 0 ? 'a' : 'c';
    if (write(status, &outcome, 1) != 1)
        _exit(7);
    // Holds its end until the test ends it.
    for (;;)
        pause();
}

} // namespace

bool ForeignClient::available(QString *reason)
{
    if (geteuid() == 0)
        return true;
    *reason = QStringLiteral("needs root to run a client as another user");
    return false;
}

bool ForeignClient::start(const QHostAddress &address, quint16 port, const QByteArray &bytes, QString *error)
{
    sockaddr_storage server;
    std::memset(&server, 0, sizeof server);
    socklen_t serverLength;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto &ipv4 = reinterpret_cast<sockaddr_in &>(server);
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = htonl(address.toIPv4Address());
        serverLength = sizeof ipv4;
    } else {
        auto &ipv6 = reinterpret_cast<sockaddr_in6 &>(server);
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes6 = address.toIPv6Address();
        std::memcpy(&ipv6.sin6_addr, bytes6.c, sizeof bytes6.c);
        serverLength = sizeof ipv6;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("pipe: ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(pipeEnds[0]);
        runChild(pipeEnds[1], server, serverLength, bytes);
    }
    close(pipeEnds[1]);
    m_status = pipeEnds[0];
    if (m_pid < 0) {
        *error = QStringLiteral("fork: ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    // The kernel completes a loopback connection without the server's event loop.
    pollfd ready = { m_status, POLLIN, 0 };
    in_port_t localPort = 0;
    if (poll(&ready, 1, 10000) != 1 || read(m_status, &localPort, sizeof localPort) != ssize_t(sizeof localPort)) {
        *error = QStringLiteral("the client as user %1 could not connect").arg(UserId);
        return false;
    }
    m_localPort = ntohs(localPort);
    return true;
}

ForeignClient::Outcome ForeignClient::waitForOutcome(int milliseconds)
{
    const bool seen = QTest::qWaitFor(
        [this] {
            pollfd ready = { m_status, POLLIN, 0 };
            char outcome;
            if (m_outcome == Nothing && poll(&ready, 1, 0) == 1 && read(m_status, &outcome, 1) == 1)
                m_outcome = outcome == 'a' ? Answered : Closed;
            return m_outcome != Nothing;
        },
        milliseconds);
    return seen ? m_outcome : Nothing;
}

ForeignClient::~ForeignClient()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_status >= 0)
        close(m_status);
}
