// The XDR primitives as inline internals. The exported xdr_* routines are
// thin shells over these, and the composite and RPC message routines call
// these directly, so no call between the library's own routines goes
// through an exported name another library could interpose.
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
        if (!usable(s) || v == nullptr || !wire::hasRoom(*s, 4)) return kFail;
        wire::putWord(*s, *v);
        return kOk;
    }
    if (op == kDecode) {
        if (!usable(s) || v == nullptr || s->count < 4) return kFail;
        *v = wire::loadWord(s->pos);
        s->pos += 4;
        s->count -= 4;
        return kOk;
    }
    return op == kFree ? kOk : kFail;
}

// Copies n bytes with fixed-size (overlapping) loads and stores, in place of
// a call into the C library: the byte strings of RPC messages are short, and
// the routines that move them stay leaf functions.
inline void copyBytes(uint8_t* dst, const uint8_t* src, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(dst + i, src + i, 16);
        std::memcpy(dst + n - 16, src + n - 16, 16);
    } else if (n >= 8) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + n - 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + n - 8, &b, 8);
    } else if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + n - 4, 4);
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + n - 4, &b, 4);
    } else if (n != 0) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

// Stores len bytes and zero padding up to 4 at p: the padding word first,
// then the bytes over its start.
inline void storePadded(uint8_t* p, const void* bytes, uint32_t len, uint32_t total) {
    if (total != len) wire::storeWord(p + total - 4, 0);
    copyBytes(p, static_cast<const uint8_t*>(bytes), len);
}

// Fixed-length opaque: L bytes and zero padding, no length word. The encoder
// keeps no reserve: the padded bytes need only fit below the limit.
inline int opaque(MbufCursor* s, XdrOp op, uint32_t len, void* bytes) {
    const uint64_t total = wire::padded(len);
    if (op == kEncode) {
        if (!usable(s) || (bytes == nullptr && len != 0) || !wire::hasRoom(*s, total, 0)) return kFail;
        storePadded(s->pos, bytes, len, static_cast<uint32_t>(total));
        s->pos += total;
        s->count += static_cast<uint32_t>(total);
        return kOk;
    }
    if (op == kDecode) {
        if (!usable(s) || (bytes == nullptr && len != 0) || s->count < total) return kFail;
        copyBytes(static_cast<uint8_t*>(bytes), s->pos, len);
        // The padding is skipped unchecked.
        s->pos += total;
        s->count -= static_cast<uint32_t>(total);
        return kOk;
    }
    return kOk;  // free and any other op: nothing to do
}

// Counted bytes, encode: the length word (with the writers' reserve), then
// the bytes and padding (without it). A length above the maximum fails
// after its word was written.
inline int bytesEncode(MbufCursor* s, const void* p, uint32_t len, uint32_t maxLen) {
    if (!usable(s)) return kFail;
    // Cursor fields in locals: the byte stores below may alias them.
    uint8_t* const pos = s->pos;
    const uint32_t count = s->count;
    const uint32_t limit = s->limit;
    if (uint64_t{count} + 8 > limit) return kFail;
    const uint64_t total = wire::padded(len);
    wire::storeWord(pos, len);
    if (len <= maxLen && (len == 0 || (p != nullptr && uint64_t{count} + 4 + total <= limit))) {
        storePadded(pos + 4, p, len, static_cast<uint32_t>(total));
        s->pos = pos + 4 + total;
        s->count = count + 4 + static_cast<uint32_t>(total);
        return kOk;
    }
    // Refused after the length word, as a word-by-word writer leaves it.
    s->pos = pos + 4;
    s->count = count + 4;
    return kFail;
}

// Counted bytes, decode. The length is stored whatever it is; a refused
// length leaves the pointer as it was, any later failure leaves it null.
// The bytes must be in the window before anything is allocated, so a huge
// announced length costs nothing.
[[gnu::noinline]] inline int bytesDecode(MbufCursor* s, void*& p, uint32_t& len, uint32_t maxLen) {
    if (!usable(s) || s->count < 4) return kFail;
    const uint32_t n = wire::loadWord(s->pos);
    s->pos += 4;
    s->count -= 4;
    len = n;
    if (n > maxLen) return kFail;
    if (n == 0) return kOk;  // nothing allocated; the pointer stays
    const uint64_t total = wire::padded(n);
    // Every byte of the block is written below, so it needs no zeroing.
    void* block = nullptr;
    if (s->count < total || (block = heap::raw(n)) == nullptr) {
        p = nullptr;
        return kFail;
    }
    uint8_t* const pos = s->pos;
    const uint32_t count = s->count;
    copyBytes(static_cast<uint8_t*>(block), pos, n);
    s->pos = pos + total;
    s->count = count - static_cast<uint32_t>(total);
    p = block;
    return kOk;
}

// Kept out of line, like the decoders, so the encoders stay leaf functions.
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
    const uint64_t total = wire::padded(len);
    uint8_t* const pos = s->pos;
    const uint32_t count = s->count;
    if (len > UINT32_MAX || uint64_t{count} + 8 + total > s->limit) return kFail;
    wire::storeWord(pos, static_cast<uint32_t>(len));
    storePadded(pos + 4, text, static_cast<uint32_t>(len), static_cast<uint32_t>(total));
    s->pos = pos + 4 + total;
    s->count = count + 4 + static_cast<uint32_t>(total);
    return kOk;
}

// The length is read in place: a refused length leaves the window and the
// caller's pointer as they were. Once the length is accepted, a failure
// leaves a null pointer.
[[gnu::noinline]] inline int stringDecode(MbufCursor* s, char*& text, uint32_t maxLen) {
    if (!usable(s) || s->count < 4) return kFail;
    const uint32_t len = wire::loadWord(s->pos);
    if (len > maxLen) return kFail;
    const uint64_t total = 4 + wire::padded(len);
    char* out = nullptr;
    if (s->count < total || (out = static_cast<char*>(heap::raw(std::size_t{len} + 1))) == nullptr) {
        text = nullptr;
        return kFail;
    }
    uint8_t* const pos = s->pos;
    const uint32_t count = s->count;
    copyBytes(reinterpret_cast<uint8_t*>(out), pos + 4, len);
    out[len] = '\0';
    s->pos = pos + total;
    s->count = count - static_cast<uint32_t>(total);
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
