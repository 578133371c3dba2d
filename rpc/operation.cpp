// SPDX-License-Identifier: MIT
#include <cstring>

#include "qelrpc.h"
#include "platform/heap.h"
#include "rpc/exchange.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"
#include "rpc/status.h"
#include "xdr/mbuf.h"

using namespace qelrpc;

namespace qelrpc::operation {

void attachBlock(Mbuf& m, uint8_t* block) noexcept {
    m.block.pos = block;
    m.block.count = 0;
    m.block.limit = RPC_MBUF_SIZE;
}

void resetCallFields(RpcOperation& op) noexcept {
    // A kept connection is not closed here: in a record its caller filled,
    // flags and sock may hold anything, and closing a descriptor the caller
    // never gave us would be worse than the leak of a socket the caller
    // forgot to close (rpcCloseOperation closes it).
    op.flags = 0;
    op.asyncWindow = nullptr;
    op.cancelFlag = nullptr;
    op.timeOffset = RPC_TIME_OFFSET_UNKNOWN;
}

int allocateBuffer(Mbuf& m) noexcept {
    auto* block = static_cast<uint8_t*>(heap::zeroed(RPC_MBUF_SIZE));
    if (block == nullptr) {
        m.block.pos = nullptr;
        return status::kNoMemory;
    }
    attachBlock(m, block);
    return status::kOk;
}

int init(RpcOperation& op) noexcept {
    int rc = allocateBuffer(op.request);
    if (rc != status::kOk) {
        std::memset(&op.request, 0, sizeof op.request);
        return rc;
    }
    rc = allocateBuffer(op.reply);
    if (rc != status::kOk) {
        mbuf::freeMbuf(op.request);
        std::memset(&op.reply, 0, sizeof op.reply);
        return rc;
    }
    resetCallFields(op);
    return status::kOk;
}

int initEx(RpcOperation& op, const char* hostName, uint32_t hostAddr) noexcept {
    std::memset(&op, 0, sizeof op);
    if (hostName != nullptr) op.hostName = hostName;
    if (hostAddr != 0xFFFFFFFFu) op.hostAddr = hostAddr;
    return init(op);
}

void close(RpcOperation& op) noexcept {
    exchange::closeKept(op);
    mbuf::freeMbuf(op.request);
    mbuf::freeMbuf(op.reply);
    flavor::release(op.auth);
    op.auth = nullptr;
}

void initHeaderBuffer(Mbuf& m) noexcept {
    m.header.pos = m.block.pos;
    m.header.count = 0;
    m.header.limit = m.block.limit;
}

void initDataBuffer(Mbuf& m) noexcept {
    m.data.count = 0;
    if (m.header.pos == nullptr || m.header.count > m.block.limit) {
        // No header window yet: an empty window that every writer refuses.
        m.data.pos = m.header.pos;
        m.data.limit = 0;
        return;
    }
    m.data.pos = m.header.pos + m.header.count;
    m.data.limit = m.block.limit - m.header.count;
}

void copyBuffer(const Mbuf& src, Mbuf& dst) noexcept { dst.block = src.block; }

}  // namespace qelrpc::operation

extern "C" {

int rpcAllocateBuffer(Mbuf* m) { return m != nullptr ? operation::allocateBuffer(*m) : status::kNullRecord; }

int rpcInitOperation(RpcOperation* op) { return op != nullptr ? operation::init(*op) : status::kNullRecord; }

int rpcInitOperationEx(RpcOperation* op, const char* hostName, uint32_t hostAddr) {
    return op != nullptr ? operation::initEx(*op, hostName, hostAddr) : status::kNullRecord;
}

void rpcCloseOperation(RpcOperation* op) {
    if (op != nullptr) operation::close(*op);
}

void InitRpcHeaderBuffer(Mbuf* m) {
    if (m != nullptr) operation::initHeaderBuffer(*m);
}

void InitDataBuffer(Mbuf* m) {
    if (m != nullptr) operation::initDataBuffer(*m);
}

void CopyRpcBuffer(const Mbuf* src, Mbuf* dst) {
    if (src != nullptr && dst != nullptr) operation::copyBuffer(*src, *dst);
}

}  // extern "C"
