// SPDX-License-Identifier: MIT
// The module loader: load by full path, resolve, release, and the place of
// the directory-service library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "peer_skip.h"
#include "platform/module.h"
#include "siblings/qelnis/qelnis.h"

using qelrpc::platform::Module;

namespace {

[[maybe_unused]] void setEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

TEST(Module, LoadsResolvesAndReleases) {
#ifndef QELNIS_LIBRARY
    QELRPC_SKIP_UNLESS_REQUIRED("the directory-service library's path is not known to this build");
#else
    Module m = Module::load(QELNIS_LIBRARY);
    ASSERT_TRUE(m.loaded());
    const auto getType = m.function<dirservice_gettype_fn>("dirservice_gettype");
    ASSERT_NE(getType, nullptr);
    setEnv("QELNIS_TYPE", "3");
    int type = 0;
    EXPECT_EQ(getType(&type), 1);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(m.symbol("no_such_entry_point"), nullptr);

    // Moving hands the library over; the source no longer holds it.
    Module other = std::move(m);
    EXPECT_FALSE(m.loaded());
    EXPECT_TRUE(other.loaded());
    other.release();
    EXPECT_FALSE(other.loaded());
    EXPECT_EQ(other.symbol("dirservice_gettype"), nullptr);
    setEnv("QELNIS_TYPE", nullptr);
#endif
}

TEST(Module, MissingLibrariesAreEmpty) {
    EXPECT_FALSE(Module::load("/nonexistent/libnothing.so").loaded());
    EXPECT_FALSE(Module::load("").loaded());
    EXPECT_FALSE(Module::load(nullptr).loaded());
    EXPECT_EQ(Module().symbol("x"), nullptr);
}

TEST(Module, DirectoryServiceLibraryPlace) {
#ifdef _WIN32
    const std::string path = qelrpc::platform::directoryServiceLibraryPath();
    ASSERT_GT(path.size(), 11u);
    EXPECT_EQ(path.substr(path.size() - 11), "\\qelnis.dll");
#else
    setEnv("QELRPC_QELNIS_PATH", nullptr);
    const std::string fixed = qelrpc::platform::directoryServiceLibraryPath();
    EXPECT_EQ(fixed.substr(fixed.size() - 13), "/libqelnis.so");
    EXPECT_EQ(fixed[0], '/');
    setEnv("QELRPC_QELNIS_PATH", "/tmp/elsewhere/libqelnis.so");
    EXPECT_EQ(qelrpc::platform::directoryServiceLibraryPath(), "/tmp/elsewhere/libqelnis.so");
    setEnv("QELRPC_QELNIS_PATH", "");  // empty: the fixed place again
    EXPECT_EQ(qelrpc::platform::directoryServiceLibraryPath(), fixed);
    setEnv("QELRPC_QELNIS_PATH", nullptr);
#endif
}

}  // namespace
