// SPDX-License-Identifier: MIT
#include "platform/warning.h"

#include <atomic>

namespace qelrpc::platform {
namespace {
std::atomic<WarningSink> g_sink{nullptr};
}

void showWarning(const char* text, const char* caption) noexcept {
    if (WarningSink sink = g_sink.load()) {
        sink(text, caption);
        return;
    }
    showSystemWarning(text, caption);
}

void setWarningSink(WarningSink sink) noexcept { g_sink.store(sink); }

}  // namespace qelrpc::platform
