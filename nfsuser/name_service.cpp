// SPDX-License-Identifier: MIT
// Name-service dispatch (docs/ARCHITECTURE.md, "Name service").
#include "nfsuser/name_service.h"

#include <atomic>
#include <cstring>

#include "nfsuser/directory_service.h"
#include "nfsuser/name_list.h"
#include "nfsuser/nfs_protocols.h"
#include "nfsuser/pcnfsd.h"
#include "nfsuser/qelnfsd.h"
#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/call_header.h"
#include "rpc/operation.h"
#include "rpc/portmap.h"
#include "rpc/status.h"

using namespace qelrpc;
using namespace qelrpc::nfsuser;

namespace {

// Written only by a successful check, whole 32-bit values; readers may see
// an older kind while another thread checks, never a torn one.
std::atomic<int32_t> g_kind{0};

// The Qelnfsd id-to-name procedures carry at most this many ids a call.
constexpr uint32_t kMaxIdsPerCall = 128;

// Which daemon an operation already names, for a check without look-up.
int32_t kindOfPreparedOperation(const RpcOperation& op) {
    if (op.tcpPort == 0 && op.udpPort == 0) return 0;
    if (op.prog == QELNFSD_PROGRAM) return NameServiceQelnfsd;
    if (op.prog == PCNFSD_PROGRAM) return NameServicePcnfsd;
    return 0;
}

// Qelnfsd procedures 4 and 8: one call per name, all under the one call
// header written before the loop. Each slot starts at -1 and keeps it when
// its exchange fails; the last exchange's status is returned.
int qelnfsdNamesToIds(RpcOperation* op, uint32_t proc, uint32_t count, const char* names, int32_t* ids) {
    if (op == nullptr) return status::kHeaderNullOperation;
    int rc = rpc::prepareHeader(*op, proc);
    if (rc != 0) return rc;
    NameListReader list(names);
    for (uint32_t i = 0; i < count; ++i) {
        NameBuffer name;
        list.next(name);
        int32_t value = -1;
        writeQelnfsdNames(*op, 1, name);
        rc = rpc::callRpc(*op, 0);
        if (proc == QELNFSD_PROC_GROUPNAME_TO_GID) {
            int32_t* slots[1] = {&value};
            if (rc == 0) rc = readQelnfsdResponseGroupNames(resultsOf(*op), 1, slots);
        } else {
            // A pair the results do not hold reads as -1.
            if (rc == 0) rc = readQelnfsdUids(resultsOf(*op), 1, &value) == 0 ? 0 : kProtocolError;
        }
        if (ids != nullptr) ids[i] = value;
    }
    return rc;
}

// Qelnfsd procedures 5 and 7: up to 128 ids a call, the names appended in
// order. A reply that ends its list early (an id without a name) ends the
// question: the names after it are not written. Results that cannot be
// read end it with kProtocolError.
int qelnfsdIdsToNames(RpcOperation* op, uint32_t proc, uint32_t count, const int32_t* ids, char* names) {
    if (op == nullptr) return status::kHeaderNullOperation;
    int rc = rpc::prepareHeader(*op, proc);
    if (rc != 0) return rc;
    uint32_t done = 0;
    size_t offset = 0;
    do {
        const uint32_t n = count - done < kMaxIdsPerCall ? count - done : kMaxIdsPerCall;
        int32_t chunk[kMaxIdsPerCall];
        for (uint32_t i = 0; i < n; ++i) chunk[i] = ids != nullptr ? ids[done + i] : -1;
        writeQelnfsdIds(*op, n, chunk);
        rc = rpc::callRpc(*op, 0);
        if (rc != 0) return rc;
        // Each chunk goes where the last one ended, by the bytes the reader
        // wrote (not by reading the names back).
        char* at = names != nullptr ? names + offset : nullptr;
        uint32_t named = 0;
        size_t written = 0;
        rc = readQelnfsdNames(resultsOf(*op), n, at, &named, &written);
        if (rc != 0 || named != n) return rc;
        offset += written;
        done += n;
    } while (done < count);
    return rc;
}

// The check of PerformNfsdCheck: the remembered kind, else the directory
// service, else the daemon the server's portmapper knows (or the prepared
// operation names).
int checkService(RpcOperation* op, bool open, bool lookupPort, int32_t* kind) {
    const int32_t remembered = g_kind.load(std::memory_order_relaxed);
    if (remembered != 0 && !open) {
        if (kind != nullptr) *kind = remembered;
        return 0;
    }
    if (directory::configured()) {
        g_kind.store(NameServiceDirectory, std::memory_order_relaxed);
        if (kind != nullptr) *kind = NameServiceDirectory;
        return 0;
    }
    if (open) {
        const int rc = op != nullptr ? operation::init(*op) : status::kNullRecord;
        if (rc != 0) return rc;
    }
    int32_t found = 0;
    if (op != nullptr && attachQuestionCredential(*op, open)) {
        if (!lookupPort) {
            found = kindOfPreparedOperation(*op);
        } else if (rpc::getProgramPort(*op, PCNFSD_PROGRAM, PCNFSD_VERSION, 0) == 0) {
            found = NameServicePcnfsd;
        } else if (rpc::getProgramPort(*op, QELNFSD_PROGRAM, QELNFSD_VERSION, 0) == 0) {
            found = NameServiceQelnfsd;
        }
    }
    if (found == 0) {
        if (open) operation::close(*op);  // (opened above: op is not null)
        return -1;
    }
    g_kind.store(found, std::memory_order_relaxed);
    if (kind != nullptr) *kind = found;
    return 0;
}

// One user or group question, `map` its PCNFSD MAPID kind, to the service
// the check chose; names and ids are the question's input and output
// areas, which side is which the kind says.
int ask(RpcOperation* op, bool open, bool lookupPort, uint32_t map, uint32_t count, char* names, int32_t* ids) {
    int32_t kind = 0;
    const int rc = checkService(op, open, lookupPort, &kind);
    if (rc != 0) return rc;
    if (kind == NameServiceDirectory) {
        switch (map) {
            case MapGroupNameToGid: return directory::groupNamesToGids(count, names, ids);
            case MapUserNameToUid: return directory::userNamesToUids(count, names, ids);
            case MapGidToName: return directory::gidsToGroupNames(count, ids, names);
            default: return directory::uidsToUserNames(count, ids, names);
        }
    }
    if (kind == NameServicePcnfsd) return pcnfsdAsk(op, open, map, count, names, ids);
    OwnedOperation owned(op, open);
    switch (map) {
        case MapGroupNameToGid: return qelnfsdNamesToIds(op, QELNFSD_PROC_GROUPNAME_TO_GID, count, names, ids);
        case MapUserNameToUid: return qelnfsdNamesToIds(op, QELNFSD_PROC_USERNAMES_TO_UIDS, count, names, ids);
        case MapGidToName: return qelnfsdIdsToNames(op, QELNFSD_PROC_GIDS_TO_GROUPNAMES, count, ids, names);
        default: return qelnfsdIdsToNames(op, QELNFSD_PROC_UIDS_TO_USERNAMES, count, ids, names);
    }
}

}  // namespace

namespace qelrpc::nfsuser {

int32_t rememberedNameServiceKind() noexcept { return g_kind.load(std::memory_order_relaxed); }

void forgetNameServiceKind() noexcept { g_kind.store(0, std::memory_order_relaxed); }

}  // namespace qelrpc::nfsuser

extern "C" {

int PerformNfsdCheck(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, int32_t* kind) {
    return checkService(op, flagSet(openOperation), flagSet(lookupPort), kind);
}

int PerformGetGidsFromGNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                             const char* names, int32_t* gids) {
    return ask(op, flagSet(openOperation), flagSet(lookupPort), MapGroupNameToGid, count, const_cast<char*>(names),
               gids);
}

int PerformGetUidsFromUNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                             const char* names, int32_t* uids) {
    return ask(op, flagSet(openOperation), flagSet(lookupPort), MapUserNameToUid, count, const_cast<char*>(names),
               uids);
}

int PerformGetGNamesFromGids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                             char* names, const int32_t* gids) {
    return ask(op, flagSet(openOperation), flagSet(lookupPort), MapGidToName, count, names, const_cast<int32_t*>(gids));
}

int PerformGetUserNamesFromUids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t count,
                                char* names, const int32_t* uids) {
    return ask(op, flagSet(openOperation), flagSet(lookupPort), MapUidToName, count, names, const_cast<int32_t*>(uids));
}

int PerformPcnfsdGroupName(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, const char* groupName,
                           int32_t* gid) {
    return ask(op, flagSet(openOperation), flagSet(lookupPort), MapGroupNameToGid, 1,
               const_cast<char*>(groupName != nullptr ? groupName : ""), gid);
}

}  // extern "C"
