// SPDX-License-Identifier: MIT
// This host's name, and host names to IPv4 addresses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelrpc::platform {

// Writes this host's name, NUL-terminated, into buf. False when the system
// cannot tell (buf then holds an empty string).
bool localHostName(char* buf, std::size_t size) noexcept;

// Resolves a dotted IPv4 address or a host name to an address in network
// byte order. 0 when it cannot be resolved.
uint32_t resolveIPv4(const char* name) noexcept;

}  // namespace qelrpc::platform
