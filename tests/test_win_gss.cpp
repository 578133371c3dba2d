// SPDX-License-Identifier: MIT
// RPCSEC_GSS from the Windows DLL through the security interface's Kerberos
// package (back end 1) under Wine, against the Linux side's real peers that
// tests/wine/run_suite.sh starts (tests/gss/gss_peers_main.cpp): the
// throwaway realm with alice's ticket (Wine's package reads it through the
// Linux MIT libraries, KRB5_CONFIG and KRB5CCNAME), NFS-Ganesha and
// libtirpc's RPCSEC_GSS echo peer. Set-up, NULL and GETATTR at every
// service level on a kept connection and with a connection per exchange,
// DESTROY and the refusal after it, and the failure paths: no ticket, an
// unknown service principal, a reply whose MIC was tampered with on the way.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "auth/library.h"
#include "fake_peer.h"
#include "gss/nfs_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"
#include "wine_paths.h"
#include "xdr/wire.h"

namespace {

using namespace nfscalls;
using qelrpc::wire::loadWord;

constexpr uint16_t kNfsPort = 2049;
constexpr uint32_t kEchoProgram = 0x20000077u;
constexpr uint32_t kEchoVersion = 1;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

std::vector<uint8_t>* g_root = nullptr;
std::string* g_skip = nullptr;

class WinGss : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        qelrpc::library::attach();
        g_skip = new std::string;
        g_root = new std::vector<uint8_t>;
        if (env("QELRPC_LINUX_PEERS") != "1" || env("QELRPC_GSS_EXPORT").empty()) {
            *g_skip = "needs the realm and Ganesha of tests/wine/run_suite.sh (tests/gss/gss_peers_main.cpp)";
        } else if (!mountRoot(env("QELRPC_GSS_EXPORT"), loopback(), *g_root)) {
            *g_skip = "MOUNT of the export failed";
        }
    }
    static void TearDownTestSuite() {
        delete g_root;
        delete g_skip;
        g_root = nullptr;
        g_skip = nullptr;
    }
    void SetUp() override {
        if (!g_skip->empty()) {
            QELRPC_SKIP_UNLESS_REQUIRED(*g_skip);
        }
    }
    void TearDown() override { rpcCloseOperation(&op_); }

    void open(uint16_t port, uint32_t prog, uint32_t vers, bool keep) {
        ASSERT_EQ(rpcInitOperationEx(&op_, "localhost", loopback()), 0);
        if (keep) {
            ASSERT_EQ(rpcSetKeepConnection(&op_, 1), 0);
        }
        op_.prog = prog;
        op_.vers = vers;
        op_.tcpPort = port;
    }

    void establish(int service, bool keep) {
        ASSERT_NO_FATAL_FAILURE(open(kNfsPort, kNfsProgram, kNfsV3, keep));
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", service), 1);
        ASSERT_EQ(record(op_).provider, GssProviderSspi);
        ASSERT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), 0)
            << std::hex << "major 0x" << record(op_).majorStatus << " SECURITY_STATUS 0x" << record(op_).minorStatus;
        EXPECT_EQ(record(op_).gssProc, RPCSEC_GSS_PROC_DATA);
        EXPECT_GT(record(op_).handleLength, 0u);
    }

    RpcOperation op_{};
};

// The MIT library is not there under Wine; the security interface is, with
// Kerberos, and new credentials take it. GetGSSProvider keeps its answer.
TEST_F(WinGss, CredentialsUseTheSecurityInterfaceWhenTheMitLibraryIsAbsent) {
    EXPECT_EQ(IsGSSAvailable(GssProviderMit), 0);
    EXPECT_EQ(IsGSSAvailable(GssProviderSspi), 1);
    EXPECT_EQ(GetGSSProvider(), GssProviderMit);
    ASSERT_NO_FATAL_FAILURE(open(kNfsPort, kNfsProgram, kNfsV3, false));
    ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_NONE), 1);
    EXPECT_EQ(record(op_).provider, GssProviderSspi);
    EXPECT_STREQ(record(op_).principal, "nfs@localhost");
}

// The package seals through the Linux GSS-API library and splits each
// token as such packages do: its first bytes over the text, the rest,
// cipher text, in the token buffer. That rest starts like a token's first
// byte once in 256 seals, and the token sent must still be the library's
// token, whole: every one of thousands starts with the RFC 4121 header and
// is as long as the first (the enctype's overhead is fixed, EC 0). Then
// Ganesha unwraps a few hundred privacy GETATTRs on one context.
TEST_F(WinGss, EverySealedBodyIsTheWholeWrapToken) {
    ASSERT_NO_FATAL_FAILURE(establish(RPCSEC_GSS_SVC_PRIVACY, true));
    uint32_t overhead = 0;
    int wrong = 0;
    for (uint32_t i = 0; i < 3000 && wrong < 5; ++i) {
        const uint32_t length = 4 * (i % 40);
        const std::vector<uint8_t> in(length, static_cast<uint8_t>(i));
        std::vector<uint8_t> out(length + 256);
        uint32_t n = 0;
        ASSERT_EQ(RPCSEC_GSS_EncryptBufferEx(in.data(), length, out.data(), &n, RPCSEC_GSS_SVC_PRIVACY, i + 1, &op_),
                  0);
        const uint32_t tokenLength = loadWord(out.data());
        const uint8_t* t = out.data() + 4;
        if (i == 0) overhead = tokenLength - length;
        if (tokenLength < 16 || t[0] != 0x05 || t[1] != 0x04 || t[3] != 0xFF || tokenLength - length != overhead) {
            ADD_FAILURE() << "seal " << i << " of " << length << " bytes: token of " << tokenLength
                          << " bytes starting " << std::hex << int{t[0]} << " " << int{t[1]};
            ++wrong;
        }
    }
    for (int i = 0; i < 300; ++i) ASSERT_NO_FATAL_FAILURE(getattrOfTheRoot(op_, *g_root)) << "GETATTR " << i;
}

// Set-up, five NULL calls and five GETATTRs of the root, DESTROY, and a
// DATA call on the destroyed context refused by Ganesha: at every service
// level, on one kept connection and with a connection per exchange.
TEST_F(WinGss, NullAndGetattrAtEveryLevelThenDestroy) {
    for (bool keep : {true, false}) {
        for (int service : {RPCSEC_GSS_SVC_NONE, RPCSEC_GSS_SVC_INTEGRITY, RPCSEC_GSS_SVC_PRIVACY}) {
            SCOPED_TRACE(::testing::Message() << "service " << service << (keep ? ", kept" : ", per exchange"));
            ASSERT_NO_FATAL_FAILURE(establish(service, keep));
            const RpcSocket kept = op_.sock;
            for (uint32_t i = 1; i <= 5; ++i) {
                ASSERT_EQ(call(op_, kProcNull, {}), 0);
                EXPECT_EQ(record(op_).seqNum, i);
                EXPECT_EQ(op_.auth->verfFlavor, RPC_RPCSEC_GSS);
            }
            for (int i = 0; i < 5; ++i) ASSERT_NO_FATAL_FAILURE(getattrOfTheRoot(op_, *g_root));
            if (keep) {
                EXPECT_EQ(op_.sock, kept);
            }
            EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), 0);
            // The handle is gone on the server: the next DATA call on it is
            // refused (MSG_DENIED, AUTH_ERROR RPCSEC_GSS_CREDPROBLEM), not
            // served.
            record(op_).gssProc = RPCSEC_GSS_PROC_DATA;
            EXPECT_EQ(call(op_, kProcNull, {}), -4);
            EXPECT_EQ(op_.authStat, 13u);  // RPCSEC_GSS_CREDPROBLEM
            rpcCloseOperation(&op_);
        }
    }
}

// libtirpc's server keeps its contexts per connection: everything on one
// kept connection, at every level.
TEST_F(WinGss, LibtirpcEchoPeerOnAKeptConnection) {
    const std::string port = env("QELRPC_GSS_ECHO_PORT");
    if (port.empty()) {
        QELRPC_SKIP_UNLESS_REQUIRED("the runner started no libtirpc RPCSEC_GSS peer");
    }
    for (int service : {RPCSEC_GSS_SVC_NONE, RPCSEC_GSS_SVC_INTEGRITY, RPCSEC_GSS_SVC_PRIVACY}) {
        SCOPED_TRACE(service);
        ASSERT_NO_FATAL_FAILURE(open(static_cast<uint16_t>(std::stoi(port)), kEchoProgram, kEchoVersion, true));
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", service), 1);
        ASSERT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), 0);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(call(op_, kProcNull, {}), 0);
        EXPECT_EQ(RPCSEC_GSS_DestroySecurityContext(&op_), 0);
        rpcCloseOperation(&op_);
    }
}

// The KDC knows no such service: the set-up fails before anything is sent,
// with the package's status kept for the caller.
TEST_F(WinGss, AnUnknownServicePrincipalIsRefused) {
    ASSERT_NO_FATAL_FAILURE(open(kNfsPort, kNfsProgram, kNfsV3, false));
    ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nosuch@localhost", RPCSEC_GSS_SVC_NONE), 1);
    EXPECT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), -6);
    std::printf("unknown service: major 0x%08X, SECURITY_STATUS 0x%08X\n", record(op_).majorStatus,
                record(op_).minorStatus);
    EXPECT_NE(record(op_).majorStatus, 0u);
    EXPECT_NE(record(op_).minorStatus, 0u);  // the SECURITY_STATUS
    EXPECT_EQ(record(op_).handleLength, 0u);
    EXPECT_EQ(RPCSEC_GSS_GetErrorMessage(&op_, 0, 0), 0);
}

// Without the ticket cache (moved aside through Wine's Z: drive) there is
// no credential: the set-up fails and says so (GSS_S_NO_CRED or a failure
// of the package), and with the ticket back it works again.
TEST_F(WinGss, NoTicketNoContext) {
    std::string cache = env("KRB5CCNAME");
    if (cache.rfind("FILE:", 0) == 0) cache = cache.substr(5);
    ASSERT_FALSE(cache.empty());
    const std::string path = windowsPath(cache);
    const std::string aside = path + ".aside";
    ASSERT_TRUE(MoveFileA(path.c_str(), aside.c_str())) << GetLastError();
    ASSERT_NO_FATAL_FAILURE(open(kNfsPort, kNfsProgram, kNfsV3, false));
    ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", RPCSEC_GSS_SVC_NONE), 1);
    const int rc = RPCSEC_GSS_InitSecurityContext(&op_);
    const uint32_t major = record(op_).majorStatus;
    const uint32_t minor = record(op_).minorStatus;
    EXPECT_TRUE(MoveFileA(aside.c_str(), path.c_str())) << GetLastError();
    EXPECT_EQ(rc, -6);
    EXPECT_NE(major, 0u);
    EXPECT_NE(minor, 0u);
    std::printf("no ticket: major 0x%08X, SECURITY_STATUS 0x%08X\n", major, minor);
    EXPECT_EQ(RPCSEC_GSS_GetErrorMessage(&op_, 0, 0), 0);
    rpcCloseOperation(&op_);
    ASSERT_NO_FATAL_FAILURE(establish(RPCSEC_GSS_SVC_NONE, false));
}

// A relay between the client and Ganesha that, when told to, flips one
// byte of the MIC in the reply verifier of a DATA call (that verifier is
// the MIC of the call's sequence number). Through the relay untouched the
// call succeeds; tampered, the reply is refused as one whose verifier
// failed its check (-4), and the next call straight to Ganesha on the same
// context succeeds.
TEST_F(WinGss, ATamperedReplyMicIsRefused) {
    using namespace testpeer;
    std::atomic<bool> tamper{false};
    TcpPeer relay([&tamper](int, Conn& client) {
        qelrpc::platform::Socket up;
        qelrpc::platform::Endpoint to{qelrpc::platform::loopbackAddress(), kNfsPort};
        if (qelrpc::platform::openSocket(qelrpc::platform::SocketType::Stream, up) != 0 ||
            qelrpc::platform::connectTo(up.get(), to) != 0) {
            return;
        }
        std::atomic<bool> stop{false};
        Conn server(up.get(), stop);
        Bytes q, r;
        while (client.readRecord(q)) {
            server.sendFragment(q, true);
            if (!server.readRecord(r)) return;
            // Call: xid, CALL, rpcvers, prog, vers, proc, then the
            // credential: flavor, length, version, gss_proc.
            const bool data = q.size() > 40 && wordAt(q, 24) == 6 && wordAt(q, 36) == RPCSEC_GSS_PROC_DATA;
            // Reply: xid, REPLY, MSG_ACCEPTED, verifier flavor, length,
            // body; the body's last byte is in the MIC's checksum.
            const uint32_t length = r.size() >= 20 ? wordAt(r, 16) : 0;
            if (tamper && data && wordAt(r, 12) == 6 && length != 0 && 20 + size_t{length} <= r.size()) {
                r[20 + length - 1] ^= 0x01;
            }
            client.sendFragment(r, true);
        }
    });
    ASSERT_TRUE(relay.ok());
    for (int service : {RPCSEC_GSS_SVC_NONE, RPCSEC_GSS_SVC_INTEGRITY, RPCSEC_GSS_SVC_PRIVACY}) {
        SCOPED_TRACE(service);
        ASSERT_NO_FATAL_FAILURE(open(relay.port(), kNfsProgram, kNfsV3, false));
        ASSERT_EQ(rpcCreateAuthRPCSEC_GSS(&op_, "nfs", service), 1);
        tamper = false;
        ASSERT_EQ(RPCSEC_GSS_InitSecurityContext(&op_), 0);
        ASSERT_EQ(call(op_, kProcNull, {}), 0);
        tamper = true;
        EXPECT_EQ(call(op_, kProcNull, {}), -4);
        op_.tcpPort = kNfsPort;
        EXPECT_EQ(call(op_, kProcNull, {}), 0);
        rpcCloseOperation(&op_);
    }
}

}  // namespace
