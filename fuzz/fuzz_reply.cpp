// ProcessRPCResponse over arbitrary reply bytes. The reply block is exactly
// the input, so a read past the reply's end is caught; whatever the bytes,
// the result is one of the reply check's codes and a successful check leaves
// the data window inside the reply, ending where it ends.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    uint8_t none = 0;
    RpcOperation op{};
    op.reply.block.pos = bytes.empty() ? &none : bytes.data();
    op.reply.block.count = static_cast<uint32_t>(size);
    op.reply.block.limit = static_cast<uint32_t>(size);

    const int rc = ProcessRPCResponse(&op);
    const uint8_t* begin = op.reply.block.pos;
    const uint8_t* end = begin + size;
    if (op.reply.header.pos != begin || op.reply.header.count != size) std::abort();
    if (rc == 0 || (rc <= -5 && rc != -99)) {
        // An accepted reply: results window inside the reply, up to its end.
        if (op.reply.data.pos < begin + 24 || op.reply.data.pos > end) std::abort();
        if (op.reply.data.pos + op.reply.data.count != end) std::abort();
        if (rc != 0 && rc != -4 - static_cast<int>(op.acceptStat)) std::abort();
    } else if (rc != -2 && rc != -3 && rc != -4 && rc != -99) {
        std::abort();
    }
    return 0;
}
