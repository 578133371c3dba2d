// SPDX-License-Identifier: MIT
// The daemons' side of the password scrambling, written out apart from the
// library so tests can tell what must appear on the wire: Qelnfsd chains
// each byte with the previous output from 0xFF, PCNFSD masks each byte.
#pragma once

#include <string>

namespace qelrpc::testing {

inline std::string chainScrambled(const std::string& plain) {
    std::string out;
    unsigned char running = 0xFF;
    for (unsigned char c : plain) {
        running = static_cast<unsigned char>(c ^ running);
        out.push_back(static_cast<char>(running));
    }
    return out;
}

inline std::string maskScrambled(const std::string& plain) {
    std::string out;
    for (unsigned char c : plain) out.push_back(static_cast<char>((c ^ 0x5B) & 0x7F));
    return out;
}

}  // namespace qelrpc::testing
