// SPDX-License-Identifier: MIT
// The library's load and unload steps behind platform/library_entry.h
// (docs/ARCHITECTURE.md, "Library load and unload").
#pragma once

#include "platform/library_entry.h"

namespace qelrpc::library {

constexpr const char* kSocketStartWarning = "Unable to initialize Winsock library";
constexpr const char* kWarningCaption = "QUORBEL";

// How many times the GSS-API back ends were loaded in this process (tests).
unsigned gssLoadCount() noexcept;

// Test seam (test builds only, docs/ARCHITECTURE.md, "The C edge"): from
// now on the socket layer's start counts as failed, on every system.
void failSocketStartForTesting(bool on) noexcept;

}  // namespace qelrpc::library
