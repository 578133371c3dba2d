// The operation record's lifecycle: its two message blocks, the windows onto
// them, the borrowed block of a temporary operation, and the release of what
// an operation owns.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "auth/credential_release.h"
#include "qelrpc.h"
#include "platform/heap.h"
#include "rpc/operation.h"
#include "rpc/status.h"

using namespace qelrpc;

namespace qelrpc::operation {

void attachBlock(Mbuf& m, uint8_t* block) noexcept {
    m.block.pos = block;
    m.block.count = 0;
    m.block.limit = RPC_MBUF_SIZE;
}

void resetCallFields(RpcOperation& op) noexcept {
    op.flags = 0;
    op.asyncWindow = nullptr;
    op.cancelFlag = nullptr;
    op.timeOffset = RPC_TIME_OFFSET_UNKNOWN;
}

}  // namespace qelrpc::operation

extern "C" {

int rpcAllocateBuffer(Mbuf* m) {
    if (m == nullptr) return status::kNullRecord;
    auto* block = static_cast<uint8_t*>(heap::zeroed(RPC_MBUF_SIZE));
    if (block == nullptr) {
        m->block.pos = nullptr;
        return status::kNoMemory;
    }
    operation::attachBlock(*m, block);
    return status::kOk;
}

int rpcInitOperation(RpcOperation* op) {
    if (op == nullptr) return status::kNullRecord;
    int rc = rpcAllocateBuffer(&op->request);
    if (rc != status::kOk) {
        std::memset(&op->request, 0, sizeof op->request);
        return rc;
    }
    rc = rpcAllocateBuffer(&op->reply);
    if (rc != status::kOk) {
        mbufFreeMbuf(&op->request);
        std::memset(&op->reply, 0, sizeof op->reply);
        return rc;
    }
    operation::resetCallFields(*op);
    return status::kOk;
}

int rpcInitOperationEx(RpcOperation* op, const char* hostName, uint32_t hostAddr) {
    if (op == nullptr) return status::kNullRecord;
    std::memset(op, 0, sizeof *op);
    if (hostName != nullptr) op->hostName = hostName;
    if (hostAddr != 0xFFFFFFFFu) op->hostAddr = hostAddr;
    return rpcInitOperation(op);
}

void rpcCloseOperation(RpcOperation* op) {
    if (op == nullptr) return;
    mbufFreeMbuf(&op->request);
    mbufFreeMbuf(&op->reply);
    auth::releaseCredential(op->auth);
    op->auth = nullptr;
}

void InitRpcHeaderBuffer(Mbuf* m) {
    if (m == nullptr) return;
    m->header.pos = m->block.pos;
    m->header.count = 0;
    m->header.limit = m->block.limit;
}

void InitDataBuffer(Mbuf* m) {
    if (m == nullptr) return;
    m->data.count = 0;
    if (m->header.pos == nullptr || m->header.count > m->block.limit) {
        // No header window yet: an empty window that every writer refuses.
        m->data.pos = m->header.pos;
        m->data.limit = 0;
        return;
    }
    m->data.pos = m->header.pos + m->header.count;
    m->data.limit = m->block.limit - m->header.count;
}

void CopyRpcBuffer(const Mbuf* src, Mbuf* dst) {
    if (src == nullptr || dst == nullptr) return;
    dst->block = src->block;
}

}  // extern "C"
