// SPDX-License-Identifier: MIT
#include "platform/socket_wait.h"

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>

#include "platform/posix/socket_errors_posix.h"
#include "platform/socket_errors.h"

namespace qelrpc::platform {

struct SocketWaitSet::State {
    pollfd* fds = nullptr;
    std::size_t count = 0;
    std::size_t capacity = 0;
};

SocketWaitSet::SocketWaitSet(std::size_t capacity) noexcept {
    auto* st = new (std::nothrow) State;
    if (st == nullptr) return;
    st->fds = new (std::nothrow) pollfd[capacity == 0 ? 1 : capacity];
    if (st->fds == nullptr) {
        delete st;
        return;
    }
    st->capacity = capacity;
    state_ = st;
}

SocketWaitSet::~SocketWaitSet() {
    if (state_ == nullptr) return;
    delete[] state_->fds;
    delete state_;
}

void SocketWaitSet::clear() noexcept {
    if (state_ != nullptr) state_->count = 0;
}

std::size_t SocketWaitSet::add(NativeSocket s, unsigned events) noexcept {
    if (state_ == nullptr || state_->count == state_->capacity) return SIZE_MAX;
    pollfd& p = state_->fds[state_->count];
    p.fd = static_cast<int>(s);
    p.events = 0;
    p.revents = 0;
    if (events & kReadable) p.events |= POLLIN;
    if (events & kWritable) p.events |= POLLOUT;
    return state_->count++;
}

int SocketWaitSet::wait(uint64_t timeoutMicros) noexcept {
    if (state_ == nullptr) return sockerr::kNoBuffers;
    for (std::size_t i = 0; i < state_->count; ++i) state_->fds[i].revents = 0;
    // ppoll keeps the microseconds that poll's milliseconds would lose.
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(timeoutMicros / 1000000u);
    ts.tv_nsec = static_cast<long>((timeoutMicros % 1000000u) * 1000u);
    if (::ppoll(state_->fds, state_->count, &ts, nullptr) < 0 && errno != EINTR) return mapSocketErrno(errno);
    return 0;
}

unsigned SocketWaitSet::ready(std::size_t index) const noexcept {
    if (state_ == nullptr || index >= state_->count) return 0;
    const short r = state_->fds[index].revents;
    unsigned out = 0;
    if (r & POLLIN) out |= kReadable;
    if (r & POLLOUT) out |= kWritable;
    if (r & (POLLERR | POLLHUP | POLLNVAL)) out |= kFailed;
    return out;
}

std::size_t SocketWaitSet::systemLimit() noexcept {
    // Every connection is a descriptor: the limit leaves room for the rest
    // of the program (its files, the listening socket, a client call a
    // handler makes), so the loop drops an idle client before accept runs
    // out of descriptors.
    constexpr std::size_t kCeiling = 1024, kReserve = 32, kFloor = 4;
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return kCeiling;
    const std::size_t soft = static_cast<std::size_t>(std::min<rlim_t>(rl.rlim_cur, kCeiling + kReserve));
    return soft > kReserve + kFloor ? std::min(kCeiling, soft - kReserve) : kFloor;
}

}  // namespace qelrpc::platform
