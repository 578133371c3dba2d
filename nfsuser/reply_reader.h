// Reading procedure results from a reply window, bounded by the bytes
// received. A read that does not fit fails and the reader stays failed.
#pragma once

#include <cstdint>
#include <cstring>

#include "nfsuser/name_list.h"
#include "qelrpc.h"
#include "xdr/wire.h"

namespace qelrpc::nfsuser {

class ReplyReader {
  public:
    explicit ReplyReader(MbufCursor window) : w_(window) {}

    bool ok() const { return ok_; }
    // Bytes left to read.
    uint32_t remaining() const { return ok_ ? w_.count : 0; }
    const MbufCursor& window() const { return w_; }

    bool word(uint32_t& v) {
        const uint8_t* p = ok_ ? wire::take(w_, 4) : nullptr;
        if (p == nullptr) return fail();
        v = wire::loadWord(p);
        return true;
    }
    bool skipWords(uint32_t n) {
        uint32_t v;
        for (uint32_t i = 0; i < n; ++i)
            if (!word(v)) return false;
        return true;
    }
    // A string; its first 255 bytes are kept (NUL-terminated), the rest is
    // consumed. A name ends at its first NUL byte, if it holds one: the
    // bytes behind it are consumed and dropped, so one reply name never
    // becomes two names of a NameList. `length` receives the kept length.
    bool name(NameBuffer& out, uint32_t* length = nullptr) {
        uint32_t n;
        if (!word(n)) return false;
        const uint8_t* p = wire::take(w_, wire::padded(n));
        if (p == nullptr) return fail();
        uint32_t keep = n < kMaxName ? n : kMaxName;
        if (const void* nul = keep != 0 ? std::memchr(p, 0, keep) : nullptr)
            keep = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - p);
        if (keep != 0) std::memcpy(out, p, keep);
        out[keep] = '\0';
        if (length != nullptr) *length = keep;
        return true;
    }
    bool skipString() {
        NameBuffer ignored;
        return name(ignored);
    }

  private:
    bool fail() {
        ok_ = false;
        return false;
    }
    MbufCursor w_;
    bool ok_ = true;
};

}  // namespace qelrpc::nfsuser
