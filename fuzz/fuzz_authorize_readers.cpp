// SPDX-License-Identifier: MIT
// The two authorisation reply readers over arbitrary results, through the
// exported BuildQelnfsdAuthorizeResponse and BuildPcnfsdAuthorizeResponse.
// The first byte picks the export and the gid capacity; the rest are the
// results of an accepted reply (a fixed 24-byte header in front of them)
// that ProcessRPCResponse checks first, so the exports take their bound from
// it. The reply lies in read-only memory that ends where a guard page
// begins, so any read past the results faults; the gids area is exactly
// the capacity and uid, gid, the count and the operation record each lie
// between guard pages, so any write past them faults.
#include <cstdint>
#include <cstdlib>

#include "fuzz/accepted_reply.h"
#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

namespace {

constexpr int32_t kMaxCapacity = 31;
constexpr int kQelnfsdRefused = -1;
constexpr int kPcnfsdRefused = 5;
constexpr int kProtocolError = 1728;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > fuzzmem::kMaxAcceptedResults) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput opArea(sizeof(RpcOperation)), gidsArea(kMaxCapacity * sizeof(int32_t)),
        uidArea(sizeof(int32_t)), gidArea(sizeof(int32_t)), countArea(sizeof(int32_t));
    const uint8_t control = data[0];
    const int32_t capacity = (control >> 1) & 0x1F;
    const bool pcnfsd = (control & 1) != 0;

    const size_t n = size - 1;
    RpcOperation* op = fuzzmem::acceptedReply(input, opArea, data + 1, n);

    int32_t* gids = reinterpret_cast<int32_t*>(gidsArea.area(static_cast<size_t>(capacity) * sizeof(int32_t)));
    int32_t* uid = uidArea.zeroed<int32_t>();
    int32_t* gid = gidArea.zeroed<int32_t>();
    int32_t* count = countArea.zeroed<int32_t>();
    *count = capacity;
    const uint8_t* results = op->reply.data.pos;
    const int rc = pcnfsd ? BuildPcnfsdAuthorizeResponse(results, uid, gid, gids, count)
                          : BuildQelnfsdAuthorizeResponse(results, uid, gid, gids, count);
    const int refused = pcnfsd ? kPcnfsdRefused : kQelnfsdRefused;
    // What the reader reports stays within what it was given.
    if (rc == 0 && (*count < 0 || *count > capacity)) std::abort();
    // Otherwise a refusal, or (results that cannot be read) a protocol
    // error: either way nothing is taken from the reply.
    if (rc != 0 && ((rc != refused && rc != kProtocolError) || *count != capacity || *uid != -1 || *gid != -1))
        std::abort();
    if (rc != 0)
        for (int32_t i = 0; i < capacity; ++i)
            if (gids[i] != -1) std::abort();
    return 0;
}
