// Loading and releasing the GSS-API back ends, once per process, from the
// library's load and unload.
#pragma once

namespace qelrpc::auth {

void loadGssProviders() noexcept;
void unloadGssProviders() noexcept;

}  // namespace qelrpc::auth
