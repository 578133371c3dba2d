// SPDX-License-Identifier: MIT
// The library's status codes and what they mean, for the command-line tool
// and the tests. A code means different things in different families (−1 is
// "no reply" from a call and "no name service" from the dispatch), so every
// look-up names the family of the function that returned the code. The
// codes and texts are the library's status table (platform/status_table.h).
#pragma once

#include <span>
#include <string>

namespace qelrpc::cli {

enum class StatusFamily {
    Buffer,       // mbuf* routines
    Operation,    // rpcAllocateBuffer, rpcInitOperation(Ex)
    Call,         // rpcPrepareRPCHeader, DoUDPRPCGram, DoTCPRPCGram, CallRPC, rpcCallRPCProgram, ProcessRPCResponse
    PortLookup,   // GetProgramPort
    Broadcast,    // rpcBroadcastUDP, rpcBroadcastStart, rpcBroadcastReadNext
    Server,       // rpcInitServerOperation, rpcAcceptIncoming, ProcessRPCCall, rpcCreateReplyHeader, ReplyRPC
    NameService,  // PerformNfsdCheck, PerformGet*, PerformPcnfsdGroupName, the PCNFSD and Qelnfsd clients
    Authorize,    // PerformAuthorizeUser and its two reply readers
    Gss,          // RPCSEC_GSS_* and MIT_RPCSEC_GSS_*
};

struct StatusEntry {
    int code;
    const char* text;
};

// The codes a family returns by themselves, each with its text. Codes a
// family passes through from another (a call's status inside a portmapper
// look-up, a Windows Sockets number inside a call) are not repeated here;
// describeStatus composes them.
std::span<const StatusEntry> statusTable(StatusFamily family);

// Windows Sockets error numbers (10000 and above) as the library reports
// them on every system.
std::span<const StatusEntry> socketErrorTable();

// The text of one code as the family returns it, with nested codes spelled
// out ("the portmapper's TCP-port question failed: the reply is not well
// formed"); "unknown status" for a code the family never returns.
std::string describeStatus(StatusFamily family, int code);

// The family's short name ("call", "port look-up") for messages and JSON.
const char* familyName(StatusFamily family);

}  // namespace qelrpc::cli
