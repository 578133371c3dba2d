// SPDX-License-Identifier: MIT
// ProcessRPCResponse over arbitrary reply bytes. The reply block is exactly
// the input, in read-only memory that ends where a guard page begins, so a
// write into the reply or a read past its end faults; the operation record
// the check fills lies between guard pages. Whatever the bytes, the result
// is one of the reply check's codes and a successful check leaves the data
// window inside the reply, ending where it ends.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput opArea(sizeof(RpcOperation));
    const uint8_t* reply = input.place(data, size);
    RpcOperation* op = opArea.zeroed<RpcOperation>();
    // The library reads a received reply in place; it never writes it.
    op->reply.block.pos = const_cast<uint8_t*>(reply);
    op->reply.block.count = static_cast<uint32_t>(size);
    op->reply.block.limit = static_cast<uint32_t>(size);

    const int rc = ProcessRPCResponse(op);
    const uint8_t* begin = op->reply.block.pos;
    const uint8_t* end = begin + size;
    if (begin != reply || op->reply.header.pos != begin || op->reply.header.count != size) std::abort();
    if (rc == 0 || (rc <= -5 && rc != -99)) {
        // An accepted reply: results window inside the reply, up to its end.
        if (op->reply.data.pos < begin + 24 || op->reply.data.pos > end) std::abort();
        if (op->reply.data.pos + op->reply.data.count != end) std::abort();
        if (rc != 0 && rc != -4 - static_cast<int>(op->acceptStat)) std::abort();
    } else if (rc != -2 && rc != -3 && rc != -4 && rc != -99) {
        std::abort();
    }
    return 0;
}
