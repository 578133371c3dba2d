// SPDX-License-Identifier: MIT
// A test whose peer or tool is missing (rpcbind, tshark, a Kerberos realm,
// a network namespace, a library found at build time) skips on a
// developer's machine, but fails where the suite must prove everything:
// with QELRPC_REQUIRE_PEERS set to anything but "" or "0" (./run test sets
// it for every build it tests, the Windows suite under Wine included), a
// test that could not start what it needs is red, never silently green.
//
//   QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not available");
//
// Use it where GTEST_SKIP would go (a test body or a fixture's SetUp): it
// returns from the function either way. A failure is fatal, so a fixture's
// test body does not run without its peer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace peerskip {

inline bool required() {
    const char* v = std::getenv("QELRPC_REQUIRE_PEERS");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

}  // namespace peerskip

#define QELRPC_SKIP_UNLESS_REQUIRED(why)                                                          \
    do {                                                                                          \
        if (::peerskip::required())                                                               \
            FAIL() << (why) << " (QELRPC_REQUIRE_PEERS is set: a peer or tool that cannot start " \
                              "fails the test)";                                                  \
        GTEST_SKIP() << (why);                                                                    \
    } while (0)
