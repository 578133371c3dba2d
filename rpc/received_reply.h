// SPDX-License-Identifier: MIT
// Where the last checked reply of this thread lies. Readers that the
// interface hands only a bare pointer into a reply take their bound from
// here: a pointer inside that reply may read up to its end, any other
// pointer reads nothing.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::received {

// Records the received bytes of `reply` (block.pos, not null, and
// block.count bytes) as this thread's last reply.
void noteReply(const Mbuf& reply) noexcept;

// A window over the bytes from p to the end of this thread's last reply;
// an empty window (count 0) when p does not point into it.
MbufCursor windowAt(const uint8_t* p) noexcept;

}  // namespace qelrpc::received
