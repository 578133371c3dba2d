// SPDX-License-Identifier: MIT
// The PCNFSD version 2 client's name and id mapping (MAPID, procedure 12).
//
// MAPID arguments:  comment (string, always empty)
//                   { more=1, kind, id, name (string) } ...  0
// MAPID results:    comment (string)
//                   { more!=0, kind, status, id, name (string) } ...  0
#include "nfsuser/pcnfsd.h"

#include <cstdio>

#include "nfsuser/name_list.h"
#include "nfsuser/nfs_protocols.h"
#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/call_header.h"
#include "rpc/operation.h"
#include "rpc/received_reply.h"
#include "rpc/status.h"
#include "xdr/mbuf.h"
#include "xdr/wire.h"

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

// One item of a MAPID result list, as read behind its nonzero `more` word.
struct MapItem {
    uint32_t kind = 0, status = 0, id = 0;
    NameBuffer name{};
    uint32_t nameLength = 0;
};

enum class ItemRead { Item, End, Unreadable };

// The next item of the list: End at the list's closing 0, Unreadable when
// the reply ends before the item does.
ItemRead nextItem(wire::Reader& r, MapItem& item) {
    const uint32_t more = r.word();
    if (!r.ok()) return ItemRead::Unreadable;
    if (more == 0) return ItemRead::End;
    item.kind = r.word();
    item.status = r.word();
    item.id = r.word();
    return readName(r, item.name, item.nameLength) ? ItemRead::Item : ItemRead::Unreadable;
}

// The MAPID request of `count` items of `kind`, on a fresh data window:
// each with its id (from idsRef, -1 without) and its name (from the
// NameList; an empty one ends the names, and no list gives empty names).
// The group-name form (BuildPcnfsdReqGroupNames) gives every item id 0 and
// walks past empty names.
int writeRequest(RpcOperation& op, uint32_t kind, uint32_t count, const char* names, int32_t** idsRef,
                 bool groupNameForm = false) {
    operation::initDataBuffer(op.request);
    MbufCursor& w = op.request.data;
    int rc = mbuf::addLong(w, 0);
    NameListReader list(names);
    for (uint32_t i = 0; i < count && rc == 0; ++i) {
        rc = mbuf::addLong(w, 1);
        if (rc == 0) rc = mbuf::addLong(w, static_cast<int32_t>(kind));
        if (rc == 0) rc = mbuf::addLong(w, groupNameForm ? 0 : idAt(idsRef, i));
        NameBuffer name;
        if (groupNameForm) list.next(name);
        else list.nextUntilEmpty(name);
        if (rc == 0) rc = mbuf::addString(w, name);
    }
    // A request without its end of list is never sent as if complete.
    if (rc == 0) rc = mbuf::addLong(w, 0);
    return rc;
}

int readResult(const RpcOperation& op, uint32_t kind, uint32_t count, char* names, int32_t** idsRef) {
    // The question decides which caller area is an output: names for an
    // id-to-name question, ids for a name-to-id one. The other area is the
    // caller's input and is never written, whatever the reply holds.
    const bool namesOut = namesAnswered(kind);
    const bool idsOut = kind == MapUserNameToUid || kind == MapGroupNameToGid;
    int32_t* ids = idsOut && idsRef != nullptr ? *idsRef : nullptr;
    NameListWriter out(namesOut ? names : nullptr);
    wire::Reader r(resultsOf(op));
    r.opaque();  // the comment
    ItemRead state = r.ok() ? ItemRead::Item : ItemRead::Unreadable;
    for (uint32_t i = 0; i < count; ++i) {
        MapItem item;
        bool answered = false;
        if (state == ItemRead::Item) {
            state = nextItem(r, item);
            // An item counts only where its kind is the question's.
            answered = state == ItemRead::Item && item.kind == kind;
        }
        const int32_t id = static_cast<int32_t>(item.id);
        if (namesOut) {
            // An unanswered id (the list ended, an item of another kind, an
            // empty name) yields the id in decimal.
            if (answered && item.nameLength != 0) {
                out.append(item.name, item.nameLength);
            } else {
                appendDecimal(out, answered ? id : idAt(idsRef, i));
            }
        } else if (ids != nullptr) {
            ids[i] = answered ? id : -1;
        }
    }
    return state == ItemRead::Unreadable ? kProtocolError : 0;
}

int pcnfsdMapIds(RpcOperation* op, bool open, uint32_t kind, uint32_t count, char* names, int32_t** idsRef) {
    if (op == nullptr) return status::kHeaderNullOperation;
    OwnedOperation owned(op, open);
    int rc = rpc::prepareHeader(*op, PCNFSD_PROC_MAPID);
    if (rc == 0) rc = writeRequest(*op, kind, count, names, idsRef);
    if (rc == 0) rc = rpc::callRpc(*op, 0);
    if (rc == 0) rc = readResult(*op, kind, count, names, idsRef);
    return rc;
}

int idsToNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t kind, uint32_t count,
               const int32_t* ids, char* names) {
    int32_t* in = const_cast<int32_t*>(ids);  // read only
    return askDaemon(
        op, openOperation, lookupPort, PCNFSD_PROGRAM, PCNFSD_VERSION, PCNFSD_PROC_MAPID,
        [&](RpcOperation& o) { return writeRequest(o, kind, count, nullptr, &in); },
        [&](MbufCursor results) { return readPcnfsdResponseGidOrUid(results, count, names, static_cast<int32_t>(kind)); });
}

}  // namespace

namespace qelrpc::nfsuser {

int readPcnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names, int32_t kind) {
    wire::Reader r(results);
    NameListWriter out(names);
    r.opaque();  // the comment
    if (!r.ok()) return kProtocolError;
    for (uint32_t i = 0; i < count; ++i) {
        MapItem item;
        const ItemRead state = nextItem(r, item);
        if (state == ItemRead::Unreadable) return kProtocolError;
        if (state == ItemRead::End) break;
        // Only an id-to-name item (of the kind asked, when known) names
        // the id; anything else leaves it unknown.
        const bool answers = kind < 0 ? namesAnswered(item.kind) : item.kind == static_cast<uint32_t>(kind);
        if (!answers || item.nameLength == 0) {
            out.append(kNobody);
        } else {
            out.append(item.name, item.nameLength);
        }
    }
    return 0;
}

int readPcnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs) {
    wire::Reader r(results);
    r.opaque();  // the comment
    ItemRead state = r.ok() ? ItemRead::Item : ItemRead::Unreadable;
    bool held = false;  // the reply still held the last item read
    for (uint32_t i = 0; i < count; ++i) {
        int32_t* slot = gidPtrs != nullptr ? gidPtrs[i] : nullptr;
        if (slot != nullptr) *slot = -1;
        if (state != ItemRead::Item) continue;
        MapItem item;
        state = nextItem(r, item);
        held = state == ItemRead::Item;
        if (held && item.status == 0 && item.kind == MapGroupNameToGid && slot != nullptr)
            *slot = static_cast<int32_t>(item.id);
    }
    if (state == ItemRead::Unreadable) return kProtocolError;
    return held ? 1 : 0;
}

int pcnfsdAsk(RpcOperation* op, bool open, uint32_t kind, uint32_t count, char* names, int32_t* ids) {
    if (namesAnswered(kind) && names != nullptr) names[0] = '\0';
    for (uint32_t i = 0; !namesAnswered(kind) && ids != nullptr && i < count; ++i) ids[i] = -1;
    return pcnfsdMapIds(op, open, kind, count, names, &ids);
}

}  // namespace qelrpc::nfsuser

extern "C" {

int NFSDInitValues(uint32_t count, int32_t* values) {
    if (values == nullptr) return 0;
    for (uint32_t i = 0; i < count; ++i) values[i] = -1;
    return 0;
}

int BuildPcnfsdRequest(RpcOperation* op, uint32_t kind, uint32_t count, const char* names, int32_t** idsRef) {
    return op != nullptr ? writeRequest(*op, kind, count, names, idsRef) : -1;
}

int BuildPcnfsdResult(RpcOperation* op, uint32_t kind, uint32_t count, char* names, int32_t** idsRef) {
    return op != nullptr ? readResult(*op, kind, count, names, idsRef) : 0;
}

int PerformRpcCallPcnfsd(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t kind,
                         uint32_t count, char* names, int32_t** idsRef) {
    (void)lookupPort;  // the generic path never looks a port up
    return pcnfsdMapIds(op, flagSet(openOperation), kind, count, names, idsRef);
}

int PcnfsdGetUNamesFromUids(RpcOperation* op, uint8_t openOperation, uint8_t /*lookupPort*/, uint32_t count,
                            char* names, int32_t* uids) {
    return pcnfsdAsk(op, flagSet(openOperation), MapUidToName, count, names, uids);
}

int PcnfsdGetGNamesFromGids(RpcOperation* op, uint8_t openOperation, uint8_t /*lookupPort*/, uint32_t count,
                            char* names, int32_t* gids) {
    return pcnfsdAsk(op, flagSet(openOperation), MapGidToName, count, names, gids);
}

int PcnfsdGetUidsFromUNames(RpcOperation* op, uint8_t openOperation, uint8_t /*lookupPort*/, uint32_t count,
                            const char* names, int32_t* uids) {
    return pcnfsdAsk(op, flagSet(openOperation), MapUserNameToUid, count, const_cast<char*>(names), uids);
}

int PcnfsdGetGidsFromGNames(RpcOperation* op, uint8_t openOperation, uint8_t /*lookupPort*/, uint32_t count,
                            const char* names, int32_t* gids) {
    return pcnfsdAsk(op, flagSet(openOperation), MapGroupNameToGid, count, const_cast<char*>(names), gids);
}

int BuildPcnfsdReqGidOrUid(RpcOperation* op, uint32_t kind, uint32_t count, const int32_t* ids) {
    int32_t* in = const_cast<int32_t*>(ids);  // read only
    return op != nullptr ? writeRequest(*op, kind, count, nullptr, &in) : -1;
}

int BuildPcnfsdResponseGidOrUid(const uint8_t* results, uint32_t count, char* names) {
    return readPcnfsdResponseGidOrUid(received::windowAt(results), count, names);
}

int BuildPcnfsdReqGroupNames(RpcOperation* op, uint32_t count, const char* names) {
    return op != nullptr ? writeRequest(*op, MapGroupNameToGid, count, names, nullptr, true) : -1;
}

int BuildPcnfsdResponseGroupNames(const uint8_t* results, uint32_t count, int32_t** gidPtrs) {
    return readPcnfsdResponseGroupNames(received::windowAt(results), count, gidPtrs);
}

int PerformPcnfsdReqGid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                        const int32_t* gids, char* names) {
    return idsToNames(op, openOperation, lookupPort, MapGidToName, count, gids, names);
}

int PerformPcnfsdReqUid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                        const int32_t* uids, char* names) {
    return idsToNames(op, openOperation, lookupPort, MapUidToName, count, uids, names);
}

}  // extern "C"
