// SPDX-License-Identifier: MIT
// Windows Sockets 1.1 (wsock32): the error numbers are the system's own.
#include "platform/sockets.h"

#include <windows.h>
#include <winsock.h>

#include "platform/socket_errors.h"

namespace qelrpc::platform {
namespace {

SOCKET sock(NativeSocket s) { return static_cast<SOCKET>(s); }

int lastError() {
    const int e = WSAGetLastError();
    return e == 0 ? sockerr::kSystemCallFailure : e;
}

sockaddr_in toSockaddr(const Endpoint& e) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(e.port);
    sin.sin_addr.s_addr = e.addr;
    return sin;
}

Endpoint fromSockaddr(const sockaddr_in& sin) { return Endpoint{sin.sin_addr.s_addr, ntohs(sin.sin_port)}; }

int clampLength(std::size_t n) { return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n); }

}  // namespace

uint32_t loopbackAddress() noexcept { return htonl(INADDR_LOOPBACK); }

void Socket::close() noexcept {
    if (s_ != kInvalidSocket) ::closesocket(sock(s_));
    s_ = kInvalidSocket;
}

int startSockets() noexcept {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data);
}

void stopSockets() noexcept { ::WSACleanup(); }

int openSocket(SocketType type, Socket& out, bool nonBlocking) noexcept {
    const SOCKET s = ::socket(AF_INET, type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return lastError();
    Socket guard(static_cast<NativeSocket>(s));
    if (nonBlocking) {
        const int rc = setNonBlocking(guard.get(), true);
        if (rc != 0) return rc;
    }
    out = std::move(guard);
    return 0;
}

int setNonBlocking(NativeSocket s, bool on) noexcept {
    u_long arg = on ? 1 : 0;
    if (::ioctlsocket(sock(s), FIONBIO, &arg) == SOCKET_ERROR) return lastError();
    return 0;
}

int bindTo(NativeSocket s, const Endpoint& local) noexcept {
    const sockaddr_in sin = toSockaddr(local);
    if (::bind(sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == SOCKET_ERROR) return lastError();
    return 0;
}

int listenOn(NativeSocket s, int backlog) noexcept {
    if (::listen(sock(s), backlog) == SOCKET_ERROR) return lastError();
    return 0;
}

// Windows Sockets 2's SOMAXCONN: the system picks its own maximum.
int maxListenBacklog() noexcept { return 0x7FFFFFFF; }

int acceptFrom(NativeSocket s, Socket& out, Endpoint* peer) noexcept {
    sockaddr_in sin{};
    int len = sizeof sin;
    const SOCKET c = ::accept(sock(s), reinterpret_cast<sockaddr*>(&sin), &len);
    if (c == INVALID_SOCKET) return lastError();
    out = Socket(static_cast<NativeSocket>(c));
    if (peer != nullptr) *peer = fromSockaddr(sin);
    return 0;
}

int localEndpoint(NativeSocket s, Endpoint& out) noexcept {
    sockaddr_in sin{};
    int len = sizeof sin;
    if (::getsockname(sock(s), reinterpret_cast<sockaddr*>(&sin), &len) == SOCKET_ERROR) return lastError();
    out = fromSockaddr(sin);
    return 0;
}

int connectTo(NativeSocket s, const Endpoint& peer) noexcept {
    const sockaddr_in sin = toSockaddr(peer);
    if (::connect(sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == SOCKET_ERROR) return lastError();
    return 0;
}

int connectOutcome(NativeSocket s) noexcept {
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == SOCKET_ERROR)
        return lastError();
    return err;
}

int shutdownSend(NativeSocket s) noexcept {
    if (::shutdown(sock(s), 1 /* SD_SEND */) == SOCKET_ERROR) return lastError();
    return 0;
}

// Windows Sockets 1.1 has no way to ask.
int unacknowledgedBytes(NativeSocket, std::size_t& bytes) noexcept {
    bytes = 0;
    return sockerr::kOperationNotSupported;
}

int sendBytes(NativeSocket s, const void* bytes, std::size_t length, std::size_t& sent) noexcept {
    sent = 0;
    const int n = ::send(sock(s), static_cast<const char*>(bytes), clampLength(length), 0);
    if (n == SOCKET_ERROR) return lastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int sendDatagram(NativeSocket s, const void* bytes, std::size_t length, const Endpoint& to,
                 std::size_t& sent) noexcept {
    sent = 0;
    const sockaddr_in sin = toSockaddr(to);
    const int n = ::sendto(sock(s), static_cast<const char*>(bytes), clampLength(length), 0,
                           reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    if (n == SOCKET_ERROR) return lastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int receiveDatagram(NativeSocket s, void* buf, std::size_t size, std::size_t& received, Endpoint* from) noexcept {
    received = 0;
    sockaddr_in sin{};
    int len = sizeof sin;
    const int n = ::recvfrom(sock(s), static_cast<char*>(buf), clampLength(size), 0,
                             reinterpret_cast<sockaddr*>(&sin), &len);
    const int e = n == SOCKET_ERROR ? lastError() : 0;
    if (e == 0) received = static_cast<std::size_t>(n);
    if (e == sockerr::kMessageSize) received = size;  // the datagram was cut to the buffer
    if (from != nullptr) *from = fromSockaddr(sin);
    return e;
}

// Windows Sockets 1.1 has no scattering receive: two receives, the second
// only when the first filled its place. What the second cannot give now (an
// empty socket, the peer's FIN or an error) the next receive reports.
int receiveInTwo(NativeSocket s, void* first, std::size_t firstSize, void* second, std::size_t secondSize,
                 std::size_t& received) noexcept {
    received = 0;
    const int n = ::recv(sock(s), static_cast<char*>(first), clampLength(firstSize), 0);
    if (n == SOCKET_ERROR) return lastError();
    received = static_cast<std::size_t>(n);
    if (received < firstSize || secondSize == 0) return 0;
    const int more = ::recv(sock(s), static_cast<char*>(second), clampLength(secondSize), 0);
    if (more > 0) received += static_cast<std::size_t>(more);
    return 0;
}

int waitFor(NativeSocket s, unsigned events, uint64_t timeoutMicros, unsigned& ready) noexcept {
    ready = 0;
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (events & kReadable) FD_SET(sock(s), &readSet);
    if (events & kWritable) FD_SET(sock(s), &writeSet);
    // A failed non-blocking connect shows in the exception set.
    FD_SET(sock(s), &exceptSet);
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeoutMicros / 1000000u);
    tv.tv_usec = static_cast<long>(timeoutMicros % 1000000u);
    const int n = ::select(0, (events & kReadable) ? &readSet : nullptr, (events & kWritable) ? &writeSet : nullptr,
                           &exceptSet, &tv);
    if (n == SOCKET_ERROR) return lastError();
    if (n == 0) return 0;
    if (FD_ISSET(sock(s), &readSet)) ready |= kReadable;
    if (FD_ISSET(sock(s), &writeSet)) ready |= kWritable;
    if (FD_ISSET(sock(s), &exceptSet)) ready |= kFailed;
    return 0;
}

}  // namespace qelrpc::platform
