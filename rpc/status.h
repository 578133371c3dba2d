// Status codes the library returns. Windows error numbers are used where the
// library speaks to the suite's programs; small negative numbers are argument
// and protocol outcomes of each family.
#pragma once

namespace qelrpc::status {

constexpr int kOk = 0;
constexpr int kNoMemory = 8;            // ERROR_NOT_ENOUGH_MEMORY
constexpr int kNoServerAddress = 67;    // ERROR_BAD_NET_NAME
constexpr int kInvalidParameter = 87;   // ERROR_INVALID_PARAMETER: unknown credential flavor
constexpr int kNullRecord = 1208;       // ERROR_EXTENDED_ERROR: null record or no registered port

// rpcPrepareRPCHeader
constexpr int kHeaderNullOperation = -1;

// UDP and TCP exchanges (DoUDPRPCGram, DoTCPRPCGram). Socket failures are
// Windows Sockets numbers (platform/socket_errors.h); a TCP reply longer than
// the block is WSAEMSGSIZE, a peer that closes before the reply is complete
// WSAEDISCON.
constexpr int kExchangeTimeout = -1;   // no reply within the UDP schedule / TCP silence limit,
                                       // or no complete TCP reply within the exchange's bound
constexpr int kExchangeCancelled = -2; // the connect was abandoned through the cancel flag

// Call driver (CallRPC, rpcCallRPCProgram).
constexpr int kCallNoPorts = -1;        // CallRPC: both ports 0
constexpr int kCallUnresolved = -1;     // rpcCallRPCProgram: hostAddr not resolved
constexpr int kCallNoUsablePort = -2;   // neither port usable: no exchange, no reply check

// Reply check (ProcessRPCResponse).
constexpr int kReplyNotReply = -2;      // message type is not REPLY
constexpr int kReplyRpcMismatch = -3;   // MSG_DENIED, RPC_MISMATCH
constexpr int kReplyAuthError = -4;     // MSG_DENIED, AUTH_ERROR; or a failed AUTH_DES verifier
constexpr int kReplyAcceptBase = -4;    // accept_stat n != SUCCESS gives -4 - n
constexpr int kReplyNoFlavorVerifier = -98;  // the reply to an AUTH_DES or RPCSEC_GSS call does
                                             // not carry that flavor's verifier (a set-up reply:
                                             // neither AUTH_NULL nor RPCSEC_GSS)
constexpr int kReplyMalformed = -99;    // no reply block, unknown reject_stat or verifier
                                        // flavor, a reply shorter than its words, or an
                                        // accept_stat too large to report as -4 - n

// Portmapper look-up (GetProgramPort).
constexpr int kHostUnresolvable = 111001;
constexpr int kPmapNoCredential = -3;   // the temporary AUTH_NULL record or header failed
constexpr int kPmapTcpQueryBase = 200000;
constexpr int kPmapUdpQueryBase = 300000;

}  // namespace qelrpc::status
