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

// 16-bit values between host order and network order (ports in the records
// are kept in network order, the platform layer takes host order).
constexpr uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

// Writer side: appends one word (room already checked).
inline void putWord(MbufCursor& w, uint32_t v) {
    storeWord(w.pos, v);
    w.pos += 4;
    w.count += 4;
}

// Writer side: appends len bytes and zero padding up to 4 (room already checked).
inline void putPaddedBytes(MbufCursor& w, const void* bytes, uint32_t len) {
    const uint32_t total = static_cast<uint32_t>(padded(len));
    if (len != 0) std::memcpy(w.pos, bytes, len);
    if (total > len) std::memset(w.pos + len, 0, total - len);
    w.pos += total;
    w.count += total;
}

// Reader side: takes n bytes or nothing; on failure the window is as it was.
inline const uint8_t* take(MbufCursor& r, uint64_t n) {
    if (r.pos == nullptr || n > r.count) return nullptr;
    const uint8_t* at = r.pos;
    r.pos += n;
    r.count -= static_cast<uint32_t>(n);
    return at;
}

}  // namespace qelrpc::wire
