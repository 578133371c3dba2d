// SPDX-License-Identifier: MIT
// Unpredictable bytes from the operating system, for keys.
#pragma once

#include <cstddef>

namespace qelrpc::platform {

// Fills out with n bytes from the system's random source. False when the
// system cannot provide them (out is then unspecified).
bool randomBytes(void* out, std::size_t n) noexcept;

}  // namespace qelrpc::platform
