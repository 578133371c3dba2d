// The libtirpc client calls of bench/tirpc_client.h. Only this file and
// support_tirpc.cpp see libtirpc's headers; every routine comes from dlsym.
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>

#include <cstdio>
#include <cstdlib>

#include "tirpc_client.h"

namespace bench::tirpc {
namespace {

void* lib() {
    static void* h = [] {
        // RTLD_DEEPBIND: libtirpc's calls among its own routines (xdr_callhdr
        // to xdr_opaque_auth, say) must bind inside libtirpc, not to this
        // library's routines of the same names that the process already has.
        void* p = dlopen("libtirpc.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
        if (p == nullptr) {
            std::fprintf(stderr, "libtirpc.so.3 not loadable: %s\n", dlerror());
            std::abort();
        }
        return p;
    }();
    return h;
}

template <class F>
F sym(const char* name) {
    void* s = dlsym(lib(), name);
    if (s == nullptr) {
        std::fprintf(stderr, "libtirpc has no %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(s);
}

struct Entry {
    CLIENT* (*tcpCreate)(sockaddr_in*, rpcprog_t, rpcvers_t, int*, u_int, u_int);
    CLIENT* (*udpCreate)(sockaddr_in*, rpcprog_t, rpcvers_t, timeval, int*);
    bool_t (*xdrVoid)(XDR*, void*);
    u_short (*pmapGetport)(sockaddr_in*, u_long, u_long, u_int);
};

const Entry& entry() {
    static const Entry e = [] {
        Entry r{};
        r.tcpCreate = sym<decltype(r.tcpCreate)>("clnttcp_create");
        r.udpCreate = sym<decltype(r.udpCreate)>("clntudp_create");
        r.xdrVoid = sym<decltype(r.xdrVoid)>("xdr_void");
        r.pmapGetport = sym<decltype(r.pmapGetport)>("pmap_getport");
        return r;
    }();
    return e;
}

sockaddr_in address(uint32_t addr, uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = addr;
    return sin;
}

}  // namespace

struct Client {
    CLIENT* clnt;
};

namespace {
// A plain socket already bound to an ephemeral port: libtirpc then skips
// its search for a free reserved port (bindresvport as root), which with
// many closed connections in TIME_WAIT takes hundreds of failed binds.
int boundSocket(int type) {
    const int s = socket(AF_INET, type, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// A client on a socket of the caller's (closed by CLNT_DESTROY), or on one
// libtirpc makes itself.
Client* finish(CLIENT* c, int ownSock) {
    if (c == nullptr) {
        if (ownSock >= 0) close(ownSock);
        return nullptr;
    }
    if (ownSock >= 0) CLNT_CONTROL(c, CLSET_FD_CLOSE, nullptr);
    return new Client{c};
}
}  // namespace

Client* newTcpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool ownSocket) {
    sockaddr_in sin = address(addr, port);
    int sock = ownSocket ? boundSocket(SOCK_STREAM) : RPC_ANYSOCK;
    const int own = ownSocket ? sock : -1;
    return finish(entry().tcpCreate(&sin, prog, vers, &sock, 0, 0), own);
}

Client* newUdpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool ownSocket) {
    sockaddr_in sin = address(addr, port);
    int sock = ownSocket ? boundSocket(SOCK_DGRAM) : RPC_ANYSOCK;
    const int own = ownSocket ? sock : -1;
    return finish(entry().udpCreate(&sin, prog, vers, timeval{1, 0}, &sock), own);
}

bool nullCall(Client* c) {
    timeval limit{5, 0};
    const auto xv = reinterpret_cast<xdrproc_t>(entry().xdrVoid);
    return CLNT_CALL(c->clnt, NULLPROC, xv, nullptr, xv, nullptr, limit) == RPC_SUCCESS;
}

void deleteClient(Client* c) {
    if (c == nullptr) return;
    CLNT_DESTROY(c->clnt);
    delete c;
}

uint16_t pmapGetPort(uint32_t addr, unsigned prog, unsigned vers, unsigned prot) {
    sockaddr_in sin = address(addr, 111);
    return entry().pmapGetport(&sin, prog, vers, prot);
}

}  // namespace bench::tirpc
