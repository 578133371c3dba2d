// SPDX-License-Identifier: MIT
// The DLL's entry point: start the socket layer and load the GSS-API back
// ends when a process attaches; release them when it detaches. A socket
// layer that cannot be started refuses the load after the warning box.
#include <windows.h>

#include "platform/library_entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: return qelrpc::library::attach() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH: qelrpc::library::detach(); return TRUE;
        default: return TRUE;  // thread attach and detach change nothing
    }
}
