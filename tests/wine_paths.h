// SPDX-License-Identifier: MIT
// Paths of the Linux side as a Windows program under Wine names them: Wine's
// drive Z: is the Linux root.
#pragma once

#include <string>

inline std::string windowsPath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}
