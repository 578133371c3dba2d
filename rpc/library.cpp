#include "rpc/library.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "auth/gss_providers.h"
#include "platform/sockets.h"
#include "platform/warning.h"

namespace qelrpc::library {
namespace {
std::atomic<bool> g_gssLoaded{false};
std::atomic<bool> g_socketsStarted{false};
std::atomic<unsigned> g_gssLoads{0};

bool socketStartForcedToFail() {
    const char* v = std::getenv(kFailSocketStartVariable);
    return v != nullptr && std::strcmp(v, "1") == 0;
}
}  // namespace

bool attach() noexcept {
    if (socketStartForcedToFail() || platform::startSockets() != 0) {
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
