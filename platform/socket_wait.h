// SPDX-License-Identifier: MIT
// Waiting on many sockets at once: the accept loop watches its listening
// socket and every open connection in one wait. POSIX waits with poll (any
// descriptor number, no fixed set size); Windows with select over sets
// raised to kWindowsSetSize sockets (Windows Sockets 1.1 has no WSAPoll, and
// the system's own FD_SETSIZE of 64 would cap the server at 63 clients).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sockets.h"

namespace qelrpc::platform {

constexpr std::size_t kWindowsSetSize = 1024;

class SocketWaitSet {
  public:
    // Room for `capacity` sockets, taken once; valid() is false when it
    // could not be had.
    explicit SocketWaitSet(std::size_t capacity) noexcept;
    SocketWaitSet(const SocketWaitSet&) = delete;
    SocketWaitSet& operator=(const SocketWaitSet&) = delete;
    ~SocketWaitSet();
    bool valid() const noexcept { return state_ != nullptr; }

    // Empties the set; add returns the socket's index, or SIZE_MAX when the
    // set is full. `events` as for waitFor (kReadable, kWritable).
    void clear() noexcept;
    std::size_t add(NativeSocket s, unsigned events) noexcept;

    // Waits until one of the sockets is ready or the time runs out: 0 (then
    // ready(i) is what happened to socket i: kReadable, kWritable, kFailed,
    // or 0), or the wait's own error. A signal ends the wait with nothing
    // ready.
    int wait(uint64_t timeoutMicros) noexcept;
    unsigned ready(std::size_t index) const noexcept;

    // The most sockets one set can watch on this system: the raised select
    // set on Windows; on POSIX what the process's descriptor limit leaves
    // after a reserve for the rest of the program, at most 1024.
    static std::size_t systemLimit() noexcept;

  private:
    struct State;
    State* state_ = nullptr;
};

}  // namespace qelrpc::platform
