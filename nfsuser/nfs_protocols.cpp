// SPDX-License-Identifier: MIT
#include "nfsuser/nfs_protocols.h"

#include "rpc/call_header.h"
#include "rpc/credentials.h"
#include "rpc/flavor.h"
#include "rpc/portmap.h"

namespace qelrpc::nfsuser {

bool attachQuestionCredential(RpcOperation& op, bool openedHere) {
    if (!openedHere && op.auth != nullptr) {
        flavor::release(op.auth);
        op.auth = nullptr;
    }
    return credentials::createAuthUnix(op, nullptr, 0, 0) != 0;
}

int beginQuestion(RpcOperation* op, bool open, bool lookupPort, uint32_t prog, uint32_t vers, uint32_t proc) {
    if (op == nullptr) return -1;
    int rc = open ? operation::init(*op) : 0;
    if (rc != 0) return rc;
    rc = attachQuestionCredential(*op, open) ? 0 : -1;
    if (rc == 0 && lookupPort) rc = rpc::getProgramPort(*op, prog, vers, 0);
    if (rc == 0) rc = rpc::prepareHeader(*op, proc);
    if (rc != 0 && open) operation::close(*op);
    return rc;
}

}  // namespace qelrpc::nfsuser
