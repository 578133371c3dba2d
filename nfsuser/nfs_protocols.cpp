#include "nfsuser/nfs_protocols.h"

#include "rpc/flavor.h"

namespace qelrpc::nfsuser {

bool attachQuestionCredential(RpcOperation* op, bool openedHere) {
    if (op == nullptr) return false;
    if (!openedHere && op->auth != nullptr) {
        flavor::release(op->auth);
        op->auth = nullptr;
    }
    return rpcCreateAuthUnix(op, nullptr, 0, 0) != 0;
}

int beginQuestion(RpcOperation* op, bool open, bool lookupPort, uint32_t prog, uint32_t vers, uint32_t proc) {
    if (op == nullptr) return -1;
    if (open) {
        const int rc = rpcInitOperation(op);
        if (rc != 0) return rc;
    }
    auto fail = [&](int rc) {
        if (open) rpcCloseOperation(op);
        return rc;
    };
    if (!attachQuestionCredential(op, open)) return fail(-1);
    if (lookupPort) {
        const int rc = GetProgramPort(op, prog, vers, 0);
        if (rc != 0) return fail(rc);
    }
    const int rc = rpcPrepareRPCHeader(op, proc);
    if (rc != 0) return fail(rc);
    return 0;
}

}  // namespace qelrpc::nfsuser
