// SPDX-License-Identifier: MIT
// The two ways a password leaves the machine, as the daemons' protocols
// prescribe. Neither is encryption: they keep the text from reading as
// clear text on the wire, nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelrpc::nfsuser {

// Qelnfsd: a running byte starts at 0xFF; each byte is XORed with it and
// the result becomes the next running byte (out[0] = in[0] ^ 0xFF,
// out[i] = in[i] ^ out[i-1]). In place.
inline void qelnfsdScramble(uint8_t* bytes, size_t n) {
    uint8_t running = 0xFF;
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(bytes[i] ^ running);
        running = bytes[i];
    }
}

// PCNFSD version 2: each byte becomes (byte ^ 0x5B) & 0x7F; the result has
// the same length and a NUL behind it (out must hold n + 1 bytes). A '['
// (0x5B) becomes a zero byte, where the text as sent ends.
inline void pcnfsdScramble(const char* in, size_t n, char* out) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((static_cast<uint8_t>(in[i]) ^ 0x5B) & 0x7F);
    out[n] = '\0';
}

}  // namespace qelrpc::nfsuser
