// SPDX-License-Identifier: MIT
// IPv4 sockets for one exchange at a time. Every function returns 0 or a
// Windows Sockets error number (platform/socket_errors.h) on both systems;
// nothing depends on a thread's "last error", so a result can be carried from
// one thread to another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "qelrpc.h"

namespace qelrpc::platform {

using NativeSocket = RpcSocket;
constexpr NativeSocket kInvalidSocket = RPC_INVALID_SOCKET;

// An IPv4 address in network byte order and a port in host byte order.
struct Endpoint {
    uint32_t addr = 0;
    uint16_t port = 0;
};

// 127.0.0.1 in network byte order.
uint32_t loopbackAddress() noexcept;

enum class SocketType { Stream, Datagram };

// Owns one socket and closes it on every path. Move-only; no implicit bool.
class Socket {
  public:
    Socket() noexcept = default;
    explicit Socket(NativeSocket s) noexcept : s_(s) {}
    Socket(Socket&& o) noexcept : s_(std::exchange(o.s_, kInvalidSocket)) {}
    Socket& operator=(Socket&& o) noexcept {
        if (this != &o) {
            close();
            s_ = std::exchange(o.s_, kInvalidSocket);
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { close(); }

    NativeSocket get() const noexcept { return s_; }
    bool valid() const noexcept { return s_ != kInvalidSocket; }
    NativeSocket release() noexcept { return std::exchange(s_, kInvalidSocket); }
    void close() noexcept;

  private:
    NativeSocket s_ = kInvalidSocket;
};

// Starts and stops the system's socket layer (Windows Sockets 1.1 on
// Windows; nothing to do elsewhere). Calls nest.
int startSockets() noexcept;
void stopSockets() noexcept;

// nonBlocking: the socket starts non-blocking (one system call fewer than
// setNonBlocking afterwards, where the system allows it).
int openSocket(SocketType type, Socket& out, bool nonBlocking = false) noexcept;
int setNonBlocking(NativeSocket s, bool on) noexcept;

int bindTo(NativeSocket s, const Endpoint& local) noexcept;
int listenOn(NativeSocket s, int backlog) noexcept;
// The longest queue of pending connections the system allows (SOMAXCONN;
// on Windows that of Windows Sockets 2, the 1.1 header's 5 being far too
// short for a burst of clients).
int maxListenBacklog() noexcept;
int acceptFrom(NativeSocket s, Socket& out, Endpoint* peer) noexcept;
int localEndpoint(NativeSocket s, Endpoint& out) noexcept;

// Starts a connect. On a non-blocking socket a pending connect is reported
// as sockerr::kWouldBlock or sockerr::kInProgress; its outcome is then read
// with connectOutcome once the socket is writable or has an error.
int connectTo(NativeSocket s, const Endpoint& peer) noexcept;
// The pending error of a socket (SO_ERROR), mapped; 0 when there is none.
int connectOutcome(NativeSocket s) noexcept;

// Ends the sending direction of a stream socket: the peer gets its FIN
// behind the bytes already queued, and reading stays possible.
int shutdownSend(NativeSocket s) noexcept;
// The bytes (and FIN) sent on a stream socket that the peer has not yet
// acknowledged. Linux only (SIOCOUTQ); elsewhere sockerr::kOperationNotSupported.
int unacknowledgedBytes(NativeSocket s, std::size_t& bytes) noexcept;

// sent/received are the byte counts; a received count of 0 on a stream
// socket means the peer closed its side. A datagram longer than the buffer
// fills the buffer, drops the rest and returns sockerr::kMessageSize.
int sendBytes(NativeSocket s, const void* bytes, std::size_t length, std::size_t& sent) noexcept;
int sendDatagram(NativeSocket s, const void* bytes, std::size_t length, const Endpoint& to,
                 std::size_t& sent) noexcept;
int receiveDatagram(NativeSocket s, void* buf, std::size_t size, std::size_t& received,
                    Endpoint* from) noexcept;
// A stream socket has no sender address to report.
inline int receiveBytes(NativeSocket s, void* buf, std::size_t size, std::size_t& received) noexcept {
    return receiveDatagram(s, buf, size, received, nullptr);
}
// One receive on a stream socket into two places, first filled first
// (a record mark and the block behind it): received counts both.
int receiveInTwo(NativeSocket s, void* first, std::size_t firstSize, void* second, std::size_t secondSize,
                 std::size_t& received) noexcept;

// Waits for a socket. `events` is a mask of kReadable and kWritable; on a 0
// result `ready` holds what happened (kReadable, kWritable, kFailed for an
// error or hang-up on the socket), or 0 when the time ran out. POSIX waits
// with poll, so any descriptor number works; Windows waits with select.
enum : unsigned { kReadable = 1, kWritable = 2, kFailed = 4 };
int waitFor(NativeSocket s, unsigned events, uint64_t timeoutMicros, unsigned& ready) noexcept;

}  // namespace qelrpc::platform
