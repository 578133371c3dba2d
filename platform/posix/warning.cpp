// SPDX-License-Identifier: MIT
#include "platform/warning.h"

#include <cstdio>

namespace qelrpc::platform {

void showSystemWarning(const char* text, const char* caption) noexcept {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace qelrpc::platform
