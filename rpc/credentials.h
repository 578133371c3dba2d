// SPDX-License-Identifier: MIT
// Internals of rpcCreateAuthNull and rpcCreateAuthUnix: 1 attached, 0 not
// (op.auth then null).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/heap.h"
#include "qelrpc.h"

namespace qelrpc::credentials {

// A credential record under construction: a cleared heap block (null with
// no memory) handed to `release` (which frees what the record owns, then the
// record) unless published with release() into op.auth. A create builds its
// records whole in these and publishes once, so a failure leaves nothing.
template <class T>
using Owned = std::unique_ptr<T, void (*)(void*) noexcept>;
template <class T>
Owned<T> makeZeroed(void (*release)(void*) noexcept = heap::release) noexcept {
    return Owned<T>(static_cast<T*>(heap::zeroed(sizeof(T))), release);
}

int createAuthNull(RpcOperation& op) noexcept;

// An AUTH_UNIX record for uid/gid in op.auth; a null machineName takes the
// host's own name ("localhost" when it cannot be read).
int createAuthUnix(RpcOperation& op, const char* machineName, uint32_t uid, uint32_t gid) noexcept;

}  // namespace qelrpc::credentials
