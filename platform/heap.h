// SPDX-License-Identifier: MIT
// The library's own heap. Everything the library hands out or takes back
// (blocks, credential records, XDR decodes) comes from here, so a caller
// never mixes runtimes, and tests can make the next allocations fail.
#pragma once

#include <cstddef>

namespace qelrpc::heap {

void* raw(std::size_t size) noexcept;
void* zeroed(std::size_t size) noexcept;
void release(void* p) noexcept;

// Test seam: the allocation after `successes` more successful ones fails,
// and so does every one after it until reset with a negative value.
void failAfter(long successes) noexcept;

}  // namespace qelrpc::heap
