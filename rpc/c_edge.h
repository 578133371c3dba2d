// SPDX-License-Identifier: MIT
// The one exception barrier between the library's C++ and its C callers
// (docs/ARCHITECTURE.md): nothing thrown ever reaches a C caller.
#pragma once

#include <new>
#include <utility>

namespace qelrpc::edge {

// Runs f; std::bad_alloc yields onNoMemory, any other exception onOther.
template <class R, class F>
R guard(R onNoMemory, R onOther, F&& f) noexcept {
    try {
        return std::forward<F>(f)();
    } catch (const std::bad_alloc&) {
        return onNoMemory;
    } catch (...) {
        return onOther;
    }
}

template <class R, class F>
R guard(R onFailure, F&& f) noexcept { return guard(onFailure, onFailure, std::forward<F>(f)); }

}  // namespace qelrpc::edge
