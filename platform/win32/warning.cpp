// SPDX-License-Identifier: MIT
#include "platform/warning.h"

#include <windows.h>

namespace qelrpc::platform {

void showSystemWarning(const char* text, const char* caption) noexcept {
    ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONWARNING);
}

}  // namespace qelrpc::platform
