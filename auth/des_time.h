// SPDX-License-Identifier: MIT
// The server's clock for AUTH_DES timestamps, from its time service
// (RFC 868 on port 37).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sockets.h"

namespace qelrpc::auth {

constexpr uint16_t kTimeServicePort = 37;
constexpr uint64_t kTimeServiceWaitMicros = 10'000'000;  // for each wait: connect, answer

// An RFC 868 answer: the first 4 bytes, a big-endian count of seconds since
// 1900-01-01, become seconds since 1970-01-01 (modulo 2^32). False for an
// answer of fewer than 4 bytes.
bool readTimeServiceAnswer(const uint8_t* bytes, std::size_t length, uint32_t& unixSeconds) noexcept;

// Asks the time service at addr (IPv4, network byte order) over a stream
// or a datagram socket, waiting at most waitMicros for the connection and
// again for the answer. False when any step fails or the time runs out;
// the socket is closed on every path.
bool getServerTime(uint32_t addr, platform::SocketType type, uint64_t waitMicros, uint32_t& unixSeconds) noexcept;

}  // namespace qelrpc::auth
