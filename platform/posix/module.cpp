// SPDX-License-Identifier: MIT
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>

#ifndef QELRPC_QELNIS_LIBDIR
#define QELRPC_QELNIS_LIBDIR "/usr/local/lib"
#endif

namespace qelrpc::platform {

Module Module::load(const char* path) noexcept {
    if (path == nullptr || *path == '\0') return Module();
    // Every name resolved now, and none of them joins the process's global
    // name space: a library we load must not change what other code binds.
    return Module(dlopen(path, RTLD_NOW | RTLD_LOCAL));
}

void* Module::symbol(const char* name) const noexcept {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return dlsym(handle_, name);
}

void Module::release() noexcept {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

namespace {

// True when `address` lies in the program itself (the main link map, whose
// name is empty), not in a library.
bool inProgram(void* address) noexcept {
#if defined(__GLIBC__)
    Dl_info info;
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr)
        return false;
    return map->l_name == nullptr || map->l_name[0] == '\0';
#else
    (void)address;
    return false;
#endif
}

}  // namespace

const void* functionBehindThunks(const void* f) noexcept { return f; }

void* exportedFunctionAddress(const char* name) noexcept {
    if (name == nullptr) return nullptr;
#if defined(QELRPC_VERSION_NODE) && defined(__GLIBC__)
    // The program's handle searches the process's global scope as the
    // program's own references do (RTLD_DEFAULT would search this library
    // first: it is linked -Bsymbolic). This library's version of the name
    // first: another library in the process may export the same name
    // (libtirpc's xdr_*), and its function is not ours.
    void* program = dlopen(nullptr, RTLD_LAZY);
    if (program == nullptr) return nullptr;
    void* address = dlvsym(program, name, QELRPC_VERSION_NODE);
    if (address == nullptr || !inProgram(address)) {
        // Some links (sanitizer builds, for one) give the program's own
        // entry for the name no version; it answers to the plain name, and
        // only an entry inside the program itself counts.
        void* plain = dlsym(program, name);
        if (plain != nullptr && inProgram(plain)) address = plain;
    }
    dlclose(program);
    return address;
#else
    return nullptr;
#endif
}

std::string directoryServiceLibraryPath() {
    // A user's setting, so a set-id program must not take it from the user
    // who runs it: secure_getenv answers null in such a process.
    const char* over = secure_getenv("QELRPC_QELNIS_PATH");
    if (over != nullptr && *over != '\0') return over;
    return std::string(QELRPC_QELNIS_LIBDIR) + "/libqelnis.so";
}

std::string mitGssLibraryName() { return "libgssapi_krb5.so.2"; }

std::string securityInterfaceLibraryName() { return std::string(); }

}  // namespace qelrpc::platform
