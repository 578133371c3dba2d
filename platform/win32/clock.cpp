// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <windows.h>

namespace qelrpc::platform {

uint32_t unixTimeNow() noexcept {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100-ns ticks since 1601-01-01 to seconds since 1970-01-01.
    return static_cast<uint32_t>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

uint64_t monotonicMillis() noexcept {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<uint64_t>(c.QuadPart / (f.QuadPart / 1000));
}

}  // namespace qelrpc::platform
