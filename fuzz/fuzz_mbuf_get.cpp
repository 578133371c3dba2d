// mbufGetLong and mbufGetString over arbitrary bytes. The first byte picks
// the destination size and the order of reads; the rest is the window. Every
// read must stay inside the window, and a refused read must not move it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qelrpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    // A copy of exactly the input, so any read past it is caught.
    std::vector<uint8_t> bytes(data + 1, data + size);
    MbufCursor w{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()), bytes.data()};
    if (bytes.empty()) w.pos = reinterpret_cast<uint8_t*>(&w);  // a non-null position with no bytes

    const uint32_t destSize = control & 0x3F;
    std::vector<char> dest(destSize + 1, 'x');
    unsigned order = control;
    for (int step = 0; step < 64 && w.count > 0; ++step, order = (order >> 1) | (order << 7)) {
        const MbufCursor before = w;
        int rc;
        if (order & 1) {
            uint32_t v;
            rc = mbufGetLong(&w, &v);
        } else {
            rc = mbufGetString(&w, dest.data(), destSize);
            if (rc == 0 && std::memchr(dest.data(), 0, destSize) == nullptr) std::abort();
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
