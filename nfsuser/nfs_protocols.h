// SPDX-License-Identifier: MIT
// Shared pieces of the two user-service clients: the open/close discipline
// of the byte flags and the AUTH_UNIX credential every name question
// carries.
#pragma once

#include <cstdint>

#include "platform/status_table.h"
#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/operation.h"

namespace qelrpc::nfsuser {

inline bool flagSet(uint8_t flag) { return flag != 0; }

// kProtocolError (1728, as Win32's RPC_S_PROTOCOL_ERROR): results that
// cannot be read are never an answer, never a refusal.
QELRPC_STATUS_NAME_SERVICE(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)

// Closes the operation on every path out of a call when the call owns it.
class OwnedOperation {
  public:
    OwnedOperation(RpcOperation* op, bool owned) : op_(op), owned_(owned) {}
    ~OwnedOperation() {
        if (owned_ && op_ != nullptr) operation::close(*op_);
    }
    OwnedOperation(const OwnedOperation&) = delete;
    OwnedOperation& operator=(const OwnedOperation&) = delete;

  private:
    RpcOperation* op_;
    bool owned_;
};

// Attaches the AUTH_UNIX credential every name question carries. An
// operation the caller opened and keeps may already carry one from an
// earlier question: that record is released first, so a question per call
// leaks nothing. (An operation opened by this call is left alone: its old
// pointer is whatever the caller's record held.)
bool attachQuestionCredential(RpcOperation& op, bool openedHere);

// The results of the last checked reply: the reply's data window.
inline MbufCursor resultsOf(const RpcOperation& op) { return op.reply.data; }

// A complete question to one daemon: open (when asked), attach AUTH_UNIX
// (local host name, uid 0, gid 0), look the port up (when asked), write
// the header. Returns 0 or the failing step's status (-1 for the
// credential). On failure the operation is closed when this call opened it.
int beginQuestion(RpcOperation* op, bool open, bool lookupPort, uint32_t prog, uint32_t vers, uint32_t proc);

// A whole question: beginQuestion, write(op) the arguments, the call, then
// read(results); the first failing step's status. The operation is closed
// on every path out when this call opened it.
template <class Write, class Read>
int askDaemon(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort, uint32_t prog, uint32_t vers, uint32_t proc,
              Write write, Read read) {
    const bool open = flagSet(openOperation);
    int rc = beginQuestion(op, open, flagSet(lookupPort), prog, vers, proc);
    if (rc != 0) return rc;
    OwnedOperation owned(op, open);
    rc = write(*op);
    if (rc == 0) rc = rpc::callRpc(*op, 0);
    return rc != 0 ? rc : read(resultsOf(*op));
}

}  // namespace qelrpc::nfsuser
