// SPDX-License-Identifier: MIT
// qelrpc-refd: a reference daemon built on the library's server side. It
// answers PCNFSD version 2 and Qelnfsd version 1 over TCP from a table of
// accounts, registers both programs with the local portmapper when one is
// running (a PMAPPROC_SET call made with the library's own call machinery),
// and on SIGTERM or SIGINT unregisters them and exits.
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

// PMAPPROC_SET or PMAPPROC_UNSET at the portmapper on 127.0.0.1, over TCP.
bool portmap(uint32_t proc, uint32_t prog, uint32_t vers, uint16_t port) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, "127.0.0.1", htonl(INADDR_LOOPBACK)) != 0) return false;
    op.prog = kPortmapperProgram;
    op.vers = kPortmapperVersion;
    op.tcpPort = 111;
    bool ok = false;
    if (rpcCreateAuthNull(&op) && rpcPrepareRPCHeader(&op, proc) == 0) {
        InitDataBuffer(&op.request);
        mbufAddLong(&op.request.data, static_cast<int32_t>(prog));
        mbufAddLong(&op.request.data, static_cast<int32_t>(vers));
        mbufAddLong(&op.request.data, static_cast<int32_t>(kIpProtoTcp));
        mbufAddLong(&op.request.data, proc == kPmapSet ? port : 0);
        uint32_t result = 0;
        ok = CallRPC(&op, 0) == 0 && mbufGetLong(&op.reply.data, &result) == 0 && result != 0;
    }
    rpcCloseOperation(&op);
    return ok;
}

void usage() {
    std::fprintf(stderr,
                 "usage: qelrpc-refd --accounts FILE [--port N] [--port-file FILE] [--no-register] [--verbose]\n"
                 "Answers PCNFSD version 2 and Qelnfsd version 1 over TCP from the accounts in FILE:\n"
                 "  user NAME PASSWORD UID GID [EXTRA_GID ...]\n"
                 "  group NAME GID\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string accountsPath, portFile;
    uint16_t port = 0;
    bool registerPrograms = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--accounts" && i + 1 < argc) accountsPath = argv[++i];
        else if (a == "--port" && i + 1 < argc) port = static_cast<uint16_t>(std::atoi(argv[++i]));
        else if (a == "--port-file" && i + 1 < argc) portFile = argv[++i];
        else if (a == "--no-register") registerPrograms = false;
        else if (a == "--verbose") g_verbose = true;
        else if (a == "--help" || a == "-h") {
            usage();
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
    const int rc = rpcInitServerOperation(&listening, port);
    if (rc != 0) {
        std::fprintf(stderr, "refd: cannot listen on port %u (status %d)\n", port, rc);
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
        registered = portmap(kPmapSet, refd::kPcnfsdProgram, refd::kPcnfsdVersion, bound) &&
                     portmap(kPmapSet, refd::kQelnfsdProgram, refd::kQelnfsdVersion, bound);
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
        portmap(kPmapUnset, refd::kPcnfsdProgram, refd::kPcnfsdVersion, bound);
        portmap(kPmapUnset, refd::kQelnfsdProgram, refd::kQelnfsdVersion, bound);
    }
    std::printf("refd: stopped\n");
    return 0;
}
