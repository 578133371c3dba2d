// SPDX-License-Identifier: MIT
#include <netdb.h>
#include <rpc/netdb.h>

#include <cerrno>
#include <vector>

#include "program_database.h"

namespace qelrpc::cli {

namespace {

// The reentrant forms: the entry lives in our buffer, which grows while the
// C library says it is too small (bounded: an entry is a line of /etc/rpc).
template <class Lookup>
const rpcent* lookUp(Lookup lookup, rpcent& entry, std::vector<char>& buf) {
    for (size_t size = 1024; size <= 1024 * 1024; size *= 4) {
        buf.assign(size, 0);
        rpcent* result = nullptr;
        const int rc = lookup(&entry, buf.data(), buf.size(), &result);
        if (rc == ERANGE) continue;
        return rc == 0 ? result : nullptr;
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> systemProgramName(uint32_t number) {
    // getrpcbynumber takes an int; numbers above INT32_MAX pass through it
    // as their two's-complement value, as rpcinfo passes them.
    rpcent entry{};
    std::vector<char> buf;
    const rpcent* e = lookUp(
        [&](rpcent* r, char* b, size_t n, rpcent** out) {
            return getrpcbynumber_r(static_cast<int>(number), r, b, n, out);
        },
        entry, buf);
    if (e == nullptr || e->r_name == nullptr) return std::nullopt;
    return std::string(e->r_name);
}

std::optional<uint32_t> systemProgramNumber(const std::string& name) {
    if (name.empty()) return std::nullopt;
    rpcent entry{};
    std::vector<char> buf;
    const rpcent* e = lookUp(
        [&](rpcent* r, char* b, size_t n, rpcent** out) { return getrpcbyname_r(name.c_str(), r, b, n, out); },
        entry, buf);
    if (e == nullptr) return std::nullopt;
    return static_cast<uint32_t>(e->r_number);
}

}  // namespace qelrpc::cli
