// SPDX-License-Identifier: MIT
#include "status_text.h"

#include <string>

#include "platform/status_table.h"
#include "qelrpc.h"

namespace qelrpc::cli {

namespace {

// Every family's codes and texts come from the library's status table.
#define QELRPC_CLI_ENTRY(family, number, text, ...) {number, text},
constexpr StatusEntry kBuffer[] = {QELRPC_STATUS_BUFFER(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kOperation[] = {QELRPC_STATUS_OPERATION(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kCall[] = {QELRPC_STATUS_CALL(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kGssCallHeader[] = {QELRPC_STATUS_GSS_CALL_HEADER(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kPortLookup[] = {QELRPC_STATUS_PORT_LOOKUP(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kBroadcast[] = {QELRPC_STATUS_BROADCAST(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kServer[] = {QELRPC_STATUS_SERVER(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kNameService[] = {QELRPC_STATUS_NAME_SERVICE(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kAuthorize[] = {QELRPC_STATUS_AUTHORIZE(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kGss[] = {QELRPC_STATUS_GSS(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
constexpr StatusEntry kSockets[] = {QELRPC_STATUS_SOCKETS(QELRPC_CLI_ENTRY, QELRPC_STATUS_NO_RULE)};
#undef QELRPC_CLI_ENTRY

// The names the call side gives its codes.
namespace status {
QELRPC_STATUS_OPERATION(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)
QELRPC_STATUS_CALL(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)
QELRPC_STATUS_PORT_LOOKUP(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)
}  // namespace status

// The composed codes: the base added to an inner step's code, and the words
// that lead that code's meaning.
struct Rule {
    int base;
    const char* text;
};
#define QELRPC_CLI_RULE(family, name, base, form, text) constexpr Rule name{base, text};
QELRPC_STATUS_TABLE(QELRPC_STATUS_NO_ROW, QELRPC_CLI_RULE)
#undef QELRPC_CLI_RULE

const char* find(std::span<const StatusEntry> table, long long code) {
    for (const auto& e : table)
        if (e.code == code) return e.text;
    return nullptr;
}

// Windows Sockets numbers run from 10000 to 11999.
bool isSocketError(long long code) { return code >= 10000 && code < 12000; }

std::string callText(long long code) {
    if (const char* t = find(kCall, code)) return t;
    if (isSocketError(code)) {
        if (const char* t = find(kSockets, code)) return t;
        return "Windows Sockets error " + std::to_string(code);
    }
    // accept_stat n comes back as -4 - n; 1 (PROG_UNAVAIL) to 5 (SYSTEM_ERR)
    // have rows of their own.
    const long long n = kReplyAcceptBase.base - code;
    if (n > 5) return kReplyAcceptBase.text + std::to_string(n);
    return "unknown status";
}

// 200000 + e and 300000 + e: the TCP-port and UDP-port questions failed
// with the call's status e (which may be negative or a sockets number).
constexpr long long kQuerySpread = 50000;

std::string portLookupText(long long code) {
    if (const char* t = find(kPortLookup, code)) return t;
    for (const Rule& r : {kPmapTcpQueryBase, kPmapUdpQueryBase})
        if (code > r.base - kQuerySpread && code < r.base + kQuerySpread && code != r.base)
            return r.text + callText(code - r.base);
    return callText(code);
}

// What the user services pass through: the port look-up's own codes, else
// a call's.
std::string passedThroughText(long long code) {
    const bool lookup = code == status::kHostUnresolvable ||
                        (code > kPmapTcpQueryBase.base - kQuerySpread && code < kPmapUdpQueryBase.base + kQuerySpread);
    return lookup ? portLookupText(code) : callText(code);
}

std::string gssText(long long code) {
    if (const char* t = find(kGss, code)) return t;
    // s - 200: the call returned s (a negative code, a sockets number, or a
    // Win32 number of the call driver).
    const long long call = code - kCallBase.base;
    if (call < 0 || isSocketError(call) || call == status::kNoServerAddress || call == status::kNullRecord ||
        call == status::kInvalidParameter || call == status::kNoMemory)
        return kCallBase.text + callText(call);
    // s - 100: the call header returned s (a negative code, or a Win32
    // number of the header writer).
    const long long header = code - kHeaderBase.base;
    if (const char* t = find(kGssCallHeader, header)) return t;
    if ((header < 0 && header > -100) || header == status::kInvalidParameter || header == status::kNullRecord ||
        header == RPC_ERROR_ENCRYPTION_FAILED)
        return kHeaderBase.text + callText(header);
    return "unknown status";
}

}  // namespace

std::span<const StatusEntry> statusTable(StatusFamily family) {
    switch (family) {
        case StatusFamily::Buffer: return kBuffer;
        case StatusFamily::Operation: return kOperation;
        case StatusFamily::Call: return kCall;
        case StatusFamily::PortLookup: return kPortLookup;
        case StatusFamily::Broadcast: return kBroadcast;
        case StatusFamily::Server: return kServer;
        case StatusFamily::NameService: return kNameService;
        case StatusFamily::Authorize: return kAuthorize;
        case StatusFamily::Gss: return kGss;
    }
    return {};
}

std::span<const StatusEntry> socketErrorTable() { return kSockets; }

std::string describeStatus(StatusFamily family, int code) {
    if (const char* t = find(statusTable(family), code)) return t;
    switch (family) {
        case StatusFamily::Call: return callText(code);
        case StatusFamily::PortLookup: return portLookupText(code);
        case StatusFamily::Gss: return gssText(code);
        // The user services pass the statuses of the operation, the port
        // look-up and the call through unchanged.
        case StatusFamily::NameService:
        case StatusFamily::Authorize: return passedThroughText(code);
        case StatusFamily::Buffer:
        case StatusFamily::Operation:
        case StatusFamily::Broadcast:
        case StatusFamily::Server: break;
    }
    return "unknown status";
}

const char* familyName(StatusFamily family) {
    switch (family) {
        case StatusFamily::Buffer: return "message buffer";
        case StatusFamily::Operation: return "operation";
        case StatusFamily::Call: return "call";
        case StatusFamily::PortLookup: return "port look-up";
        case StatusFamily::Broadcast: return "broadcast";
        case StatusFamily::Server: return "server";
        case StatusFamily::NameService: return "name service";
        case StatusFamily::Authorize: return "authorisation";
        case StatusFamily::Gss: return "RPCSEC_GSS";
    }
    return "?";
}

}  // namespace qelrpc::cli
