// SPDX-License-Identifier: MIT
// The GSS-API back ends: loading by name, the absent and the partial
// library, the availability answers and the status mapping.
#include <gtest/gtest.h>

#include "auth/gss_api.h"
#include "auth/gss_providers.h"
#include "peer_skip.h"
#include "qelrpc.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <stdlib.h>
#endif

namespace {

using namespace qelrpc;

// Each test leaves the back ends as the library's load left them.
class GssBackend : public ::testing::Test {
  protected:
    void TearDown() override {
        auth::unloadGssProviders();
        auth::loadGssProviders();
    }
};

TEST_F(GssBackend, AbsentLibraryLeavesRpcsecGssUnavailableAndTheRestWorking) {
    EXPECT_FALSE(gss::loadMitLibrary("/nonexistent/libgssapi_krb5.so.2"));
    // Under Windows the security interface's Kerberos would step in.
    gss::hideSecurityInterfaceForTesting();
    EXPECT_EQ(IsGSSAvailable(GssProviderMit), 0);
    RpcOperation op;
    ASSERT_EQ(rpcInitOperationEx(&op, "srv1", 0xFFFFFFFFu), 0);
    EXPECT_EQ(rpcCreateAuthRPCSEC_GSS(&op, "nfs", RPCSEC_GSS_SVC_NONE), 0);
    EXPECT_EQ(op.auth, nullptr);
    EXPECT_EQ(RPCSEC_GSS_InquireCred(nullptr, nullptr), -10);
    char name[8] = "x";
    uint32_t length = 7;
    EXPECT_EQ(RPCSEC_GSS_InquireCred(name, &length), -1);
    uint32_t n = 4;
    uint8_t out[16];
    EXPECT_EQ(MIT_RPCSEC_GSS_EncryptBuffer(out, 4, out + 8, &n, 1, 1, nullptr), -1);
    EXPECT_EQ(rpcCreateAuthUnix(&op, "abc", 1, 2), 1);
    EXPECT_EQ(rpcPrepareRPCHeader(&op, 0), 0);
    rpcCloseOperation(&op);
}

TEST_F(GssBackend, AvailabilityAnswers) {
    // Any number other than the two back ends answers 1; new credentials
    // always use the MIT back end, whatever else is there.
    EXPECT_EQ(IsGSSAvailable(2), 1);
    EXPECT_EQ(IsGSSAvailable(-1), 1);
    EXPECT_EQ(GetGSSProvider(), GssProviderMit);
    gss::useTableForTesting(nullptr);
    EXPECT_EQ(IsGSSAvailable(GssProviderMit), 0);
    EXPECT_EQ(GetGSSProvider(), GssProviderMit);
#ifndef _WIN32
    EXPECT_EQ(IsGSSAvailable(GssProviderSspi), 0);  // no security interface here
#endif
}

#ifdef _WIN32
// The library's load on Windows: "gssapi32" is looked for without a system
// error box (absent here), and the security interface answers back end 1.
// Without the MIT library, new credentials take back end 1 exactly when
// its Kerberos package answered; GetGSSProvider keeps its answer.
TEST_F(GssBackend, WindowsLoadFindsTheSecurityInterface) {
    qelrpc::auth::unloadGssProviders();
    qelrpc::auth::loadGssProviders();
    EXPECT_EQ(IsGSSAvailable(GssProviderSspi), 1);
    EXPECT_EQ(GetGSSProvider(), GssProviderMit);
    if (IsGSSAvailable(GssProviderMit) == 0) {
        const bool kerberos = gss::sspiKerberosTable() != nullptr;
        RpcOperation op;
        ASSERT_EQ(rpcInitOperationEx(&op, "srv1", 0xFFFFFFFFu), 0);
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op, "nfs", RPCSEC_GSS_SVC_NONE), kerberos ? 1 : 0);
        if (kerberos) {
            EXPECT_EQ(static_cast<AuthGssCred*>(op.auth->body)->provider, GssProviderSspi);
        }
        rpcCloseOperation(&op);
    }
}
#endif

TEST(GssStatusMapping, MajorStatusesOntoCodes) {
    struct Case {
        uint32_t major;
        int expected;
    } cases[] = {{0x80000, -18}, {0xC0000, -19}, {0xE0000, -17}, {0xD0000, -7}, {0x60000, -7}, {0, -7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        EXPECT_EQ(gss::mapMajorStatus(c.major, -7), c.expected);
    }
}

#ifndef _WIN32
TEST_F(GssBackend, TheSystemLibraryResolvesAllFourteenNames) {
    if (!gss::loadMitLibrary("libgssapi_krb5.so.2")) QELRPC_SKIP_UNLESS_REQUIRED("libgssapi-krb5-2 is not installed");
    EXPECT_EQ(IsGSSAvailable(GssProviderMit), 1);
    ASSERT_NE(gss::mit(), nullptr);
    EXPECT_NE(gss::mit()->ntServiceName, nullptr);
    EXPECT_NE(*gss::mit()->ntServiceName, nullptr);  // the variable holds the OID's address
}

TEST_F(GssBackend, ALibraryLackingTheLastNameIsReleasedAndUnavailable) {
    EXPECT_FALSE(gss::loadMitLibrary(GSS_PARTIAL_FAKE));
    EXPECT_EQ(IsGSSAvailable(GssProviderMit), 0);
    // Nothing of it stays loaded.
    EXPECT_EQ(dlopen(GSS_PARTIAL_FAKE, RTLD_NOW | RTLD_NOLOAD), nullptr);
}

// The shared library as a program loads it, with the back end hidden from
// the loader (the tests' build of the library takes a path for it from the
// environment): it loads, answers 0 and refuses RPCSEC_GSS credentials.
TEST(GssSharedLibrary, LoadsWithTheBackEndHidden) {
    setenv("QELRPC_GSSAPI_PATH", "/nonexistent/libgssapi_krb5.so.2", 1);
    void* lib = dlopen(QELRPC_TEST_SEAMS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    unsetenv("QELRPC_GSSAPI_PATH");
    ASSERT_NE(lib, nullptr) << dlerror();
    auto available = reinterpret_cast<int (*)(int)>(dlsym(lib, "IsGSSAvailable"));
    auto create = reinterpret_cast<int (*)(RpcOperation*, const char*, int)>(dlsym(lib, "rpcCreateAuthRPCSEC_GSS"));
    auto init = reinterpret_cast<int (*)(RpcOperation*, const char*, uint32_t)>(dlsym(lib, "rpcInitOperationEx"));
    auto close = reinterpret_cast<void (*)(RpcOperation*)>(dlsym(lib, "rpcCloseOperation"));
    ASSERT_TRUE(available && create && init && close);
    EXPECT_EQ(available(GssProviderMit), 0);
    RpcOperation op;
    ASSERT_EQ(init(&op, "srv1", 0xFFFFFFFFu), 0);
    EXPECT_EQ(create(&op, "nfs", RPCSEC_GSS_SVC_NONE), 0);
    EXPECT_EQ(op.auth, nullptr);
    close(&op);
    dlclose(lib);
}
#endif

}  // namespace
