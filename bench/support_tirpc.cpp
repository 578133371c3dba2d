// SPDX-License-Identifier: MIT
// The libtirpc side of the benchmarks. Only this file sees libtirpc's
// headers; every libtirpc routine is called through a pointer from dlsym, so
// nothing here binds to the qelrpc routines of the same names.
#include <dlfcn.h>
#include <rpc/rpc.h>

#include <cstdio>
#include <cstdlib>

#include "tirpc.h"
#include "tirpc_loader.h"

namespace bench::tirpc {
static_assert(sizeof(XDR) <= sizeof(Stream), "libtirpc's XDR record outgrew the room kept for it");
static_assert(int{XDR_ENCODE} == int{kEncode} && int{XDR_DECODE} == int{kDecode} && int{XDR_FREE} == int{kFree});

void* library() {
    static void* h = [] {
        // DEEPBIND: libtirpc's calls between its own xdr_* routines must not
        // bind to this library's routines of the same names.
        void* p = dlopen("libtirpc.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
        if (p == nullptr) {
            std::fprintf(stderr, "libtirpc.so.3 not loadable: %s\n", dlerror());
            std::abort();
        }
        return p;
    }();
    return h;
}

void* symbol(const char* name) {
    void* s = dlsym(library(), name);
    if (s == nullptr) {
        std::fprintf(stderr, "libtirpc has no %s\n", name);
        std::abort();
    }
    return s;
}

namespace {
unsigned getposOf(Stream* s) {
    XDR* x = reinterpret_cast<XDR*>(s);
    return XDR_GETPOS(x);
}
}  // namespace

const Api& api() {
    static const Api a = [] {
        Api r{};
        r.xdrmem_create = sym<decltype(r.xdrmem_create)>("xdrmem_create");
        r.xdr_u_int = sym<decltype(r.xdr_u_int)>("xdr_u_int");
        r.xdr_int = sym<decltype(r.xdr_int)>("xdr_int");
        r.xdr_string = sym<decltype(r.xdr_string)>("xdr_string");
        r.xdr_bytes = sym<decltype(r.xdr_bytes)>("xdr_bytes");
        r.xdr_opaque = sym<decltype(r.xdr_opaque)>("xdr_opaque");
        r.xdr_array = sym<decltype(r.xdr_array)>("xdr_array");
        r.xdr_free = sym<decltype(r.xdr_free)>("xdr_free");
        r.getpos = getposOf;
        return r;
    }();
    return a;
}

struct CallHeader {
    AUTH* auth;
    rpc_msg msg;
    bool_t (*callhdr)(XDR*, rpc_msg*);
};

CallHeader* newCallHeader(const char* machine, unsigned uid, unsigned gid, unsigned prog, unsigned vers) {
    auto create = sym<AUTH* (*)(char*, uid_t, uid_t, int, uid_t*)>("authunix_create");
    auto* h = new CallHeader{};
    uid_t g = gid;
    h->auth = create(const_cast<char*>(machine), uid, gid, 1, &g);
    h->callhdr = sym<bool_t (*)(XDR*, rpc_msg*)>("xdr_callhdr");
    h->msg.rm_direction = CALL;
    h->msg.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    h->msg.rm_call.cb_prog = prog;
    h->msg.rm_call.cb_vers = vers;
    return h;
}

unsigned writeCallHeader(CallHeader* h, char* buf, unsigned size, unsigned xid, unsigned proc) {
    XDR x;
    api().xdrmem_create(reinterpret_cast<Stream*>(&x), buf, size, XDR_ENCODE);
    h->msg.rm_xid = xid;
    if (!h->callhdr(&x, &h->msg)) return 0;
    if (!XDR_PUTINT32(&x, reinterpret_cast<int32_t*>(&proc))) return 0;
    if (!AUTH_MARSHALL(h->auth, &x)) return 0;
    return XDR_GETPOS(&x);
}

void deleteCallHeader(CallHeader* h) {
    if (h == nullptr) return;
    AUTH_DESTROY(h->auth);
    delete h;
}

}  // namespace bench::tirpc
