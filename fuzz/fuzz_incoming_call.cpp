// SPDX-License-Identifier: MIT
// The server side's CALL header check over arbitrary received bytes, through
// the exported ProcessRPCCall. The bytes lie in read-only memory that ends
// where a guard page begins, so a write into them or a read past them
// faults; the operation record and the xid the check fills lie between
// guard pages too, as does the string the handler's first reads copy out.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput opArea(sizeof(RpcOperation)), xidArea(sizeof(uint32_t)), textArea(64);
    const uint8_t* block = input.place(data, size);
    RpcOperation* op = opArea.zeroed<RpcOperation>();
    // The library reads a received call in place; it never writes it.
    op->request.block.pos = const_cast<uint8_t*>(block);
    op->request.block.count = static_cast<uint32_t>(size);
    op->request.block.limit = static_cast<uint32_t>(size);
    uint32_t* xid = xidArea.zeroed<uint32_t>();
    if (ProcessRPCCall(op, xid) == 0) {
        const Mbuf& r = op->request;
        if (r.header.count + r.data.count != size) std::abort();
        if (r.data.pos != r.block.pos + r.header.count) std::abort();
        // The handler's first reads stay inside the arguments.
        MbufCursor args = r.data;
        uint32_t w;
        char* text = reinterpret_cast<char*>(textArea.area(64));
        while (mbufGetLong(&args, &w) == 0 && mbufGetString(&args, text, 64) >= 0) {
        }
    }
    return 0;
}
