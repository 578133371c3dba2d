// The command-line tool against real peers in the test's own network
// namespace: Debian's rpcbind, the reference daemon (PCNFSD and Qelnfsd on
// the library's server side, TCP) and the libtirpc daemons (both
// transports); broadcasts and the alternative server go to a second
// namespace reached over a veth pair (tests/alt_server.sh).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_run.h"
#include "dispatch_peers.h"
#include "peer_skip.h"

namespace {

clirun::Run cli(const std::vector<std::string>& args, const std::string& input = {}) {
    return clirun::run(QELRPC_CLI_PATH, args, input);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---------------------------------------------------------------------------
// rpcbind and the reference daemon, registered with it (TCP only).
// ---------------------------------------------------------------------------

class CliRefd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        rpcbind_ = new testproc::Child;
        refd_ = new testproc::Child;
        if (!nfspeers::startRpcbind(*rpcbind_)) return;
        port_ = nfspeers::startRefDaemon(*refd_);
    }
    static void TearDownTestSuite() {
        delete refd_;  // stops it by its PID; it unregisters first
        delete rpcbind_;
        refd_ = rpcbind_ = nullptr;
    }
    void SetUp() override {
        if (port_ == 0) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind or the reference daemon did not start");
    }
    static inline testproc::Child* rpcbind_ = nullptr;
    static inline testproc::Child* refd_ = nullptr;
    static inline uint16_t port_ = 0;
};

TEST_F(CliRefd, GetportPlainAndJson) {
    auto r = cli({"getport", "127.0.0.1", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "127.0.0.1 pcnfsd (150001) version 2: tcp port " + std::to_string(port_) + "\n");

    r = cli({"getport", "127.0.0.1", "0x2F00DBAD", "1", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"command\":\"getport\",\"ok\":true,\"host\":\"127.0.0.1\",\"address\":\"127.0.0.1\","
                     "\"program\":788585389,\"program_name\":\"qelnfsd\",\"version\":1,\"tcp_port\":" +
                         std::to_string(port_) + ",\"udp_port\":null}\n");

    r = cli({"getport", "localhost", "portmapper", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "localhost portmapper (100000) version 2: tcp port 111, udp port 111\n");
}

TEST_F(CliRefd, GetportFailuresNameTheStatus) {
    // The reference daemon is registered for TCP only.
    auto r = cli({"getport", "-u", "127.0.0.1", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "status 1208 (port look-up): the program and version are not registered")) << r.err;

    r = cli({"getport", "127.0.0.1", "0x20000F99", "1", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.out, "\"ok\":false")) << r.out;
    EXPECT_TRUE(has(r.out, "\"status\":1208,\"status_family\":\"port look-up\"")) << r.out;
}

TEST_F(CliRefd, PingOverTcpAndTheTimeItTook) {
    auto r = cli({"ping", "-t", "127.0.0.1", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "127.0.0.1 pcnfsd (150001) version 2 over TCP port " + std::to_string(port_) +
                               ": answered in "))
        << r.out;
    EXPECT_TRUE(has(r.out, " ms\n")) << r.out;

    r = cli({"ping", "-c", "3", "127.0.0.1", "qelnfsd", "1", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "\"ok\":true")) << r.out;
    EXPECT_TRUE(has(r.out, "\"transport\":\"tcp\",\"port\":" + std::to_string(port_))) << r.out;
    size_t calls = 0;
    for (size_t at = r.out.find("{\"status\":0,\"milliseconds\":"); at != std::string::npos;
         at = r.out.find("{\"status\":0,\"milliseconds\":", at + 1))
        ++calls;
    EXPECT_EQ(calls, 3u) << r.out;

    // Only TCP is registered: a UDP ping is refused before any call.
    r = cli({"ping", "-u", "127.0.0.1", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "not registered for UDP: status 1208")) << r.err;
}

TEST_F(CliRefd, PingThePortmapperOverBothTransports) {
    for (const char* t : {"-t", "-u"}) {
        SCOPED_TRACE(t);
        const auto r = cli({"ping", t, "127.0.0.1", "portmapper", "2"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(has(r.out, std::string("over ") + (t[1] == 't' ? "TCP" : "UDP") + " port 111: answered in "))
            << r.out;
    }
    // rpcbind speaks versions 2 to 4: version 5 is PROG_MISMATCH, from the reply check.
    const auto r = cli({"ping", "-u", "127.0.0.1", "portmapper", "5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "status -6 (call): program version not supported by the server (PROG_MISMATCH)"))
        << r.err;
}

TEST_F(CliRefd, IdsAndNamesThroughPcnfsd) {
    auto r = cli({"uid2name", "127.0.0.1", "1001", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "uid 1001     alice\n")) << r.out;
    EXPECT_TRUE(has(r.out, "uid 0        root\n")) << r.out;
    EXPECT_TRUE(has(r.out, "answered by PCNFSD version 2 at 127.0.0.1\n")) << r.out;

    r = cli({"name2gid", "127.0.0.1", "staff", "users", "no-such-group", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"command\":\"name2gid\",\"ok\":true,\"host\":\"127.0.0.1\",\"service\":\"pcnfsd\","
                     "\"results\":[{\"name\":\"staff\",\"gid\":1000},{\"name\":\"users\",\"gid\":100},"
                     "{\"name\":\"no-such-group\",\"gid\":null}]}\n");

    r = cli({"name2uid", "127.0.0.1", "bob", "alice"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "bob              uid 1002\nalice            uid 1001\n")) << r.out;

    r = cli({"gid2name", "127.0.0.1", "27", "1000", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "[{\"gid\":27,\"name\":\"sudo\"},{\"gid\":1000,\"name\":\"staff\"}]")) << r.out;
}

TEST_F(CliRefd, AuthorizeSucceedsAndFails) {
    // Order ca: PCNFSD first.
    auto r = cli({"authorize", "127.0.0.1", "alice"}, "wonderland\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "alice: authorised by PCNFSD at 127.0.0.1: uid 1001, gid 100, groups 27 1000\n");
    EXPECT_FALSE(has(r.out + r.err, "wonderland"));

    r = cli({"authorize", "127.0.0.1", "bob", "--order", "a", "--json"}, "builder");  // no newline at the end
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_EQ(r.out, "{\"command\":\"authorize\",\"ok\":true,\"user\":\"bob\",\"daemon\":\"qelnfsd\","
                     "\"server\":\"127.0.0.1\",\"via_alt_server\":false,\"uid\":1002,\"gid\":100,\"groups\":[]}\n");

    r = cli({"authorize", "127.0.0.1", "alice"}, "not-her-password\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "alice at 127.0.0.1: not authorised (asked PCNFSD at 127.0.0.1): status 5 "
                           "(authorisation): PCNFSD refused"))
        << r.err;

    r = cli({"authorize", "127.0.0.1", "alice", "--order", "A"}, "wrong\r\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "status 1317 (authorisation): Qelnfsd refused")) << r.err;

    // b and d need an alternative server: nothing to ask.
    r = cli({"authorize", "127.0.0.1", "alice", "--order", "bd", "--json"}, "wonderland\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.out, "\"status\":1311,")) << r.out;
}

// ---------------------------------------------------------------------------
// The libtirpc daemons: both transports, and Qelnfsd answering names when
// PCNFSD is not registered.
// ---------------------------------------------------------------------------

class CliTirpc : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!nfspeers::startRpcbind(rpcbind_)) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind did not start");
    }
    testproc::Child rpcbind_;
    dispatchpeers::Server server_;
};

TEST_F(CliTirpc, PingAndGetportOverBothTransports) {
    ASSERT_TRUE(server_.serve(true, true));
    const auto ports = server_.ports();
    auto r = cli({"getport", "127.0.0.1", "pcnfsd", "2", "-u"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "127.0.0.1 pcnfsd (150001) version 2: udp port " + std::to_string(ports.udp) + "\n");
    for (const char* t : {"-t", "-u"}) {
        SCOPED_TRACE(t);
        r = cli({"ping", t, "127.0.0.1", "pcnfsd", "2"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const bool tcp = t[1] == 't';
        EXPECT_TRUE(has(r.out, std::string(tcp ? "over TCP port " : "over UDP port ") +
                                   std::to_string(tcp ? ports.tcp : ports.udp) + ": answered in "))
            << r.out;
    }
    r = cli({"authorize", "127.0.0.1", "alice", "--order", "c"}, "wonderland\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "alice: authorised by PCNFSD at 127.0.0.1: uid 1001, gid 100, groups 27 1000\n");
}

TEST_F(CliTirpc, NamesThroughQelnfsdWhenPcnfsdIsNotRegistered) {
    ASSERT_TRUE(server_.serve(false, true));
    auto r = cli({"uid2name", "127.0.0.1", "1002", "1001", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"command\":\"uid2name\",\"ok\":true,\"host\":\"127.0.0.1\",\"service\":\"qelnfsd\","
                     "\"results\":[{\"uid\":1002,\"name\":\"bob\"},{\"uid\":1001,\"name\":\"alice\"}]}\n");
    r = cli({"name2gid", "127.0.0.1", "wheel"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "wheel            gid 0\nanswered by Qelnfsd version 1 at 127.0.0.1\n");
}

TEST_F(CliTirpc, NoNameServiceAtAll) {
    ASSERT_TRUE(server_.serve(false, false));
    const auto r = cli({"uid2name", "127.0.0.1", "1001"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "127.0.0.1: choosing the name service: status -1 (name service): no name service answers"))
        << r.err;
}

// Nothing listens on port 111: the look-up's nested status, spelled out.
TEST(CliNoPortmapper, NestedStatusIsSpelledOut) {
    if (portprobe::answers(111)) QELRPC_SKIP_UNLESS_REQUIRED("a portmapper answers in this namespace");
    const auto r = cli({"getport", "127.0.0.1", "pcnfsd", "2", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"command\":\"getport\",\"ok\":false,\"error\":\"127.0.0.1 pcnfsd (150001) version 2\","
                     "\"status\":210061,\"status_family\":\"port look-up\",\"status_text\":\"the portmapper's "
                     "TCP-port question failed: connection refused: nothing listens on that port "
                     "(WSAECONNREFUSED)\"}\n");
}

// ---------------------------------------------------------------------------
// A second server behind a veth pair: broadcasts, and the alternative
// server of an authorisation.
// ---------------------------------------------------------------------------

class CliTwoServers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        alt_ = new dispatchpeers::AltNamespace;
        ready_ = alt_->start() && alt_->server().serve(true, true) &&
                 dispatchpeers::run({"/usr/sbin/ip", "route", "add", "255.255.255.255", "dev", "qelalt0"});
    }
    static void TearDownTestSuite() {
        if (alt_) alt_->server().stop();
        delete alt_;
        alt_ = nullptr;
    }
    void SetUp() override {
        if (!ready_) QELRPC_SKIP_UNLESS_REQUIRED("the second namespace could not be built");
    }
    static inline dispatchpeers::AltNamespace* alt_ = nullptr;
    static inline bool ready_ = false;
};

TEST_F(CliTwoServers, BroadcastHearsTheHostThatKnowsTheProgram) {
    const auto udp = std::to_string(alt_->server().ports().udp);
    auto r = cli({"broadcast", "-w", "1.5", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Asking every portmapper for pcnfsd (150001) version 2 (UDP), answers for 1.5 s:\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "  10.213.0.2      udp port " + udp + "\n")) << r.out;

    r = cli({"broadcast", "-w", "1", "--json", "qelnfsd", "1", "-t"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "{\"command\":\"broadcast\",\"ok\":true,\"address\":\"10.213.0.2\",\"program\":788585389,"
                           "\"program_name\":\"qelnfsd\",\"version\":1,\"protocol\":\"tcp\",\"port\":" +
                               std::to_string(alt_->server().ports().tcp) + "}\n"))
        << r.out;

    // Nobody knows this program: the portmappers answer 0 and are not heard.
    r = cli({"broadcast", "-w", "0.5", "0x20000F99", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "no portmapper knows it: status -302 (broadcast)")) << r.err;
}

TEST_F(CliTwoServers, AuthorizeAtTheAlternativeServer) {
    // This namespace has no portmapper: order "ca" with the alternative
    // server set means d then b, both at 10.213.0.2.
    const auto r = cli({"authorize", "127.0.0.1", "alice", "--alt", dispatchpeers::AltNamespace::kAddress, "--json"},
                       "wonderland\n");
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_EQ(r.out, "{\"command\":\"authorize\",\"ok\":true,\"user\":\"alice\",\"daemon\":\"pcnfsd\","
                     "\"server\":\"10.213.0.2\",\"via_alt_server\":true,\"uid\":1001,\"gid\":100,"
                     "\"groups\":[27,1000]}\n");
}

}  // namespace
