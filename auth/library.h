// What the library does when a process loads and unloads it: start the
// socket layer (Windows Sockets 1.1), load the GSS-API back ends once; and
// the reverse. The steps live here, in the highest layer they need; the
// platform's entry points reach them through platform/library_entry.h.
#pragma once

#include "platform/library_entry.h"

namespace qelrpc::library {

constexpr const char* kSocketStartWarning = "Unable to initialize Winsock library";
constexpr const char* kWarningCaption = "QUORBEL";

// How many times the GSS-API back ends were loaded in this process (tests).
unsigned gssLoadCount() noexcept;

// Test seam: from now on the socket layer's start counts as failed, on every
// system. Only tests call it: those linked to the library's objects, and the
// tests' own build of the shared library (tests/library_test_seams.cpp),
// which sets it at load from its environment. The shipped library reads no
// environment for it.
void failSocketStartForTesting(bool on) noexcept;

}  // namespace qelrpc::library
