// SPDX-License-Identifier: MIT
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "password.h"

namespace qelrpc::cli {

namespace {

// The terminal's settings while echo is off, so an interrupt can restore them.
struct termios g_saved;
volatile sig_atomic_t g_echoOff = 0;

void restoreAndReraise(int sig) {
    if (g_echoOff) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    signal(sig, SIG_DFL);
    raise(sig);
}

bool readLine(std::string& line, size_t maxLength) {
    line.clear();
    bool any = false;
    for (;;) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0) return false;
        if (n == 0) {
            if (!any) return false;  // nothing at all: no password
            break;                   // the last line may lack its newline
        }
        any = true;
        if (c == '\n') break;
        if (line.size() > maxLength) continue;  // swallow the rest of an over-long line
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line.size() <= maxLength;
}

}  // namespace

void wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

bool readPassword(const std::string& prompt, std::string& password, size_t maxLength) {
    if (!isatty(STDIN_FILENO)) return readLine(password, maxLength);
    if (tcgetattr(STDIN_FILENO, &g_saved) != 0) return readLine(password, maxLength);
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    struct termios quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    struct sigaction sa {}, oldInt {}, oldTerm {};
    sa.sa_handler = restoreAndReraise;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    g_echoOff = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    const bool ok = readLine(password, maxLength);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    g_echoOff = 0;
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    if (!ok) wipe(password);
    return ok;
}

}  // namespace qelrpc::cli
