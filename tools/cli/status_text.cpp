#include "status_text.h"

#include <cstdint>
#include <string>

namespace qelrpc::cli {

namespace {

constexpr StatusEntry kBuffer[] = {
    {0, "success"},
    {-1, "no stream, or the stream has no block"},
    {-2, "no room left in the message (4 bytes stay in reserve), or too few bytes left to read"},
};

constexpr StatusEntry kOperation[] = {
    {0, "success"},
    {8, "not enough memory for a 65,536-byte message block"},
    {1208, "null operation record"},
};

// rpcPrepareRPCHeader, the two exchanges, the call driver and the reply check.
constexpr StatusEntry kCall[] = {
    {0, "success"},
    {-1, "no reply: 5 UDP sends 1 second apart went unanswered, or a TCP reply stayed silent for 20 seconds "
         "or was not complete within 120 seconds "
         "(also: both ports 0, host address not resolved, or a null operation)"},
    {-2, "the message received is not an RPC reply (also: no usable port, or the TCP connect was cancelled)"},
    {-3, "the server refused the call: RPC version mismatch (MSG_DENIED, RPC_MISMATCH)"},
    {-4, "the server refused the credentials (MSG_DENIED, AUTH_ERROR), or the reply's verifier failed its check"},
    {-5, "program unavailable on the server (PROG_UNAVAIL)"},
    {-6, "program version not supported by the server (PROG_MISMATCH)"},
    {-7, "procedure unavailable (PROC_UNAVAIL)"},
    {-8, "the server could not decode the arguments (GARBAGE_ARGS)"},
    {-9, "system error on the server (SYSTEM_ERR)"},
    {-98, "the reply does not carry the AUTH_DES or RPCSEC_GSS verifier the call asks for: no server was authenticated"},
    {-99, "the reply is malformed or too short (or a null operation, or no reply block)"},
    {67, "no server address (the operation's address is 0)"},
    {8, "not enough memory for the call's temporary records"},
    {87, "no prepared request or no reply block, an unknown credential flavor, or a credential that does not fit the block"},
    {1208, "null operation, or no credential attached"},
    {6000, "the AUTH_DES credential could not be encrypted"},
};

constexpr StatusEntry kPortLookup[] = {
    {0, "success"},
    {-3, "no memory for the portmapper question"},
    {1208, "the program and version are not registered with the server's portmapper (or a null operation)"},
    {111001, "the host name cannot be resolved"},
};

constexpr StatusEntry kBroadcast[] = {
    {0, "success"},
    {-300, "a required argument is null"},
    {-301, "a socket step of the broadcast failed (no broadcast route?), or the operation has no reply block"},
    {-302, "no (further) answer within the wait"},
};

constexpr StatusEntry kServer[] = {
    {0, "success"},
    {-1, "null argument, nothing to send, or the reply could not be sent within 20 seconds"},
    {-2, "no socket could be made, the message is not a CALL, or PROG_MISMATCH without versions"},
    {-3, "this host's address cannot be had, or the call is not RPC version 2"},
    {-4, "bind failed, or the call ends before its header is complete"},
    {-5, "getsockname or accept failed"},
    {-6, "listen failed"},
};

constexpr StatusEntry kNameService[] = {
    {0, "success"},
    {-1, "no name service answers: no directory service is configured and the server's portmapper knows "
         "neither PCNFSD version 2 nor Qelnfsd version 1 (or the credential or the directory-service library "
         "could not be had)"},
    {-2, "a name did not fit the request"},
    {8, "not enough memory for a message block"},
    {1208, "no usable port registered for the daemon (or a null operation record)"},
    {1728, "the daemon's reply cannot be read: results cut off or missing (a protocol error, not an answer)"},
};

constexpr StatusEntry kAuthorize[] = {
    {0, "the user is authorised"},
    {-1, "Qelnfsd refused the user"},
    {5, "PCNFSD refused the user name or password (access denied)"},
    {1311, "no server reached through the order knows the daemon (no logon servers)"},
    {1317, "Qelnfsd refused the user name or password (no such user)"},
    {1359, "internal error, or the user name or password is too long (PCNFSD: 32 and 64 characters; "
           "Qelnfsd: 60 together)"},
    {1728, "the daemon's reply cannot be read: results cut off or missing (a protocol error, not a refusal)"},
};

constexpr StatusEntry kGss[] = {
    {0, "success"},
    {-1, "the Kerberos GSS-API library is not loaded"},
    {-2, "the credential is not RPCSEC_GSS"},
    {-3, "no RPCSEC_GSS record to work on"},
    {-4, "importing the service name failed"},
    {-5, "no memory"},
    {-6, "the security context could not be set up, or a MIC check failed"},
    {-7, "making a MIC failed"},
    {-8, "the service level is not 1, 2 or 3"},
    {-9, "sealing failed"},
    {-10, "a required pointer is null"},
    {-11, "unsealing failed, or sealing the destroy request failed"},
    {-12, "the output buffer is too small"},
    {-13, "no default Kerberos credentials (run kinit first)"},
    {-14, "the Kerberos credentials have expired"},
    {-15, "the credential query failed"},
    {-16, "the credentials are defective"},
    {-17, "bad quality of protection"},
    {-18, "no such security context"},
    {-19, "the security context has expired"},
    {-23, "the MIC does not match"},
};

constexpr StatusEntry kSockets[] = {
    {10004, "interrupted system call (WSAEINTR)"},
    {10009, "bad socket handle (WSAEBADF)"},
    {10013, "permission denied (WSAEACCES)"},
    {10014, "bad address (WSAEFAULT)"},
    {10022, "invalid argument (WSAEINVAL)"},
    {10024, "too many open sockets (WSAEMFILE)"},
    {10035, "the operation would block (WSAEWOULDBLOCK)"},
    {10036, "operation now in progress (WSAEINPROGRESS)"},
    {10037, "operation already in progress (WSAEALREADY)"},
    {10038, "not a socket (WSAENOTSOCK)"},
    {10039, "destination address required (WSAEDESTADDRREQ)"},
    {10040, "message too long for the buffer (WSAEMSGSIZE)"},
    {10041, "wrong protocol type for the socket (WSAEPROTOTYPE)"},
    {10042, "bad protocol option (WSAENOPROTOOPT)"},
    {10043, "protocol not supported (WSAEPROTONOSUPPORT)"},
    {10044, "socket type not supported (WSAESOCKTNOSUPPORT)"},
    {10045, "operation not supported (WSAEOPNOTSUPP)"},
    {10046, "protocol family not supported (WSAEPFNOSUPPORT)"},
    {10047, "address family not supported (WSAEAFNOSUPPORT)"},
    {10048, "address already in use (WSAEADDRINUSE)"},
    {10049, "cannot assign the requested address (WSAEADDRNOTAVAIL)"},
    {10050, "network is down (WSAENETDOWN)"},
    {10051, "network is unreachable (WSAENETUNREACH)"},
    {10052, "network dropped the connection on reset (WSAENETRESET)"},
    {10053, "connection aborted (WSAECONNABORTED)"},
    {10054, "connection reset by the peer (WSAECONNRESET)"},
    {10055, "no buffer space available (WSAENOBUFS)"},
    {10056, "socket is already connected (WSAEISCONN)"},
    {10057, "socket is not connected (WSAENOTCONN)"},
    {10058, "socket has been shut down (WSAESHUTDOWN)"},
    {10060, "timed out: the connect or the send got no answer in time (WSAETIMEDOUT)"},
    {10061, "connection refused: nothing listens on that port (WSAECONNREFUSED)"},
    {10064, "host is down (WSAEHOSTDOWN)"},
    {10065, "no route to host (WSAEHOSTUNREACH)"},
    {10101, "the server closed the connection before the reply was complete (WSAEDISCON)"},
    {10107, "a system call failed (WSASYSCALLFAILURE)"},
};

const char* find(std::span<const StatusEntry> table, int code) {
    for (const auto& e : table)
        if (e.code == code) return e.text;
    return nullptr;
}

// Windows Sockets numbers run from 10000 to 11999.
bool isSocketError(long long code) { return code >= 10000 && code < 12000; }

std::string callText(long long code) {
    if (code >= INT32_MIN && code <= INT32_MAX) {
        if (const char* t = find(kCall, static_cast<int>(code))) return t;
    }
    if (isSocketError(code)) {
        if (const char* t = find(kSockets, static_cast<int>(code))) return t;
        return "Windows Sockets error " + std::to_string(code);
    }
    // accept_stat n > 5 comes back as -4 - n.
    if (code <= -10 && code != -99) return "the server answered accept status " + std::to_string(-4 - code);
    return "unknown status";
}

std::string portLookupText(long long code) {
    if (const char* t = find(kPortLookup, static_cast<int>(code))) return t;
    // 200000 + e and 300000 + e: the TCP-port and UDP-port questions failed
    // with the call's status e (which may be negative or a sockets number).
    constexpr long long kSpread = 50000;
    if (code > 200000 - kSpread && code < 200000 + kSpread && code != 200000)
        return "the portmapper's TCP-port question failed: " + callText(code - 200000);
    if (code > 300000 - kSpread && code < 300000 + kSpread && code != 300000)
        return "the portmapper's UDP-port question failed: " + callText(code - 300000);
    return callText(code);
}

// What the user services pass through: the port look-up's own codes, else
// a call's.
std::string passedThroughText(long long code) {
    const bool lookup = code == 111001 || (code > 150000 && code < 350000);
    return lookup ? portLookupText(code) : callText(code);
}

// What writing an RPCSEC_GSS call header can return besides the call
// family's codes: the header's MIC could not be made.
const char* gssHeaderText(long long code) {
    switch (code) {
        case -7: return "the header's MIC could not be made";
        case -12: return "the header's MIC is longer than the credential's room";
        case -17: case -18: case -19: return "the context expired, or its sequence numbers ran out";
        default: return nullptr;
    }
}

std::string gssText(long long code) {
    if (const char* t = find(kGss, static_cast<int>(code))) return t;
    // s - 100: the call header returned s; s - 200: the call returned s.
    if (code <= -201 || isSocketError(code + 200) || code + 200 == 67 || code + 200 == 1208 || code + 200 == 87 ||
        code + 200 == 8)
        return "the RPCSEC_GSS call failed: " + callText(code + 200);
    if (const char* t = gssHeaderText(code + 100)) return std::string("the RPCSEC_GSS call header failed: ") + t;
    if ((code <= -101 && code >= -199) || code + 100 == 87 || code + 100 == 1208 || code + 100 == 6000)
        return "the RPCSEC_GSS call header could not be written: " + callText(code + 100);
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
