// SPDX-License-Identifier: MIT
// qelrpc-refd: a reference daemon built on the library's server side. It
// answers PCNFSD version 2 and Qelnfsd version 1 over TCP from a table of
// accounts, listens on every interface, loopback or one address (--addr),
// registers both programs with the local portmapper when one is running
// (calls made with the library's own call machinery), and on SIGTERM or
// SIGINT unregisters them and exits.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "accounts.h"
#include "qelrpc.h"
#include "services.h"

namespace {

constexpr uint32_t kPortmapperProgram = 100000;
constexpr uint32_t kPortmapperVersion = 2;
constexpr uint32_t kPmapSet = 1;
constexpr uint32_t kPmapUnset = 2;
constexpr uint32_t kIpProtoTcp = 6;
// rpcbind version 3 (RFC 1833): SET and UNSET carry the address, which
// version 2's mapping cannot say. Same procedure numbers.
constexpr uint32_t kRpcbindVersion = 3;

const refd::Accounts* g_accounts = nullptr;
volatile std::sig_atomic_t g_listening = -1;
bool g_verbose = false;

int handle(RpcOperation* call, RpcSocket conn, uint32_t xid) {
    bool sent = false;
    const uint32_t status = refd::answer(*g_accounts, *call, conn, xid, sent);
    if (g_verbose)
        std::fprintf(stderr, "refd: prog %u vers %u proc %u -> accept status %u%s\n", call->prog, call->vers,
                     call->proc, status, sent ? "" : " (reply not sent: connection ended)");
    // Keep the connection for the client's next call, unless the client
    // did not take this reply: it is then dropped, not served again.
    return sent ? 1 : 2;
}

// Closing the listening socket ends the accept loop: accept then fails.
void onStop(int) {
    const int fd = g_listening;
    if (fd >= 0) close(fd);
}

// SET or UNSET at the portmapper on 127.0.0.1, over TCP. A daemon on every
// interface uses version 2 (PMAPPROC_*): a mapping without an address means
// every address, which is then true. A daemon on one address says which
// with version 3 (RPCBPROC_*, universal address "h1.h2.h3.h4.p1.p2"), so
// the table shows where it can be reached; a portmapper that speaks only
// version 2 refuses that and the daemon stays unregistered rather than
// claim every address.
bool portmap(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t addr, uint16_t port) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)) != 0) return false;
    op.prog = kPortmapperProgram;
    op.vers = addr == htonl(INADDR_ANY) ? kPortmapperVersion : kRpcbindVersion;
    op.tcpPort = 111;
    bool ok = false;
    if (rpcCreateAuthNull(&op) && rpcPrepareRPCHeader(&op, proc) == 0) {
        InitDataBuffer(&op.request);
        mbufAddLong(&op.request.data, static_cast<int32_t>(prog));
        mbufAddLong(&op.request.data, static_cast<int32_t>(vers));
        if (op.vers == kPortmapperVersion) {
            mbufAddLong(&op.request.data, static_cast<int32_t>(kIpProtoTcp));
            mbufAddLong(&op.request.data, proc == kPmapSet ? port : 0);
        } else {
            const uint32_t h = ntohl(addr);
            char uaddr[32];
            std::snprintf(uaddr, sizeof uaddr, "%u.%u.%u.%u.%u.%u", h >> 24, (h >> 16) & 0xFF, (h >> 8) & 0xFF,
                          h & 0xFF, port >> 8, port & 0xFF);
            mbufAddString(&op.request.data, "tcp");
            mbufAddString(&op.request.data, proc == kPmapSet ? uaddr : "");
            mbufAddString(&op.request.data, "qelrpc-refd");  // owner; rpcbind records its own view
        }
        uint32_t result = 0;
        ok = CallRPC(&op, 0) == 0 && mbufGetLong(&op.reply.data, &result) == 0 && result != 0;
    }
    rpcCloseOperation(&op);
    return ok;
}

void usage() {
    std::fprintf(stderr,
                 "usage: qelrpc-refd --accounts FILE [--addr any|loopback|A.B.C.D] [--port N] [--port-file FILE]\n"
                 "                   [--no-register] [--verbose]\n"
                 "       qelrpc-refd --help | --version\n"
                 "Answers PCNFSD version 2 and Qelnfsd version 1 over TCP from the accounts in FILE:\n"
                 "  user NAME PASSWORD UID GID [EXTRA_GID ...]\n"
                 "  group NAME GID\n"
                 "--addr: where to listen (default any: every interface); --port: 0 to 65535 (default 0: any "
                 "free port).\n");
}

// A port as written: decimal digits only, 0 to 65535.
bool parsePort(const char* text, uint16_t& port) {
    unsigned long v = 0;
    if (*text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<unsigned long>(*p - '0');
        if (v > 65535) return false;
    }
    port = static_cast<uint16_t>(v);
    return true;
}

// "any", "loopback" or a dotted IPv4 address, to network byte order.
bool parseAddress(const char* text, uint32_t& addr) {
    if (std::strcmp(text, "any") == 0) addr = htonl(INADDR_ANY);
    else if (std::strcmp(text, "loopback") == 0) addr = htonl(INADDR_LOOPBACK);
    else {
        in_addr a{};
        if (inet_pton(AF_INET, text, &a) != 1) return false;
        addr = a.s_addr;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string accountsPath, portFile;
    uint16_t port = 0;
    uint32_t address = htonl(INADDR_ANY);
    bool registerPrograms = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--accounts" && i + 1 < argc) accountsPath = argv[++i];
        else if (a == "--port" && i + 1 < argc) {
            if (!parsePort(argv[++i], port)) {
                std::fprintf(stderr, "refd: --port: '%s' is not a port number (0 to 65535)\n", argv[i]);
                return 2;
            }
        } else if (a == "--addr" && i + 1 < argc) {
            if (!parseAddress(argv[++i], address)) {
                std::fprintf(stderr, "refd: --addr: '%s' is not any, loopback or an IPv4 address\n", argv[i]);
                return 2;
            }
        }
        else if (a == "--port-file" && i + 1 < argc) portFile = argv[++i];
        else if (a == "--no-register") registerPrograms = false;
        else if (a == "--verbose") g_verbose = true;
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--version") {
            std::printf("qelrpc-refd %s\n", QELRPC_VERSION_STRING);
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (accountsPath.empty()) {
        usage();
        return 2;
    }
    std::string error;
    auto accounts = refd::Accounts::load(accountsPath, error);
    if (!accounts) {
        std::fprintf(stderr, "refd: %s\n", error.c_str());
        return 1;
    }
    g_accounts = &*accounts;

    RpcOperation listening;
    // Never the host name's address: on a stock Debian host that is
    // 127.0.1.1, where clients of 127.0.0.1 are refused, and a name that
    // does not resolve would stop the start-up.
    const int rc = rpcInitServerOperationAt(&listening, address, port);
    if (rc != 0) {
        char where[INET_ADDRSTRLEN] = "?";
        in_addr w{};
        w.s_addr = address;
        inet_ntop(AF_INET, &w, where, sizeof where);
        std::fprintf(stderr, "refd: cannot listen on %s port %u (status %d)\n", where, port, rc);
        if (listening.sock != RPC_INVALID_SOCKET) close(static_cast<int>(listening.sock));
        return 1;
    }
    const uint16_t bound = ntohs(listening.localAddr.port);
    char addr[INET_ADDRSTRLEN] = "?";
    in_addr a{};
    a.s_addr = listening.localAddr.addr;
    inet_ntop(AF_INET, &a, addr, sizeof addr);

    bool registered = false;
    if (registerPrograms) {
        registered = portmap(kPmapSet, refd::kPcnfsdProgram, refd::kPcnfsdVersion, address, bound) &&
                     portmap(kPmapSet, refd::kQelnfsdProgram, refd::kQelnfsdVersion, address, bound);
    }
    std::printf("refd: listening on %s port %u (%zu users, %zu groups)%s\n", addr, bound, accounts->userCount(),
                accounts->groupCount(), registered ? ", registered with the portmapper" : "");
    std::fflush(stdout);
    if (!portFile.empty()) {
        if (FILE* f = std::fopen(portFile.c_str(), "w")) {
            std::fprintf(f, "%u\n", bound);
            std::fclose(f);
        }
    }

    g_listening = static_cast<int>(listening.sock);
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    rpcAcceptIncoming(&listening, handle);

    if (registered) {
        portmap(kPmapUnset, refd::kPcnfsdProgram, refd::kPcnfsdVersion, address, bound);
        portmap(kPmapUnset, refd::kQelnfsdProgram, refd::kQelnfsdVersion, address, bound);
    }
    std::printf("refd: stopped\n");
    return 0;
}
