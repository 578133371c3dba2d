// SPDX-License-Identifier: MIT
#include "rpc/received_reply.h"

namespace qelrpc::received {
namespace {
thread_local const uint8_t* t_begin = nullptr;
thread_local const uint8_t* t_end = nullptr;
}  // namespace

void noteReply(const Mbuf& reply) noexcept {
    const uint32_t n = reply.block.count <= reply.block.limit ? reply.block.count : reply.block.limit;
    t_begin = reply.block.pos;
    t_end = reply.block.pos + n;
}

MbufCursor windowAt(const uint8_t* p) noexcept {
    if (p == nullptr || t_begin == nullptr || p < t_begin || p > t_end) return MbufCursor{0, 0, nullptr};
    const auto n = static_cast<uint32_t>(t_end - p);
    return MbufCursor{n, n, const_cast<uint8_t*>(p)};
}

}  // namespace qelrpc::received
