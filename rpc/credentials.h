// SPDX-License-Identifier: MIT
// The two plain credential flavors as internals: the exported
// rpcCreateAuthNull and rpcCreateAuthUnix are thin shells over these (a
// null operation is refused there), and the library's own code calls these.
// Same return codes as the exports: 1 attached, 0 not (op.auth then null).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/heap.h"
#include "qelrpc.h"

namespace qelrpc::credentials {

// A credential record under construction: a heap block released with
// Release (which frees what the record owns, then the record) unless
// published with release() into op.auth. A create builds its records whole
// in these and publishes once at the end, so a failure at any step leaves
// nothing behind.
template <void (*Release)(void*)>
struct Releaser {
    void operator()(void* p) const noexcept { Release(p); }
};
template <class T, void (*Release)(void*) = heap::release>
using Owned = std::unique_ptr<T, Releaser<Release>>;

// A cleared heap record of type T (null with no memory).
template <class T, void (*Release)(void*) = heap::release>
Owned<T, Release> makeZeroed() noexcept {
    return Owned<T, Release>(static_cast<T*>(heap::zeroed(sizeof(T))));
}

// A cleared AUTH_NULL record in op.auth.
int createAuthNull(RpcOperation& op) noexcept;

// An AUTH_UNIX record for uid/gid in op.auth; a null machineName takes the
// host's own name ("localhost" when it cannot be read).
int createAuthUnix(RpcOperation& op, const char* machineName, uint32_t uid, uint32_t gid) noexcept;

}  // namespace qelrpc::credentials
