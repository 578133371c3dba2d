// SPDX-License-Identifier: MIT
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
#include "tirpc_loader.h"

namespace bench::tirpc {
namespace {

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
// A UDP socket already bound to an ephemeral port: libtirpc then skips
// its search for a free reserved port (bindresvport as root).
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

Client* newTcpClient(uint32_t addr, uint16_t port, unsigned prog, unsigned vers, bool plainConnect) {
    sockaddr_in sin = address(addr, port);
    int sock = RPC_ANYSOCK;
    if (plainConnect) {
        // What an unprivileged caller's client gets: a socket connected from
        // an ephemeral port the connect itself picks, no bind before it.
        sock = socket(AF_INET, SOCK_STREAM, 0);
        if (sock < 0) return nullptr;
        if (connect(sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
            close(sock);
            return nullptr;
        }
    }
    const int own = plainConnect ? sock : -1;
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
