// SPDX-License-Identifier: MIT
// Loading a shared library at run time, resolving names in it and releasing
// it: dlopen on POSIX systems, LoadLibraryA on Windows (with the system's
// critical-error boxes suppressed while it loads).
#pragma once

#include <cstddef>
#include <string>

namespace qelrpc::platform {

// One loaded library. Move-only; releases the library when it goes.
class Module {
  public:
    Module() noexcept = default;
    ~Module() { release(); }
    Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Module& operator=(Module&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Loads the library at `path` (a full path, or a bare name the system
    // searches for). An empty Module when it cannot be loaded.
    static Module load(const char* path) noexcept;

    bool loaded() const noexcept { return handle_ != nullptr; }

    // The address of the exported name, or null.
    void* symbol(const char* name) const noexcept;

    // Resolves `name` as a function of type Fn; null when absent.
    template <typename Fn>
    Fn function(const char* name) const noexcept {
        return reinterpret_cast<Fn>(symbol(name));
    }

    void release() noexcept;

  private:
    explicit Module(void* handle) noexcept : handle_(handle) {}
    void* handle_ = nullptr;
};

// The address at which the process reaches this library's exported
// function `name`: what programs linked to the library get for the name
// (through the whole process's look-up, with this library's version of the
// name). A program that is not position-independent takes the address of a
// library function through an entry of its own, and that entry then stands
// for the function everywhere in the process except inside this library,
// whose own references bind to itself. Null when the process gives the name
// no address of this library's version (for instance when the library's
// objects are linked into the program itself) or the system cannot tell.
void* exportedFunctionAddress(const char* name) noexcept;

// The function a caller's pointer leads to. A Windows program that declares
// the library's functions without dllimport reaches them through an import
// thunk of its own (`jmp [import slot]`, perhaps behind an incremental
// linker's `jmp rel32`), and that thunk's address is what it passes; the
// thunks are followed to the function they jump to (a few hops at most).
// Other systems hand the pointer back as it is.
const void* functionBehindThunks(const void* f) noexcept;

// Where the directory-service library lives: the system directory's
// qelnis.dll on Windows; on other systems the library directory chosen at
// build time, or the full path in the environment variable
// QELRPC_QELNIS_PATH when that is set and not empty and the process is not
// running set-id (a set-uid or set-gid program ignores it). Empty when it
// cannot be told.
std::string directoryServiceLibraryPath();

// The module of the MIT Kerberos GSS-API back end: "gssapi32" on Windows;
// libgssapi_krb5.so.2 on other systems.
std::string mitGssLibraryName();

// The Windows security interface module ("secur32.dll"); empty on systems
// that have none.
std::string securityInterfaceLibraryName();

}  // namespace qelrpc::platform
