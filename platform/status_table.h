// SPDX-License-Identifier: MIT
// The library's status codes, in one table. Every code a family of exported
// functions returns is one row; the library's constants (rpc/status.h,
// server/server_status.h, auth/gss_status.h, nfsuser/, the message buffer,
// the broadcast and the server endpoint), the command-line tool's texts and
// the test that holds docs/ERRORS.md to the table all expand these rows, so
// none of them writes a code a second time.
//
// A family is the group of functions that give a number its meaning: the
// same small number means different things in different families (-1 is "no
// reply" from a call and "the back end is not loaded" from RPCSEC_GSS).
//
//   X(family, number, text, constants...)
//       a code the family returns, the tool's text for it, and the C++
//       constants (none or several) that name it where the family's header
//       expands the rows.
//   R(family, constant, base, form, text)
//       a composed code: a rule, not a row. base is added to the code of an
//       inner step (form says how, as docs/ERRORS.md writes it), and text
//       leads the inner code's meaning.
//
// Plain data: no OS header, so every folder and the tool can include it.
#pragma once

#include "platform/socket_errors.h"

// mbuf* routines.
#define QELRPC_STATUS_BUFFER(X, R)                                                                              \
    X(Buffer, 0, "success", kOk)                                                                                \
    X(Buffer, -1, "no stream, or the stream has no block", kNoStream)                                           \
    X(Buffer, -2, "no room left in the message (4 bytes stay in reserve), or too few bytes left to read", kNoRoom)

// rpcAllocateBuffer, rpcInitOperation(Ex).
#define QELRPC_STATUS_OPERATION(X, R)                                             \
    X(Operation, 0, "success")                                                    \
    X(Operation, 8, "not enough memory for a 65,536-byte message block", kNoMemory) \
    X(Operation, 1208, "null operation record", kNullRecord)

// rpcPrepareRPCHeader, the two exchanges, the call driver and the reply check.
#define QELRPC_STATUS_CALL(X, R)                                                                                      \
    X(Call, 0, "success", kOk)                                                                                        \
    X(Call, -1,                                                                                                       \
      "no reply: 5 UDP sends 1 second apart went unanswered, or a TCP reply stayed silent for 20 seconds "            \
      "or was not complete within 120 seconds "                                                                       \
      "(also: both ports 0, host address not resolved, or a null operation)",                                        \
      kExchangeTimeout, kCallNoPorts, kCallUnresolved, kHeaderNullOperation)                                          \
    X(Call, -2, "the message received is not an RPC reply (also: no usable port, or the TCP connect was cancelled)", \
      kReplyNotReply, kCallNoUsablePort, kExchangeCancelled)                                                          \
    X(Call, -3, "the server refused the call: RPC version mismatch (MSG_DENIED, RPC_MISMATCH)", kReplyRpcMismatch)   \
    X(Call, -4, "the server refused the credentials (MSG_DENIED, AUTH_ERROR), or the reply's verifier failed its check", \
      kReplyAuthError)                                                                                                \
    X(Call, -5, "program unavailable on the server (PROG_UNAVAIL)")                                                   \
    X(Call, -6, "program version not supported by the server (PROG_MISMATCH)")                                        \
    X(Call, -7, "procedure unavailable (PROC_UNAVAIL)")                                                               \
    X(Call, -8, "the server could not decode the arguments (GARBAGE_ARGS)")                                           \
    X(Call, -9, "system error on the server (SYSTEM_ERR)")                                                            \
    X(Call, -98, "the reply does not carry the AUTH_DES or RPCSEC_GSS verifier the call asks for: no server was authenticated", \
      kReplyNoFlavorVerifier)                                                                                         \
    X(Call, -99, "the reply is malformed or too short (or a null operation, or no reply block)", kReplyMalformed)     \
    X(Call, 67, "no server address (the operation's address is 0)", kNoServerAddress)                                 \
    X(Call, 8, "not enough memory for the call's temporary records")                                                  \
    X(Call, 87, "no prepared request or no reply block, an unknown credential flavor, or a credential that does not fit the block", \
      kInvalidParameter)                                                                                              \
    X(Call, 1208, "null operation, or no credential attached")                                                        \
    X(Call, 6000, "the AUTH_DES credential could not be encrypted")                                                   \
    R(Call, kReplyAcceptBase, -4, "−4 − n", "the server answered accept status ")

// rpcPrepareRPCHeader with an RPCSEC_GSS credential: the header's MIC.
#define QELRPC_STATUS_GSS_CALL_HEADER(X, R)                                                                      \
    X(GssCallHeader, -7, "the RPCSEC_GSS call header failed: the header's MIC could not be made")                \
    X(GssCallHeader, -12, "the RPCSEC_GSS call header failed: the header's MIC is longer than the credential's room") \
    X(GssCallHeader, -17, "the RPCSEC_GSS call header failed: the context expired, or its sequence numbers ran out") \
    X(GssCallHeader, -18, "the RPCSEC_GSS call header failed: the context expired, or its sequence numbers ran out") \
    X(GssCallHeader, -19, "the RPCSEC_GSS call header failed: the context expired, or its sequence numbers ran out")

// GetProgramPort.
#define QELRPC_STATUS_PORT_LOOKUP(X, R)                                                                        \
    X(PortLookup, 0, "success")                                                                                \
    X(PortLookup, -3, "no memory for the portmapper question", kPmapNoCredential)                              \
    X(PortLookup, 1208, "the program and version are not registered with the server's portmapper (or a null operation)") \
    X(PortLookup, 111001, "the host name cannot be resolved", kHostUnresolvable)                              \
    R(PortLookup, kPmapTcpQueryBase, 200000, "200000 + e", "the portmapper's TCP-port question failed: ")      \
    R(PortLookup, kPmapUdpQueryBase, 300000, "300000 + e", "the portmapper's UDP-port question failed: ")

// rpcBroadcastUDP, rpcBroadcastStart, rpcBroadcastReadNext.
#define QELRPC_STATUS_BROADCAST(X, R)                                                                                  \
    X(Broadcast, 0, "success")                                                                                         \
    X(Broadcast, -300, "a required argument is null", kNullArgument)                                                   \
    X(Broadcast, -301, "a socket step of the broadcast failed (no broadcast route?), or the operation has no reply block", \
      kSocketFailure)                                                                                                  \
    X(Broadcast, -302, "no (further) answer within the wait", kEnded)

// rpcInitServerOperation (kStart*), rpcAcceptIncoming (kAccept*), ProcessRPCCall,
// rpcCreateReplyHeader, ReplyRPC.
#define QELRPC_STATUS_SERVER(X, R)                                                                                   \
    X(Server, 0, "success")                                                                                          \
    X(Server, -1, "null argument, nothing to send, or the reply could not be sent within 20 seconds", kNullArgument, \
      kSendFailed, kStartNull, kAcceptNull)                                                                          \
    X(Server, -2, "no socket could be made, the message is not a CALL, or PROG_MISMATCH without versions", kNotACall, \
      kNoVersionPair, kStartNoSocket)                                                                                \
    X(Server, -3, "this host's address cannot be had, or the call is not RPC version 2", kBadRpcVersion,             \
      kStartNoHostAddress)                                                                                           \
    X(Server, -4, "bind failed, or the call ends before its header is complete", kShortCall, kStartBind)             \
    X(Server, -5, "getsockname or accept failed", kStartLocalName, kAcceptFailed)                                    \
    X(Server, -6, "listen failed", kStartListen)

// PerformNfsdCheck, PerformGet*, PerformPcnfsdGroupName, the PCNFSD and
// Qelnfsd clients.
#define QELRPC_STATUS_NAME_SERVICE(X, R)                                                                          \
    X(NameService, 0, "success")                                                                                  \
    X(NameService, -1,                                                                                            \
      "no name service answers: no directory service is configured and the server's portmapper knows "           \
      "neither PCNFSD version 2 nor Qelnfsd version 1 (or the credential or the directory-service library "       \
      "could not be had)")                                                                                        \
    X(NameService, -2, "a name did not fit the request")                                                          \
    X(NameService, 8, "not enough memory for a message block")                                                    \
    X(NameService, 1208, "no usable port registered for the daemon (or a null operation record)")                \
    X(NameService, 1728, "the daemon's reply cannot be read: results cut off or missing (a protocol error, not an answer)", \
      kProtocolError)

// PerformAuthorizeUser and its two reply readers.
#define QELRPC_STATUS_AUTHORIZE(X, R)                                                                          \
    X(Authorize, 0, "the user is authorised")                                                                  \
    X(Authorize, -1, "Qelnfsd refused the user", kQelnfsdRefused)                                              \
    X(Authorize, 5, "PCNFSD refused the user name or password (access denied)", kPcnfsdRefused)                \
    X(Authorize, 1311, "no server reached through the order knows the daemon (no logon servers)", kNoLogonServers) \
    X(Authorize, 1317, "Qelnfsd refused the user name or password (no such user)", kNoSuchUser)                \
    X(Authorize, 1359,                                                                                         \
      "internal error, or the user name or password is too long (PCNFSD: 32 and 64 characters; "               \
      "Qelnfsd: 60 together)",                                                                                 \
      kInternalError)                                                                                          \
    X(Authorize, 1728, "the daemon's reply cannot be read: results cut off or missing (a protocol error, not a refusal)")

// RPCSEC_GSS_* and MIT_RPCSEC_GSS_*.
#define QELRPC_STATUS_GSS(X, R)                                                                       \
    X(Gss, 0, "success")                                                                              \
    X(Gss, -1, "the Kerberos GSS-API library is not loaded", kUnavailable)                            \
    X(Gss, -2, "the credential is not RPCSEC_GSS", kNotGss)                                           \
    X(Gss, -3, "no RPCSEC_GSS record to work on", kNoRecord)                                          \
    X(Gss, -4, "importing the service name failed", kImportName)                                      \
    X(Gss, -5, "no memory", kNoMemory)                                                                \
    X(Gss, -6, "the security context could not be set up, or a MIC check failed", kSetupFailed)       \
    X(Gss, -7, "making a MIC failed", kMicFailed)                                                     \
    X(Gss, -8, "the service level is not 1, 2 or 3", kBadService)                                     \
    X(Gss, -9, "sealing failed", kSealFailed)                                                         \
    X(Gss, -10, "a required pointer is null", kNullArgument)                                          \
    X(Gss, -11, "unsealing failed, or sealing the destroy request failed", kUnsealFailed)             \
    X(Gss, -12, "the output buffer is too small", kTooSmall)                                          \
    X(Gss, -13, "no default Kerberos credentials (run kinit first)", kNoCred)                         \
    X(Gss, -14, "the Kerberos credentials have expired", kCredExpired)                                \
    X(Gss, -15, "the credential query failed", kInquireFailed)                                        \
    X(Gss, -16, "the credentials are defective", kDefectiveCred)                                      \
    X(Gss, -17, "bad quality of protection", kBadQop)                                                 \
    X(Gss, -18, "no such security context", kNoContext)                                               \
    X(Gss, -19, "the security context has expired", kContextExpired)                                  \
    X(Gss, -23, "the MIC does not match", kBadMic)                                                    \
    R(Gss, kHeaderBase, -100, "s − 100", "the RPCSEC_GSS call header could not be written: ")          \
    R(Gss, kCallBase, -200, "s − 200", "the RPCSEC_GSS call failed: ")

// Windows Sockets numbers, as the exchanges report them on every system: the
// rows of platform/socket_errors.h, and the two codes that have no errno.
#define QELRPC_STATUS_SOCKET_ROW_(name, number, posixName, winName, text, X) X(Sockets, number, text " (" #winName ")")
#define QELRPC_STATUS_SOCKETS(X, R)                                                  \
    QELRPC_SOCKET_ERRORS(QELRPC_STATUS_SOCKET_ROW_, X)                               \
    X(Sockets, ::qelrpc::platform::sockerr::kDisconnected,                           \
      "the server closed the connection before the reply was complete (WSAEDISCON)") \
    X(Sockets, ::qelrpc::platform::sockerr::kSystemCallFailure, "a system call failed (WSASYSCALLFAILURE)")

// Every family, in the order the tool lists them.
#define QELRPC_STATUS_TABLE(X, R)          \
    QELRPC_STATUS_BUFFER(X, R)             \
    QELRPC_STATUS_OPERATION(X, R)          \
    QELRPC_STATUS_CALL(X, R)               \
    QELRPC_STATUS_GSS_CALL_HEADER(X, R)    \
    QELRPC_STATUS_PORT_LOOKUP(X, R)        \
    QELRPC_STATUS_BROADCAST(X, R)          \
    QELRPC_STATUS_SERVER(X, R)             \
    QELRPC_STATUS_NAME_SERVICE(X, R)       \
    QELRPC_STATUS_AUTHORIZE(X, R)          \
    QELRPC_STATUS_GSS(X, R)                \
    QELRPC_STATUS_SOCKETS(X, R)

// Expanding a family with these two defines its constants in the current
// namespace: `QELRPC_STATUS_CALL(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)`.
// A row names at most four constants.
#define QELRPC_STATUS_CONSTANTS(family, number, text, ...) \
    __VA_OPT__(QELRPC_STATUS_NAME1_(number, __VA_ARGS__))
#define QELRPC_STATUS_NAME1_(number, name, ...) \
    constexpr int name = number;                \
    __VA_OPT__(QELRPC_STATUS_NAME2_(number, __VA_ARGS__))
#define QELRPC_STATUS_NAME2_(number, name, ...) \
    constexpr int name = number;                \
    __VA_OPT__(QELRPC_STATUS_NAME3_(number, __VA_ARGS__))
#define QELRPC_STATUS_NAME3_(number, name, ...) \
    constexpr int name = number;                \
    __VA_OPT__(QELRPC_STATUS_NAME4_(number, __VA_ARGS__))
#define QELRPC_STATUS_NAME4_(number, name) constexpr int name = number;
#define QELRPC_STATUS_RULE_CONSTANT(family, name, base, form, text) constexpr int name = base;
#define QELRPC_STATUS_NO_RULE(family, name, base, form, text)
#define QELRPC_STATUS_NO_ROW(family, number, text, ...)
