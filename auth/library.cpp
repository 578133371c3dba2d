// SPDX-License-Identifier: MIT
#include "auth/library.h"

#include <atomic>

#include "auth/gss_providers.h"
#include "platform/sockets.h"
#include "platform/warning.h"

namespace qelrpc::library {
namespace {
std::atomic<bool> g_gssLoaded{false};
std::atomic<bool> g_socketsStarted{false};
std::atomic<unsigned> g_gssLoads{0};
// Constant-initialised: a test build sets it from a constructor that runs
// before the library's own load steps.
constinit std::atomic<bool> g_failSocketStart{false};
}  // namespace

void failSocketStartForTesting(bool on) noexcept { g_failSocketStart = on; }

bool attach() noexcept {
    if (g_failSocketStart.load() || platform::startSockets() != 0) {
        platform::showWarning(kSocketStartWarning, kWarningCaption);
        return false;
    }
    g_socketsStarted = true;
    // The back ends are loaded once per process, however often the library
    // is attached.
    if (!g_gssLoaded.exchange(true)) {
        auth::loadGssProviders();
        ++g_gssLoads;
    }
    return true;
}

void detach() noexcept {
    if (g_gssLoaded.exchange(false)) auth::unloadGssProviders();
    if (g_socketsStarted.exchange(false)) platform::stopSockets();
}

unsigned gssLoadCount() noexcept { return g_gssLoads.load(); }

}  // namespace qelrpc::library
