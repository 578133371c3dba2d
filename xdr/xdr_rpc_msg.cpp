// SPDX-License-Identifier: MIT
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
#include "xdr/rpc_msg.h"
#include "xdr/xdr_codec.h"

using namespace qelrpc::xdr;

namespace {

using namespace qelrpc::rpcmsg;

// Counted bytes held in a record's uint8_t* field.
int byteField(MbufCursor* s, XdrOp op, uint8_t*& field, uint32_t& length, uint32_t maxLength) {
    void* p = field;
    const int r = bytes(s, op, p, length, maxLength);
    field = static_cast<uint8_t*>(p);
    return r;
}

int opaqueAuth(MbufCursor* s, XdrOp op, opaque_auth& a) {
    return u32(s, op, &a.flavor) && byteField(s, op, a.body.base, a.length, RPC_MAX_AUTH_BYTES);
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
    case kMsgCall: return callBody(s, op, m.cbody);
    case kMsgReply: return replyBody(s, op, m.rbody);
    default: return kFail;
    }
}

int netObj(MbufCursor* s, XdrOp op, netobj& n) { return byteField(s, op, n.bytes, n.length, RPC_MAX_NETOBJ_BYTES); }

// Carried as xdr_int words; the bits are the same.
int portMapping(MbufCursor* s, XdrOp op, mapping& m) {
    return u32(s, op, &m.prog) && u32(s, op, &m.vers) && u32(s, op, &m.prot) && u32(s, op, &m.port);
}

// The exports: a null record fails, the rest is the record's routine.
template <class T>
int shell(MbufCursor* s, XdrOp op, T* record, int (*routine)(MbufCursor*, XdrOp, T&)) {
    return record != nullptr && routine(s, op, *record) ? kOk : kFail;
}

}  // namespace

extern "C" {

int xdr_opaque_auth(MbufCursor* stream, XdrOp op, opaque_auth* auth) { return shell(stream, op, auth, opaqueAuth); }
int xdr_mismatch_info(MbufCursor* stream, XdrOp op, mismatch_info* m) { return shell(stream, op, m, mismatchInfo); }
int xdr_call_body(MbufCursor* stream, XdrOp op, call_body* body) { return shell(stream, op, body, callBody); }
int xdr_accepted_reply(MbufCursor* stream, XdrOp op, accepted_reply* r) { return shell(stream, op, r, acceptedReply); }
int xdr_rejected_reply(MbufCursor* stream, XdrOp op, rejected_reply* r) { return shell(stream, op, r, rejectedReply); }
int xdr_reply_body(MbufCursor* stream, XdrOp op, reply_body* body) { return shell(stream, op, body, replyBody); }
int xdr_rpc_msg(MbufCursor* stream, XdrOp op, rpc_msg* msg) { return shell(stream, op, msg, rpcMsg); }
int xdr_rpc_netobj(MbufCursor* stream, XdrOp op, netobj* obj) { return shell(stream, op, obj, netObj); }
int xdr_mapping(MbufCursor* stream, XdrOp op, mapping* map) { return shell(stream, op, map, portMapping); }

}  // extern "C"
