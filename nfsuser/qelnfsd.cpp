// SPDX-License-Identifier: MIT
// The Qelnfsd version 1 client's name and id procedures.
//
//   4  group names -> gids:  args  name (string) ...        results  { status, gid } per name
//   5  gids -> group names:  args  count, gid ...           results  name (string) per gid;
//   7  uids -> user names:   args  count, uid ...                    an empty one ends the list
//   8  user names -> uids:   args  name (string) ...        results  { status, uid } per name
#include "nfsuser/qelnfsd.h"

#include "nfsuser/name_list.h"
#include "nfsuser/nfs_protocols.h"
#include "qelrpc.h"
#include "rpc/operation.h"
#include "rpc/received_reply.h"
#include "xdr/mbuf.h"
#include "xdr/wire.h"

using namespace qelrpc;
using namespace qelrpc::nfsuser;

namespace qelrpc::nfsuser {

int writeQelnfsdNames(RpcOperation& op, uint32_t count, const char* names) {
    operation::initDataBuffer(op.request);
    NameListReader list(names);
    for (uint32_t i = 0; i < count; ++i) {
        NameBuffer name;
        list.next(name);
        const int rc = mbuf::addString(op.request.data, name);
        if (rc != 0) return rc;
    }
    return 0;
}

int writeQelnfsdIds(RpcOperation& op, uint32_t count, const int32_t* ids) {
    operation::initDataBuffer(op.request);
    int rc = mbuf::addLong(op.request.data, static_cast<int32_t>(count));
    for (uint32_t i = 0; i < count && rc == 0; ++i) rc = mbuf::addLong(op.request.data, ids != nullptr ? ids[i] : -1);
    return rc;
}

int readQelnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs) {
    wire::Reader r(results);
    int rc = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t* slot = gidPtrs != nullptr ? gidPtrs[i] : nullptr;
        const uint32_t status = r.word(), gid = r.word();
        if (!r.ok()) rc = kProtocolError;
        if (slot != nullptr) *slot = (r.ok() && status == 0) ? static_cast<int32_t>(gid) : -1;
    }
    return rc;
}

int readQelnfsdNames(MbufCursor results, uint32_t count, char* names, uint32_t* named, size_t* written) {
    wire::Reader r(results);
    NameListWriter out(names);
    uint32_t n = 0;
    int rc = 0;
    for (; n < count; ++n) {
        NameBuffer name;
        uint32_t length = 0;
        if (!readName(r, name, length)) {
            rc = kProtocolError;
            break;
        }
        if (length == 0) break;  // the list ends here
        out.append(name, length);
    }
    if (named != nullptr) *named = n;
    if (written != nullptr) *written = out.offset();
    return rc;
}

int readQelnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names) {
    uint32_t named = 0;
    if (readQelnfsdNames(results, count, names, &named, nullptr) != 0) return kProtocolError;
    return named == count ? static_cast<int>(count) : 0;
}

int readQelnfsdUids(MbufCursor results, uint32_t count, int32_t* uids) {
    wire::Reader r(results);
    for (uint32_t i = 0; i < count; ++i) {
        r.word();  // the status word is not looked at: the uid is taken as given
        const uint32_t uid = r.word();
        if (uids != nullptr) uids[i] = r.ok() ? static_cast<int32_t>(uid) : -1;
    }
    return r.ok() ? 0 : -2;  // -2: the reply ends before a name's answer
}

}  // namespace qelrpc::nfsuser

extern "C" {

int BuildQelnfsdReqGroupNames(RpcOperation* op, uint32_t count, const char* names) {
    return op != nullptr ? writeQelnfsdNames(*op, count, names) : -1;
}

int BuildQelnfsdReqUidsFromUNames(RpcOperation* op, uint32_t count, const char* names) {
    return op != nullptr ? writeQelnfsdNames(*op, count, names) : -1;
}

int BuildQelnfsdReqGidOrUid(RpcOperation* op, uint32_t count, const int32_t* ids) {
    return op != nullptr ? writeQelnfsdIds(*op, count, ids) : -1;
}

int BuildQelnfsdResponseGroupNames(const uint8_t* results, uint32_t count, int32_t** gidPtrs) {
    return readQelnfsdResponseGroupNames(received::windowAt(results), count, gidPtrs);
}

int BuildQelnfsdResponseGidOrUid(const uint8_t* results, uint32_t count, char* names) {
    return readQelnfsdResponseGidOrUid(received::windowAt(results), count, names);
}

int BuildQelnfsdResponseUidsFromUNames(RpcOperation* op, uint32_t count, int32_t* uids) {
    return op != nullptr ? readQelnfsdUids(resultsOf(*op), count, uids) : -1;
}

int PerformQelnfsdGroupName(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, const char* groupName,
                            int32_t* gid) {
    int32_t* slots[1] = {gid};
    return askDaemon(
        op, openOperation, lookupPort, QELNFSD_PROGRAM, QELNFSD_VERSION, QELNFSD_PROC_GROUPNAME_TO_GID,
        [&](RpcOperation& o) { return writeQelnfsdNames(o, 1, groupName != nullptr ? groupName : ""); },
        [&](MbufCursor results) { return readQelnfsdResponseGroupNames(results, 1, slots); });
}

static int performQelnfsdIdsToNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t proc,
                                    uint32_t count, const int32_t* ids, char* names) {
    return askDaemon(
        op, openOperation, lookupPort, QELNFSD_PROGRAM, QELNFSD_VERSION, proc,
        [&](RpcOperation& o) { return writeQelnfsdIds(o, count, ids); },
        [&](MbufCursor results) { return readQelnfsdNames(results, count, names, nullptr, nullptr); });
}

int PerformQelnfsdReqGid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                         const int32_t* gids, char* names) {
    return performQelnfsdIdsToNames(op, openOperation, lookupPort, QELNFSD_PROC_GIDS_TO_GROUPNAMES, count, gids,
                                    names);
}

int PerformQelnfsdReqUid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                         const int32_t* uids, char* names) {
    return performQelnfsdIdsToNames(op, openOperation, lookupPort, QELNFSD_PROC_UIDS_TO_USERNAMES, count, uids,
                                    names);
}

}  // extern "C"
