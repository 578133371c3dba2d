// Loading and releasing the GSS-API back ends, once per process, from the
// library's load and unload.
#pragma once

#include "qelrpc.h"

namespace qelrpc::gss {

// IsGSSAvailable and GetGSSProvider as internals (an unknown back end
// number is not refused).
bool isGssAvailable(int provider) noexcept;
GssProvider gssProvider() noexcept;

}  // namespace qelrpc::gss

namespace qelrpc::auth {

void loadGssProviders() noexcept;
void unloadGssProviders() noexcept;

// Test seam: the MIT back end is loaded from `path` (kept, not copied) in
// place of the system's library by every later loadGssProviders; null goes
// back to the system's. Only tests call it: those linked to the library's
// objects, and the tests' own build of the shared library
// (tests/library_test_seams.cpp), which sets it at load from its
// environment so that tests can hide the back end. The shipped library
// reads no environment for it.
void useMitGssLibraryForTesting(const char* path) noexcept;

}  // namespace qelrpc::auth
