// SPDX-License-Identifier: MIT
// The fixed numbers of an RPC message (RFC 5531, section 9), defined once for
// the call writer, the reply check, the server's call reader and reply
// writer, and the XDR rpc_msg routines.
#pragma once

#include <cstdint>

namespace qelrpc::rpcmsg {

constexpr uint32_t kRpcVersion = 2;
// msg_type
constexpr uint32_t kMsgCall = 0;
constexpr uint32_t kMsgReply = 1;
// reply_stat
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kMsgDenied = 1;
// accept_stat
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kProgMismatch = 2;
// reject_stat
constexpr uint32_t kRpcMismatch = 0;
constexpr uint32_t kAuthError = 1;

}  // namespace qelrpc::rpcmsg
