// SPDX-License-Identifier: MIT
// The library's one piece of user interface: a warning shown when it cannot
// start. A box on Windows; the standard error stream elsewhere.
#pragma once

namespace qelrpc::platform {

void showWarning(const char* text, const char* caption) noexcept;

// Test seam: warnings go to `sink` instead of the box or the stream; null
// restores the default.
using WarningSink = void (*)(const char* text, const char* caption);
void setWarningSink(WarningSink sink) noexcept;

// The default each side gives (posix/, win32/): the box or the stream.
void showSystemWarning(const char* text, const char* caption) noexcept;

}  // namespace qelrpc::platform
