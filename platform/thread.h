// SPDX-License-Identifier: MIT
// Threads. std::thread works on both sides (the Windows build uses the
// mingw-w64 "posix" thread model); this wrapper only makes sure a thread is
// joined on every path, so no early return can leave one running.
#pragma once

#include <thread>
#include <utility>

namespace qelrpc::platform {

class JoiningThread {
  public:
    JoiningThread() noexcept = default;
    template <class F>
    explicit JoiningThread(F&& f) : t_(std::forward<F>(f)) {}
    JoiningThread(JoiningThread&&) noexcept = default;
    JoiningThread& operator=(JoiningThread&& o) noexcept {
        if (this != &o) {
            join();
            t_ = std::move(o.t_);
        }
        return *this;
    }
    JoiningThread(const JoiningThread&) = delete;
    JoiningThread& operator=(const JoiningThread&) = delete;
    ~JoiningThread() { join(); }

    void join() noexcept {
        if (t_.joinable()) t_.join();
    }

  private:
    std::thread t_;
};

}  // namespace qelrpc::platform
