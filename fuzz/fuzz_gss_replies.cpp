// The RPCSEC_GSS readers of server bytes over arbitrary input: the results
// of a context-creation call (handle, statuses, seq_window, token), a
// reply's verifier, and the reply check of an established context, whose
// MIC check is handed the verifier body. The input is exactly the bytes
// received, so a read past their end is caught; every pointer handed out
// must lie inside them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "auth/gss_api.h"
#include "auth/gss_wire.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > RPC_MBUF_SIZE) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    uint8_t none = 0;
    uint8_t* base = bytes.empty() ? &none : bytes.data();
    g_begin = base;
    g_end = base + size;
    const uint32_t n = static_cast<uint32_t>(size);

    // The whole input as a set-up call's results.
    MbufCursor window{n, n, base};
    InitResult res;
    if (readInitResult(window, res)) {
        if (res.handle.length > RPCSEC_GSS_MAX_HANDLE || !inside(res.handle.data, res.handle.length) ||
            !inside(res.seqWindow, 4) || !inside(res.token.data, res.token.length)) {
            std::abort();
        }
    }
    if (window.pos != base || window.count != n) std::abort();

    // The whole input as a reply: its verifier.
    qelrpc::wire::OpaqueAuth verf;
    if (readReplyVerifier(base, n, verf)) {
        if (verf.body.length > RPC_MAX_AUTH_BYTES || !inside(verf.body.data, verf.body.length)) std::abort();
    }

    // The reply check of a call on an established context.
    static EntryPoints table = [] {
        EntryPoints t{};
        t.verifyMic = verifyMic;
        return t;
    }();
    useTableForTesting(&table);
    int context = 0;
    AuthGssCred cred{};
    cred.gssProc = RPCSEC_GSS_PROC_DATA;
    cred.seqNum = 7;
    cred.service = RPCSEC_GSS_SVC_INTEGRITY;
    cred.context = &context;
    RpcAuth auth{RPC_RPCSEC_GSS, 20, &cred, RPC_RPCSEC_GSS, 0};
    RpcOperation op{};
    op.auth = &auth;
    op.reply.block.pos = base;
    op.reply.block.count = n;
    op.reply.block.limit = n;
    const int rc = ProcessRPCResponse(&op);
    if (rc == 0 && !inside(op.reply.data.pos, op.reply.data.count)) std::abort();
    // Only a reply with an RPCSEC_GSS verifier (flavor word at byte 12) is
    // taken as accepted on an established context.
    const bool accepted = rc == 0 || (rc <= -5 && rc != -98 && rc != -99);
    if (accepted && (n < 16 || base[12] != 0 || base[13] != 0 || base[14] != 0 || base[15] != RPC_RPCSEC_GSS))
        std::abort();
    useTableForTesting(nullptr);
    return 0;
}
