// SPDX-License-Identifier: MIT
// AUTH_DES calls against the tests' own AUTH_DES server (des_test_server.h,
// on libgcrypt apart from the client), with a time service on port 37 and
// a scripted portmapper on port 111, both the test's own inside its network
// namespace (tests/in_netns.sh); and tshark's reading of a captured call.
#include <gtest/gtest.h>

// Namespaces, tshark and the test server's libgcrypt: the POSIX side only.
#ifndef _WIN32
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "auth/des_time.h"
#include "child_process.h"
#include "des_test_server.h"
#include "fake_peer.h"
#include "peer_skip.h"
#include "platform/clock.h"
#include "qelrpc.h"
#include "rpc/flavor.h"

namespace {

using namespace testpeer;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kTimePort = 37;
constexpr uint16_t kPortmapPort = 111;
constexpr uint32_t kRfc868Epoch = 2208988800u;
constexpr uint32_t kProg = 0x20000A5D;
constexpr const char* kClientSecret = "3a5f0c21b9e8d7c6a5b4c3d2e1f00112233445566778899a";
constexpr const char* kServerSecret = "0badc0ffee0ddf00d1234567890abcdef1234567890abcd";
constexpr const char* kNetName = "unix.1001@example.co";

Endpoint at(uint16_t port) { return Endpoint{loopbackAddress(), port}; }

Bytes rfc868(uint32_t unixSeconds) { return words({unixSeconds + kRfc868Epoch}); }
uint32_t now() { return static_cast<uint32_t>(std::time(nullptr)); }

// A time service over TCP on port 37 that sends `answer(n)` and closes.
TcpPeer streamTimeService(std::function<Bytes()> answer) {
    return TcpPeer([answer](int, Conn& c) { c.send(answer()); }, at(kTimePort));
}
UdpPeer datagramTimeService(std::function<Bytes()> answer) {
    return UdpPeer([answer](int, const Bytes&) { return std::vector<Bytes>{answer()}; }, at(kTimePort));
}

// --- the time service ------------------------------------------------------

TEST(TimeService, AnswersOverStreamAndDatagram) {
    uint32_t t = 0;
    {
        TcpPeer tcp([](int, Conn& c) { c.send(words({3208988800u})); }, at(kTimePort));
        ASSERT_TRUE(tcp.ok());
        ASSERT_TRUE(qelrpc::auth::getServerTime(loopbackAddress(), SocketType::Stream, 2'000'000, t));
        EXPECT_EQ(t, 1'000'000'000u);
    }
    {
        // The answer may come in pieces.
        TcpPeer tcp([](int, Conn& c) {
            c.send(Bytes{0xBF});
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            c.send(Bytes{0x45, 0x2B, 0x80});
        }, at(kTimePort));
        ASSERT_TRUE(qelrpc::auth::getServerTime(loopbackAddress(), SocketType::Stream, 2'000'000, t));
        EXPECT_EQ(t, 0xBF452B80u - kRfc868Epoch);
    }
    UdpPeer udp([](int n, const Bytes& q) {
        EXPECT_TRUE(q.empty());  // the question is an empty datagram
        return std::vector<Bytes>{n == 1 ? words({3208988800u}) : words({3208988801u, 0xFFFFFFFF})};
    }, at(kTimePort));
    ASSERT_TRUE(udp.ok());
    ASSERT_TRUE(qelrpc::auth::getServerTime(loopbackAddress(), SocketType::Datagram, 2'000'000, t));
    EXPECT_EQ(t, 1'000'000'000u);
    // A longer datagram counts by its first 4 bytes.
    ASSERT_TRUE(qelrpc::auth::getServerTime(loopbackAddress(), SocketType::Datagram, 2'000'000, t));
    EXPECT_EQ(t, 1'000'000'001u);
    // Seconds before 1970 wrap modulo 2^32, as RFC 868 numbers do.
    uint32_t early = 0;
    ASSERT_TRUE(qelrpc::auth::readTimeServiceAnswer(words({0}).data(), 4, early));
    EXPECT_EQ(early, 0u - kRfc868Epoch);
}

TEST(TimeService, ShortSilentOrMissingAnswersAreRefused) {
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    uint32_t t = 12345;
    auto refusedWithin = [&](SocketType type, uint64_t waitMicros, std::chrono::milliseconds bound) {
        const auto start = Clock::now();
        EXPECT_FALSE(qelrpc::auth::getServerTime(loopbackAddress(), type, waitMicros, t));
        EXPECT_LT(Clock::now() - start, bound);
    };
    {
        SCOPED_TRACE("three bytes, then the close");
        TcpPeer tcp([](int, Conn& c) { c.send(Bytes{1, 2, 3}); }, at(kTimePort));
        refusedWithin(SocketType::Stream, 2'000'000, std::chrono::milliseconds(1500));
    }
    {
        SCOPED_TRACE("a three-byte datagram");
        UdpPeer udp([](int, const Bytes&) { return std::vector<Bytes>{Bytes{1, 2, 3}}; }, at(kTimePort));
        refusedWithin(SocketType::Datagram, 2'000'000, std::chrono::milliseconds(1500));
    }
    {
        SCOPED_TRACE("nothing on port 37: refused at once over both");
        refusedWithin(SocketType::Stream, 5'000'000, std::chrono::milliseconds(1000));
        refusedWithin(SocketType::Datagram, 5'000'000, std::chrono::milliseconds(1000));
    }
    {
        SCOPED_TRACE("connected, then silence: the wait runs out");
        TcpPeer tcp([](int, Conn& c) { c.holdOpen(std::chrono::milliseconds(2000)); }, at(kTimePort));
        refusedWithin(SocketType::Stream, 300'000, std::chrono::milliseconds(1500));
        UdpPeer udp([](int, const Bytes&) { return std::vector<Bytes>{}; }, at(kTimePort));
        refusedWithin(SocketType::Datagram, 300'000, std::chrono::milliseconds(1500));
    }
    EXPECT_EQ(t, 12345u);
}

// --- the clock offset on the first header ----------------------------------

class DesOperation : public ::testing::Test {
  protected:
    RpcOperation op{};
    std::string serverPublic = destest::publicKey(kServerSecret);

    void SetUp() override {
        ASSERT_EQ(rpcInitOperationEx(&op, "127.0.0.1", loopbackAddress()), 0);
        op.prog = kProg;
        op.vers = 1;
        ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    }
    void TearDown() override { rpcCloseOperation(&op); }
    AuthDesCred& cred() { return *static_cast<AuthDesCred*>(op.auth->body); }
};

TEST_F(DesOperation, OffsetFromTheStreamAnswerLearnedOnce) {
    TcpPeer tcp = streamTimeService([] { return rfc868(now() + 1000); });
    UdpPeer udp = datagramTimeService([] { return rfc868(now() + 2000); });
    ASSERT_TRUE(tcp.ok() && udp.ok());
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_NEAR(op.timeOffset, 1000, 2);
    EXPECT_NEAR(static_cast<double>(static_cast<uint32_t>(cred().lastSeconds)), now() + 1000.0, 2);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_EQ(tcp.accepted(), 1);
    EXPECT_EQ(udp.received(), 0);
}

TEST_F(DesOperation, OffsetFromTheDatagramWhenTheStreamFails) {
    for (bool streamAnswersShort : {false, true}) {
        SCOPED_TRACE(streamAnswersShort ? "stream answer too short" : "no stream service");
        op.timeOffset = RPC_TIME_OFFSET_UNKNOWN;
        std::optional<TcpPeer> tcp;
        if (streamAnswersShort) tcp.emplace([](int, Conn& c) { c.send(Bytes{0xBF, 0x45}); }, at(kTimePort));
        UdpPeer udp = datagramTimeService([] { return rfc868(now() - 500); });
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
        EXPECT_NEAR(op.timeOffset, -500, 2);
        EXPECT_EQ(udp.received(), 1);
    }
}

TEST_F(DesOperation, LocalClockWhileNoTimeServiceAnswers) {
    // A stream service that answers too short, counted; no datagram service.
    TcpPeer tcp([](int, Conn& c) { c.send(Bytes{1}); }, at(kTimePort));
    const uint32_t before = now();
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_EQ(op.timeOffset, INT_MAX);
    EXPECT_GE(static_cast<uint32_t>(cred().lastSeconds), before);
    EXPECT_LE(static_cast<uint32_t>(cred().lastSeconds), now());
    // The next header asks again.
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_EQ(tcp.accepted(), 2);
}

// --- calls against the AUTH_DES server --------------------------------------

class DesCalls : public DesOperation {
  protected:
    static constexpr int32_t kServerClock = 3600;  // the server runs an hour ahead
    destest::Server server{kServerSecret, kServerClock};
    TcpPeer service{[this](int, Conn& c) {
        Bytes call;
        while (c.readRecord(call)) c.sendFragment(server.answer(call), true);
    }};
    TcpPeer timeService = streamTimeService([] { return rfc868(now() + kServerClock); });

    void SetUp() override {
        DesOperation::SetUp();
        ASSERT_TRUE(service.ok() && timeService.ok());
        server.addClient(kNetName, destest::publicKey(kClientSecret));
        op.tcpPort = service.port();
    }
    int call(uint32_t proc = 1) {
        const int rc = rpcPrepareRPCHeader(&op, proc);
        if (rc != 0) return 1000 + rc;
        InitDataBuffer(&op.request);
        return CallRPC(&op, 0);
    }
};

TEST_F(DesCalls, FullNameThenNicknameThenFullNameAfterAPortLookup) {
    ASSERT_EQ(call(), 0);
    uint32_t result = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &result), 0);
    EXPECT_EQ(result, 0x5EC0DEu);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_NICKNAME);
    EXPECT_EQ(op.auth->credLength, 8u);

    ASSERT_EQ(call(), 0);
    ASSERT_EQ(call(), 0);  // within the same second, most likely: later microseconds

    // The portmapper answers with the service's port; the look-up puts the
    // credential back into the full-name form.
    TcpPeer portmap([this](int, Conn& c) {
        Bytes q;
        if (c.readRecord(q)) c.sendFragment(successReply(wordAt(q, 0), words({service.port()})), true);
    }, at(kPortmapPort));
    ASSERT_TRUE(portmap.ok());
    ASSERT_EQ(GetProgramPort(&op, kProg, 1, 0), 0);
    EXPECT_EQ(op.tcpPort, service.port());
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
    ASSERT_EQ(call(), 0);
    ASSERT_EQ(call(), 0);

    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 5u);
    const uint32_t kinds[] = {0, 1, 1, 0, 1};
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].authStat, 0u);
        EXPECT_EQ(seen[i].kind, kinds[i]);
        EXPECT_NEAR(static_cast<double>(seen[i].seconds), now() + 3600.0, 3);
    }
    EXPECT_EQ(seen[0].netName, kNetName);
    EXPECT_EQ(seen[0].window, 60u);
    EXPECT_EQ(seen[1].nickname, cred().nickname - 1);  // the first session's
    EXPECT_EQ(seen[3].netName, kNetName);
    // A new session key after the look-up.
    EXPECT_NE(std::memcmp(seen[0].convKey, seen[3].convKey, 8), 0);
    EXPECT_EQ(seen[4].nickname, cred().nickname);
}

TEST_F(DesCalls, AVerifierThatFailsTheCheckFailsTheCall) {
    server.answerWrongVerifier(true);
    EXPECT_EQ(call(), -4);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
    EXPECT_EQ(op.auth->credLength, 40u);
    server.answerWrongVerifier(false);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_NICKNAME);
}

// Anyone who can answer the call can send a success with an AUTH_NULL
// verifier; only the server holding the conversation key can send the
// AUTH_DES one. A reply without it authenticates nobody: the call fails,
// the credential stays as it was and the results are not offered.
TEST_F(DesCalls, AForgedReplyWithoutTheServersVerifierFailsTheCall) {
    op.acceptStat = 77;
    server.forgeNullVerifier(true);
    EXPECT_EQ(call(), -98);
    EXPECT_EQ(op.acceptStat, 77u);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
    EXPECT_EQ(op.auth->credLength, 40u);

    server.forgeNullVerifier(false);
    ASSERT_EQ(call(), 0);
    const uint32_t nickname = cred().nickname;
    // Forged again once a nickname is in use: the nickname stays.
    server.forgeNullVerifier(true);
    EXPECT_EQ(call(), -98);
    EXPECT_EQ(cred().nickname, nickname);
    server.forgeNullVerifier(false);
    EXPECT_EQ(call(), 0);
}

TEST_F(DesCalls, TimestampsOnTheLocalClockAreRefusedByTheServer) {
    // An offset that does not match the server's clock: the server refuses
    // the credential (AUTH_ERROR, AUTH_REJECTEDVERF).
    op.timeOffset = 0;
    EXPECT_EQ(call(), -4);
    EXPECT_EQ(op.rejectStat, 1u);
    EXPECT_EQ(op.authStat, destest::Server::kRejectedVerf);
    op.timeOffset = RPC_TIME_OFFSET_UNKNOWN;  // learned from the time service
    EXPECT_EQ(call(), 0);
    EXPECT_NEAR(op.timeOffset, 3600, 2);
}

TEST_F(DesCalls, AnUnknownClientIsRefused) {
    char other[256];
    ASSERT_EQ(user2netname(other, 7, "example.co"), 1);
    qelrpc::flavor::release(op.auth);  // attaching never releases the old record
    ASSERT_EQ(rpcCreateAuthDES(&op, other, serverPublic.c_str(), kClientSecret), 1);
    EXPECT_EQ(call(), -4);
    EXPECT_EQ(op.authStat, destest::Server::kBadCred);
}

TEST_F(DesCalls, ManyCallsWithinASecondPassTheReplayCheck) {
    for (int i = 0; i < 20; ++i) ASSERT_EQ(call(), 0) << i;
    for (const auto& s : server.seen()) EXPECT_EQ(s.authStat, 0u);
}

// --- tshark's reading of the wire -------------------------------------------

std::string runAndRead(const std::vector<std::string>& args, std::chrono::milliseconds most) {
    testproc::Child child;
    if (!child.start(args)) return {};
    std::string all, line;
    const auto end = Clock::now() + most;
    // Until the output ends (or the bound): tshark takes a while to start.
    while (Clock::now() < end &&
           child.readLine(line, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())))
        all += line + "\n";
    return all;
}

TEST_F(DesCalls, TsharkDecodesCredentialAndVerifier) {
    const char* tshark = "/usr/bin/tshark";
    if (access(tshark, X_OK) != 0) QELRPC_SKIP_UNLESS_REQUIRED("tshark is not installed");
    const std::string pcap = (std::filesystem::temp_directory_path() /
                              ("qelrpc-authdes-" + std::to_string(getpid()) + ".pcap")).string();
    const std::string port = std::to_string(service.port());
    {
        testproc::Child capture;
        std::string line;
        ASSERT_TRUE(testproc::startLoopbackCapture(capture, tshark, "tcp port " + port, pcap, line)) << line;
        ASSERT_EQ(call(), 0);  // full name
        ASSERT_EQ(call(), 0);  // nickname
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        capture.stop();  // SIGTERM: the capture file is completed
    }
    const std::string fields = runAndRead(
        {tshark, "-r", pcap, "-o", "rpc.dissect_unknown_programs:TRUE", "-d", "tcp.port==" + port + ",rpc", "-Y",
         "rpc.msgtyp == 0", "-T", "fields", "-E", "separator=|", "-e", "rpc.auth.flavor", "-e",
         "rpc.authdes.namekind", "-e", "rpc.authdes.netname", "-e", "rpc.authdes.window", "-e",
         "rpc.authdes.nickname", "-e", "rpc.authdes.windowverf"},
        std::chrono::milliseconds(20'000));
    std::filesystem::remove(pcap);

    std::vector<std::vector<std::string>> rows;
    std::istringstream in(fields);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cols;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '|');) cols.push_back(cell);
        cols.resize(6);
        rows.push_back(cols);
    }
    ASSERT_EQ(rows.size(), 2u) << fields;
    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);

    // Full name: flavor AUTH_DES (3, also the verifier's), kind 0, the net
    // name, and the encrypted window the server decrypted to 60.
    EXPECT_EQ(rows[0][0].substr(0, 1), "3") << rows[0][0];
    EXPECT_EQ(rows[0][1], "0");
    EXPECT_EQ(rows[0][2], kNetName);
    EXPECT_EQ(std::stoul(rows[0][3], nullptr, 0), destest::word(seen[0].encWindow.data())) << rows[0][3];
    EXPECT_EQ(seen[0].window, 60u);
    EXPECT_FALSE(rows[0][5].empty());
    // Nickname: kind 1 and the nickname the server gave.
    EXPECT_EQ(rows[1][1], "1");
    EXPECT_EQ(std::stoul(rows[1][4], nullptr, 0), cred().nickname);
}

}  // namespace
#endif  // _WIN32
