#include "nfsuser/nfs_protocols.h"

namespace qelrpc::nfsuser {

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
    if (!rpcCreateAuthUnix(op, nullptr, 0, 0)) return fail(-1);
    if (lookupPort) {
        const int rc = GetProgramPort(op, prog, vers, 0);
        if (rc != 0) return fail(rc);
    }
    const int rc = rpcPrepareRPCHeader(op, proc);
    if (rc != 0) return fail(rc);
    return 0;
}

}  // namespace qelrpc::nfsuser
