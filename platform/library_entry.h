// SPDX-License-Identifier: MIT
// What the platform's entry points (DllMain on Windows, the shared library's
// constructor and destructor elsewhere) call when a process loads and
// unloads the library. Only declared here, so the platform layer depends on
// nothing above it; the library's load steps define them (auth/library.cpp).
#pragma once

namespace qelrpc::library {

// True when the load may go on; false after the warning was shown.
bool attach() noexcept;
void detach() noexcept;

}  // namespace qelrpc::library
