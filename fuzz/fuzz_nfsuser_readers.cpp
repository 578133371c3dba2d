// SPDX-License-Identifier: MIT
// Every PCNFSD and Qelnfsd result reader over arbitrary results, through
// the exports that reach them. The first byte picks the export and the
// count; the rest are the results of an accepted reply (a fixed 24-byte
// header in front of them) that ProcessRPCResponse checks first, so the
// exports that take a bare results pointer take their bound from it and
// the others read the operation's data window. The reply lies in read-only
// memory that ends where a guard page begins, so any read past the results
// faults. Every output area is exactly what include/qelrpc.h says a caller
// must provide (count names of 255 characters and their NULs, count * 256
// bytes; count ids; count gid pointers) and ends at a guard page, so any
// write past it faults; the caller's inputs (the gid pointers, the ids of
// an id-to-name question, the names of a name-to-id one) are read-only, so
// a write into them faults too.
#include <cstdint>
#include <cstdlib>

#include "fuzz/accepted_reply.h"
#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

namespace {

constexpr uint32_t kMaxCount = 31;
constexpr size_t kNameBytes = 256;
constexpr int kProtocolError = 1728;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > fuzzmem::kMaxAcceptedResults) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::ReadOnlyInput slotsIn(kMaxCount * sizeof(int32_t*)), idsIn(kMaxCount * sizeof(int32_t)),
        namesIn(kMaxCount * kNameBytes);
    static fuzzmem::GuardedOutput opArea(sizeof(RpcOperation)), namesArea(kMaxCount * kNameBytes),
        idsArea(kMaxCount * sizeof(int32_t));
    static const int32_t kUnknownIds[kMaxCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                   -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    static const char kNoNames[kMaxCount * kNameBytes] = {};
    const uint8_t control = data[0];
    const uint32_t count = (control >> 3) & 0x1F;

    const size_t n = size - 1;
    RpcOperation* op = fuzzmem::acceptedReply(input, opArea, data + 1, n);
    const uint8_t* results = op->reply.data.pos;

    char* names = reinterpret_cast<char*>(namesArea.area(count * kNameBytes));
    int32_t* ids = reinterpret_cast<int32_t*>(idsArea.area(count * sizeof(int32_t)));
    // One gid pointer per item, each to its own entry of the ids area.
    int32_t* slotValues[kMaxCount];
    for (uint32_t i = 0; i < count; ++i) slotValues[i] = ids + i;
    int32_t** slots = const_cast<int32_t**>(
        reinterpret_cast<int32_t* const*>(slotsIn.place(slotValues, count * sizeof(int32_t*))));

    switch (control & 7) {
        case 0: {
            const int rc = BuildPcnfsdResponseGidOrUid(results, count, names);
            if (rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        case 1: {
            const int rc = BuildPcnfsdResponseGroupNames(results, count, slots);
            if (rc != 0 && rc != 1 && rc != kProtocolError) std::abort();
            break;
        }
        case 2: {
            const int rc = BuildQelnfsdResponseGidOrUid(results, count, names);
            if (rc != static_cast<int>(count) && rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        case 3: {
            const int rc = BuildQelnfsdResponseGroupNames(results, count, slots);
            if (rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        case 4: {
            // An id-to-name question: the ids are the caller's input.
            int32_t* in = const_cast<int32_t*>(
                reinterpret_cast<const int32_t*>(idsIn.place(kUnknownIds, count * sizeof(int32_t))));
            const int rc = BuildPcnfsdResult(op, MapUidToName, count, names, &in);
            if (rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        case 5: {
            // A name-to-id question: the names are the caller's input.
            char* in = const_cast<char*>(reinterpret_cast<const char*>(namesIn.place(kNoNames, count * kNameBytes)));
            int32_t* out = ids;
            const int rc = BuildPcnfsdResult(op, MapUserNameToUid, count, in, &out);
            if (rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        default: {
            const int rc = BuildQelnfsdResponseUidsFromUNames(op, count, ids);
            if (rc != 0 && rc != -2) std::abort();
            break;
        }
    }
    return 0;
}
