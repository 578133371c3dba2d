// SPDX-License-Identifier: MIT
// The RPCSEC_GSS readers of server bytes over arbitrary input: the results
// of a context-creation call (handle, statuses, seq_window, token), a
// reply's verifier, and the reply check of an established context, whose
// MIC check is handed the verifier body. The input is exactly the bytes
// received, in read-only memory that ends where a guard page begins, so a
// write into them or a read past their end faults; every pointer handed out
// must lie inside them. What the readers and the reply check write (the
// results, the operation record, the credential) lies between guard pages.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "auth/gss_api.h"
#include "auth/gss_wire.h"
#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

namespace {

using namespace qelrpc::gss;

const uint8_t* g_begin = nullptr;
const uint8_t* g_end = nullptr;

bool inside(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return n == 0 || (b >= g_begin && b <= g_end && n <= static_cast<size_t>(g_end - b));
}

// Reads every byte it is handed, so an over-long length is caught.
OM_uint32 QELRPC_GSS_CALL verifyMic(OM_uint32*, gss_ctx_id_t, gss_buffer_t msg, gss_buffer_t token, gss_qop_t*) {
    if (msg->length != 4 || !inside(token->value, token->length)) std::abort();
    unsigned sum = 0;
    for (size_t i = 0; i < token->length; ++i) sum += static_cast<const uint8_t*>(token->value)[i];
    return sum % 3 == 0 ? 0 : 0x60000;
}

void checkInitResult(const InitResult& res) {
    if (res.handle.length > RPCSEC_GSS_MAX_HANDLE || !inside(res.handle.data, res.handle.length) ||
        !inside(res.seqWindow, 4) || !inside(res.token.data, res.token.length)) {
        std::abort();
    }
}

void checkVerifier(const qelrpc::wire::OpaqueAuth& verf) {
    if (verf.body.length > RPC_MAX_AUTH_BYTES || !inside(verf.body.data, verf.body.length)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE), windowIn(sizeof(MbufCursor));
    static fuzzmem::GuardedOutput resArea(sizeof(InitResult)), verfArea(sizeof(qelrpc::wire::OpaqueAuth)),
        opArea(sizeof(RpcOperation)), authArea(sizeof(RpcAuth)), credArea(sizeof(AuthGssCred)),
        contextArea(sizeof(int));
    const uint8_t* base = input.place(data, size);
    g_begin = base;
    g_end = base + size;
    const uint32_t n = static_cast<uint32_t>(size);

    // Called directly: only RPCSEC_GSS_InitSecurityContext's network exchange reaches the set-up readers.
    // The whole input as a set-up call's results.
    const MbufCursor whole{n, n, const_cast<uint8_t*>(base)};
    const auto* window = reinterpret_cast<const MbufCursor*>(windowIn.place(&whole, sizeof whole));
    InitResult* res = new (resArea.area(sizeof(InitResult))) InitResult;
    if (readInitResult(*window, *res)) checkInitResult(*res);

    // The whole input as a reply: its verifier.
    auto* verf = new (verfArea.area(sizeof(qelrpc::wire::OpaqueAuth))) qelrpc::wire::OpaqueAuth;
    if (readReplyVerifier(base, n, *verf)) checkVerifier(*verf);

    // The reply check, through ProcessRPCResponse, of a call on an
    // established context (gssProc DATA) and of a set-up call (gssProc
    // INIT); after a set-up call's check, the set-up readers over the
    // windows it left, as the set-up exchange reads them.
    static EntryPoints table = [] {
        EntryPoints t{};
        t.verifyMic = verifyMic;
        return t;
    }();
    useTableForTesting(&table);
    for (const uint32_t proc : {uint32_t{RPCSEC_GSS_PROC_DATA}, uint32_t{RPCSEC_GSS_PROC_INIT}}) {
        int* context = contextArea.zeroed<int>();
        AuthGssCred* cred = credArea.zeroed<AuthGssCred>();
        cred->gssProc = proc;
        cred->seqNum = 7;
        cred->service = RPCSEC_GSS_SVC_INTEGRITY;
        cred->context = context;
        RpcAuth* auth = authArea.zeroed<RpcAuth>();
        *auth = RpcAuth{RPC_RPCSEC_GSS, 20, cred, RPC_RPCSEC_GSS, 0};
        RpcOperation* op = opArea.zeroed<RpcOperation>();
        op->auth = auth;
        op->reply.block.pos = const_cast<uint8_t*>(base);  // read in place, never written
        op->reply.block.count = n;
        op->reply.block.limit = n;
        const int rc = ProcessRPCResponse(op);
        if (rc == 0 && !inside(op->reply.data.pos, op->reply.data.count)) std::abort();
        const bool accepted = rc == 0 || (rc <= -5 && rc != -98 && rc != -99);
        if (proc == RPCSEC_GSS_PROC_DATA) {
            // Only a reply with an RPCSEC_GSS verifier (flavor word at byte
            // 12) is taken as accepted on an established context.
            if (accepted && (n < 16 || base[12] != 0 || base[13] != 0 || base[14] != 0 || base[15] != RPC_RPCSEC_GSS))
                std::abort();
        } else if (rc == 0) {
            // A set-up reply: AUTH_NULL or RPCSEC_GSS verifier, not checked here.
            if (n < 16 || base[12] != 0 || base[13] != 0 || base[14] != 0 ||
                (base[15] != RPC_AUTH_NULL && base[15] != RPC_RPCSEC_GSS))
                std::abort();
            const MbufCursor results = op->reply.data;
            window = reinterpret_cast<const MbufCursor*>(windowIn.place(&results, sizeof results));
            res = new (resArea.area(sizeof(InitResult))) InitResult;
            if (readInitResult(*window, *res)) checkInitResult(*res);
            verf = new (verfArea.area(sizeof(qelrpc::wire::OpaqueAuth))) qelrpc::wire::OpaqueAuth;
            if (!readReplyVerifier(base, op->reply.header.count, *verf)) std::abort();  // checked as accepted
            checkVerifier(*verf);
        }
        if (cred->gssProc != proc || cred->seqNum != 7 || cred->context != context || op->auth != auth) std::abort();
    }
    useTableForTesting(nullptr);
    return 0;
}
