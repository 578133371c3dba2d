// SPDX-License-Identifier: MIT
// NameList: names laid end to end, each followed by one NUL byte, at most
// 255 characters a name.
#pragma once

#include <cstdint>
#include <cstring>

#include "xdr/wire.h"

namespace qelrpc::nfsuser {

constexpr uint32_t kMaxName = 255;
using NameBuffer = char[kMaxName + 1];

// A name in a reply: a string whose first 255 bytes are kept
// (NUL-terminated) and the rest consumed. A name ends at its first NUL
// byte, if it holds one: the bytes behind it are consumed and dropped, so
// one reply name never becomes two names of a NameList. `length` receives
// the kept length. False (the reader failed) when the string does not fit.
inline bool readName(wire::Reader& r, NameBuffer& out, uint32_t& length) {
    const wire::Opaque s = r.opaque();
    if (!r.ok()) return false;
    uint32_t keep = s.length < kMaxName ? s.length : kMaxName;
    if (const void* nul = keep != 0 ? std::memchr(s.data, 0, keep) : nullptr)
        keep = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - s.data);
    if (keep != 0) std::memcpy(out, s.data, keep);
    out[keep] = '\0';
    length = keep;
    return true;
}

class NameListReader {
  public:
    explicit NameListReader(const char* list) : p_(list) {}
    // Copies the next name (cut to 255 characters) and moves past its NUL,
    // empty names included.
    void next(NameBuffer& out) {
        const size_t n = p_ != nullptr ? std::strlen(p_) : 0;
        const size_t keep = n < kMaxName ? n : kMaxName;
        if (keep != 0) std::memcpy(out, p_, keep);
        out[keep] = '\0';
        if (p_ != nullptr) p_ += n + 1;
    }
    // As next, but an empty name stops the walk: it and every later item
    // read as empty, and the position no longer moves.
    void nextUntilEmpty(NameBuffer& out) {
        if (p_ == nullptr || *p_ == '\0') {
            out[0] = '\0';
            return;
        }
        next(out);
    }

  private:
    const char* p_;
};

// Appends names to a caller's output area at a running offset; never writes
// a terminating empty name.
class NameListWriter {
  public:
    explicit NameListWriter(char* area) : area_(area) {}
    void append(const char* name, size_t length) {
        if (area_ == nullptr) return;
        const size_t keep = length < kMaxName ? length : kMaxName;
        if (keep != 0) std::memcpy(area_ + offset_, name, keep);
        area_[offset_ + keep] = '\0';
        offset_ += keep + 1;
    }
    void append(const char* name) { append(name, std::strlen(name)); }
    // Bytes written so far (each name and its NUL).
    size_t offset() const { return offset_; }

  private:
    char* area_;
    size_t offset_ = 0;
};

}  // namespace qelrpc::nfsuser
