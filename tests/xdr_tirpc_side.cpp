// SPDX-License-Identifier: MIT
// libtirpc's memory streams behind tests/xdr_tirpc_side.h. Only this file
// sees libtirpc's headers, and every libtirpc routine is reached through
// dlsym, so nothing here binds to the qelrpc routines of the same names.
#include "xdr_tirpc_side.h"

#include <dlfcn.h>
#include <rpc/rpc.h>

#include <cstdlib>
#include <cstring>

namespace tirpc_side {
namespace {

struct Api {
    void (*xdrmem_create)(XDR*, char*, u_int, xdr_op);
    bool_t (*xdr_u_int)(XDR*, u_int*);
    bool_t (*xdr_int)(XDR*, int*);
    bool_t (*xdr_string)(XDR*, char**, u_int);
    bool_t (*xdr_bytes)(XDR*, char**, u_int*, u_int);
    bool_t (*xdr_array)(XDR*, char**, u_int*, u_int, u_int, xdrproc_t);
    bool_t (*xdr_pointer)(XDR*, char**, u_int, xdrproc_t);
    bool_t (*xdr_pmap)(XDR*, struct pmap*);
    bool_t (*xdr_callmsg)(XDR*, struct rpc_msg*);
    bool_t (*xdr_replymsg)(XDR*, struct rpc_msg*);
    void (*xdr_void)(void);  // reached only as an xdrproc_t
    bool ok = false;
};

template <class F>
bool sym(void* h, const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(h, name));
    return f != nullptr;
}

const Api& api() {
    static const Api a = [] {
        Api r{};
        void* h = dlopen("libtirpc.so.3", RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) return r;
        r.ok = sym(h, "xdrmem_create", r.xdrmem_create) && sym(h, "xdr_u_int", r.xdr_u_int) &&
               sym(h, "xdr_int", r.xdr_int) && sym(h, "xdr_string", r.xdr_string) &&
               sym(h, "xdr_bytes", r.xdr_bytes) && sym(h, "xdr_array", r.xdr_array) &&
               sym(h, "xdr_pointer", r.xdr_pointer) && sym(h, "xdr_pmap", r.xdr_pmap) &&
               sym(h, "xdr_callmsg", r.xdr_callmsg) && sym(h, "xdr_replymsg", r.xdr_replymsg) &&
               sym(h, "xdr_void", r.xdr_void);
        return r;
    }();
    return a;
}

// An encoding stream over a scratch buffer; done() cuts the output to size.
struct Enc {
    Bytes buf = Bytes(65536);
    XDR x{};
    Enc() { api().xdrmem_create(&x, reinterpret_cast<char*>(buf.data()), static_cast<u_int>(buf.size()), XDR_ENCODE); }
    bool done(bool ok, Bytes& out) {
        if (!ok) return false;
        out.assign(buf.begin(), buf.begin() + XDR_GETPOS(&x));
        return true;
    }
};

struct Dec {
    Bytes buf;
    XDR x{};
    explicit Dec(const Bytes& in) : buf(in) {
        buf.reserve(buf.size() + 1);
        api().xdrmem_create(&x, reinterpret_cast<char*>(buf.data()), static_cast<u_int>(buf.size()), XDR_DECODE);
    }
};

xdrproc_t proc(bool_t (*f)(XDR*, int*)) { return reinterpret_cast<xdrproc_t>(f); }

void toAuth(const Auth& a, opaque_auth& o) {
    o.oa_flavor = static_cast<enum_t>(a.flavor);
    o.oa_base = reinterpret_cast<caddr_t>(const_cast<uint8_t*>(a.body.data()));
    o.oa_length = static_cast<u_int>(a.body.size());
}

void fromAuth(const opaque_auth& o, Auth& a) {
    a.flavor = static_cast<uint32_t>(o.oa_flavor);
    a.body.assign(reinterpret_cast<uint8_t*>(o.oa_base), reinterpret_cast<uint8_t*>(o.oa_base) + o.oa_length);
}

}  // namespace

bool available() { return api().ok; }

bool encodeUInts(const std::vector<uint32_t>& v, Bytes& out) {
    Enc e;
    bool ok = true;
    for (uint32_t w : v) {
        u_int t = w;
        ok = ok && api().xdr_u_int(&e.x, &t);
    }
    return e.done(ok, out);
}

bool decodeUInts(const Bytes& in, size_t n, std::vector<uint32_t>& v) {
    Dec d(in);
    v.clear();
    for (size_t i = 0; i < n; ++i) {
        u_int t;
        if (!api().xdr_u_int(&d.x, &t)) return false;
        v.push_back(t);
    }
    return true;
}

bool encodeStrings(const std::vector<std::string>& v, Bytes& out) {
    Enc e;
    bool ok = true;
    for (const std::string& s : v) {
        char* p = const_cast<char*>(s.c_str());
        ok = ok && api().xdr_string(&e.x, &p, ~0u);
    }
    return e.done(ok, out);
}

bool decodeStrings(const Bytes& in, size_t n, std::vector<std::string>& v) {
    Dec d(in);
    v.clear();
    std::vector<char> buf(65536);
    for (size_t i = 0; i < n; ++i) {
        char* p = buf.data();
        if (!api().xdr_string(&d.x, &p, static_cast<u_int>(buf.size() - 1))) return false;
        v.emplace_back(p);
    }
    return true;
}

bool encodeByteStrings(const std::vector<Bytes>& v, Bytes& out) {
    Enc e;
    bool ok = true;
    for (const Bytes& b : v) {
        char* p = reinterpret_cast<char*>(const_cast<uint8_t*>(b.data()));
        u_int len = static_cast<u_int>(b.size());
        ok = ok && api().xdr_bytes(&e.x, &p, &len, ~0u);
    }
    return e.done(ok, out);
}

bool decodeByteStrings(const Bytes& in, size_t n, std::vector<Bytes>& v) {
    Dec d(in);
    v.clear();
    std::vector<char> buf(65536);
    for (size_t i = 0; i < n; ++i) {
        char* p = buf.data();
        u_int len = 0;
        if (!api().xdr_bytes(&d.x, &p, &len, static_cast<u_int>(buf.size()))) return false;
        v.emplace_back(reinterpret_cast<uint8_t*>(p), reinterpret_cast<uint8_t*>(p) + len);
    }
    return true;
}

bool encodeIntArray(const std::vector<int32_t>& v, Bytes& out) {
    Enc e;
    char* p = reinterpret_cast<char*>(const_cast<int32_t*>(v.data()));
    u_int n = static_cast<u_int>(v.size());
    return e.done(api().xdr_array(&e.x, &p, &n, ~0u, sizeof(int), proc(api().xdr_int)), out);
}

bool decodeIntArray(const Bytes& in, std::vector<int32_t>& v) {
    Dec d(in);
    char* p = nullptr;
    u_int n = 0;
    if (!api().xdr_array(&d.x, &p, &n, ~0u, sizeof(int), proc(api().xdr_int))) return false;
    v.assign(reinterpret_cast<int32_t*>(p), reinterpret_cast<int32_t*>(p) + n);
    std::free(p);
    return true;
}

bool encodeOptionalInt(const int32_t* v, Bytes& out) {
    Enc e;
    char* p = reinterpret_cast<char*>(const_cast<int32_t*>(v));
    return e.done(api().xdr_pointer(&e.x, &p, sizeof(int), proc(api().xdr_int)), out);
}

bool decodeOptionalInt(const Bytes& in, bool& present, int32_t& v) {
    Dec d(in);
    char* p = nullptr;
    if (!api().xdr_pointer(&d.x, &p, sizeof(int), proc(api().xdr_int))) return false;
    present = p != nullptr;
    if (present) std::memcpy(&v, p, sizeof v);
    std::free(p);
    return true;
}

bool encodePmap(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port, Bytes& out) {
    Enc e;
    struct pmap m{prog, vers, prot, port};
    return e.done(api().xdr_pmap(&e.x, &m), out);
}

bool encodeMsg(const Msg& m, Bytes& out) {
    Enc e;
    struct rpc_msg r{};
    r.rm_xid = m.xid;
    if (m.mtype == 0) {
        r.rm_direction = CALL;
        r.rm_call.cb_rpcvers = m.rpcvers;
        r.rm_call.cb_prog = m.prog;
        r.rm_call.cb_vers = m.vers;
        r.rm_call.cb_proc = m.proc;
        toAuth(m.cred, r.rm_call.cb_cred);
        toAuth(m.verf, r.rm_call.cb_verf);
        return e.done(api().xdr_callmsg(&e.x, &r), out);
    }
    r.rm_direction = REPLY;
    r.rm_reply.rp_stat = static_cast<reply_stat>(m.replyStat);
    if (m.replyStat == MSG_ACCEPTED) {
        toAuth(m.rverf, r.acpted_rply.ar_verf);
        r.acpted_rply.ar_stat = static_cast<accept_stat>(m.acceptStat);
        r.acpted_rply.ar_vers.low = m.low;
        r.acpted_rply.ar_vers.high = m.high;
        if (m.acceptStat == SUCCESS) {
            r.acpted_rply.ar_results.where = nullptr;
            r.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(api().xdr_void);
        }
    } else {
        r.rjcted_rply.rj_stat = static_cast<reject_stat>(m.rejectStat);
        if (m.rejectStat == RPC_MISMATCH) {
            r.rjcted_rply.rj_vers.low = m.low;
            r.rjcted_rply.rj_vers.high = m.high;
        } else {
            r.rjcted_rply.rj_why = static_cast<auth_stat>(m.authStat);
        }
    }
    return e.done(api().xdr_replymsg(&e.x, &r), out);
}

bool decodeMsg(const Bytes& in, Msg& m) {
    if (in.size() < 8) return false;
    Dec d(in);
    struct rpc_msg r{};
    // Bodies go to buffers of our own, so libtirpc allocates nothing.
    uint8_t bodies[3][MAX_AUTH_BYTES];
    r.rm_call.cb_cred.oa_base = reinterpret_cast<caddr_t>(bodies[0]);
    const bool call = in[7] == 0 && in[6] == 0 && in[5] == 0 && in[4] == 0;
    if (call) {
        r.rm_call.cb_verf.oa_base = reinterpret_cast<caddr_t>(bodies[1]);
        if (!api().xdr_callmsg(&d.x, &r)) return false;
        m.mtype = 0;
        m.rpcvers = static_cast<uint32_t>(r.rm_call.cb_rpcvers);
        m.prog = static_cast<uint32_t>(r.rm_call.cb_prog);
        m.vers = static_cast<uint32_t>(r.rm_call.cb_vers);
        m.proc = static_cast<uint32_t>(r.rm_call.cb_proc);
        fromAuth(r.rm_call.cb_cred, m.cred);
        fromAuth(r.rm_call.cb_verf, m.verf);
    } else {
        r.acpted_rply.ar_verf.oa_base = reinterpret_cast<caddr_t>(bodies[2]);
        r.acpted_rply.ar_results.where = nullptr;
        r.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(api().xdr_void);
        if (!api().xdr_replymsg(&d.x, &r)) return false;
        m.mtype = 1;
        m.replyStat = r.rm_reply.rp_stat;
        if (m.replyStat == MSG_ACCEPTED) {
            fromAuth(r.acpted_rply.ar_verf, m.rverf);
            m.acceptStat = r.acpted_rply.ar_stat;
            if (m.acceptStat == PROG_MISMATCH) {
                m.low = static_cast<uint32_t>(r.acpted_rply.ar_vers.low);
                m.high = static_cast<uint32_t>(r.acpted_rply.ar_vers.high);
            }
        } else {
            m.rejectStat = r.rjcted_rply.rj_stat;
            if (m.rejectStat == RPC_MISMATCH) {
                m.low = static_cast<uint32_t>(r.rjcted_rply.rj_vers.low);
                m.high = static_cast<uint32_t>(r.rjcted_rply.rj_vers.high);
            } else {
                m.authStat = r.rjcted_rply.rj_why;
            }
        }
    }
    m.xid = static_cast<uint32_t>(r.rm_xid);
    return true;
}

}  // namespace tirpc_side
