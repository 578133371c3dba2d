// SPDX-License-Identifier: MIT
// select over sets larger than the system's default: a Windows Sockets
// fd_set is a count and an array of sockets, its size fixed by FD_SETSIZE
// where winsock.h is included (64 by default), so this file raises it.
#include "platform/socket_wait.h"

#define FD_SETSIZE 1024  // platform::kWindowsSetSize
#include <windows.h>
#include <winsock.h>

#include <new>

#include "platform/socket_errors.h"

namespace qelrpc::platform {

static_assert(FD_SETSIZE == kWindowsSetSize, "the raised select set");

struct SocketWaitSet::State {
    fd_set readSet, writeSet, exceptSet;  // each FD_SETSIZE sockets
    SOCKET socks[FD_SETSIZE];
    unsigned events[FD_SETSIZE];
    unsigned ready[FD_SETSIZE];
    std::size_t count = 0;
    std::size_t capacity = 0;
};

SocketWaitSet::SocketWaitSet(std::size_t capacity) noexcept {
    auto* st = new (std::nothrow) State;
    if (st == nullptr) return;
    st->capacity = capacity < kWindowsSetSize ? capacity : kWindowsSetSize;
    state_ = st;
}

SocketWaitSet::~SocketWaitSet() { delete state_; }

void SocketWaitSet::clear() noexcept {
    if (state_ != nullptr) state_->count = 0;
}

std::size_t SocketWaitSet::add(NativeSocket s, unsigned events) noexcept {
    if (state_ == nullptr || state_->count == state_->capacity) return SIZE_MAX;
    state_->socks[state_->count] = static_cast<SOCKET>(s);
    state_->events[state_->count] = events;
    state_->ready[state_->count] = 0;
    return state_->count++;
}

int SocketWaitSet::wait(uint64_t timeoutMicros) noexcept {
    if (state_ == nullptr) return sockerr::kNoBuffers;
    State& st = *state_;
    FD_ZERO(&st.readSet);
    FD_ZERO(&st.writeSet);
    FD_ZERO(&st.exceptSet);
    bool anyRead = false, anyWrite = false;
    for (std::size_t i = 0; i < st.count; ++i) {
        st.ready[i] = 0;
        if (st.events[i] & kReadable) {
            FD_SET(st.socks[i], &st.readSet);
            anyRead = true;
        }
        if (st.events[i] & kWritable) {
            FD_SET(st.socks[i], &st.writeSet);
            anyWrite = true;
        }
        FD_SET(st.socks[i], &st.exceptSet);
    }
    if (st.count == 0) {
        // select with no sockets at all is an error on Windows, not a sleep.
        Sleep(static_cast<DWORD>(timeoutMicros / 1000u));
        return 0;
    }
    // select's seconds are a long: a day at most, the caller waits again.
    constexpr uint64_t kLongest = 86'400'000'000;
    const uint64_t t = timeoutMicros < kLongest ? timeoutMicros : kLongest;
    timeval tv{};
    tv.tv_sec = static_cast<long>(t / 1000000u);
    tv.tv_usec = static_cast<long>(t % 1000000u);
    const int n = ::select(0, anyRead ? &st.readSet : nullptr, anyWrite ? &st.writeSet : nullptr, &st.exceptSet, &tv);
    if (n == SOCKET_ERROR) {
        const int e = WSAGetLastError();
        return e == 0 ? sockerr::kSystemCallFailure : e;
    }
    if (n == 0) return 0;
    for (std::size_t i = 0; i < st.count; ++i) {
        if (FD_ISSET(st.socks[i], &st.readSet)) st.ready[i] |= kReadable;
        if (FD_ISSET(st.socks[i], &st.writeSet)) st.ready[i] |= kWritable;
        if (FD_ISSET(st.socks[i], &st.exceptSet)) st.ready[i] |= kFailed;
    }
    return 0;
}

unsigned SocketWaitSet::ready(std::size_t index) const noexcept {
    if (state_ == nullptr || index >= state_->count) return 0;
    return state_->ready[index];
}

std::size_t SocketWaitSet::systemLimit() noexcept { return kWindowsSetSize; }

}  // namespace qelrpc::platform
