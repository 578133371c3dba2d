// SPDX-License-Identifier: MIT
// Wire words and space tests shared by every writer and reader of the
// message block. Every integer on the wire is a 4-byte big-endian word; a
// byte string is a length word, the bytes, and zero padding to 4.
#pragma once

#include <cstdint>
#include <cstring>

#include "qelrpc.h"

namespace qelrpc::wire {

// Rounds up to a multiple of 4 in 64 bits, so a length near 2^32 cannot
// fold into a small one.
constexpr uint64_t padded(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

// Writers keep 4 bytes in reserve: n bytes fit when count + n + 4 <= limit.
constexpr uint64_t kWriterReserve = 4;

inline bool hasRoom(const MbufCursor& w, uint64_t n, uint64_t reserve = kWriterReserve) {
    return uint64_t{w.count} + n + reserve <= uint64_t{w.limit};
}

inline void storeWord(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t loadWord(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Record marking on TCP (RFC 5531 section 11): each fragment starts with a
// word whose bit 31 marks the record's last fragment and whose bits 0-30
// give the fragment's length.
constexpr uint32_t kLastFragment = 0x80000000u;
inline uint32_t lastFragmentMark(uint32_t length) { return length | kLastFragment; }
inline uint32_t fragmentLength(uint32_t mark) { return mark & ~kLastFragment; }
inline bool isLastFragment(uint32_t mark) { return (mark & kLastFragment) != 0; }
// Empty fragments add no bytes, so the block's size alone does not bound a
// record: a record, call or reply, has at most as many fragments as the
// block has bytes, so a peer sending empty fragments without end is cut off.
constexpr uint32_t kMaxRecordFragments = RPC_MBUF_SIZE;

// Copies n bytes through two overlapping loads and stores of one width,
// the first and the last bytes.
template <class T>
inline void copyEnds(uint8_t* dst, const uint8_t* src, size_t n) {
    T a, b;
    std::memcpy(&a, src, sizeof a);
    std::memcpy(&b, src + n - sizeof b, sizeof b);
    std::memcpy(dst, &a, sizeof a);
    std::memcpy(dst + n - sizeof b, &b, sizeof b);
}

// Copies n bytes with fixed-size (overlapping) loads and stores, in place of
// a call into the C library: the byte strings of RPC messages are short
// (bench_xdr rows Qel_StringEncode and Qel_BytesEncode: 1.3 to 1.5 times
// the time with memcpy).
inline void copyBytes(uint8_t* dst, const uint8_t* src, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(dst + i, src + i, 16);
        std::memcpy(dst + n - 16, src + n - 16, 16);
    } else if (n >= 8) {
        copyEnds<uint64_t>(dst, src, n);
    } else if (n >= 4) {
        copyEnds<uint32_t>(dst, src, n);
    } else if (n != 0) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

// Fills reserved space with len bytes and zero padding up to 4: the padding
// word first, then the bytes over its start.
inline void storePadded(uint8_t* p, const void* bytes, uint32_t len) {
    const uint64_t total = padded(len);
    if (total != len) storeWord(p + total - 4, 0);
    copyBytes(p, static_cast<const uint8_t*>(bytes), len);
}

// Takes a reader's or writer's window back into the caller's cursor, field
// by field (the limit never changes): a whole-struct copy becomes one wide
// store the next call's narrower loads cannot forward from, which tripled
// the time per word of bench_xdr's rows Qel_U32Encode and Qel_U32Decode.
inline void takeBack(MbufCursor& to, const MbufCursor& from) {
    to.pos = from.pos;
    to.count = from.count;
}

// Variable-length opaque data as read: where the bytes are and how many
// (the padding behind them already consumed).
struct Opaque {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

// opaque_auth (RFC 5531 section 8.2): a flavor and a body of at most 400 bytes.
struct OpaqueAuth {
    uint32_t flavor = 0;
    Opaque body;
};
constexpr uint32_t kMaxAuthBody = 400;

// Reads a window of received bytes front to back. A read that does not fit
// fails, yields zero or an empty item, and leaves the reader failed: every
// later read fails too, so a parser reads a whole structure and asks ok()
// once. The reader works on its own copy of the window; a caller whose
// cursor should move takes window() back on success.
class Reader {
  public:
    explicit Reader(const MbufCursor& window) : w_(window), ok_(window.pos != nullptr) {}
    Reader(const uint8_t* bytes, uint32_t length) : Reader(MbufCursor{length, length, const_cast<uint8_t*>(bytes)}) {}

    bool ok() const { return ok_; }
    // Bytes left to read (0 once failed).
    uint32_t remaining() const { return ok_ ? w_.count : 0; }
    // The window behind the bytes read so far.
    const MbufCursor& window() const { return w_; }

    uint32_t word() {
        const uint8_t* p = bytes(4);
        return p != nullptr ? loadWord(p) : 0;
    }
    // Exactly n bytes, no padding: all of them or nothing, so a failed
    // read leaves the window as it was.
    const uint8_t* bytes(uint64_t n) {
        if (!ok_ || n > w_.count) return fail(), nullptr;
        const uint8_t* at = w_.pos;
        w_.pos += n;
        w_.count -= static_cast<uint32_t>(n);
        return at;
    }
    // Fixed-length opaque data: n bytes and the padding behind them.
    const uint8_t* fixedOpaque(uint32_t n) { return bytes(padded(n)); }
    // Variable-length opaque data: a length word, the bytes, the padding.
    // A length above maxLength fails before anything behind it is taken.
    Opaque opaque(uint32_t maxLength = UINT32_MAX) {
        const uint32_t n = word();
        if (!ok_ || n > maxLength) return fail(), Opaque{};
        const uint8_t* p = fixedOpaque(n);
        return ok_ ? Opaque{p, n} : Opaque{};
    }
    OpaqueAuth opaqueAuth() {
        OpaqueAuth a;
        a.flavor = word();
        a.body = opaque(kMaxAuthBody);
        return ok_ ? a : OpaqueAuth{};
    }
    bool skipWords(uint32_t n) { return bytes(uint64_t{n} * 4) != nullptr; }
    void fail() { ok_ = false; }

  private:
    MbufCursor w_;
    bool ok_;
};

// Appends to a window, each item only when it fits with the writers'
// reserve; the first item that does not fit fails the writer and nothing
// more is written. The writer works on its own copy of the window: a caller
// takes window() back once ok(), so a refused write leaves its cursor as it
// was.
class Writer {
  public:
    explicit Writer(const MbufCursor& window, uint64_t reserve = kWriterReserve)
        : w_(window), reserve_(reserve), ok_(window.pos != nullptr) {}

    bool ok() const { return ok_; }
    const MbufCursor& window() const { return w_; }
    // Bytes written so far into the window's block (its count).
    uint32_t count() const { return w_.count; }

    bool word(uint32_t v) {
        uint8_t* at = reserve(4);
        if (at != nullptr) storeWord(at, v);
        return at != nullptr;
    }
    // Fixed-length opaque data: the bytes and zero padding to 4.
    bool fixedOpaque(const void* bytes, uint32_t n) {
        uint8_t* at = reserve(padded(n));
        if (at != nullptr) storePadded(at, bytes, n);
        return at != nullptr;
    }
    // Variable-length opaque data: the length word, the bytes, the padding.
    bool opaque(const void* bytes, uint32_t n) {
        uint8_t* at = reserve(4 + padded(n));
        if (at == nullptr) return false;
        storeWord(at, n);
        storePadded(at + 4, bytes, n);
        return true;
    }
    bool opaqueAuth(uint32_t flavor, const void* body, uint32_t n) {
        if (n > kMaxAuthBody || !room(8 + padded(n))) return fail();
        return word(flavor) && opaque(body, n);
    }
    // Space for n bytes the caller fills in place (a length written later,
    // bytes produced by a cipher); null when it does not fit.
    uint8_t* reserve(uint64_t n) {
        if (!room(n)) return nullptr;
        uint8_t* at = w_.pos;
        w_.pos += n;
        w_.count += static_cast<uint32_t>(n);
        return at;
    }
    bool fail() {
        ok_ = false;
        return false;
    }

  private:
    bool room(uint64_t n) { return ok_ && hasRoom(w_, n, reserve_) ? true : fail(); }
    MbufCursor w_;
    uint64_t reserve_;
    bool ok_;
};

// Host order to network order for 16 and 32 bits, whatever the host's order
// (ports and addresses in the records are kept in network order; the
// platform layer takes host order). Each swap is its own inverse, so the
// same routine also takes a value back to host order.
inline uint16_t toNetwork16(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    uint16_t out;
    std::memcpy(&out, b, 2);
    return out;
}
inline uint32_t toNetwork32(uint32_t v) {
    uint8_t b[4];
    storeWord(b, v);
    uint32_t out;
    std::memcpy(&out, b, 4);
    return out;
}
inline uint32_t fromNetwork32(uint32_t v) { return toNetwork32(v); }

}  // namespace qelrpc::wire
