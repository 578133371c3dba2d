// SPDX-License-Identifier: MIT
// Where the fuzz targets put what they hand the library: inputs in read-only
// memory and outputs between guard pages (tests/guarded_pages.h), made once
// per process and reused for every input, so that no input pays for
// mapping and protecting pages (on this kind of machine a mapping or a
// protection change costs tens of microseconds, which would cut a target's
// speed a hundredfold).
//
// Each area is placed at the end of its pages: the byte after it is the
// first byte of a guard page, so a read or write one byte past it faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/guarded_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace fuzzmem {

// Read-only copies of inputs of up to `capacity` bytes. On Linux one memory
// file is mapped twice: read-only between guard pages for the library,
// writable elsewhere for the copy. Elsewhere (the replay build for Windows)
// each input gets fresh guarded pages turned read-only.
class ReadOnlyInput {
  public:
    explicit ReadOnlyInput(std::size_t capacity) {
#if defined(__linux__)
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        body_ = (capacity + page - 1) / page * page;
        if (body_ == 0) body_ = page;
        const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(body_)) != 0) std::abort();
        void* whole = mmap(nullptr, body_ + 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (whole == MAP_FAILED) std::abort();
        auto* base = static_cast<uint8_t*>(whole);
        if (mmap(base + page, body_, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) std::abort();
        void* rw = mmap(nullptr, body_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (rw == MAP_FAILED) std::abort();
        close(fd);
        readOnly_ = base + page;
        writable_ = static_cast<uint8_t*>(rw);
#else
        (void)capacity;
#endif
    }
    ReadOnlyInput(const ReadOnlyInput&) = delete;
    ReadOnlyInput& operator=(const ReadOnlyInput&) = delete;

    // The n bytes, read-only, ending where a guard page begins. Valid until
    // the next place(). With n == 0 the result is the guard page itself: not
    // null, and faulting if anything reads it.
    const uint8_t* place(const void* bytes, std::size_t n) {
#if defined(__linux__)
        if (n > body_) std::abort();
        if (n != 0) std::memcpy(writable_ + body_ - n, bytes, n);
        return readOnly_ + body_ - n;
#else
        fresh_ = std::make_unique<qelrpc::testing::GuardedPages>(bytes, n);
        fresh_->makeReadOnly();
        return fresh_->data();
#endif
    }

    // The `prefix` bytes followed by the n input bytes, as one read-only
    // area ending where a guard page begins: a fixed reply header, say, in
    // front of results taken from the input.
    const uint8_t* place(const void* prefix, std::size_t prefixLength, const void* bytes, std::size_t n) {
#if defined(__linux__)
        if (prefixLength > body_ || n > body_ - prefixLength) std::abort();
        uint8_t* at = writable_ + body_ - prefixLength - n;
        if (prefixLength != 0) std::memcpy(at, prefix, prefixLength);
        if (n != 0) std::memcpy(at + prefixLength, bytes, n);
        return readOnly_ + body_ - prefixLength - n;
#else
        fresh_ = std::make_unique<qelrpc::testing::GuardedPages>(prefixLength + n);
        if (prefixLength != 0) std::memcpy(fresh_->data(), prefix, prefixLength);
        if (n != 0) std::memcpy(fresh_->data() + prefixLength, bytes, n);
        fresh_->makeReadOnly();
        return fresh_->data();
#endif
    }

  private:
#if defined(__linux__)
    std::size_t body_ = 0;
    uint8_t* readOnly_ = nullptr;
    uint8_t* writable_ = nullptr;
#else
    std::unique_ptr<qelrpc::testing::GuardedPages> fresh_;
#endif
};

// Writable areas of up to `capacity` bytes between guard pages, zero-filled
// like fresh memory each time.
class GuardedOutput {
  public:
    explicit GuardedOutput(std::size_t capacity) : pages_(capacity) {}

    // n zero bytes ending where a guard page begins; valid until the next
    // area(). With n == 0 the result is the guard page itself.
    uint8_t* area(std::size_t n) {
        if (n > pages_.size()) std::abort();
        uint8_t* p = pages_.data() + pages_.size() - n;
        std::memset(p, 0, n);
        return p;
    }
    template <class T>
    T* zeroed() {
        return reinterpret_cast<T*>(area(sizeof(T)));
    }

  private:
    qelrpc::testing::GuardedPages pages_;
};

}  // namespace fuzzmem
