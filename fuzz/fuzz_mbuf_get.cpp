// SPDX-License-Identifier: MIT
// mbufGetLong and mbufGetString over arbitrary bytes. The first byte picks
// the destination size and the order of reads; the rest is the window. Every
// read must stay inside the window, and a refused read must not move it.
// The window lies in read-only memory that ends where a guard page begins,
// and each destination is exactly its announced size between guard pages,
// so a read past the window or a write past the destination faults.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > RPC_MBUF_SIZE + 1) return 0;
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput destArea(64), valueArea(sizeof(uint32_t));
    const uint8_t control = data[0];
    const auto n = static_cast<uint32_t>(size - 1);
    // With no bytes the position is the guard page itself: non-null, and
    // faulting if anything reads it.
    MbufCursor w{n, n, const_cast<uint8_t*>(input.place(data + 1, n))};

    const uint32_t destSize = control & 0x3F;
    char* dest = reinterpret_cast<char*>(destArea.area(destSize));
    uint32_t* value = valueArea.zeroed<uint32_t>();
    unsigned order = control;
    for (int step = 0; step < 64 && w.count > 0; ++step, order = (order >> 1) | (order << 7)) {
        const MbufCursor before = w;
        int rc;
        if (order & 1) {
            rc = mbufGetLong(&w, value);
        } else {
            rc = mbufGetString(&w, dest, destSize);
            if (rc == 0 && std::memchr(dest, 0, destSize) == nullptr) std::abort();
        }
        if (rc != 0) {
            if (w.pos != before.pos || w.count != before.count) std::abort();
            break;
        }
        if (w.count >= before.count || (before.count - w.count) % 4 != 0) std::abort();
        if (w.pos - before.pos != static_cast<ptrdiff_t>(before.count - w.count)) std::abort();
    }
    return 0;
}
