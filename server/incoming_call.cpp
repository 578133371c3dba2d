// The check of an incoming CALL header (RFC 5531 section 9), read from the
// start of the request block and bounded by the bytes received:
//
//   xid | CALL (0) | RPC version (2) | prog | vers | proc
//   | cred flavor | cred length Lc | cred body, padded to 4
//   | verf flavor | verf length Lv | verf body, padded to 4 | arguments ...
//
// Credentials and verifiers are skipped, not examined: the server side does
// no authentication.
#include "qelrpc.h"
#include "server/server_status.h"
#include "xdr/wire.h"

using namespace qelrpc;

namespace {

constexpr uint32_t kMsgCall = 0;
constexpr uint32_t kRpcVersion = 2;

bool readWord(MbufCursor& r, uint32_t& v) {
    const uint8_t* p = wire::take(r, 4);
    if (p == nullptr) return false;
    v = wire::loadWord(p);
    return true;
}

// Skips an opaque_auth (flavor, length, body padded to 4).
bool skipOpaqueAuth(MbufCursor& r) {
    uint32_t flavor, length;
    if (!readWord(r, flavor) || !readWord(r, length)) return false;
    return wire::take(r, wire::padded(length)) != nullptr;
}

}  // namespace

extern "C" {

int ProcessRPCCall(RpcOperation* op, uint32_t* xid) {
    if (op == nullptr || xid == nullptr) return server::status::kNullArgument;
    Mbuf& req = op->request;
    req.header.pos = req.block.pos;
    if (req.block.pos == nullptr) return server::status::kNullArgument;

    // The received bytes bound every read; a count beyond the block is
    // clamped to it.
    const uint32_t received = req.block.count <= req.block.limit ? req.block.count : req.block.limit;
    MbufCursor r{received, received, req.block.pos};

    uint32_t words[6];
    if (!readWord(r, words[0])) return server::status::kShortCall;
    *xid = words[0];
    for (int i = 1; i < 3; ++i)
        if (!readWord(r, words[i])) return server::status::kShortCall;
    if (words[1] != kMsgCall) return server::status::kNotACall;
    if (words[2] != kRpcVersion) return server::status::kBadRpcVersion;
    for (int i = 3; i < 6; ++i)
        if (!readWord(r, words[i])) return server::status::kShortCall;
    if (!skipOpaqueAuth(r) || !skipOpaqueAuth(r)) return server::status::kShortCall;

    op->prog = words[3];
    op->vers = words[4];
    op->proc = words[5];
    req.header.count = received - r.count;
    req.data.pos = r.pos;
    req.data.count = r.count;
    return 0;
}

}  // extern "C"
