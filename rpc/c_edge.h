// SPDX-License-Identifier: MIT
// The one exception barrier between the library's C++ and its C callers.
// An exported function whose work can allocate (std::string, vector, new)
// or throw runs that work through guard(), which turns any exception into
// the export's documented failure result: nothing thrown ever crosses into a
// C caller, and no other try/catch is needed in the library.
#pragma once

#include <new>
#include <utility>

namespace qelrpc::edge {

// Runs f; no memory (std::bad_alloc) yields onNoMemory, any other exception
// onOther.
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

// Runs f; any exception yields onFailure.
template <class R, class F>
R guard(R onFailure, F&& f) noexcept {
    return guard(onFailure, onFailure, std::forward<F>(f));
}

}  // namespace qelrpc::edge
