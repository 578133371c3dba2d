// SPDX-License-Identifier: MIT
#include "platform/module.h"

#include <cstdint>
#include <cstring>

#include <windows.h>

namespace qelrpc::platform {
namespace {

// While a library loads, the system shows no box for a missing disk or an
// unopenable file; the previous mode comes back on every path.
class CriticalErrorBoxesOff {
  public:
    CriticalErrorBoxesOff() noexcept : previous_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
    ~CriticalErrorBoxesOff() { SetErrorMode(previous_); }
    CriticalErrorBoxesOff(const CriticalErrorBoxesOff&) = delete;
    CriticalErrorBoxesOff& operator=(const CriticalErrorBoxesOff&) = delete;

  private:
    UINT previous_;
};

}  // namespace

Module Module::load(const char* path) noexcept {
    if (path == nullptr || *path == '\0') return Module();
    CriticalErrorBoxesOff quiet;
    return Module(reinterpret_cast<void*>(LoadLibraryA(path)));
}

void* Module::symbol(const char* name) const noexcept {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Module::release() noexcept {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

// A program built against qelrpc.h imports the functions through the import
// table (dllimport), so it sees the DLL's own addresses.
void* exportedFunctionAddress(const char*) noexcept { return nullptr; }

const void* functionBehindThunks(const void* f) noexcept {
    // Code is always readable; each hop reads one instruction at most.
    for (int hop = 0; hop < 4 && f != nullptr; ++hop) {
        const auto* code = static_cast<const unsigned char*>(f);
        int32_t disp = 0;
        if (code[0] == 0xFF && code[1] == 0x25) {  // jmp dword/qword ptr [slot]
            std::memcpy(&disp, code + 2, sizeof disp);
#if defined(_WIN64)
            const unsigned char* slot = code + 6 + disp;  // RIP-relative
#else
            const unsigned char* slot = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(
                static_cast<uint32_t>(disp)));  // absolute
#endif
            const void* next = nullptr;
            std::memcpy(&next, slot, sizeof next);
            f = next;
        } else if (code[0] == 0xE9) {  // jmp rel32
            std::memcpy(&disp, code + 1, sizeof disp);
            f = code + 5 + disp;
        } else {
            break;
        }
    }
    return f;
}

std::string directoryServiceLibraryPath() {
    char dir[260];
    const UINT n = GetSystemDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return std::string();
    return std::string(dir, n) + "\\qelnis.dll";
}

std::string mitGssLibraryName() { return "gssapi32"; }

std::string securityInterfaceLibraryName() { return "secur32.dll"; }

}  // namespace qelrpc::platform
