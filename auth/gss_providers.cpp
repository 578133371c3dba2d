// SPDX-License-Identifier: MIT
// The GSS-API back ends (docs/ARCHITECTURE.md, "RPCSEC_GSS (Kerberos)"):
//   0  the MIT Kerberos GSS-API library, resolved by name, never linked;
//   1  the Windows security interface (secur32.dll's function table); its
//      Kerberos package carries RPCSEC_GSS when back end 0 did not load.
// New credentials take the first of the two that works (active()); the
// choice is made at load and holds until unload.
#include "auth/gss_providers.h"

#include <atomic>
#include <new>
#include <string>

#include "auth/gss_api.h"
#include "auth/gss_mechanism.h"
#include "platform/module.h"
#include "platform/sspi.h"
#include "rpc/c_edge.h"

namespace qelrpc::gss {
namespace {

using InitSecurityInterface = void*(QELRPC_GSS_CALL*)();

// Written only at load and unload (and by the test seam). The load runs
// from the library's constructor, possibly before this file's own static
// initialisers, so the state is made on first use, with nothing but
// constant-initialised pointers in front of it, and goes at unload.
struct State {
    platform::Module mitModule;
    EntryPoints mitTable{};
    platform::Module sspiModule;
};
// Static storage, not the heap: nothing of it outlives an unload.
alignas(State) unsigned char g_stateStorage[sizeof(State)];
constinit State* g_state = nullptr;
State* state() noexcept {
    if (g_state == nullptr) g_state = new (g_stateStorage) State;
    return g_state;
}
// Read on every call.
constinit const EntryPoints* g_mit = nullptr;
constinit void* g_sspiTable = nullptr;
// Whether the table's Kerberos package answered at load.
constinit bool g_sspiKerberos = false;

template <typename T>
bool resolve(const platform::Module& m, const char* name, T& slot) {
    slot = reinterpret_cast<T>(m.symbol(name));
    return slot != nullptr;
}

// Resolution stops at the first gap.
bool resolveAll(const platform::Module& m, EntryPoints& t) {
    return resolve(m, "gss_import_name", t.importName) &&
           resolve(m, "gss_init_sec_context", t.initSecContext) &&
           resolve(m, "gss_delete_sec_context", t.deleteSecContext) &&
           resolve(m, "gss_release_buffer", t.releaseBuffer) &&
           resolve(m, "gss_release_name", t.releaseName) &&
           resolve(m, "gss_get_mic", t.getMic) &&
           resolve(m, "gss_verify_mic", t.verifyMic) &&
           resolve(m, "gss_wrap", t.wrap) &&
           resolve(m, "gss_unwrap", t.unwrap) &&
           resolve(m, "gss_display_status", t.displayStatus) &&
           resolve(m, "gss_nt_service_name", t.ntServiceName) &&
           resolve(m, "gss_inquire_cred", t.inquireCred) &&
           resolve(m, "gss_release_oid_set", t.releaseOidSet) &&
           resolve(m, "gss_display_name", t.displayName);
}

void unloadMit() noexcept {
    g_mit = nullptr;
    if (g_state != nullptr) {
        g_state->mitTable = EntryPoints{};
        g_state->mitModule.release();
    }
}

// Builds the module's name: runs behind the load's exception barrier.
// No module (an empty name, as on systems without one) has no entry point.
bool loadSecurityInterface() {
    platform::Module& m = state()->sspiModule;
    m = platform::Module::load(platform::securityInterfaceLibraryName().c_str());
    // A module without the entry point stays loaded until unload.
    auto init = m.function<InitSecurityInterface>("InitSecurityInterfaceA");
    if (init == nullptr) return false;
    g_sspiTable = init();
    g_sspiKerberos = platform::sspi::hasKerberos(g_sspiTable);
    return g_sspiTable != nullptr;
}

}  // namespace

const EntryPoints* mit() noexcept { return g_mit; }

const void* sspiKerberosTable() noexcept { return g_sspiKerberos ? g_sspiTable : nullptr; }

void hideSecurityInterfaceForTesting() noexcept { g_sspiKerberos = false; }

const Mechanism* active() noexcept {
    const Mechanism* m = mitMechanism();
    return m != nullptr ? m : sspiMechanism();
}

const Mechanism* forProvider(int provider) noexcept {
    switch (provider) {
        case GssProviderMit: return mitMechanism();
        case GssProviderSspi: return sspiMechanism();
        default: return nullptr;
    }
}

int mapMajorStatus(OM_uint32 major, int fallback) noexcept {
    switch (major) {
        case kNoContext: return -18;
        case kContextExpired: return -19;
        case kBadQop: return -17;
        default: return fallback;
    }
}

bool loadMitLibrary(const char* path) noexcept {
    unloadMit();
    State* st = state();
    platform::Module m = platform::Module::load(path);
    EntryPoints t{};
    // Nothing resolves in a module that did not load; a partial module is
    // released here.
    if (!resolveAll(m, t)) return false;
    st->mitTable = t;
    st->mitModule = std::move(m);
    g_mit = &st->mitTable;
    return true;
}

void useTableForTesting(const EntryPoints* table) noexcept {
    unloadMit();
    State* st = state();
    if (table != nullptr) {
        st->mitTable = *table;
        g_mit = &st->mitTable;
    }
}

void releaseBuffer(gss_buffer_desc& b) noexcept {
    if (b.value != nullptr && g_mit != nullptr) {
        OM_uint32 minor = 0;
        g_mit->releaseBuffer(&minor, &b);
    }
    b.length = 0;
    b.value = nullptr;
}

}  // namespace qelrpc::gss

namespace qelrpc::auth {
namespace {
// Set by a test build's constructor before the library's own load steps run:
// constant-initialised.
constinit std::atomic<const char*> g_testMitLibrary{nullptr};
}  // namespace

void useMitGssLibraryForTesting(const char* path) noexcept { g_testMitLibrary = path; }

void loadGssProviders() noexcept {
    // No memory for a module name: the back ends stay unavailable.
    edge::guard(false, [] {
        const char* test = g_testMitLibrary.load();
        gss::loadMitLibrary(test != nullptr ? test : platform::mitGssLibraryName().c_str());
        return gss::loadSecurityInterface();
    });
}

void unloadGssProviders() noexcept {
    gss::unloadMit();
    gss::g_sspiTable = nullptr;
    gss::g_sspiKerberos = false;
    if (gss::g_state != nullptr) gss::g_state->~State();  // releases the modules it still holds
    gss::g_state = nullptr;
}

}  // namespace qelrpc::auth

extern "C" {

int IsGSSAvailable(int provider) {
    switch (provider) {
        case GssProviderMit: return qelrpc::gss::g_mit != nullptr ? 1 : 0;
        case GssProviderSspi: return qelrpc::gss::g_sspiTable != nullptr ? 1 : 0;
        default: return 1;  // an unknown back end number is not refused here
    }
}

GssProvider GetGSSProvider(void) { return GssProviderMit; }

}  // extern "C"
