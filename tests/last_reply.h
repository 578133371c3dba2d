// SPDX-License-Identifier: MIT
// Makes a reply block this thread's last received reply, as CallRPC leaves
// it, for the exported readers that take only a bare pointer into a reply.
// Against the library's objects this is the library's own record; against
// the shared library (QELRPC_TEST_SHARED_LIBRARY), which keeps that record
// to itself, it goes through the exported reply check, which records the
// reply before it reads a word of it (the check's verdict does not matter).
#pragma once

#include "qelrpc.h"
#ifndef QELRPC_TEST_SHARED_LIBRARY
#include "rpc/received_reply.h"
#endif

namespace lastreply {

inline void note(const Mbuf& reply) {
#ifdef QELRPC_TEST_SHARED_LIBRARY
    RpcOperation op{};
    op.reply = reply;
    (void)ProcessRPCResponse(&op);
#else
    qelrpc::received::noteReply(reply);
#endif
}

}  // namespace lastreply
