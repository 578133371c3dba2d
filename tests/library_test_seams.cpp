// SPDX-License-Identifier: MIT
// The tests' own build of the shared library (tests/test-seams/
// libqelrpc.so.0, never installed) adds this file to the library's objects:
// as it loads, before the library's own load steps, it takes the test
// settings from the environment. Programs linked to the shipped library run
// with it in their place through LD_LIBRARY_PATH.
//   QELRPC_TEST_FAIL_SOCKET_START=1  the socket layer's start counts as failed
//   QELRPC_GSSAPI_PATH=<file>        the MIT GSS-API back end is loaded from
//                                    <file> (a missing one hides it)
#include <cstdlib>
#include <cstring>

#include "auth/gss_providers.h"
#include "auth/library.h"

namespace {

// Priority 101, the first one open to programs: the library's own load
// runs from a constructor without one, which comes later.
__attribute__((constructor(101))) void takeTestSettings() {
    const char* fail = std::getenv("QELRPC_TEST_FAIL_SOCKET_START");
    if (fail != nullptr && std::strcmp(fail, "1") == 0) qelrpc::library::failSocketStartForTesting(true);
    const char* gss = std::getenv("QELRPC_GSSAPI_PATH");
    if (gss != nullptr && *gss != '\0') qelrpc::auth::useMitGssLibraryForTesting(gss);
}

}  // namespace
