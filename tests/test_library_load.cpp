// What the library does when a process loads it: start the socket layer,
// and show the warning and refuse when that fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/warning.h"
#include "rpc/library.h"

namespace {

std::string g_text, g_caption;
void setFailVariable(bool on) {
#ifdef _WIN32
    _putenv_s(qelrpc::library::kFailSocketStartVariable, on ? "1" : "");
#else
    if (on) setenv(qelrpc::library::kFailSocketStartVariable, "1", 1);
    else unsetenv(qelrpc::library::kFailSocketStartVariable);
#endif
}

void capture(const char* text, const char* caption) {
    g_text = text;
    g_caption = caption;
}

TEST(LibraryLoad, FailedSocketStartWarnsAndRefuses) {
    qelrpc::platform::setWarningSink(capture);
    setFailVariable(true);
    EXPECT_FALSE(qelrpc::library::attach());
    EXPECT_EQ(g_text, "Unable to initialize Winsock library");
    EXPECT_EQ(g_caption, "QUORBEL");

    setFailVariable(false);
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
// The shared library's own load: a program linked to it prints the warning
// on the standard error stream when the socket start fails.
TEST(LibraryLoad, SharedLibraryWarnsOnStandardError) {
    struct Case { const char* env; bool warns; };
    for (const Case& c : {Case{"QELRPC_TEST_FAIL_SOCKET_START=1", true}, Case{"", false}}) {
        SCOPED_TRACE(c.env);
        const std::string cmd = std::string("env ") + c.env + " " + QELRPC_DEMO_PATH + " 2>&1 >/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string err;
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) err += buf;
        pclose(p);
        EXPECT_EQ(err.find("QUORBEL: Unable to initialize Winsock library") != std::string::npos, c.warns) << err;
    }
}
#endif

}  // namespace
