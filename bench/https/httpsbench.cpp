// Load generator and target for the HTTPS tunnel benchmark (run-https-bench beside this file drives it).
//   httpsbench target                       listens on 127.0.0.1, prints its port
//   httpsbench upload PORT BYTES            BYTES to the target; prints MiB/s
//   httpsbench download PORT BYTES          BYTES from the target; prints MiB/s
//   httpsbench roundtrip PORT COUNT SIZE    COUNT exchanges of SIZE bytes; prints microseconds per round trip
//   httpsbench slowread PORT BYTES RATE PID BYTES from the target read at RATE MiB/s; prints the largest growth
//                                           of PID's resident memory meanwhile, in MiB
// Plain POSIX sockets and threads, so that the client costs little beside the relays it measures.
#include "bench/common/socketio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const size_t ChunkSize = 256 * 1024;
using Clock = std::chrono::steady_clock;

int connectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        fail("socket");
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        fail("connect");
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Every exchange starts with a mode byte and a 64-bit count.
void sendHeader(int fd, char mode, uint64_t count)
{
    unsigned char header[9];
    header[0] = static_cast<unsigned char>(mode);
    for (int i = 0; i < 8; ++i)
        header[1 + i] = static_cast<unsigned char>(count >> (56 - 8 * i));
    if (!sendAll(fd, header, sizeof header))
        fail("send header");
}

void serve(int fd)
{
    unsigned char header[9];
    if (!receiveAll(fd, header, sizeof header)) {
        close(fd);
        return;
    }
    uint64_t count = 0;
    for (int i = 0; i < 8; ++i)
        count = (count << 8) | header[1 + i];
    std::vector<char> buffer(ChunkSize, 'x');
    if (header[0] == 'U') {
        while (count > 0) {
            const ssize_t received = recv(fd, buffer.data(), std::min<uint64_t>(count, buffer.size()), 0);
            if (received <= 0)
                break;
            count -= uint64_t(received);
        }
        sendAll(fd, "k", 1);
    } else if (header[0] == 'D') {
        while (count > 0) {
            const size_t size = std::min<uint64_t>(count, buffer.size());
            if (!sendAll(fd, buffer.data(), size))
                break;
            count -= size;
        }
    } else if (header[0] == 'E') {
        for (;;) {
            const ssize_t received = recv(fd, buffer.data(), buffer.size(), 0);
            if (received <= 0 || !sendAll(fd, buffer.data(), size_t(received)))
                break;
        }
    }
    // Wait for the client to close first, so that no byte in flight is cut off.
    while (recv(fd, buffer.data(), buffer.size(), 0) > 0) { }
    close(fd);
}

int target()
{
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(server, 64) != 0)
        fail("listen");
    socklen_t length = sizeof address;
    getsockname(server, reinterpret_cast<sockaddr *>(&address), &length);
    printf("%u\n", ntohs(address.sin_port));
    fflush(stdout);
    for (;;) {
        const int fd = accept(server, nullptr, nullptr);
        if (fd < 0)
            continue;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(serve, fd).detach();
    }
}

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long residentKiB(long pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "target")
        return target();
    if (argc < 4) {
        fprintf(stderr,
            "usage: httpsbench target | upload|download PORT BYTES | roundtrip PORT COUNT SIZE"
            " | slowread PORT BYTES RATE PID\n");
        return 2;
    }
    const uint16_t port = uint16_t(std::strtoul(argv[2], nullptr, 10));
    const uint64_t count = std::strtoull(argv[3], nullptr, 10);
    std::vector<char> buffer(ChunkSize, 'y');
    const int fd = connectTo(port);

    if (mode == "upload") {
        const Clock::time_point start = Clock::now();
        sendHeader(fd, 'U', count);
        for (uint64_t left = count; left > 0;) {
            const size_t size = std::min<uint64_t>(left, buffer.size());
            if (!sendAll(fd, buffer.data(), size))
                fail("upload");
            left -= size;
        }
        char ack;
        if (!receiveAll(fd, &ack, 1))
            fail("upload acknowledgement");
        printf("%.1f\n", double(count) / (1024 * 1024) / seconds(start));
    } else if (mode == "download") {
        const Clock::time_point start = Clock::now();
        sendHeader(fd, 'D', count);
        for (uint64_t left = count; left > 0;) {
            const ssize_t received = recv(fd, buffer.data(), std::min<uint64_t>(left, buffer.size()), 0);
            if (received <= 0)
                fail("download");
            left -= uint64_t(received);
        }
        printf("%.1f\n", double(count) / (1024 * 1024) / seconds(start));
    } else if (mode == "roundtrip" && argc > 4) {
        const size_t size = std::strtoul(argv[4], nullptr, 10);
        sendHeader(fd, 'E', 0);
        // The first exchange pays for the TLS handshake; it is not counted.
        if (!sendAll(fd, buffer.data(), size) || !receiveAll(fd, buffer.data(), size))
            fail("roundtrip");
        const Clock::time_point start = Clock::now();
        for (uint64_t i = 0; i < count; ++i) {
            if (!sendAll(fd, buffer.data(), size) || !receiveAll(fd, buffer.data(), size))
                fail("roundtrip");
        }
        printf("%.1f\n", seconds(start) * 1e6 / double(count));
    } else if (mode == "slowread" && argc > 5) {
        const double rate = std::strtod(argv[4], nullptr) * 1024 * 1024;
        const long pid = std::strtol(argv[5], nullptr, 10);
        const long before = residentKiB(pid);
        long peak = before;
        const Clock::time_point start = Clock::now();
        sendHeader(fd, 'D', count);
        const size_t slice = 64 * 1024;
        uint64_t done = 0;
        while (done < count) {
            const ssize_t received = recv(fd, buffer.data(), std::min<uint64_t>(count - done, slice), 0);
            if (received <= 0)
                fail("slowread");
            done += uint64_t(received);
            const double due = double(done) / rate;
            const double ahead = due - seconds(start);
            if (ahead > 0)
                std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
            if ((done / slice) % 16 == 0)
                peak = std::max(peak, residentKiB(pid));
        }
        peak = std::max(peak, residentKiB(pid));
        printf("%.1f\n", double(peak - before) / 1024);
    } else {
        return 2;
    }
    close(fd);
    return 0;
}
