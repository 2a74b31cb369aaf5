#ifndef NIMBORA_BENCH_COMMON_SOCKETIO_H
#define NIMBORA_BENCH_COMMON_SOCKETIO_H

// Blocking whole-buffer socket I/O shared by the benchmark programs.

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fail(const char *what)
{
    std::perror(what);
    std::exit(1);
}

inline bool sendAll(int fd, const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= size_t(sent);
    }
    return true;
}

inline bool receiveAll(int fd, void *data, size_t size)
{
    char *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t received = recv(fd, bytes, size, 0);
        if (received <= 0)
            return false;
        bytes += received;
        size -= size_t(received);
    }
    return true;
}

#endif
