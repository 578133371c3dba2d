// SPDX-License-Identifier: MIT
#include "platform/sockets.h"

#include <arpa/inet.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/socket_errors_posix.h"
#include "platform/socket_errors.h"

namespace qelrpc::platform {
namespace {

int fd(NativeSocket s) { return static_cast<int>(s); }

int lastError() { return mapSocketErrno(errno); }

sockaddr_in toSockaddr(const Endpoint& e) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(e.port);
    sin.sin_addr.s_addr = e.addr;
    return sin;
}

Endpoint fromSockaddr(const sockaddr_in& sin) { return Endpoint{sin.sin_addr.s_addr, ntohs(sin.sin_port)}; }

// Retries a call that a signal interrupted.
template <class F>
auto retry(F f) {
    decltype(f()) r;
    do r = f();
    while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

uint32_t loopbackAddress() noexcept { return htonl(INADDR_LOOPBACK); }

void Socket::close() noexcept {
    if (s_ != kInvalidSocket) ::close(fd(s_));
    s_ = kInvalidSocket;
}

int startSockets() noexcept { return 0; }
void stopSockets() noexcept {}

int openSocket(SocketType type, Socket& out, bool nonBlocking) noexcept {
    const int t = (type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    const int s = ::socket(AF_INET, t, 0);
    if (s < 0) return lastError();
    out = Socket(static_cast<NativeSocket>(s));
    return 0;
}

int setNonBlocking(NativeSocket s, bool on) noexcept {
    const int flags = ::fcntl(fd(s), F_GETFL, 0);
    if (flags < 0) return lastError();
    const int want = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (want != flags && ::fcntl(fd(s), F_SETFL, want) < 0) return lastError();
    return 0;
}

int bindTo(NativeSocket s, const Endpoint& local) noexcept {
    const sockaddr_in sin = toSockaddr(local);
    if (::bind(fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0) return lastError();
    return 0;
}

int listenOn(NativeSocket s, int backlog) noexcept {
    if (::listen(fd(s), backlog) < 0) return lastError();
    return 0;
}

int maxListenBacklog() noexcept { return SOMAXCONN; }

int acceptFrom(NativeSocket s, Socket& out, Endpoint* peer) noexcept {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    const int c = retry([&] { return ::accept4(fd(s), reinterpret_cast<sockaddr*>(&sin), &len, SOCK_CLOEXEC); });
    if (c < 0) return lastError();
    out = Socket(static_cast<NativeSocket>(c));
    if (peer != nullptr) *peer = fromSockaddr(sin);
    return 0;
}

int localEndpoint(NativeSocket s, Endpoint& out) noexcept {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (::getsockname(fd(s), reinterpret_cast<sockaddr*>(&sin), &len) < 0) return lastError();
    out = fromSockaddr(sin);
    return 0;
}

int connectTo(NativeSocket s, const Endpoint& peer) noexcept {
    const sockaddr_in sin = toSockaddr(peer);
    // An interrupted connect goes on in the background, like a non-blocking one.
    if (::connect(fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0)
        return errno == EINTR ? sockerr::kInProgress : lastError();
    return 0;
}

int connectOutcome(NativeSocket s) noexcept {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &err, &len) < 0) return lastError();
    return mapSocketErrno(err);
}

int shutdownSend(NativeSocket s) noexcept {
    if (::shutdown(fd(s), SHUT_WR) < 0) return lastError();
    return 0;
}

int unacknowledgedBytes(NativeSocket s, std::size_t& bytes) noexcept {
    bytes = 0;
#ifdef SIOCOUTQ
    int n = 0;
    if (::ioctl(fd(s), SIOCOUTQ, &n) < 0) return lastError();
    bytes = static_cast<std::size_t>(n < 0 ? 0 : n);
    return 0;
#else
    (void)s;
    return sockerr::kOperationNotSupported;
#endif
}

int sendBytes(NativeSocket s, const void* bytes, std::size_t length, std::size_t& sent) noexcept {
    sent = 0;
    // MSG_NOSIGNAL: a peer that went away is an error code, not a signal.
    const ssize_t n = retry([&] { return ::send(fd(s), bytes, length, MSG_NOSIGNAL); });
    if (n < 0) return lastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int sendDatagram(NativeSocket s, const void* bytes, std::size_t length, const Endpoint& to,
                 std::size_t& sent) noexcept {
    sent = 0;
    const sockaddr_in sin = toSockaddr(to);
    const ssize_t n = retry([&] {
        return ::sendto(fd(s), bytes, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    });
    if (n < 0) return lastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int receiveDatagram(NativeSocket s, void* buf, std::size_t size, std::size_t& received, Endpoint* from) noexcept {
    received = 0;
    sockaddr_in sin{};
    iovec iov{buf, size};
    msghdr msg{};
    msg.msg_name = &sin;
    msg.msg_namelen = sizeof sin;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    const ssize_t n = retry([&] { return ::recvmsg(fd(s), &msg, 0); });
    if (n < 0) return lastError();
    received = static_cast<std::size_t>(n);
    if (from != nullptr) *from = fromSockaddr(sin);
    // A datagram cut to the buffer: report it as Windows Sockets does.
    if (msg.msg_flags & MSG_TRUNC) return sockerr::kMessageSize;
    return 0;
}

int receiveInTwo(NativeSocket s, void* first, std::size_t firstSize, void* second, std::size_t secondSize,
                 std::size_t& received) noexcept {
    received = 0;
    iovec iov[2] = {{first, firstSize}, {second, secondSize}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = secondSize == 0 ? 1 : 2;
    const ssize_t n = retry([&] { return ::recvmsg(fd(s), &msg, 0); });
    if (n < 0) return lastError();
    received = static_cast<std::size_t>(n);
    return 0;
}

int waitFor(NativeSocket s, unsigned events, uint64_t timeoutMicros, unsigned& ready) noexcept {
    ready = 0;
    pollfd p{};
    p.fd = fd(s);
    if (events & kReadable) p.events |= POLLIN;
    if (events & kWritable) p.events |= POLLOUT;
    // ppoll keeps the microseconds that poll's milliseconds would lose.
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(timeoutMicros / 1000000u);
    ts.tv_nsec = static_cast<long>((timeoutMicros % 1000000u) * 1000u);
    const int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n < 0) return errno == EINTR ? 0 : lastError();
    if (n == 0) return 0;
    if (p.revents & POLLIN) ready |= kReadable;
    if (p.revents & POLLOUT) ready |= kWritable;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ready |= kFailed;
    return 0;
}

}  // namespace qelrpc::platform
