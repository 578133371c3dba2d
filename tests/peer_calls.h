// SPDX-License-Identifier: MIT
// Small pieces the client tests share: the null and echo calls of the test
// peers (tests/peers/qelrpc_peer.x), and name lists taken apart.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "qelrpc.h"

namespace peercalls {

// Procedure 0 of the operation's program; CallRPC's status, or 1000 when
// the header cannot be written.
inline int null(RpcOperation& op) {
    if (rpcPrepareRPCHeader(&op, 0) != 0) return 1000;
    InitDataBuffer(&op.request);
    return CallRPC(&op, 0);
}

// Procedure 1 of the echo program: `text` there and back. CallRPC's status,
// or 1000 + n when building the call (n 0, 1) or reading the answer (2)
// failed.
inline int echo(RpcOperation& op, const char* text, std::string& back) {
    if (rpcPrepareRPCHeader(&op, 1) != 0) return 1000;
    InitDataBuffer(&op.request);
    if (mbufAddString(&op.request.data, text) != 0) return 1001;
    const int rc = CallRPC(&op, 0);
    if (rc != 0) return rc;
    std::vector<char> buf(16384);
    if (mbufGetString(&op.reply.data, buf.data(), static_cast<uint32_t>(buf.size())) != 0) return 1002;
    back = buf.data();
    return 0;
}

// The first `count` names of a name list (each ended by its NUL).
inline std::vector<std::string> split(const char* list, std::size_t count) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) {
        out.emplace_back(list);
        list += out.back().size() + 1;
    }
    return out;
}

}  // namespace peercalls
