// XDR routines for the records of the ONC RPC message (RFC 5531 section 9),
// the Secure RPC network object and the portmapper mapping (RFC 1833).
//
//   rpc_msg:         xid | mtype | CALL: call_body  / REPLY: reply_body
//   call_body:       rpcvers | prog | vers | proc | cred | verf
//   opaque_auth:     flavor | length | body bytes | pad to 4
//   reply_body:      stat | MSG_ACCEPTED: accepted_reply / MSG_DENIED: rejected_reply
//   accepted_reply:  verf | stat | PROG_MISMATCH: low | high
//   rejected_reply:  stat | RPC_MISMATCH: low | high / AUTH_ERROR: auth_stat
//
// A discriminated record transfers its discriminant first and picks the arm
// by the value now in the record: the value read when decoding, the value
// held when encoding or freeing. Fields are transferred in order and the
// first failure ends the routine; a failed decode leaves the bodies it
// allocated in the record for the free mode to release.
#include <cstdint>

#include "qelrpc.h"
#include "xdr/xdr_codec.h"

using namespace qelrpc::xdr;

namespace {

constexpr uint32_t kCall = 0;
constexpr uint32_t kReply = 1;
constexpr uint32_t kMsgAccepted = 0;
constexpr uint32_t kMsgDenied = 1;
constexpr uint32_t kProgMismatch = 2;
constexpr uint32_t kRpcMismatch = 0;
constexpr uint32_t kAuthError = 1;

int opaqueAuth(MbufCursor* s, XdrOp op, opaque_auth& a) {
    if (!u32(s, op, &a.flavor)) return kFail;
    void* body = a.body.base;
    const int r = bytes(s, op, body, a.length, RPC_MAX_AUTH_BYTES);
    a.body.base = static_cast<uint8_t*>(body);
    return r;
}

int mismatchInfo(MbufCursor* s, XdrOp op, mismatch_info& m) { return u32(s, op, &m.low) && u32(s, op, &m.high); }

int callBody(MbufCursor* s, XdrOp op, call_body& c) {
    return u32(s, op, &c.rpcvers) && u32(s, op, &c.prog) && u32(s, op, &c.vers) && u32(s, op, &c.proc) &&
           opaqueAuth(s, op, c.cred) && opaqueAuth(s, op, c.verf);
}

int acceptedReply(MbufCursor* s, XdrOp op, accepted_reply& a) {
    if (!opaqueAuth(s, op, a.verf) || !u32(s, op, &a.stat)) return kFail;
    // The results of a successful call follow in the stream for the caller.
    return a.stat == kProgMismatch ? mismatchInfo(s, op, a.mismatch_info) : kOk;
}

int rejectedReply(MbufCursor* s, XdrOp op, rejected_reply& r) {
    if (!u32(s, op, &r.stat)) return kFail;
    switch (r.stat) {
    case kRpcMismatch: return mismatchInfo(s, op, r.mismatch_info);
    case kAuthError: return u32(s, op, &r.auth_stat);
    default: return kFail;
    }
}

int replyBody(MbufCursor* s, XdrOp op, reply_body& b) {
    if (!u32(s, op, &b.stat)) return kFail;
    switch (b.stat) {
    case kMsgAccepted: return acceptedReply(s, op, b.areply);
    case kMsgDenied: return rejectedReply(s, op, b.rreply);
    default: return kFail;
    }
}

int rpcMsg(MbufCursor* s, XdrOp op, rpc_msg& m) {
    if (!u32(s, op, &m.xid) || !u32(s, op, &m.mtype)) return kFail;
    switch (m.mtype) {
    case kCall: return callBody(s, op, m.cbody);
    case kReply: return replyBody(s, op, m.rbody);
    default: return kFail;
    }
}

}  // namespace

extern "C" {

int xdr_opaque_auth(MbufCursor* stream, XdrOp op, opaque_auth* auth) {
    return auth != nullptr && opaqueAuth(stream, op, *auth) ? kOk : kFail;
}

int xdr_mismatch_info(MbufCursor* stream, XdrOp op, mismatch_info* info) {
    return info != nullptr && mismatchInfo(stream, op, *info) ? kOk : kFail;
}

int xdr_call_body(MbufCursor* stream, XdrOp op, call_body* body) {
    return body != nullptr && callBody(stream, op, *body) ? kOk : kFail;
}

int xdr_accepted_reply(MbufCursor* stream, XdrOp op, accepted_reply* reply) {
    return reply != nullptr && acceptedReply(stream, op, *reply) ? kOk : kFail;
}

int xdr_rejected_reply(MbufCursor* stream, XdrOp op, rejected_reply* reply) {
    return reply != nullptr && rejectedReply(stream, op, *reply) ? kOk : kFail;
}

int xdr_reply_body(MbufCursor* stream, XdrOp op, reply_body* body) {
    return body != nullptr && replyBody(stream, op, *body) ? kOk : kFail;
}

int xdr_rpc_msg(MbufCursor* stream, XdrOp op, rpc_msg* msg) {
    return msg != nullptr && rpcMsg(stream, op, *msg) ? kOk : kFail;
}

int xdr_rpc_netobj(MbufCursor* stream, XdrOp op, netobj* obj) {
    if (obj == nullptr) return kFail;
    void* p = obj->bytes;
    const int r = bytes(stream, op, p, obj->length, RPC_MAX_NETOBJ_BYTES);
    obj->bytes = static_cast<uint8_t*>(p);
    return r;
}

int xdr_mapping(MbufCursor* stream, XdrOp op, mapping* map) {
    // Carried as xdr_int words; the bits are the same.
    return map != nullptr && u32(stream, op, &map->prog) && u32(stream, op, &map->vers) &&
                   u32(stream, op, &map->prot) && u32(stream, op, &map->port)
               ? kOk
               : kFail;
}

}  // extern "C"
