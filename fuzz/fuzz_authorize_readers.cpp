// The two authorisation reply readers over arbitrary reply bytes. The first
// byte picks the reader and the gid capacity; the gids area is exactly that
// capacity, so any write past it or read past the reply is caught.
#include <cstdint>
#include <vector>

#include "nfsuser/authorize_readers.h"
#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > RPC_MBUF_SIZE) return 0;
    const uint8_t control = data[0];
    const int32_t capacity = (control >> 1) & 0x1F;
    std::vector<uint8_t> bytes(data + 1, data + size);
    uint8_t none = 0;
    MbufCursor w{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()),
                 bytes.empty() ? &none : bytes.data()};
    std::vector<int32_t> gids(static_cast<size_t>(capacity));
    int32_t uid = 0, gid = 0, count = capacity;
    const int refused = (control & 1) ? qelrpc::nfsuser::kPcnfsdRefused : qelrpc::nfsuser::kQelnfsdRefused;
    const int rc = qelrpc::nfsuser::readAuthorizeResponse(w, &uid, &gid, gids.empty() ? nullptr : gids.data(),
                                                          &count, refused);
    // What the reader reports stays within what it was given.
    if (rc == 0 && (count < 0 || count > capacity)) __builtin_trap();
    // Otherwise a refusal, or (results that cannot be read) a protocol
    // error: either way nothing is taken from the reply.
    if (rc != 0 && ((rc != refused && rc != 1728) || count != capacity || uid != -1)) __builtin_trap();
    return 0;
}
