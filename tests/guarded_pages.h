// SPDX-License-Identifier: MIT
// Memory that faults on the first byte read or written outside it, for tests
// and fuzz targets that hand the library a caller's inputs and outputs.
//
//   [ no access ][ n bytes, ending at a page end ][ no access ]
//
// The area ends exactly where the trailing guard page begins, so one byte
// past it faults; a read or write before it faults once it crosses into the
// leading guard page. makeReadOnly() turns the area itself read-only, as a
// caller's constant input in a program's text or rodata would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace qelrpc::testing {

class GuardedPages {
public:
    // An area of n bytes (n may be 0: then data() points at the trailing guard).
    explicit GuardedPages(std::size_t n) : size_(n) {
        const std::size_t page = pageSize();
        const std::size_t body = (n + page - 1) / page * page;
        total_ = body + 2 * page;
#ifdef _WIN32
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
        if (base_ == nullptr) std::abort();
        DWORD old = 0;
        if (body != 0 && !VirtualProtect(base_ + page, body, PAGE_READWRITE, &old)) std::abort();
#else
        void* p = mmap(nullptr, total_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        base_ = static_cast<uint8_t*>(p);
        if (body != 0 && mprotect(base_ + page, body, PROT_READ | PROT_WRITE) != 0) std::abort();
#endif
        data_ = base_ + page + body - n;
    }
    GuardedPages(const void* bytes, std::size_t n) : GuardedPages(n) {
        if (n != 0) std::memcpy(data_, bytes, n);
    }
    GuardedPages(const GuardedPages&) = delete;
    GuardedPages& operator=(const GuardedPages&) = delete;
    ~GuardedPages() {
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, total_);
#endif
    }

    // From here on any write into the area faults.
    void makeReadOnly() { protect(false); }
    void makeWritable() { protect(true); }

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    char* chars() { return reinterpret_cast<char*>(data_); }
    std::size_t size() const { return size_; }

private:
    static std::size_t pageSize() {
#ifdef _WIN32
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        return si.dwPageSize;
#else
        return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
    }
    void protect(bool writable) {
        const std::size_t page = pageSize();
        const std::size_t body = total_ - 2 * page;
        if (body == 0) return;
#ifdef _WIN32
        DWORD old = 0;
        if (!VirtualProtect(base_ + page, body, writable ? PAGE_READWRITE : PAGE_READONLY, &old)) std::abort();
#else
        if (mprotect(base_ + page, body, writable ? PROT_READ | PROT_WRITE : PROT_READ) != 0) std::abort();
#endif
    }

    std::size_t size_ = 0;
    std::size_t total_ = 0;
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
};

}  // namespace qelrpc::testing
