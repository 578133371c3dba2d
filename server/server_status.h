// Status codes of the server side.
#pragma once

namespace qelrpc::server::status {

// Incoming calls
constexpr int kNullArgument = -1;  // null operation, null xid pointer, or no request block
constexpr int kNotACall = -2;      // message type is not CALL
constexpr int kBadRpcVersion = -3; // RPC version is not 2
constexpr int kShortCall = -4;     // the call ends before its fixed words, credential or verifier

// Reply header
constexpr int kNoVersionPair = -2; // PROG_MISMATCH without the lowest and highest versions

// Sending the reply
constexpr int kSendFailed = -1;

}  // namespace qelrpc::server::status
