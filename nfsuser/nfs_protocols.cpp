#include "nfsuser/nfs_protocols.h"

#include "rpc/call_header.h"
#include "rpc/credentials.h"
#include "rpc/flavor.h"
#include "rpc/portmap.h"

namespace qelrpc::nfsuser {

bool attachQuestionCredential(RpcOperation* op, bool openedHere) {
    if (op == nullptr) return false;
    if (!openedHere && op->auth != nullptr) {
        flavor::release(op->auth);
        op->auth = nullptr;
    }
    return credentials::createAuthUnix(*op, nullptr, 0, 0) != 0;
}

int beginQuestion(RpcOperation* op, bool open, bool lookupPort, uint32_t prog, uint32_t vers, uint32_t proc) {
    if (op == nullptr) return -1;
    if (open) {
        const int rc = operation::init(*op);
        if (rc != 0) return rc;
    }
    auto fail = [&](int rc) {
        if (open) operation::close(*op);
        return rc;
    };
    if (!attachQuestionCredential(op, open)) return fail(-1);
    if (lookupPort) {
        const int rc = rpc::getProgramPort(*op, prog, vers, 0);
        if (rc != 0) return fail(rc);
    }
    const int rc = rpc::prepareHeader(*op, proc);
    if (rc != 0) return fail(rc);
    return 0;
}

}  // namespace qelrpc::nfsuser
