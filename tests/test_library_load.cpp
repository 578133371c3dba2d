// SPDX-License-Identifier: MIT
// What the library does when a process loads it: start the socket layer,
// and show the warning and refuse when that fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

extern char** environ;
#endif

#include "peer_skip.h"

#include "auth/library.h"
#include "platform/warning.h"

namespace {

std::string g_text, g_caption;

void capture(const char* text, const char* caption) {
    g_text = text;
    g_caption = caption;
}

TEST(LibraryLoad, FailedSocketStartWarnsAndRefuses) {
    qelrpc::platform::setWarningSink(capture);
    qelrpc::library::failSocketStartForTesting(true);
    EXPECT_FALSE(qelrpc::library::attach());
    EXPECT_EQ(g_text, "Unable to initialize Winsock library");
    EXPECT_EQ(g_caption, "QUORBEL");

    qelrpc::library::failSocketStartForTesting(false);
    g_text.clear();
    EXPECT_TRUE(qelrpc::library::attach());
    EXPECT_TRUE(g_text.empty());
    EXPECT_EQ(qelrpc::library::gssLoadCount(), 1u);
    EXPECT_TRUE(qelrpc::library::attach());
    EXPECT_EQ(qelrpc::library::gssLoadCount(), 1u);  // loaded once per process
    qelrpc::library::detach();
    qelrpc::library::detach();  // a second detach finds nothing to release
    qelrpc::platform::setWarningSink(nullptr);
}

#ifndef _WIN32
// What a program linked to the shared library gets when it runs with these
// variables in its environment: its output, and whether the marker library
// was loaded (it leaves a file behind).
struct Outcome {
    std::string output;
    bool markerLoaded = false;
};

// Runs the C caller (built -fno-pic -no-pie, linked to libqelrpc.so) with
// `args` and the extra `env`. `setId`: the way a set-gid program runs, its
// real group not its effective one (the kernel then marks the process
// secure: AT_SECURE).
Outcome runCaller(const std::vector<std::string>& args, std::vector<std::string> env, bool setId) {
    char dir[] = "/tmp/qelrpc-load-XXXXXX";
    if (mkdtemp(dir) == nullptr) return {};
    const std::string marker = std::string(dir) + "/marker", out = std::string(dir) + "/out";
    env.push_back("QELRPC_TEST_MARKER=" + marker);
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "QELRPC_", 7) != 0 && std::strncmp(*e, "LD_", 3) != 0) env.push_back(*e);
    std::vector<std::string> argv{QELRPC_C_CALLER};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> av, ev;
    for (auto& a : argv) av.push_back(a.data());
    av.push_back(nullptr);
    for (auto& e : env) ev.push_back(e.data());
    ev.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(120);
        if (setId && setresgid(65534, getegid(), getegid()) != 0) _exit(121);
        execve(av[0], av.data(), ev.data());
        _exit(122);
    }
    Outcome r;
    if (pid > 0) {
        int status = 0;
        for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(50 * 1000);
        if (waitpid(pid, &status, WNOHANG) == 0) {  // still running after 20 s
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        std::ifstream in(out);
        r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        r.output += "(status " + std::to_string(status) + ")";
    }
    r.markerLoaded = access(marker.c_str(), F_OK) == 0;
    std::remove(marker.c_str());
    std::remove(out.c_str());
    rmdir(dir);
    return r;
}

// The shipped library runs no code and changes nothing because of the
// variables tests use; only its test build (test-seams/libqelrpc.so.0,
// taken before the shipped one through LD_LIBRARY_PATH) obeys them. The
// directory-service library's path is a user setting, ignored by set-id
// programs.
TEST(LibraryLoad, TestSettingsReachOnlyTheTestBuild) {
    if (geteuid() != 0) QELRPC_SKIP_UNLESS_REQUIRED("a set-id run needs root");
    const std::string testBuild = std::string("LD_LIBRARY_PATH=") + QELRPC_TEST_SEAMS_DIR;
    const std::string gss = std::string("QELRPC_GSSAPI_PATH=") + MARKER_LIBRARY;
    const std::string qelnis = std::string("QELRPC_QELNIS_PATH=") + MARKER_LIBRARY;
    const std::string failStart = "QELRPC_TEST_FAIL_SOCKET_START=1";
    struct Case {
        const char* what;
        std::vector<std::string> args, env;
        bool setId, loadsMarker, warns;
    };
    const Case cases[] = {
        {"shipped library: GSS-API library path", {"load"}, {gss}, false, false, false},
        {"shipped library: failed socket start", {"load"}, {failStart}, false, false, false},
        {"shipped library, set-id program: directory-service path", {"nfsdcheck"}, {qelnis}, true, false, false},
        {"shipped library: directory-service path (a user setting)", {"nfsdcheck"}, {qelnis}, false, true, false},
        {"test build: GSS-API library path", {"load"}, {gss, testBuild}, false, true, false},
        {"test build: failed socket start", {"load"}, {failStart, testBuild}, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = runCaller(c.args, c.env, c.setId);
        EXPECT_EQ(r.markerLoaded, c.loadsMarker) << r.output;
        EXPECT_EQ(r.output.find("QUORBEL: Unable to initialize Winsock library") != std::string::npos, c.warns)
            << r.output;
    }
}
#endif

}  // namespace
