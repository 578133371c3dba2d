// The PCNFSD version 2 client's name and id mapping (MAPID, procedure 12).
//
// MAPID arguments:  comment (string, always empty)
//                   { more=1, kind, id, name (string) } ...  0
// MAPID results:    comment (string)
//                   { more!=0, kind, status, id, name (string) } ...  0
#include <cstdio>

#include "nfsuser/name_list.h"
#include "nfsuser/nfs_protocols.h"
#include "nfsuser/pcnfsd_readers.h"
#include "nfsuser/reply_reader.h"
#include "qelrpc.h"
#include "rpc/received_reply.h"

using namespace qelrpc;
using namespace qelrpc::nfsuser;

namespace {

constexpr const char* kNobody = "Nobody";

bool namesAnswered(uint32_t kind) { return kind == MapUidToName || kind == MapGidToName; }

int32_t idAt(int32_t** idsRef, uint32_t i) {
    return (idsRef != nullptr && *idsRef != nullptr) ? (*idsRef)[i] : -1;
}

void appendDecimal(NameListWriter& out, int32_t id) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", id);
    out.append(text, static_cast<size_t>(n));
}

// Appends the MAPID request of `count` id-to-name items of `kind`.
int writeIdItems(RpcOperation* op, uint32_t kind, uint32_t count, const int32_t* ids) {
    MbufCursor& w = op->request.data;
    int rc = mbufAddLong(&w, 0);
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        rc = mbufAddLong(&w, 1);
        if (rc == 0) rc = mbufAddLong(&w, static_cast<int32_t>(kind));
        if (rc == 0) rc = mbufAddLong(&w, ids != nullptr ? ids[i] : -1);
        if (rc == 0) rc = mbufAddLong(&w, 0);
    }
    if (rc == 0) rc = mbufAddLong(&w, 0);
    return rc;
}

}  // namespace

namespace qelrpc::nfsuser {

int readPcnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names) {
    ReplyReader r(results);
    NameListWriter out(names);
    if (!r.skipString()) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t more;
        if (!r.word(more) || more == 0) break;
        NameBuffer name;
        uint32_t length = 0;
        if (!r.skipWords(3) || !r.name(name, &length)) break;
        if (length == 0) {
            out.append(kNobody);
        } else {
            out.append(name, length);
        }
    }
    return 0;
}

int readPcnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs) {
    ReplyReader r(results);
    r.skipString();
    uint32_t more = 0;
    bool ended = !r.ok();
    for (uint32_t i = 0; i < count; ++i) {
        int32_t* slot = gidPtrs != nullptr ? gidPtrs[i] : nullptr;
        if (slot != nullptr) *slot = -1;
        if (ended) continue;
        if (!r.word(more) || more == 0) {
            more = 0;
            ended = true;
            continue;
        }
        uint32_t status = 0, id = 0;
        if (!r.skipWords(1) || !r.word(status) || !r.word(id) || !r.skipString()) {
            more = 0;
            ended = true;
            continue;
        }
        if (status == 0 && slot != nullptr) *slot = static_cast<int32_t>(id);
    }
    return static_cast<int>(more);
}

}  // namespace qelrpc::nfsuser

extern "C" {

int NFSDInitValues(uint32_t count, int32_t* values) {
    if (values == nullptr) return 0;
    for (uint32_t i = 0; i < count; ++i) values[i] = -1;
    return 0;
}

int BuildPcnfsdRequest(RpcOperation* op, uint32_t kind, uint32_t count, const char* names, int32_t** idsRef) {
    if (op == nullptr) return -1;
    InitDataBuffer(&op->request);
    MbufCursor& w = op->request.data;
    int rc = mbufAddLong(&w, 0);
    NameListReader list(names);
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        rc = mbufAddLong(&w, 1);
        if (rc == 0) rc = mbufAddLong(&w, static_cast<int32_t>(kind));
        if (rc == 0) rc = mbufAddLong(&w, idAt(idsRef, i));
        NameBuffer name;
        list.nextUntilEmpty(name);
        if (rc == 0) rc = mbufAddString(&w, name);
    }
    // A request without its end of list is never sent as if complete.
    if (rc == 0) rc = mbufAddLong(&w, 0);
    return rc;
}

int BuildPcnfsdResult(RpcOperation* op, uint32_t kind, uint32_t count, char* names, int32_t** idsRef) {
    if (op == nullptr) return 0;
    ReplyReader r(resultsOf(*op));
    NameListWriter out(names);
    r.skipString();
    bool ended = !r.ok();
    uint32_t idIndex = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t more = 0, itemKind = kind, status = 0, id = 0;
        NameBuffer name;
        uint32_t length = 0;
        if (!ended && (!r.word(more) || more == 0 || !r.word(itemKind) || !r.word(status) || !r.word(id) ||
                       !r.name(name, &length)))
            ended = true;
        if (ended) {
            // A list that ended early: an id-to-name item still yields a
            // name (the id asked about, in decimal); a name-to-id item
            // stays unknown.
            if (namesAnswered(kind)) {
                appendDecimal(out, idAt(idsRef, i));
            } else if (idsRef != nullptr && *idsRef != nullptr) {
                (*idsRef)[idIndex++] = -1;
            }
            continue;
        }
        if (namesAnswered(itemKind)) {
            if (length == 0) {
                appendDecimal(out, static_cast<int32_t>(id));
            } else {
                out.append(name, length);
            }
        } else if (idsRef != nullptr && *idsRef != nullptr) {
            (*idsRef)[idIndex++] = static_cast<int32_t>(id);
        }
    }
    return 0;
}

int PerformRpcCallPcnfsd(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t kind,
                         uint32_t count, char* names, int32_t** idsRef) {
    (void)lookupPort;  // the generic path never looks a port up
    OwnedOperation owned(op, op != nullptr && flagSet(openOperation));
    int rc = rpcPrepareRPCHeader(op, PCNFSD_PROC_MAPID);
    if (rc == 0) rc = BuildPcnfsdRequest(op, kind, count, names, idsRef);
    if (rc == 0) rc = CallRPC(op, 0);
    if (rc == 0) rc = BuildPcnfsdResult(op, kind, count, names, idsRef);
    return rc;
}

int PcnfsdGetUNamesFromUids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                            char* names, int32_t* uids) {
    if (names != nullptr) names[0] = '\0';
    return PerformRpcCallPcnfsd(op, openOperation, lookupPort, MapUidToName, count, names, &uids);
}

int PcnfsdGetGNamesFromGids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                            char* names, int32_t* gids) {
    if (names != nullptr) names[0] = '\0';
    return PerformRpcCallPcnfsd(op, openOperation, lookupPort, MapGidToName, count, names, &gids);
}

int PcnfsdGetUidsFromUNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                            const char* names, int32_t* uids) {
    NFSDInitValues(count, uids);
    return PerformRpcCallPcnfsd(op, openOperation, lookupPort, MapUserNameToUid, count, const_cast<char*>(names),
                                &uids);
}

int PcnfsdGetGidsFromGNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                            const char* names, int32_t* gids) {
    NFSDInitValues(count, gids);
    return PerformRpcCallPcnfsd(op, openOperation, lookupPort, MapGroupNameToGid, count, const_cast<char*>(names),
                                &gids);
}

int BuildPcnfsdReqGidOrUid(RpcOperation* op, uint32_t kind, uint32_t count, const int32_t* ids) {
    if (op == nullptr) return -1;
    InitDataBuffer(&op->request);
    return writeIdItems(op, kind, count, ids);
}

int BuildPcnfsdResponseGidOrUid(const uint8_t* results, uint32_t count, char* names) {
    return readPcnfsdResponseGidOrUid(received::windowAt(results), count, names);
}

int BuildPcnfsdReqGroupNames(RpcOperation* op, uint32_t count, const char* names) {
    if (op == nullptr) return -1;
    InitDataBuffer(&op->request);
    MbufCursor& w = op->request.data;
    int rc = mbufAddLong(&w, 0);
    NameListReader list(names);
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        NameBuffer name;
        list.next(name);
        rc = mbufAddLong(&w, 1);
        if (rc == 0) rc = mbufAddLong(&w, MapGroupNameToGid);
        if (rc == 0) rc = mbufAddLong(&w, 0);
        if (rc == 0) rc = mbufAddString(&w, name);
    }
    if (rc == 0) rc = mbufAddLong(&w, 0);
    return rc;
}

int BuildPcnfsdResponseGroupNames(const uint8_t* results, uint32_t count, int32_t** gidPtrs) {
    return readPcnfsdResponseGroupNames(received::windowAt(results), count, gidPtrs);
}

static int performPcnfsdIdsToNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t kind,
                                   uint32_t count, const int32_t* ids, char* names) {
    const bool open = flagSet(openOperation);
    int rc = beginQuestion(op, open, flagSet(lookupPort), PCNFSD_PROGRAM, PCNFSD_VERSION, PCNFSD_PROC_MAPID);
    if (rc != 0) return rc;
    OwnedOperation owned(op, open);
    rc = BuildPcnfsdReqGidOrUid(op, kind, count, ids);
    if (rc != 0) return rc;
    rc = CallRPC(op, 0);
    if (rc != 0) return rc;
    return readPcnfsdResponseGidOrUid(resultsOf(*op), count, names);
}

int PerformPcnfsdReqGid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                        const int32_t* gids, char* names) {
    return performPcnfsdIdsToNames(op, openOperation, lookupPort, MapGidToName, count, gids, names);
}

int PerformPcnfsdReqUid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                        const int32_t* uids, char* names) {
    return performPcnfsdIdsToNames(op, openOperation, lookupPort, MapUidToName, count, uids, names);
}

}  // extern "C"
