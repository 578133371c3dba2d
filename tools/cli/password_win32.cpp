// SPDX-License-Identifier: MIT
#include <windows.h>

#include <cstdio>

#include "password.h"

namespace qelrpc::cli {

namespace {

bool readLine(std::string& line, size_t maxLength) {
    line.clear();
    bool any = false;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) {
            if (std::ferror(stdin) || !any) return false;
            break;
        }
        any = true;
        if (c == '\n') break;
        if (line.size() > maxLength) continue;  // swallow the rest of an over-long line
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line.size() <= maxLength;
}

}  // namespace

void wipe(std::string& secret) {
    SecureZeroMemory(secret.data(), secret.size());
    secret.clear();
}

bool readPassword(const std::string& prompt, std::string& password, size_t maxLength) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return readLine(password, maxLength);
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    const bool ok = readLine(password, maxLength);
    SetConsoleMode(in, mode);
    std::fprintf(stderr, "\n");
    if (!ok) wipe(password);
    return ok;
}

}  // namespace qelrpc::cli
