// SPDX-License-Identifier: MIT
// The setting that says whether a directory service is configured, shared
// by both systems' implementations.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qelnis {

// QELNIS_TYPE as a number: unset, empty, not wholly a number, or out of
// range all mean 0 (none configured).
inline int configuredType() {
    const char* text = std::getenv("QELNIS_TYPE");
    if (text == nullptr || *text == '\0') return 0;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < INT_MIN || v > INT_MAX) return 0;
    return static_cast<int>(v);
}

// Copies name into buffer, cut to size - 1 characters and NUL-terminated.
inline void copyName(const char* name, char* buffer, int size) {
    int i = 0;
    for (; i + 1 < size && name[i] != '\0'; ++i) buffer[i] = name[i];
    buffer[i] = '\0';
}

}  // namespace qelnis
