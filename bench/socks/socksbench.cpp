// Load generator and target for the SOCKS benchmark (run-socks-bench beside this file drives it).
//   socksbench target                                   listens on 127.0.0.1, prints its port
//   socksbench download PROXY_PORT TARGET_PORT BYTES    one CONNECT, BYTES from the target; prints MiB/s
//   socksbench upload PROXY_PORT TARGET_PORT BYTES      one CONNECT, BYTES to the target; prints MiB/s
//   socksbench rate PROXY_PORT TARGET_PORT COUNT THREADS   COUNT short tunnels; prints tunnels per second
//   socksbench idle PROXY_PORT TARGET_PORT COUNT        COUNT open tunnels; prints "ready", holds them until stdin ends
// Plain POSIX sockets and threads, so that the client costs little beside the servers it measures.
#include "bench/common/socketio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const size_t ChunkSize = 256 * 1024;

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A tunnel through the SOCKS 5 server at proxyPort to 127.0.0.1:targetPort, or -1.
int openTunnel(uint16_t proxyPort, uint16_t targetPort)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in proxy = loopback(proxyPort);
    unsigned char reply[10];
    const unsigned char greeting[] = { 5, 1, 0 };
    const unsigned char request[] = { 5, 1, 0, 1, 127, 0, 0, 1, uint8_t(targetPort >> 8), uint8_t(targetPort & 0xff) };
    if (connect(fd, reinterpret_cast<const sockaddr *>(&proxy), sizeof proxy) != 0 || !sendAll(fd, greeting, 3)
        || !receiveAll(fd, reply, 2) || reply[0] != 5 || reply[1] != 0 || !sendAll(fd, request, sizeof request)
        || !receiveAll(fd, reply, 10) || reply[1] != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Commands: 'D' + 8-byte count: the target sends that many bytes and closes. 'U' + count: it reads that many and
// answers one byte. 'P': it answers one byte and waits for the end.
void serveTarget(int fd)
{
    char command;
    uint64_t count = 0;
    std::vector<char> buffer(ChunkSize);
    if (receiveAll(fd, &command, 1)) {
        if (command == 'D' && receiveAll(fd, &count, sizeof count)) {
            while (count > 0) {
                const size_t size = count < ChunkSize ? size_t(count) : ChunkSize;
                if (!sendAll(fd, buffer.data(), size))
                    break;
                count -= size;
            }
        } else if (command == 'U' && receiveAll(fd, &count, sizeof count)) {
            while (count > 0) {
                const ssize_t received = recv(fd, buffer.data(), count < ChunkSize ? size_t(count) : ChunkSize, 0);
                if (received <= 0)
                    break;
                count -= uint64_t(received);
            }
            sendAll(fd, "u", 1);
        } else if (command == 'P') {
            sendAll(fd, "p", 1);
            while (recv(fd, buffer.data(), buffer.size(), 0) > 0) { }
        }
    }
    close(fd);
}

int runTarget()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || listen(listener, 1024) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        fail("target");
    printf("%u\n", ntohs(address.sin_port));
    fflush(stdout);
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0)
            std::thread(serveTarget, fd).detach();
    }
}

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int runBulk(bool download, uint16_t proxyPort, uint16_t targetPort, uint64_t total)
{
    const int fd = openTunnel(proxyPort, targetPort);
    if (fd < 0)
        fail("tunnel");
    std::vector<char> buffer(ChunkSize, 'x');
    const auto start = std::chrono::steady_clock::now();
    const char command = download ? 'D' : 'U';
    if (!sendAll(fd, &command, 1) || !sendAll(fd, &total, sizeof total))
        fail("command");
    uint64_t left = total;
    while (left > 0) {
        const size_t size = left < ChunkSize ? size_t(left) : ChunkSize;
        const ssize_t moved = download ? recv(fd, buffer.data(), size, 0) : send(fd, buffer.data(), size, MSG_NOSIGNAL);
        if (moved <= 0)
            fail("transfer");
        left -= uint64_t(moved);
    }
    char done;
    if (!download && !receiveAll(fd, &done, 1))
        fail("upload end");
    const double elapsed = seconds(start);
    close(fd);
    printf("%.1f\n", double(total) / (1024.0 * 1024.0) / elapsed);
    return 0;
}

int runRate(uint16_t proxyPort, uint16_t targetPort, int count, int threads)
{
    std::atomic<int> next(0);
    std::atomic<int> failures(0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            while (next.fetch_add(1) < count) {
                const int fd = openTunnel(proxyPort, targetPort);
                char answer;
                if (fd < 0 || !sendAll(fd, "P", 1) || !receiveAll(fd, &answer, 1))
                    ++failures;
                if (fd >= 0)
                    close(fd);
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    const double elapsed = seconds(start);
    if (failures > 0)
        fprintf(stderr, "socksbench: %d of %d tunnels failed\n", failures.load(), count);
    printf("%.0f\n", count / elapsed);
    return failures > 0 ? 1 : 0;
}

int runIdle(uint16_t proxyPort, uint16_t targetPort, int count)
{
    std::vector<int> tunnels;
    for (int i = 0; i < count; ++i) {
        const int fd = openTunnel(proxyPort, targetPort);
        char answer;
        if (fd < 0 || !sendAll(fd, "P", 1) || !receiveAll(fd, &answer, 1))
            fail("idle tunnel");
        tunnels.push_back(fd);
    }
    printf("ready\n");
    fflush(stdout);
    char line[16];
    while (fgets(line, sizeof line, stdin)) { }
    for (const int fd : tunnels)
        close(fd);
    return 0;
}

int usage()
{
    fprintf(stderr,
        "usage: socksbench target | download|upload PROXY_PORT TARGET_PORT BYTES |"
        " rate PROXY_PORT TARGET_PORT COUNT THREADS | idle PROXY_PORT TARGET_PORT COUNT\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 2 && strcmp(argv[1], "target") == 0)
        return runTarget();
    if (argc < 5)
        return usage();
    const std::string mode = argv[1];
    const uint16_t proxyPort = uint16_t(atoi(argv[2]));
    const uint16_t targetPort = uint16_t(atoi(argv[3]));
    if (mode == "download" || mode == "upload")
        return runBulk(mode == "download", proxyPort, targetPort, strtoull(argv[4], nullptr, 10));
    if (mode == "rate" && argc >= 6)
        return runRate(proxyPort, targetPort, atoi(argv[4]), atoi(argv[5]));
    if (mode == "idle")
        return runIdle(proxyPort, targetPort, atoi(argv[4]));
    return usage();
}
