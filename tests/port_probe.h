// SPDX-License-Identifier: MIT
// Whether something accepts TCP connections at a port: how the tests see
// that a peer they started is up. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace portprobe {


// A TCP connect to addr (network byte order):port succeeds.
inline bool answersAt(uint32_t addr, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addr;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// The same on 127.0.0.1.
inline bool answers(uint16_t port) { return answersAt(htonl(INADDR_LOOPBACK), port); }

// Polls every 10 ms until addr:port answers, for at most `most`.
inline bool waitFor(uint16_t port, std::chrono::milliseconds most, uint32_t addr = htonl(INADDR_LOOPBACK)) {
    const auto end = std::chrono::steady_clock::now() + most;
    for (;;) {
        if (answersAt(addr, port)) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace portprobe
