// SPDX-License-Identifier: MIT
#include "platform/warning.h"

#include <atomic>
#include <cstdio>

namespace qelrpc::platform {
namespace {
std::atomic<WarningSink> g_sink{nullptr};
}

void showWarning(const char* text, const char* caption) noexcept {
    if (WarningSink sink = g_sink.load()) {
        sink(text, caption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void setWarningSink(WarningSink sink) noexcept { g_sink.store(sink); }

}  // namespace qelrpc::platform
