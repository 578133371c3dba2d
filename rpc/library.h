// What the library does when a process loads and unloads it: start the
// socket layer (Windows Sockets 1.1), load the GSS-API back ends once; and
// the reverse.
#pragma once

namespace qelrpc::library {

// The text and caption of the warning shown when the socket layer cannot
// be started.
constexpr const char* kSocketStartWarning = "Unable to initialize Winsock library";
constexpr const char* kWarningCaption = "QUORBEL";

// Test seam: with this environment variable set to 1 the socket layer's
// start is taken as failed, on every system.
constexpr const char* kFailSocketStartVariable = "QELRPC_TEST_FAIL_SOCKET_START";

// True when the load may go on; false after the warning was shown.
bool attach() noexcept;
void detach() noexcept;

// How many times the GSS-API back ends were loaded in this process (tests).
unsigned gssLoadCount() noexcept;

}  // namespace qelrpc::library
