// SPDX-License-Identifier: MIT
// Reserved source ports (rpcSetReservedPort), through the exported
// interface only: this file is also built against the shared library
// (QELRPC_SHARED_LIBRARY_TESTS). A scripted peer on 127.0.0.1 answers null
// calls over TCP and UDP and records the source port of every call it
// receives. Each test runs in a network namespace of its own
// (tests/in_netns.sh): the reserved ports 512..1023 are the test's alone,
// and the test may fill them all. The real peer is NFS-Ganesha with its
// export's PrivilegedPort check on.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "gss/realm.h"
#include "peer_calls.h"
#include "peer_skip.h"
#include "qelrpc.h"

namespace {

constexpr int kAccessDenied = 10013;  // WSAEACCES
constexpr int kAddressInUse = 10048;  // WSAEADDRINUSE

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

uint16_t localPort(int s) {
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return 0;
    return ntohs(sin.sin_port);
}

int boundSocket(int type, uint16_t port, bool listening = false) {
    const int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = port == 0 ? loopback() : htonl(INADDR_ANY);
    sin.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || (listening && listen(s, 64) != 0)) {
        close(s);
        return -1;
    }
    return s;
}

uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// An accepted reply with no results (xid, REPLY, MSG_ACCEPTED, AUTH_NULL
// verifier, SUCCESS): 24 bytes.
void successReply(uint8_t* b, uint32_t xid) {
    const uint32_t w[6] = {xid, 1, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 4; ++j) b[4 * i + j] = static_cast<uint8_t>(w[i] >> (24 - 8 * j));
}

// Answers null calls on one TCP listener and one UDP socket, one thread,
// every wait bounded; records each call's source port (a TCP connection's
// port once per call on it). The destructor joins.
class PortReportingPeer {
  public:
    PortReportingPeer() {
        listener_ = boundSocket(SOCK_STREAM, 0, true);
        udp_ = boundSocket(SOCK_DGRAM, 0);
        if (listener_ < 0 || udp_ < 0) return;
        tcpPort = localPort(listener_);
        udpPort = localPort(udp_);
        thread_ = std::thread([this] { run(); });
    }
    ~PortReportingPeer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (int c : conns_) close(c);
        if (listener_ >= 0) close(listener_);
        if (udp_ >= 0) close(udp_);
    }
    std::vector<uint16_t> ports() {
        std::lock_guard lock(m_);
        return ports_;
    }
    int accepted() const { return accepted_; }

    uint16_t tcpPort = 0, udpPort = 0;

  private:
    void record(uint16_t port) {
        std::lock_guard lock(m_);
        ports_.push_back(port);
    }
    void run() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            std::vector<pollfd> p{{listener_, POLLIN, 0}, {udp_, POLLIN, 0}};
            for (int c : conns_) p.push_back({c, POLLIN, 0});
            if (poll(p.data(), p.size(), 10) <= 0) continue;
            if (p[0].revents & POLLIN) {
                const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    ++accepted_;
                    conns_.push_back(c);
                }
            }
            if (p[1].revents & POLLIN) answerDatagram();
            for (size_t i = 2; i < p.size(); ++i)
                if (p[i].revents & (POLLIN | POLLHUP | POLLERR)) answerRecord(p[i].fd);
            std::erase(conns_, -1);
        }
    }
    void answerDatagram() {
        uint8_t buf[2048];
        sockaddr_in from{};
        socklen_t fl = sizeof from;
        const ssize_t n = recvfrom(udp_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
        if (n < 4) return;
        record(ntohs(from.sin_port));
        uint8_t r[24];
        successReply(r, word(buf));
        sendto(udp_, r, sizeof r, 0, reinterpret_cast<sockaddr*>(&from), fl);
    }
    // The client's calls are small: one recv holds the whole record (a
    // single last fragment); a close or anything else ends the connection.
    void answerRecord(int c) {
        uint8_t buf[4096];
        const ssize_t n = recv(c, buf, sizeof buf, 0);
        sockaddr_in from{};
        socklen_t fl = sizeof from;
        if (n < 8 || getpeername(c, reinterpret_cast<sockaddr*>(&from), &fl) != 0) {
            close(c);
            std::replace(conns_.begin(), conns_.end(), c, -1);
            return;
        }
        record(ntohs(from.sin_port));
        uint8_t r[28] = {0x80, 0, 0, 24};
        successReply(r + 4, word(buf + 4));
        send(c, r, sizeof r, MSG_NOSIGNAL);
    }

    int listener_ = -1, udp_ = -1;
    std::vector<int> conns_;
    std::atomic<int> accepted_{0};
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::vector<uint16_t> ports_;
    std::thread thread_;
};

bool reserved(uint16_t port) { return port >= 512 && port <= 1023; }

class Reserved : public ::testing::Test {
  protected:
    RpcOperation op{};
    PortReportingPeer peer;
    void SetUp() override {
        ASSERT_NE(peer.tcpPort, 0);
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, loopback()), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        op.prog = 0x20000F03;
        op.vers = 1;
    }
    void TearDown() override { rpcCloseOperation(&op); }
    // Calls over one transport: the other port stays 0.
    int nullOver(bool tcp) {
        op.tcpPort = tcp ? peer.tcpPort : 0;
        op.udpPort = tcp ? 0 : peer.udpPort;
        return peercalls::null(op);
    }
};

TEST_F(Reserved, TheSwitchSetsAndClearsItsFlagOnly) {
    EXPECT_EQ(rpcSetReservedPort(nullptr, 1), 1208);
    EXPECT_EQ(rpcSetReservedPort(nullptr, 0), 1208);
    op.flags = RPC_OP_FLAG_ASYNC;
    ASSERT_EQ(rpcSetReservedPort(&op, 7), 0);
    EXPECT_EQ(op.flags, RPC_OP_FLAG_ASYNC | RPC_OP_FLAG_RESERVED_PORT);
    ASSERT_EQ(rpcSetReservedPort(&op, 0), 0);
    EXPECT_EQ(op.flags, RPC_OP_FLAG_ASYNC);
    op.flags = 0;
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    rpcCloseOperation(&op);
    ASSERT_EQ(rpcInitOperation(&op), 0);
    EXPECT_EQ(op.flags, 0u) << "init clears it with the other flags";
}

TEST_F(Reserved, TheSourcePortIsReservedWhenAskedAndEphemeralOtherwise) {
    struct Case {
        const char* what;
        bool tcp;
        bool ask;
    } const cases[] = {
        {"TCP, not asked", true, false},
        {"TCP, asked", true, true},
        {"UDP, not asked", false, false},
        {"UDP, asked", false, true},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(rpcSetReservedPort(&op, c.ask ? 1 : 0), 0);
        // Three calls each: every one a new socket, each with its own port.
        for (int i = 0; i < 3; ++i) ASSERT_EQ(nullOver(c.tcp), 0);
        const std::vector<uint16_t> ports = peer.ports();
        ASSERT_EQ(ports.size(), seen + 3);
        for (size_t i = seen; i < ports.size(); ++i) {
            if (c.ask) {
                EXPECT_TRUE(reserved(ports[i])) << ports[i];
            } else {
                EXPECT_GE(ports[i], 1024) << ports[i];
            }
        }
        seen = ports.size();
    }
}

TEST_F(Reserved, AKeptConnectionIsReusedAsItIsAndTheSettingAppliesToTheNextNewOne) {
    ASSERT_EQ(rpcSetKeepConnection(&op, 1), 0);
    ASSERT_EQ(nullOver(true), 0);
    const uint16_t ephemeral = localPort(static_cast<int>(op.sock));
    EXPECT_GE(ephemeral, 1024);
    // Asked now: the kept connection goes on from its ephemeral port.
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    ASSERT_EQ(nullOver(true), 0);
    EXPECT_EQ(localPort(static_cast<int>(op.sock)), ephemeral);
    EXPECT_EQ(peer.accepted(), 1);
    // A new socket (UDP replaces the kept connection) takes a reserved port,
    // and keeps it from call to call.
    ASSERT_EQ(nullOver(false), 0);
    const uint16_t udpSource = localPort(static_cast<int>(op.sock));
    EXPECT_TRUE(reserved(udpSource)) << udpSource;
    ASSERT_EQ(nullOver(false), 0);
    EXPECT_EQ(localPort(static_cast<int>(op.sock)), udpSource);
    const std::vector<uint16_t> ports = peer.ports();
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0], ephemeral);
    EXPECT_EQ(ports[1], ephemeral);
    EXPECT_EQ(ports[2], udpSource);
    EXPECT_EQ(ports[3], udpSource);
}

TEST_F(Reserved, MoreConnectionsThanReservedPortsOneAfterAnother) {
    // Each connection closed by this side leaves its port in TIME_WAIT for a
    // minute; 600 calls in a row need ports that such leftovers still hold.
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    constexpr int kCalls = 600;
    for (int i = 0; i < kCalls; ++i) ASSERT_EQ(nullOver(true), 0) << "call " << i;
    const std::vector<uint16_t> ports = peer.ports();
    ASSERT_EQ(ports.size(), static_cast<size_t>(kCalls));
    for (uint16_t p : ports) ASSERT_TRUE(reserved(p)) << p;
}

// Every reserved port taken by the test (UDP: bound; TCP: listening, which
// a client's bind may not share): the call fails with WSAEADDRINUSE after
// trying each, and the peer receives nothing.
TEST_F(Reserved, AllPortsBusyIsAddressInUseAndNothingIsSent) {
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_cur < 1200 && lim.rlim_max >= 1200) {
        lim.rlim_cur = 1200;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }
    ASSERT_GE(lim.rlim_cur, 1200u);
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    for (bool tcp : {true, false}) {
        SCOPED_TRACE(tcp ? "TCP" : "UDP");
        std::vector<int> held;
        for (uint16_t port = 512; port <= 1023; ++port) {
            const int s = boundSocket(tcp ? SOCK_STREAM : SOCK_DGRAM, port, tcp);
            if (s >= 0) held.push_back(s);
        }
        EXPECT_EQ(held.size(), 512u);
        const size_t before = peer.ports().size();
        EXPECT_EQ(nullOver(tcp), kAddressInUse);
        EXPECT_EQ(peer.ports().size(), before);
        // One port set free: the next call finds it, wherever its search starts.
        close(held.back());
        held.pop_back();
        EXPECT_EQ(nullOver(tcp), 0);
        const std::vector<uint16_t> ports = peer.ports();
        ASSERT_EQ(ports.size(), before + 1);
        EXPECT_EQ(ports.back(), 1023);
        for (int s : held) close(s);
    }
    EXPECT_EQ(peer.accepted(), 1);
}

// The call runs in a child process whose capabilities lack
// CAP_NET_BIND_SERVICE (root without it may not bind ports below the
// namespace's ip_unprivileged_port_start): the exchange answers WSAEACCES
// and sends nothing, never falling back to an ephemeral port.
int callWithoutBindCapability(RpcOperation& op) {
    const pid_t pid = fork();
    if (pid < 0) return -1000;
    if (pid == 0) {
        __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &hdr, data) != 0) _exit(101);
        const unsigned bit = CAP_NET_BIND_SERVICE;
        data[bit / 32].effective &= ~(1u << (bit % 32));
        data[bit / 32].permitted &= ~(1u << (bit % 32));
        data[bit / 32].inheritable &= ~(1u << (bit % 32));
        if (syscall(SYS_capset, &hdr, data) != 0) _exit(102);
        const int rc = peercalls::null(op);
        // The status as the exit code: 10013 -> 1, 0 -> 0, else 100.
        _exit(rc == kAccessDenied ? 1 : rc == 0 ? 0 : 100);
    }
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1001;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1002;
}

TEST_F(Reserved, WithoutThePrivilegeItIsAccessDeniedAndNothingIsSent) {
    int unprivilegedStart = 1024;
    std::ifstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") >> unprivilegedStart;
    ASSERT_GT(unprivilegedStart, 1023) << "this namespace lets anyone bind reserved ports";
    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    for (bool tcp : {true, false}) {
        SCOPED_TRACE(tcp ? "TCP" : "UDP");
        op.tcpPort = tcp ? peer.tcpPort : 0;
        op.udpPort = tcp ? 0 : peer.udpPort;
        EXPECT_EQ(callWithoutBindCapability(op), 1) << "exit 1 is WSAEACCES";
        // The same child without asking: it may call (the check is the
        // capability, nothing else).
        ASSERT_EQ(rpcSetReservedPort(&op, 0), 0);
        EXPECT_EQ(callWithoutBindCapability(op), 0);
        ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    }
    // Only the two calls that did not ask reached the peer, from ephemeral ports.
    const std::vector<uint16_t> ports = peer.ports();
    ASSERT_EQ(ports.size(), 2u);
    for (uint16_t p : ports) EXPECT_GE(p, 1024);
    EXPECT_EQ(peer.accepted(), 1);
}

// ---------------------------------------------------------------------------
// NFS-Ganesha with PrivilegedPort = true on its export (its realm only
// because its configuration names a keytab): AUTH_UNIX NFS version 3
// GETATTR of the export's root from an ordinary port is refused, the same
// call from a reserved port answered.
constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kMountProgram = 100005;
constexpr uint32_t kV3 = 3;
constexpr uint32_t kAuthTooWeak = 5;

class ReservedGanesha : public ::testing::Test {
  protected:
    gsspeers::Realm realm;
    gsspeers::Ganesha ganesha;
    RpcOperation op{};
    std::vector<uint8_t> root;

    void SetUp() override {
        if (!realm.start()) QELRPC_SKIP_UNLESS_REQUIRED(realm.why());
        if (!ganesha.start(realm, true)) QELRPC_SKIP_UNLESS_REQUIRED(ganesha.why());
        ASSERT_EQ(rpcInitOperationEx(&op, "localhost", loopback()), 0);
        ASSERT_EQ(rpcCreateAuthUnix(&op, "localhost", 0, 0), 1);
        // MNT is checked against the export too: from a reserved port.
        ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
        int rc = -1;
        // Ganesha registers MOUNT a moment after NFS answers.
        for (int i = 0; i < 50 && (rc = GetProgramPort(&op, kMountProgram, kV3, 0)) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 1 /* MNT */), 0);
        InitDataBuffer(&op.request);
        ASSERT_EQ(mbufAddString(&op.request.data, ganesha.exportDir().c_str()), 0);
        ASSERT_EQ(CallRPC(&op, 0), 0);
        uint32_t status = 1, n = 0;
        ASSERT_EQ(mbufGetLong(&op.reply.data, &status), 0);
        ASSERT_EQ(status, 0u) << "MNT refused";
        ASSERT_EQ(mbufGetLong(&op.reply.data, &n), 0);
        ASSERT_TRUE(n <= 64 && n <= op.reply.data.count);
        root.assign(op.reply.data.pos, op.reply.data.pos + n);
        op.prog = kNfsProgram;
        op.vers = kV3;
        op.tcpPort = gsspeers::kNfsPort;
        op.udpPort = 0;
    }
    void TearDown() override { rpcCloseOperation(&op); }

    // GETATTR (procedure 1) of the root; CallRPC's status, the NFS status in
    // nfsStatus when the call succeeded.
    int getattr(uint32_t& nfsStatus) {
        if (rpcPrepareRPCHeader(&op, 1) != 0) return 1000;
        InitDataBuffer(&op.request);
        if (mbufAddStringEx(&op.request.data, reinterpret_cast<const char*>(root.data()),
                            static_cast<uint32_t>(root.size())) != 0)
            return 1001;
        const int rc = CallRPC(&op, 0);
        if (rc == 0 && mbufGetLong(&op.reply.data, &nfsStatus) != 0) return 1002;
        return rc;
    }
};

TEST_F(ReservedGanesha, GetattrFromAnOrdinaryPortIsRefusedAndFromAReservedOneAnswered) {
    uint32_t nfsStatus = 99;
    ASSERT_EQ(rpcSetReservedPort(&op, 0), 0);
    const int refused = getattr(nfsStatus);
    EXPECT_EQ(refused, -4) << "AUTH_ERROR expected";
    if (refused == -4) {
        EXPECT_EQ(op.authStat, kAuthTooWeak);
    }

    ASSERT_EQ(rpcSetReservedPort(&op, 1), 0);
    nfsStatus = 99;
    ASSERT_EQ(getattr(nfsStatus), 0);
    EXPECT_EQ(nfsStatus, 0u) << "NFS3_OK";
}

}  // namespace
