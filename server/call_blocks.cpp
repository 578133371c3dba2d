// SPDX-License-Identifier: MIT
#include "server/call_blocks.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"
#include "rpc/status.h"

namespace qelrpc::server {
namespace {

// How far into its block anything of `m` reaches: the end of the furthest
// of its three windows. A window outside the block means the whole block.
uint32_t usedExtent(const Mbuf& m) {
    const uint8_t* base = m.block.pos;
    uint64_t extent = m.block.count;
    for (const MbufCursor* c : {&m.header, &m.data}) {
        if (c->pos == nullptr) continue;
        if (c->pos < base || c->pos > base + RPC_MBUF_SIZE) return RPC_MBUF_SIZE;
        extent = std::max<uint64_t>(extent, static_cast<uint64_t>(c->pos - base) + c->count);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(extent, RPC_MBUF_SIZE));
}

}  // namespace

BlockPool::~BlockPool() {
    for (std::size_t i = 0; i < count_; ++i) heap::release(spare_[i]);
}

uint8_t* BlockPool::take() noexcept {
    if (count_ > 0) return spare_[--count_];
    return static_cast<uint8_t*>(heap::zeroed(RPC_MBUF_SIZE));
}

void BlockPool::give(uint8_t* block, uint32_t used) noexcept {
    if (block == nullptr) return;
    if (count_ == kSpare) {
        heap::release(block);
        return;
    }
    std::memset(block, 0, std::min<uint32_t>(used, RPC_MBUF_SIZE));
    spare_[count_++] = block;
}

int BlockPool::lend(RpcOperation& op, uint8_t* request, uint32_t requestBytes) noexcept {
    uint8_t* reply = take();
    if (reply == nullptr) return qelrpc::status::kNoMemory;
    operation::attachBlock(op.request, request);
    op.request.block.count = requestBytes;
    operation::attachBlock(op.reply, reply);
    operation::resetCallFields(op);
    lentRequest_ = request;
    lentReply_ = reply;
    return 0;
}

void BlockPool::takeBack(RpcOperation& op) noexcept {
    for (auto [m, lent] : {std::pair<Mbuf*, uint8_t*>{&op.request, lentRequest_}, {&op.reply, lentReply_}}) {
        if (m->block.pos == lent && lent != nullptr) {
            give(lent, usedExtent(*m));
        } else if (m->block.pos != nullptr) {
            // The handler replaced the block: that one goes back to the heap
            // (ours it released itself, or it is the handler's to have lost).
            heap::release(m->block.pos);
        }
        std::memset(m, 0, sizeof *m);
    }
    lentRequest_ = lentReply_ = nullptr;
    flavor::release(op.auth);
    op.auth = nullptr;
}

}  // namespace qelrpc::server
