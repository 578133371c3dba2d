// SPDX-License-Identifier: MIT
// The XDR primitives as inline internals. The exported xdr_* routines are
// thin shells over these, and the composite and RPC message routines call
// these directly, so no call between the library's own routines goes
// through an exported name another library could interpose. Every one reads
// through a wire::Reader or writes through a wire::Writer over a copy of the
// stream and takes the window back only when it is done.
#pragma once

#include <cstdint>
#include <cstring>

#include "qelrpc.h"
#include "platform/heap.h"
#include "xdr/wire.h"

// Element and object routines reach us as XdrProc, whatever the exact
// pointer type of their third parameter (xdr_int takes an int32_t*, a
// record routine its record): the C convention of XDR, with one calling
// sequence for every object pointer. Clang's function-type check would
// flag each such call, so the few functions that make them opt out of it.
#if defined(__clang__)
#define QELRPC_CALLS_XDRPROC __attribute__((no_sanitize("function")))
#else
#define QELRPC_CALLS_XDRPROC
#endif

namespace qelrpc::xdr {

constexpr XdrOp kEncode = XDR_OP_ENCODE;
constexpr XdrOp kDecode = XDR_OP_DECODE;
constexpr XdrOp kFree = XDR_OP_FREE;

constexpr int kOk = 1;
constexpr int kFail = 0;

inline bool usable(const MbufCursor* s) { return s != nullptr && s->pos != nullptr; }

// One word. Encode keeps the writers' 4-byte reserve; free touches nothing.
inline int u32(MbufCursor* s, XdrOp op, uint32_t* v) {
    if (op == kEncode) {
        if (!usable(s) || v == nullptr) return kFail;
        wire::Writer w(*s);
        if (!w.word(*v)) return kFail;
        wire::takeBack(*s, w.window());
        return kOk;
    }
    if (op == kDecode) {
        if (!usable(s) || v == nullptr) return kFail;
        wire::Reader r(*s);
        const uint32_t t = r.word();
        if (!r.ok()) return kFail;
        *v = t;
        wire::takeBack(*s, r.window());
        return kOk;
    }
    return op == kFree ? kOk : kFail;
}

// Fixed-length opaque: L bytes and zero padding, no length word. The encoder
// keeps no reserve: the padded bytes need only fit below the limit.
inline int opaque(MbufCursor* s, XdrOp op, uint32_t len, void* bytes) {
    if (op != kEncode && op != kDecode) return kOk;  // free and any other op: nothing to do
    if (!usable(s) || (bytes == nullptr && len != 0)) return kFail;
    if (op == kEncode) {
        wire::Writer w(*s, 0);
        if (!w.fixedOpaque(bytes, len)) return kFail;
        wire::takeBack(*s, w.window());
        return kOk;
    }
    wire::Reader r(*s);
    const uint8_t* p = r.fixedOpaque(len);  // the padding is skipped unchecked
    if (!r.ok()) return kFail;
    wire::copyBytes(static_cast<uint8_t*>(bytes), p, len);
    wire::takeBack(*s, r.window());
    return kOk;
}

// Counted bytes, encode: the length word (with the writers' reserve), then
// the bytes and padding (without it). A length above the maximum fails
// after its word was written.
inline int bytesEncode(MbufCursor* s, const void* p, uint32_t len, uint32_t maxLen) {
    if (!usable(s)) return kFail;
    // Qel_BytesEncode: the cursor, its limit too, in locals and written back
    // once (the byte stores may alias it: a limit read after them is read
    // again from memory, 1.2x the time; two writers over copies, 1.2x too).
    uint8_t* const pos = s->pos;
    const uint32_t count = s->count;
    const uint32_t limit = s->limit;
    const uint64_t total = wire::padded(len);
    if (!wire::hasRoom(*s, 4)) return kFail;
    wire::storeWord(pos, len);
    const bool fits = len <= maxLen && (len == 0 || (p != nullptr && uint64_t{count} + 4 + total <= limit));
    if (fits) wire::storePadded(pos + 4, p, len);
    // Refused after the length word, as a word-by-word writer leaves it.
    const uint32_t written = fits ? 4 + static_cast<uint32_t>(total) : 4;
    s->pos = pos + written;
    s->count = count + written;
    return fits ? kOk : kFail;
}

// The decoders and frees stay out of line: inlined into the exported
// shells, they make every encode save five or six registers (bench_xdr rows
// Qel_BytesEncode and Qel_StringEncode: 1.1 times the time).
//
// Counted bytes, decode. The length is stored whatever it is; a refused
// length leaves the pointer as it was, any later failure leaves it null.
// The bytes must be in the window before anything is allocated, so a huge
// announced length costs nothing.
[[gnu::noinline]] inline int bytesDecode(MbufCursor* s, void*& p, uint32_t& len, uint32_t maxLen) {
    if (!usable(s)) return kFail;
    wire::Reader r(*s);
    const uint32_t n = r.word();
    if (!r.ok()) return kFail;
    wire::takeBack(*s, r.window());
    len = n;
    if (n > maxLen) return kFail;
    if (n == 0) return kOk;  // nothing allocated; the pointer stays
    // Every byte of the block is written below, so it needs no zeroing.
    void* block = nullptr;
    if (r.remaining() < wire::padded(n) || (block = heap::raw(n)) == nullptr) {
        p = nullptr;
        return kFail;
    }
    // A fresh reader after the allocation, so none is kept across the call.
    wire::Reader body(*s);
    wire::copyBytes(static_cast<uint8_t*>(block), body.fixedOpaque(n), n);
    wire::takeBack(*s, body.window());
    p = block;
    return kOk;
}

[[gnu::noinline]] inline int bytesFree(void*& p, uint32_t len) {
    if (len != 0) {
        heap::release(p);
        p = nullptr;
    }
    return kOk;
}

// Counted bytes of at most maxLen, in any mode.
inline int bytes(MbufCursor* s, XdrOp op, void*& p, uint32_t& len, uint32_t maxLen) {
    if (op == kEncode) return bytesEncode(s, p, len, maxLen);
    if (op == kDecode) return bytesDecode(s, p, len, maxLen);
    return op == kFree ? bytesFree(p, len) : kFail;
}

// A string: length word, the bytes without a terminator, zero padding.
inline int stringEncode(MbufCursor* s, const char* text) {
    if (!usable(s) || text == nullptr) return kFail;
    const size_t len = std::strlen(text);
    if (len > UINT32_MAX) return kFail;
    wire::Writer w(*s);
    if (!w.opaque(text, static_cast<uint32_t>(len))) return kFail;
    wire::takeBack(*s, w.window());
    return kOk;
}

// A refused length leaves the window and the caller's pointer as they were.
// Once the length is accepted, a failure leaves a null pointer.
[[gnu::noinline]] inline int stringDecode(MbufCursor* s, char*& text, uint32_t maxLen) {
    if (!usable(s)) return kFail;
    wire::Reader r(*s);
    const uint32_t len = r.word();
    if (!r.ok() || len > maxLen) return kFail;
    const uint8_t* from = r.fixedOpaque(len);
    char* out = nullptr;
    if (!r.ok() || (out = static_cast<char*>(heap::raw(std::size_t{len} + 1))) == nullptr) {
        text = nullptr;
        return kFail;
    }
    wire::copyBytes(reinterpret_cast<uint8_t*>(out), from, len);
    out[len] = '\0';
    wire::takeBack(*s, r.window());
    text = out;
    return kOk;
}

[[gnu::noinline]] inline int stringFree(char*& text) {
    heap::release(text);
    text = nullptr;
    return kOk;
}

inline int string(MbufCursor* s, XdrOp op, char** text, uint32_t maxLen) {
    if (text == nullptr) return kFail;
    if (op == kEncode) return stringEncode(s, *text);
    if (op == kDecode) return stringDecode(s, *text, maxLen);
    return op == kFree ? stringFree(*text) : kFail;
}

}  // namespace qelrpc::xdr
