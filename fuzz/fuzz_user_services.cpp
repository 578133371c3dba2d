// SPDX-License-Identifier: MIT
// The user-service readers end to end, through the exported functions
// only, as a caller meets them: the fuzz bytes are the reply the exchange
// received, placed in the operation's reply block and checked by
// ProcessRPCResponse (which also makes it this thread's last reply); then
// one exported reader reads the results. The caller's inputs (name lists,
// id arrays, pointer arrays) lie in read-only pages and every output ends
// at a guard page, sized as a caller sizes it: count names of 255
// characters, count ids, the gid capacity given. A write into an input or
// past an output faults at once.
//
// Input:  byte 0  reader (below), byte 1  count (0..31) or gid capacity,
//         byte 2  bit 0: the bytes after it are the whole reply (header
//                 included); otherwise an accepted, AUTH_NULL, SUCCESS
//                 header is put in front of them
//                 bit 1: the PCNFSD kind is the group one (1 or 3)
//         bytes 3...  results (or the whole reply)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qelrpc.h"
#include "tests/guarded_pages.h"

using qelrpc::testing::GuardedPages;

namespace {

constexpr int kProtocolError = 1728;

RpcOperation& operation() {
    static RpcOperation op = [] {
        RpcOperation o{};
        if (rpcInitOperation(&o) != 0) std::abort();
        return o;
    }();
    return op;
}

// count names n0, n1, ... as a caller passes them (read-only).
std::string nameList(uint32_t count) {
    std::string list;
    // Appended piece by piece: GCC 12 at -O3 reports a false overlap
    // (-Wrestrict) in "n" + std::to_string(i).
    for (uint32_t i = 0; i < count; ++i) {
        list += 'n';
        list += std::to_string(i);
        list += '\0';
    }
    return list;
}

// Every output name list must hold exactly `count` names inside its area.
void checkNames(const GuardedPages& area, uint32_t count) {
    const char* at = reinterpret_cast<const char*>(area.data());
    const char* end = at + area.size();
    for (uint32_t i = 0; i < count; ++i) {
        const void* nul = std::memchr(at, 0, static_cast<size_t>(end - at));
        if (nul == nullptr || static_cast<const char*>(nul) - at > 255) std::abort();
        at = static_cast<const char*>(nul) + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t reader = data[0] % 10;
    const uint32_t count = data[1] & 0x1F;
    const bool wholeReply = (data[2] & 1) != 0;
    const bool groups = (data[2] & 2) != 0;
    data += 3;
    size -= 3;

    RpcOperation& op = operation();
    static const uint8_t kHeader[24] = {0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const size_t header = wholeReply ? 0 : sizeof kHeader;
    if (header + size > op.reply.block.limit) return 0;
    std::memcpy(op.reply.block.pos, kHeader, header);
    if (size != 0) std::memcpy(op.reply.block.pos + header, data, size);
    op.reply.block.count = static_cast<uint32_t>(header + size);
    if (ProcessRPCResponse(&op) != 0) return 0;
    const uint8_t* results = op.reply.data.pos;

    // Reader 9 hands the bare-pointer readers a copy of the results that is
    // not the last reply: nothing may be read from it.
    GuardedPages elsewhere(op.reply.data.pos, op.reply.data.count);
    elsewhere.makeReadOnly();

    switch (reader) {
        case 0: {  // PCNFSD MAPID, id to name: ids in, names out
            GuardedPages ids(count * 4);
            for (uint32_t i = 0; i < count; ++i) reinterpret_cast<int32_t*>(ids.data())[i] = static_cast<int32_t>(i) - 1;
            ids.makeReadOnly();
            int32_t* idsPtr = reinterpret_cast<int32_t*>(ids.data());
            GuardedPages ref(&idsPtr, sizeof idsPtr);
            ref.makeReadOnly();
            GuardedPages names(count * 256);
            const int rc = BuildPcnfsdResult(&op, groups ? MapGidToName : MapUidToName, count, names.chars(),
                                             reinterpret_cast<int32_t**>(ref.data()));
            if (rc != 0 && rc != kProtocolError) std::abort();
            checkNames(names, count);
            break;
        }
        case 1: {  // PCNFSD MAPID, name to id: names in, ids out
            const std::string list = nameList(count);
            GuardedPages names(list.data(), list.size());
            names.makeReadOnly();
            GuardedPages ids(count * 4);
            int32_t* idsPtr = reinterpret_cast<int32_t*>(ids.data());
            GuardedPages ref(&idsPtr, sizeof idsPtr);
            ref.makeReadOnly();
            const int rc = BuildPcnfsdResult(&op, groups ? MapGroupNameToGid : MapUserNameToUid, count, names.chars(),
                                             reinterpret_cast<int32_t**>(ref.data()));
            if (rc != 0 && rc != kProtocolError) std::abort();
            break;
        }
        case 2:
        case 5: {  // id-to-name readers on a bare pointer
            GuardedPages names(count * 256);
            const int rc = reader == 2 ? BuildPcnfsdResponseGidOrUid(results, count, names.chars())
                                       : BuildQelnfsdResponseGidOrUid(results, count, names.chars());
            if (rc != 0 && rc != kProtocolError && rc != static_cast<int>(count)) std::abort();
            break;
        }
        case 3:
        case 4: {  // group-name readers: a read-only array of pointers to the outputs
            GuardedPages gids(count * 4);
            GuardedPages slots(count * sizeof(int32_t*));
            for (uint32_t i = 0; i < count; ++i)
                reinterpret_cast<int32_t**>(slots.data())[i] = reinterpret_cast<int32_t*>(gids.data()) + i;
            slots.makeReadOnly();
            auto** p = reinterpret_cast<int32_t**>(slots.data());
            const int rc = reader == 3 ? BuildPcnfsdResponseGroupNames(results, count, p)
                                       : BuildQelnfsdResponseGroupNames(results, count, p);
            if (rc != 0 && rc != 1 && rc != kProtocolError) std::abort();
            break;
        }
        case 6: {
            GuardedPages uids(count * 4);
            BuildQelnfsdResponseUidsFromUNames(&op, count, reinterpret_cast<int32_t*>(uids.data()));
            break;
        }
        case 7:
        case 8: {  // authorisation: count is the gid capacity
            GuardedPages uid(4), gid(4), gids(count * 4), groupCount(4);
            auto* n = reinterpret_cast<int32_t*>(groupCount.data());
            *n = static_cast<int32_t>(count);
            const int rc =
                reader == 7
                    ? BuildQelnfsdAuthorizeResponse(results, reinterpret_cast<int32_t*>(uid.data()),
                                                    reinterpret_cast<int32_t*>(gid.data()),
                                                    reinterpret_cast<int32_t*>(gids.data()), n)
                    : BuildPcnfsdAuthorizeResponse(results, reinterpret_cast<int32_t*>(uid.data()),
                                                   reinterpret_cast<int32_t*>(gid.data()),
                                                   reinterpret_cast<int32_t*>(gids.data()), n);
            if (rc != 0 && rc != (reader == 7 ? -1 : 5) && rc != kProtocolError) std::abort();
            if (*n < 0 || static_cast<uint32_t>(*n) > count) std::abort();
            break;
        }
        default: {  // pointers that are not inside the last reply read nothing
            GuardedPages uid(4), gid(4), gids(count * 4), groupCount(4), names(count * 256);
            auto* n = reinterpret_cast<int32_t*>(groupCount.data());
            *n = static_cast<int32_t>(count);
            if (BuildPcnfsdAuthorizeResponse(elsewhere.data(), reinterpret_cast<int32_t*>(uid.data()),
                                             reinterpret_cast<int32_t*>(gid.data()),
                                             reinterpret_cast<int32_t*>(gids.data()), n) != kProtocolError)
                std::abort();
            const int rc = BuildQelnfsdResponseGidOrUid(elsewhere.data(), count, names.chars());
            if (count != 0 && rc != kProtocolError) std::abort();
            break;
        }
    }
    return 0;
}
