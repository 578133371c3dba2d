// SPDX-License-Identifier: MIT
// Broadcast calls, only ever inside network namespaces this test creates:
// three answering hosts (qbs1..qbs3) and the caller (qbc) joined by a
// bridge, with addresses of the test's own and a route for the limited
// broadcast address in the caller's namespace. The whole test already runs
// in a network namespace of its own (tests/in_netns.sh).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "peer_skip.h"
#include "qelrpc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

void put(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}
uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

constexpr int kHosts = 3;
const char* const kCallerAddr = "198.18.77.1";

bool sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Builds the namespaces once per test program run.
bool buildLab() {
    static const bool ok = [] {
        bool good = sh("ip netns add qbc") && sh("ip -n qbc link set lo up") &&
                    sh("ip -n qbc link add br0 type bridge") && sh("ip -n qbc link set br0 up") &&
                    sh(std::string("ip -n qbc addr add ") + kCallerAddr + "/24 dev br0");
        for (int i = 1; good && i <= kHosts; ++i) {
            const std::string n = std::to_string(i), ns = "qbs" + n;
            good = sh("ip netns add " + ns) && sh("ip link add v" + n + " type veth peer name p" + n) &&
                   sh("ip link set v" + n + " netns qbc") && sh("ip link set p" + n + " netns " + ns) &&
                   sh("ip -n qbc link set v" + n + " master br0") && sh("ip -n qbc link set v" + n + " up") &&
                   sh("ip -n " + ns + " addr add 198.18.77." + std::to_string(10 + i) + "/24 dev p" + n) &&
                   sh("ip -n " + ns + " link set p" + n + " up") && sh("ip -n " + ns + " link set lo up");
        }
        return good && sh("ip -n qbc route add 255.255.255.255 dev br0");
    }();
    return ok;
}

// Runs f on a thread that has entered namespace `ns`.
std::thread inNamespace(const std::string& ns, std::function<void()> f) {
    return std::thread([ns, f = std::move(f)] {
        const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return;
        close(fd);
        f();
    });
}

// WrongXid: a good answer to another call. Junk: after the call, a stream of
// datagrams that are no good answer (another xid, scraps, PROG_UNAVAIL, a
// leading 0), one every 40 ms for as long as the host lives; JunkOwnXid the
// same without the answers to another xid.
enum class Answer { Good, LeadingZero, ProgUnavail, Silent, WrongXid, Junk, JunkOwnXid };

// An accepted reply to xid: accept status `accept`, then (for SUCCESS) the
// leading word and one value.
Bytes reply(uint32_t xid, uint32_t accept, uint32_t leading, uint32_t value) {
    Bytes r;
    put(r, xid);
    for (uint32_t w : {1u, 0u, 0u, 0u}) put(r, w);
    put(r, accept);
    if (accept == 0) {
        put(r, leading);
        put(r, value);
    }
    return r;
}

// A scripted server in host i's namespace: answers every call on `port`
// as told, for at most `life`.
struct Host {
    std::thread t;
    std::atomic<bool> ready{false}, stop{false};
    std::atomic<int> calls{0}, junkSent{0};
    void start(int i, uint16_t port, Answer a, std::chrono::milliseconds life = std::chrono::milliseconds(4000)) {
        t = inNamespace("qbs" + std::to_string(i), [this, i, port, a, life] {
            const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in me{};
            me.sin_family = AF_INET;
            me.sin_port = htons(port);
            if (::bind(s, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0) {
                ::close(s);
                return;
            }
            ready = true;
            const auto end = Clock::now() + life;
            while (!stop && Clock::now() < end) {
                pollfd p{s, POLLIN, 0};
                if (::poll(&p, 1, 20) != 1) continue;
                uint8_t buf[2048];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = ::recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n < 4) continue;
                ++calls;
                const uint32_t xid = word(buf);
                const uint32_t value = 100 + static_cast<uint32_t>(i);
                auto send = [&](const Bytes& r) {
                    ::sendto(s, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
                };
                switch (a) {
                    case Answer::Silent: break;
                    case Answer::Good: send(reply(xid, 0, 1, value)); break;
                    case Answer::LeadingZero: send(reply(xid, 0, 0, value)); break;
                    case Answer::ProgUnavail: send(reply(xid, 1, 0, 0)); break;
                    case Answer::WrongXid: send(reply(xid + 1, 0, 1, value)); break;
                    case Answer::Junk:
                    case Answer::JunkOwnXid: {
                        const Bytes junk[] = {Bytes{1, 2, 3}, reply(xid, 1, 0, 0), reply(xid, 0, 0, value),
                                              Bytes(64, 0xEE), reply(xid ^ 0x10000u, 0, 1, 900 + value)};
                        const int kinds = a == Answer::Junk ? 5 : 4;
                        for (int k = 0; !stop && Clock::now() < end; ++k) {
                            send(junk[k % kinds]);
                            ++junkSent;
                            std::this_thread::sleep_for(std::chrono::milliseconds(40));
                        }
                        break;
                    }
                }
            }
            ::close(s);
        });
        for (int k = 0; k < 200 && !ready; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~Host() {
        stop = true;
        if (t.joinable()) t.join();
    }
};

class Broadcast : public ::testing::Test {
  protected:
    static constexpr uint16_t kPort = 7111;
    Host hosts[kHosts];
    RpcOperation op{};

    void SetUp() override {
        if (!buildLab()) QELRPC_SKIP_UNLESS_REQUIRED("cannot build the test's network namespaces");
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu), 0);
        ASSERT_EQ(rpcCreateAuthNull(&op), 1);
        ASSERT_EQ(rpcPrepareRPCBroadcastHeader(&op, 0x20000F77, 1, 1, kPort), 0);
        InitDataBuffer(&op.request);
    }
    void TearDown() override { rpcCloseOperation(&op); }
    void startHosts(std::initializer_list<Answer> answers, uint16_t port = kPort,
                    std::chrono::milliseconds life = std::chrono::milliseconds(4000)) {
        int i = 0;
        for (Answer a : answers) {
            hosts[i].start(i + 1, port, a, life);
            ASSERT_TRUE(hosts[i].ready) << "host " << i + 1;
            ++i;
        }
    }
    // Runs f in the caller's namespace and waits for it.
    void asCaller(std::function<void()> f) { inNamespace("qbc", std::move(f)).join(); }
};

struct Seen {
    std::vector<uint32_t> senders;
    std::vector<uint32_t> values;
    int stopAfter = 0;  // 0: never stop
};

// The routine's value picks the record of what it saw.
Seen g_seen[4];
int collectIndexed(RpcSockAddrIn* sender, RpcOperation* op, int value) {
    Seen& s = g_seen[value];
    s.senders.push_back(ntohl(sender->addr));
    uint32_t v = 0;
    mbufGetLong(&op->reply.data, &v);
    s.values.push_back(v);
    return s.stopAfter != 0 && static_cast<int>(s.values.size()) >= s.stopAfter;
}

TEST_F(Broadcast, ThreeGoodAnswersReachTheRoutine) {
    startHosts({Answer::Good, Answer::Good, Answer::Good});
    g_seen[0] = Seen{};
    int rc = 0;
    const RpcTimeValue wait{0, 400000};
    const auto t0 = Clock::now();
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, &wait, 0); });
    const auto took = Clock::now() - t0;
    EXPECT_EQ(rc, -302);
    std::vector<uint32_t> senders = g_seen[0].senders, values = g_seen[0].values;
    std::sort(senders.begin(), senders.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<uint32_t>{101, 102, 103}));
    ASSERT_EQ(senders.size(), 3u);
    EXPECT_EQ(senders[0], 0xC6124D0Bu);  // 198.18.77.11
    EXPECT_GE(took, std::chrono::milliseconds(400));  // one full wait after the last answer
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(Broadcast, OnlyAnswersWithANonzeroLeadingWordCount) {
    startHosts({Answer::LeadingZero, Answer::ProgUnavail, Answer::Good});
    g_seen[1] = Seen{};
    int rc = 0;
    const RpcTimeValue wait{0, 300000};
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, &wait, 1); });
    EXPECT_EQ(rc, -302);
    EXPECT_EQ(g_seen[1].values, std::vector<uint32_t>{103});
    for (const Host& h : hosts) EXPECT_EQ(h.calls.load(), 1);  // one datagram, no retransmission
}

TEST_F(Broadcast, RoutineThatStopsAtTheFirstAnswer) {
    startHosts({Answer::Good, Answer::Good, Answer::Good});
    g_seen[2] = Seen{};
    g_seen[2].stopAfter = 1;
    int rc = 0;
    const auto t0 = Clock::now();
    // No timeout given: the 25-second default never has to run out.
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, nullptr, 2); });
    EXPECT_EQ(rc, -302);
    EXPECT_EQ(g_seen[2].values.size(), 1u);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(Broadcast, NoAnswerEndsAfterOneWait) {
    startHosts({Answer::Silent, Answer::Silent, Answer::Silent});
    g_seen[3] = Seen{};
    int rc = 0;
    const RpcTimeValue wait{0, 200000};
    const auto t0 = Clock::now();
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, &wait, 3); });
    EXPECT_EQ(rc, -302);
    EXPECT_TRUE(g_seen[3].values.empty());
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(200));
    for (const Host& h : hosts) EXPECT_EQ(h.calls.load(), 1);
}

TEST_F(Broadcast, StartAndReadNextPullAnswersFromThePortmapperPort) {
    startHosts({Answer::Good, Answer::ProgUnavail, Answer::Good}, 111);
    std::vector<uint32_t> values, senders;
    int starts = 0, last = 0, zeroWait = 0;
    asCaller([&] {
        starts = rpcBroadcastStart(&op);
        if (starts != 0) return;
        const RpcTimeValue wait{0, 500000};
        RpcSockAddrIn from{};
        while (rpcBroadcastReadNext(&op, &wait, &from) == 0) {
            uint32_t v = 0;
            mbufGetLong(&op.reply.data, &v);
            values.push_back(v);
            senders.push_back(ntohl(from.addr));
        }
        const RpcTimeValue none{0, 0};
        const auto t0 = Clock::now();
        zeroWait = rpcBroadcastReadNext(&op, &none, &from);
        last = Clock::now() - t0 < std::chrono::milliseconds(100) ? 1 : 0;
        ::close(static_cast<int>(op.sock));  // the caller closes the socket
    });
    ASSERT_EQ(starts, 0);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<uint32_t>{101, 103}));
    EXPECT_EQ(zeroWait, -302);
    EXPECT_EQ(last, 1);  // at once
}

// Only answers to this call count: a good-looking reply to another xid is
// someone else's (or forged) and never reaches the routine or the reader.
TEST_F(Broadcast, AnswerToAnotherXidIsDropped) {
    startHosts({Answer::WrongXid, Answer::Good, Answer::WrongXid});
    g_seen[0] = Seen{};
    int rc = 0;
    const RpcTimeValue wait{0, 300000};
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, &wait, 0); });
    EXPECT_EQ(rc, -302);
    EXPECT_EQ(g_seen[0].values, std::vector<uint32_t>{102});
}

TEST_F(Broadcast, ReadNextDropsAnswerToAnotherXid) {
    startHosts({Answer::WrongXid, Answer::WrongXid, Answer::WrongXid}, 111);
    int starts = -1, next = 0;
    asCaller([&] {
        starts = rpcBroadcastStart(&op);
        if (starts != 0) return;
        const RpcTimeValue wait{0, 300000};
        RpcSockAddrIn from{};
        next = rpcBroadcastReadNext(&op, &wait, &from);
        ::close(static_cast<int>(op.sock));
    });
    ASSERT_EQ(starts, 0);
    EXPECT_EQ(next, -302);
}

// A stream of datagrams that are no good answer must not keep a broadcast
// going: the wait runs from the start (and from each good answer), not from
// the last datagram. The junk host sends for 3 s; the wait is 400 ms.
TEST_F(Broadcast, JunkDoesNotProlongTheWait) {
    startHosts({Answer::Good, Answer::Junk}, kPort, std::chrono::milliseconds(3000));
    g_seen[1] = Seen{};
    int rc = 0;
    const RpcTimeValue wait{0, 400000};
    const auto t0 = Clock::now();
    asCaller([&] { rc = rpcBroadcastUDP(&op, collectIndexed, &wait, 1); });
    const auto took = Clock::now() - t0;
    EXPECT_EQ(rc, -302);
    EXPECT_EQ(g_seen[1].values, std::vector<uint32_t>{101});
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "junk datagrams kept the broadcast waiting";
    EXPECT_GE(hosts[1].junkSent.load(), 3) << "the junk host must have been sending";
}

TEST_F(Broadcast, JunkDoesNotProlongAReadNext) {
    startHosts({Answer::JunkOwnXid}, 111, std::chrono::milliseconds(3000));
    int starts = -1, next = 0;
    Clock::duration took{};
    asCaller([&] {
        starts = rpcBroadcastStart(&op);
        if (starts != 0) return;
        const RpcTimeValue wait{0, 400000};
        RpcSockAddrIn from{};
        const auto t0 = Clock::now();
        next = rpcBroadcastReadNext(&op, &wait, &from);
        took = Clock::now() - t0;
        ::close(static_cast<int>(op.sock));
    });
    ASSERT_EQ(starts, 0);
    EXPECT_EQ(next, -302);
    EXPECT_GE(took, std::chrono::milliseconds(400));
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << "junk datagrams kept the read waiting";
}

// An operation with a request block but no reply block can never read an
// answer: the broadcast is refused at once (-301, as read-next does) rather
// than finding the socket readable for ever. Run in a child process that a
// watchdog kills, so that a broadcast that spins fails the test instead of
// hanging it.
TEST_F(Broadcast, NoReplyBlockIsRefusedAtOnce) {
    startHosts({Answer::Good});
    Mbuf savedReply = op.reply;
    op.reply = Mbuf{};
    int rc = 0;
    bool finished = false;
    Clock::duration took{};
    asCaller([&] {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const auto t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const int r = rpcBroadcastUDP(&op, collectIndexed, nullptr, 0);
            (void)!::write(fds[1], &r, sizeof r);
            ::_exit(0);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            return;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 3000) == 1 && ::read(fds[0], &rc, sizeof rc) == sizeof rc) finished = true;
        took = Clock::now() - t0;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(fds[0]);
    });
    op.reply = savedReply;
    ASSERT_TRUE(finished) << "rpcBroadcastUDP without a reply block was still running after 3 s";
    EXPECT_EQ(rc, -301);
    EXPECT_LT(took, std::chrono::milliseconds(500));
}

TEST(BroadcastArguments, NullsAndAFailedStart) {
    const RpcTimeValue wait{0, 0};
    RpcSockAddrIn from;
    RpcOperation op{};
    EXPECT_EQ(rpcBroadcastUDP(nullptr, collectIndexed, &wait, 0), -300);
    EXPECT_EQ(rpcBroadcastUDP(&op, nullptr, &wait, 0), -300);
    EXPECT_EQ(rpcBroadcastStart(nullptr), -300);
    EXPECT_EQ(rpcBroadcastReadNext(nullptr, &wait, &from), -300);
    EXPECT_EQ(rpcBroadcastReadNext(&op, nullptr, &from), -300);
    EXPECT_EQ(rpcBroadcastReadNext(&op, &wait, nullptr), -300);

    // Nothing prepared to send: the start fails, releases and clears. The
    // socket field says "no socket", never 0 (a real descriptor: standard
    // input), so a later read-next or close cannot touch another file.
    ASSERT_EQ(rpcInitOperationEx(&op, "x", 0x0100007F), 0);
    ASSERT_EQ(rpcCreateAuthNull(&op), 1);
    EXPECT_EQ(rpcBroadcastStart(&op), -301);
    EXPECT_EQ(op.sock, RPC_INVALID_SOCKET);
    RpcOperation cleared;
    std::memset(&cleared, 0, sizeof cleared);
    cleared.sock = RPC_INVALID_SOCKET;
    EXPECT_EQ(0, std::memcmp(&op, &cleared, sizeof op));
    EXPECT_EQ(rpcBroadcastReadNext(&op, &wait, &from), -301);
}

}  // namespace

namespace {

// Debian's rpcbind in one host's namespace answers a broadcast portmapper
// GETPORT on its port 111: the real peer of the start / read-next style.
TEST_F(Broadcast, RpcbindAnswersABroadcastGetport) {
    if (access("/usr/sbin/rpcbind", X_OK) != 0) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind is not installed");
    // rpcbind stays in the foreground (-f); it is ended by its PID on every
    // path out of the test. Its output must not hold the test's own.
    const std::string pidFile = "/run/qbs2-rpcbind.pid";
    struct StopByPid {
        std::string file;
        ~StopByPid() { sh("kill $(cat " + file + ")"); }
    } stopRpcbind{pidFile};
    ASSERT_TRUE(sh("ip netns exec qbs2 sh -c 'echo $$ > " + pidFile + "; exec /usr/sbin/rpcbind -f -w' </dev/null >/dev/null 2>&1 &"));
    // Wait (at most 5 seconds) for it to listen on 111 in its namespace.
    bool up = false;
    for (int i = 0; i < 500 && !up; ++i) {
        up = sh("ip netns exec qbs2 sh -c 'cat /proc/net/udp | grep -q \":006F \"'");
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(up);

    // PMAPPROC_GETPORT for the portmapper itself over UDP: the answer is 111.
    RpcOperation pm{};
    ASSERT_EQ(rpcInitOperationEx(&pm, nullptr, 0xFFFFFFFFu), 0);
    ASSERT_EQ(rpcCreateAuthNull(&pm), 1);
    ASSERT_EQ(rpcPrepareRPCBroadcastHeader(&pm, 100000, 2, 3, 111), 0);
    InitDataBuffer(&pm.request);
    for (int32_t w : {100000, 2, 17, 0}) ASSERT_EQ(mbufAddLong(&pm.request.data, w), 0);

    int starts = -1, next = -1, after = -1;
    uint32_t sender = 0;
    bool openAfterEnd = false;
    asCaller([&] {
        starts = rpcBroadcastStart(&pm);
        if (starts != 0) return;
        const RpcTimeValue wait{2, 0};
        RpcSockAddrIn from{};
        next = rpcBroadcastReadNext(&pm, &wait, &from);
        sender = ntohl(from.addr);
        const RpcTimeValue shortWait{0, 200000};
        after = rpcBroadcastReadNext(&pm, &shortWait, &from);
        // Still open after the last answer: the caller closes it.
        openAfterEnd = fcntl(static_cast<int>(pm.sock), F_GETFD) != -1;
        ::close(static_cast<int>(pm.sock));
    });
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(sender, 0xC6124D0Cu);  // 198.18.77.12, the host running rpcbind
    EXPECT_EQ(after, -302);
    EXPECT_TRUE(openAfterEnd);
    rpcCloseOperation(&pm);
}

}  // namespace
