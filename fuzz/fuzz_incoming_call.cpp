// The server side's CALL header check over arbitrary received bytes. The
// bytes go into a block of exactly their size, so a read past them is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    std::vector<uint8_t> block(data, data + size);
    RpcOperation op{};
    uint8_t dummy = 0;
    op.request.block.pos = block.empty() ? &dummy : block.data();
    op.request.block.count = static_cast<uint32_t>(size);
    op.request.block.limit = static_cast<uint32_t>(size);
    uint32_t xid = 0;
    if (ProcessRPCCall(&op, &xid) == 0) {
        const Mbuf& r = op.request;
        if (r.header.count + r.data.count != size) std::abort();
        if (r.data.pos != r.block.pos + r.header.count) std::abort();
        // The handler's first reads stay inside the arguments.
        MbufCursor args = r.data;
        uint32_t w;
        char s[64];
        while (mbufGetLong(&args, &w) == 0 && mbufGetString(&args, s, sizeof s) >= 0) {
        }
    }
    return 0;
}
