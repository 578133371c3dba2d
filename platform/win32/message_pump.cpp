// SPDX-License-Identifier: MIT
#include "platform/message_pump.h"

#include <windows.h>

namespace qelrpc::platform {

void pumpWindowMessages(RpcWindow window) noexcept {
    const HWND dialog = static_cast<HWND>(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog != nullptr && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace qelrpc::platform
