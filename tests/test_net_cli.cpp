// SPDX-License-Identifier: MIT
// The command-line tool against real peers in the test's own network
// namespace: Debian's rpcbind, the reference daemon (PCNFSD and Qelnfsd on
// the library's server side, TCP) and the libtirpc daemons (both
// transports), the null and echo peers (the null program has versions 1
// and 3), and scripted portmappers for tables real ones never send;
// broadcasts and the alternative server go to a second namespace reached
// over a veth pair (tests/alt_server.sh). The RPC program database is the
// test's own, bound over /etc/rpc in its private mount namespace.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_run.h"
#include "dispatch_peers.h"
#include "fake_peer.h"
#include "peer_skip.h"

namespace {

// The names the tool and rpcinfo read, the same on every machine. Qelnfsd's
// number is left out: the tool then shows its own name for it.
constexpr const char* kProgramDatabase =
    "portmapper\t100000\tportmap sunrpc rpcbind\n"
    "nfs\t\t100003\tnfsprog\n"
    "pcnfsd\t\t150001\n"
    "otherd\t\t788585389\n"  // the number under another name, as a stock database has it
    "qelpeer-null\t536874753\tnullpeer\n"
    "qelpeer-echo\t536874754\n";

class ProgramDatabase : public ::testing::Environment {
  public:
    void SetUp() override {
        char path[] = "/tmp/qelrpc-cli-rpc-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0) return;
        close(fd);
        std::ofstream(path) << kProgramDatabase;
        bound = ::mount(path, "/etc/rpc", nullptr, MS_BIND, nullptr) == 0;
        unlink(path);  // the mount keeps the file for as long as the namespace lives
    }
    static inline bool bound = false;
};
[[maybe_unused]] auto* const kDatabase = ::testing::AddGlobalTestEnvironment(new ProgramDatabase);

void requireDatabase() {
    if (!ProgramDatabase::bound) QELRPC_SKIP_UNLESS_REQUIRED("the test's /etc/rpc could not be bound (no /etc/rpc?)");
}

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

// rpcbind answers GETPORT for pcnfsd 3 with version 2's port: the table
// says version 3 is not there.
TEST_F(CliRefd, GetportOfAnUnregisteredVersionIsNotRegistered) {
    for (const char* t : {"", "-t"}) {
        SCOPED_TRACE(t);
        std::vector<std::string> args{"getport", "127.0.0.1", "pcnfsd", "3"};
        if (*t) args.push_back(t);
        const auto r = cli(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(has(r.err, "pcnfsd (150001) version 3: not registered")) << r.err;
        EXPECT_TRUE(has(r.err, "status 1208 (port look-up)")) << r.err;
    }
    const auto r = cli({"getport", "127.0.0.1", "pcnfsd", "3", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.out, "\"ok\":false")) << r.out;
    EXPECT_TRUE(has(r.out, "\"status\":1208,")) << r.out;
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

// An id nobody knows reads the same both ways: "(unknown)" and null, for
// uids across the whole unsigned range, as name2uid shows an unknown name.
TEST_F(CliRefd, UnknownIdsAndNamesShowAlike) {
    auto r = cli({"uid2name", "127.0.0.1", "0", "4242", "4294967295", "2147483648"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "uid 0        root\nuid 4242     (unknown)\nuid 4294967295 (unknown)\n"
                     "uid 2147483648 (unknown)\nanswered by PCNFSD version 2 at 127.0.0.1\n");
    r = cli({"gid2name", "127.0.0.1", "4242", "100", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"command\":\"gid2name\",\"ok\":true,\"host\":\"127.0.0.1\",\"service\":\"pcnfsd\","
                     "\"results\":[{\"gid\":4242,\"name\":null},{\"gid\":100,\"name\":\"users\"}]}\n");
    r = cli({"name2uid", "127.0.0.1", "nobody-here", "alice"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "nobody-here      (unknown)\nalice            uid 1001\n")) << r.out;
    // Qelnfsd leaves an unknown id's name empty where PCNFSD sends its number.
    r = cli({"uid2name", "127.0.0.1", "4242", "1001", "--json"}, "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "{\"uid\":4242,\"name\":null}")) << r.out;
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

// --trace: the authorisation's call and reply decoded on standard error,
// the password by its length only, never its bytes (clear, scrambled, or
// as hex); standard output and the outcome exactly as without it.
TEST_F(CliRefd, TraceOfAnAuthorisationMasksThePassword) {
    const std::string password = "wonderland";
    std::string pcnfsdForm;  // each byte ^ 0x5B & 0x7F
    for (char c : password) pcnfsdForm.push_back(static_cast<char>((static_cast<uint8_t>(c) ^ 0x5B) & 0x7F));
    std::string qelnfsdForm;  // the chained form of "\0\0alice\0wonderland\0", the password's part
    {
        std::string block = std::string(2, '\0') + "alice" + '\0' + password + '\0';
        uint8_t running = 0xFF;
        for (char& c : block) running = static_cast<uint8_t>(c = static_cast<char>(static_cast<uint8_t>(c) ^ running));
        qelnfsdForm = block.substr(8, password.size());
    }
    auto hexOf = [](const std::string& bytes) {
        std::string h;
        char x[4];
        for (char c : bytes) {
            std::snprintf(x, sizeof x, "%02x ", static_cast<uint8_t>(c));
            h += x;
        }
        return h.substr(0, h.empty() ? 0 : h.size() - 1);
    };
    struct Case {
        const char* order;
        const char* proc;      // the trace's heading
        const char* masked;    // the password's line
    };
    for (const Case& c : {Case{"c", "PCNFSD AUTH", "    password     10 bytes (masked)\n"},
                          Case{"a", "Qelnfsd AUTHORIZE", "user \"alice\", password 10 bytes (masked)\n"}}) {
        for (const char* json : {"", "--json"}) {
            SCOPED_TRACE(std::string(c.order) + " " + json);
            std::vector<std::string> args{"authorize", "127.0.0.1", "alice", "--order", c.order};
            if (*json) args.push_back(json);
            const auto plain = cli(args, password + "\n");
            args.push_back("--trace");
            const auto traced = cli(args, password + "\n");
            EXPECT_EQ(traced.exitCode, 0) << traced.err;
            EXPECT_EQ(traced.out, plain.out);  // stdout, JSON included, untouched
            EXPECT_TRUE(has(traced.err, std::string("trace: ") + c.proc + ": TCP to 127.0.0.1 port " +
                                            std::to_string(port_) + ", status 0\n"))
                << traced.err;
            // The library's own port look-up, ahead of the call it made.
            EXPECT_LT(traced.err.find("trace: PMAPPROC_GETPORT: TCP to 127.0.0.1 port 111, status 0\n"),
                      traced.err.find(std::string("trace: ") + c.proc))
                << traced.err;
            EXPECT_TRUE(has(traced.err, c.masked)) << traced.err;
            EXPECT_TRUE(has(traced.err, "accept_stat  0 (SUCCESS)\n")) << traced.err;
            for (const std::string& form : {password, pcnfsdForm, qelnfsdForm, hexOf(password), hexOf(pcnfsdForm),
                                            hexOf(qelnfsdForm), hexOf(pcnfsdForm.substr(0, 3)),
                                            hexOf(qelnfsdForm.substr(0, 3))})
                EXPECT_FALSE(has(traced.out + traced.err, form)) << "'" << form << "' in:\n" << traced.err;
        }
    }
    // A refusal is traced and reported as without --trace.
    const auto plain = cli({"authorize", "127.0.0.1", "alice", "--order", "a"}, "wrong\n");
    const auto traced = cli({"authorize", "127.0.0.1", "alice", "--order", "a", "--trace"}, "wrong\n");
    EXPECT_EQ(traced.exitCode, plain.exitCode);
    EXPECT_TRUE(has(traced.err, "status 1317 (authorisation): Qelnfsd refused")) << traced.err;
    EXPECT_TRUE(has(traced.err, "password 5 bytes (masked)")) << traced.err;
}

// The name questions the library asks on operations of its own are traced
// exchange by exchange: the port look-ups of the name-service choice, then
// the question itself; standard output exactly as without --trace.
TEST_F(CliRefd, TraceOfNameQuestionsShowsTheLibrarysExchanges) {
    for (const char* command : {"name2uid", "uid2name"}) {
        SCOPED_TRACE(command);
        const std::vector<std::string> args = std::string(command) == "name2uid"
                                                  ? std::vector<std::string>{command, "127.0.0.1", "alice", "bob"}
                                                  : std::vector<std::string>{command, "127.0.0.1", "1001", "1002"};
        const auto plain = cli(args);
        auto tracedArgs = args;
        tracedArgs.push_back("--trace");
        const auto traced = cli(tracedArgs);
        EXPECT_EQ(traced.exitCode, 0) << traced.err;
        EXPECT_EQ(traced.out, plain.out);
        const size_t lookUp = traced.err.find("trace: PMAPPROC_GETPORT: TCP to 127.0.0.1 port 111, status 0\n");
        const size_t chosen = traced.err.find("trace: name service chosen: ");
        const size_t question = traced.err.find("TCP to 127.0.0.1 port " + std::to_string(port_) + ", status 0\n");
        EXPECT_LT(lookUp, chosen) << traced.err;
        EXPECT_LT(chosen, question) << traced.err;
        EXPECT_NE(question, std::string::npos) << traced.err;
        EXPECT_TRUE(has(traced.err, "<-- reply")) << traced.err;
    }
}

// Every exchange of a TCP and a UDP ping decoded (the library's own port
// look-up included), checked against what tshark reads of the same
// exchanges on the wire.
TEST_F(CliRefd, TraceOfTcpAndUdpPingsAgreesWithTshark) {
    const char* tshark = "/usr/bin/tshark";
    if (access(tshark, X_OK) != 0) QELRPC_SKIP_UNLESS_REQUIRED("tshark is not installed");
    const std::string pcap = "/tmp/qelrpc-trace-" + std::to_string(getpid()) + ".pcap";
    clirun::Run tcp, udp;
    {
        testproc::Child capture;
        std::string line;
        ASSERT_TRUE(testproc::startLoopbackCapture(capture, tshark,
                                                   "tcp port " + std::to_string(port_) + " or port 111", pcap, line))
            << line;
        tcp = cli({"ping", "-t", "127.0.0.1", "pcnfsd", "2", "--trace", "--json"});
        udp = cli({"ping", "-u", "127.0.0.1", "portmapper", "2", "--trace"});
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        capture.stop();
    }
    ASSERT_EQ(tcp.exitCode, 0) << tcp.err;
    ASSERT_EQ(udp.exitCode, 0) << udp.err;
    EXPECT_EQ(tcp.out.rfind("{\"command\":\"ping\"", 0), 0u) << tcp.out;  // JSON alone on stdout
    EXPECT_TRUE(has(tcp.err, "--> call, TCP record of 40 bytes\n  record mark  0x80000028 (last fragment, 40 bytes)\n"))
        << tcp.err;
    EXPECT_TRUE(has(udp.err, "--> call, UDP datagram of 40 bytes\n  xid")) << udp.err;
    EXPECT_FALSE(has(udp.err, "record mark")) << udp.err;

    // xid, prog, vers, proc of each call as the trace shows them.
    auto field = [](const std::string& text, const std::string& name) {
        const auto at = text.find("\n  " + name);
        if (at == std::string::npos) return std::string();
        const auto start = text.find_first_not_of(' ', at + 3 + name.size());
        return text.substr(start, text.find_first_of(" \n", start) - start);
    };
    // Every exchange in order, the library's port look-up for the TCP ping
    // first: each reply answers its call, and the null calls succeed.
    std::string fromTrace;
    for (const auto* r : {&tcp, &udp}) {
        for (size_t at = r->err.find("trace: "); at != std::string::npos;) {
            const size_t next = r->err.find("trace: ", at + 1);
            const std::string exchange = r->err.substr(at, next == std::string::npos ? next : next - at);
            at = next;
            const std::string call = exchange.substr(0, exchange.find("<-- reply"));
            const std::string reply = exchange.substr(call.size());
            EXPECT_EQ(field(call, "xid"), field(reply, "xid")) << exchange;
            EXPECT_TRUE(has(reply, "reply_stat   0 (MSG_ACCEPTED)\n")) << exchange;
            if (field(call, "proc") == "0") {
                EXPECT_TRUE(has(reply, "accept_stat  0 (SUCCESS)\n  results      0 bytes\n")) << exchange;
            }
            fromTrace += std::to_string(std::stoul(field(call, "xid"), nullptr, 16)) + "|" + field(call, "prog") + "|" +
                         field(call, "vers") + "|" + field(call, "proc") + "\n";
        }
    }
    EXPECT_TRUE(has(tcp.err, "trace: PMAPPROC_GETPORT: TCP to 127.0.0.1 port 111, status 0\n")) << tcp.err;
    testproc::Child reader;
    std::string fromTshark, line;
    ASSERT_TRUE(reader.start({tshark, "-r", pcap, "-d", "tcp.port==" + std::to_string(port_) + ",rpc", "-Y",
                              "rpc.msgtyp == 0", "-T", "fields", "-E", "separator=|", "-E", "occurrence=f", "-e", "rpc.xid", "-e",
                              "rpc.program", "-e", "rpc.programversion", "-e", "rpc.procedure"}));
    for (int i = 0; i < 50 && reader.readLine(line, std::chrono::seconds(20)); ++i) {
        // tshark shows the xid in hex: to decimal, as the trace's.
        const auto bar = line.find('|');
        if (bar == std::string::npos) continue;
        fromTshark += std::to_string(std::stoul(line.substr(0, bar), nullptr, 0)) + line.substr(bar) + "\n";
    }
    std::remove(pcap.c_str());
    EXPECT_EQ(fromTshark, fromTrace);
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

// ---------------------------------------------------------------------------
// rpcbind with the libtirpc daemons and the null/echo peers registered, and a
// second null/echo peer that is registered nowhere.
// ---------------------------------------------------------------------------

class CliPeers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        rpcbind_ = new testproc::Child;
        daemons_ = new testproc::Child;
        peer_ = new testproc::Child;
        hidden_ = new testproc::Child;
        if (!nfspeers::startRpcbind(*rpcbind_) || !nfspeers::startTirpcDaemons(*daemons_, "both")) return;
        peerPorts_ = startPeer(*peer_, {QELRPC_PEER_PATH});
        hiddenPorts_ = startPeer(*hidden_, {QELRPC_PEER_PATH, "noreg", "0x100"});
        ready_ = peerPorts_.tcp != 0 && hiddenPorts_.tcp != 0;
    }
    static void TearDownTestSuite() {
        for (testproc::Child** c : {&hidden_, &peer_, &daemons_, &rpcbind_}) {
            delete *c;  // stopped by its PID
            *c = nullptr;
        }
    }
    void SetUp() override {
        if (!ready_) QELRPC_SKIP_UNLESS_REQUIRED("rpcbind or the libtirpc peers did not start");
    }
    static dispatchpeers::Ports startPeer(testproc::Child& c, const std::vector<std::string>& args) {
        dispatchpeers::Ports p;
        std::string line;
        if (c.start(args) && c.readLine(line, std::chrono::seconds(10)))
            std::sscanf(line.c_str(), "ready tcp=%hu udp=%hu", &p.tcp, &p.udp);
        return p;
    }
    static inline testproc::Child *rpcbind_ = nullptr, *daemons_ = nullptr, *peer_ = nullptr, *hidden_ = nullptr;
    static inline dispatchpeers::Ports peerPorts_, hiddenPorts_;
    static inline bool ready_ = false;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// rpcinfo -p and qelrpc dump read the same table with the same call: the
// same rows in the same order, column for column. Qelnfsd is shown by the
// tool's own name, whatever the database calls its number.
TEST_F(CliPeers, DumpListsWhatRpcinfoLists) {
    requireDatabase();
    const auto theirs = clirun::run("/usr/sbin/rpcinfo", {"-p", "127.0.0.1"});
    ASSERT_EQ(theirs.exitCode, 0) << theirs.err;
    const auto ours = cli({"dump", "127.0.0.1"});
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    const auto a = lines(theirs.out), b = lines(ours.out);
    ASSERT_EQ(a.size(), b.size()) << theirs.out << "---\n" << ours.out;
    ASSERT_GE(a.size(), 17u);  // header, 6 portmapper, 4 daemons, 6 peer rows
    EXPECT_EQ(b[0], "   program vers proto   port  service");
    unsigned named = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i]);
        if (a[i].rfind(" 788585389", 0) == 0) {
            EXPECT_EQ(a[i].substr(28), "  otherd");
            EXPECT_EQ(b[i], a[i].substr(0, 28) + "  qelnfsd");
            ++named;
        } else {
            EXPECT_EQ(b[i], a[i]);
        }
    }
    EXPECT_EQ(named, 2u);  // TCP and UDP
    const std::string v3 = " 536874753    3   tcp  " + std::string(5 - std::to_string(peerPorts_.tcp).size(), ' ') +
                           std::to_string(peerPorts_.tcp) + "  qelpeer-null";
    EXPECT_TRUE(has(ours.out, v3 + "\n")) << ours.out;
}

TEST_F(CliPeers, DumpAsJson) {
    requireDatabase();
    const auto r = cli({"dump", "localhost", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"command\":\"dump\",\"ok\":true,\"host\":\"localhost\",\"address\":\"127.0.0.1\","
                          "\"registrations\":[{\"program\":100000,\"program_name\":\"portmapper\",\"version\":4,"
                          "\"protocol\":\"tcp\",\"port\":111},",
                          0),
              0u)
        << r.out;
    for (const std::string& entry : std::vector<std::string>{
             "{\"program\":536874753,\"program_name\":\"qelpeer-null\",\"version\":3,\"protocol\":\"udp\",\"port\":" +
              std::to_string(peerPorts_.udp) + "}",
          "{\"program\":788585389,\"program_name\":\"qelnfsd\",\"version\":1,\"protocol\":\"tcp\","})
        EXPECT_TRUE(has(r.out, entry)) << entry << "\n" << r.out;
    // The unregistered peer is in nobody's table.
    EXPECT_FALSE(has(r.out, "536875009")) << r.out;
}

// Names come from the database, aliases too; numbers as ever.
TEST_F(CliPeers, ProgramNamesFromTheSystemDatabase) {
    requireDatabase();
    for (const char* prog : {"qelpeer-null", "nullpeer", "0x20000F01", "536874753"}) {
        SCOPED_TRACE(prog);
        const auto r = cli({"getport", "-t", "127.0.0.1", prog, "3"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "127.0.0.1 qelpeer-null (536874753) version 3: tcp port " + std::to_string(peerPorts_.tcp) +
                             "\n");
    }
    // Case matters in the database, as it does to rpcinfo.
    const auto r = cli({"getport", "127.0.0.1", "QELPEER-NULL", "1"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(has(r.err, "unknown program 'QELPEER-NULL'")) << r.err;
}

// Versions 1 and 3 registered; GETPORT of version 2 gets an answer from
// rpcbind all the same (version 1's or 3's port), which the table refutes.
TEST_F(CliPeers, GetportConfirmsTheVersionInTheTable) {
    requireDatabase();
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string out, err;
    } cases[] = {
        {{"getport", "127.0.0.1", "qelpeer-null", "2"}, 1, "", "qelpeer-null (536874753) version 2: not registered: status 1208"},
        {{"getport", "-u", "127.0.0.1", "qelpeer-null", "2"}, 1, "", "version 2: not registered for UDP: status 1208"},
        {{"getport", "127.0.0.1", "qelpeer-echo", "3"}, 1, "", "version 3: not registered"},
        {{"getport", "127.0.0.1", "pcnfsd", "1"}, 1, "", "pcnfsd (150001) version 1: not registered"},
        {{"getport", "127.0.0.1", "qelpeer-null", "3"}, 0,
         "127.0.0.1 qelpeer-null (536874753) version 3: tcp port " + std::to_string(peerPorts_.tcp) + "\n", ""},
        {{"getport", "-u", "127.0.0.1", "qelpeer-null", "3"}, 0,
         "127.0.0.1 qelpeer-null (536874753) version 3: udp port " + std::to_string(peerPorts_.udp) + "\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2] + " " + c.args.back());
        const auto r = cli(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.err.empty()) EXPECT_EQ(r.err, "");
        else EXPECT_TRUE(has(r.err, c.err)) << r.err;
    }
}

// What rpcinfo says of each version, ready or not, for the checks below.
std::string rpcinfoVerdicts(const char* transport, const char* prog) {
    const auto r = clirun::run("/usr/sbin/rpcinfo", {transport, "127.0.0.1", prog});
    std::string v;
    for (const auto& l : lines(r.out)) {
        if (has(l, "ready and waiting")) v += "+";
        else if (has(l, "is not available")) v += "-";
    }
    return v;
}

// No version: the range comes from the PROG_MISMATCH answer to version 0,
// and every version in it is called, the hole at 2 included, as rpcinfo does.
TEST_F(CliPeers, PingWithoutAVersionProbesTheServersRange) {
    requireDatabase();
    for (const char* t : {"-t", "-u"}) {
        SCOPED_TRACE(t);
        const bool tcp = t[1] == 't';
        const std::string over = std::string(tcp ? " over TCP port " : " over UDP port ") +
                                 std::to_string(tcp ? peerPorts_.tcp : peerPorts_.udp);
        const auto r = cli({"ping", t, "127.0.0.1", "536874753"});
        EXPECT_EQ(r.exitCode, 1) << r.err;  // version 2 does not answer
        const auto l = lines(r.out);
        ASSERT_EQ(l.size(), 4u) << r.out;
        EXPECT_EQ(l[0], "127.0.0.1 qelpeer-null (536874753)" + over + ": versions 1 to 3");
        std::string verdicts;
        for (int v = 1; v <= 3; ++v) {
            const std::string head = "127.0.0.1 qelpeer-null (536874753) version " + std::to_string(v) + over;
            EXPECT_EQ(l[static_cast<size_t>(v)].rfind(head, 0), 0u) << l[static_cast<size_t>(v)];
            verdicts += has(l[static_cast<size_t>(v)], ": answered in ") ? "+" : "-";
        }
        EXPECT_EQ(verdicts, "+-+");
        EXPECT_TRUE(has(l[2], ": not available: status -6 (call):")) << l[2];
        EXPECT_EQ(rpcinfoVerdicts(t, "536874753"), verdicts);
    }
    // A program with one version answers for it alone, and all is well.
    const auto r = cli({"ping", "127.0.0.1", "0x20000F02"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, ": versions 1 to 1\n127.0.0.1 qelpeer-echo (536874754) version 1 over TCP port ")) << r.out;
}

TEST_F(CliPeers, PingProbeQuietAndJson) {
    auto r = cli({"ping", "-u", "-q", "-c", "3", "--json", "127.0.0.1", "0x20000F01"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.out, "\"transport\":\"udp\",\"port\":" + std::to_string(peerPorts_.udp) +
                               ",\"low\":1,\"high\":3,\"versions\":[{\"version\":1,\"ok\":true,\"answered\":3,"))
        << r.out;
    EXPECT_TRUE(has(r.out, "{\"version\":2,\"ok\":false,\"answered\":0}")) << r.out;
    EXPECT_TRUE(has(r.out, "{\"version\":3,\"ok\":true,\"answered\":3,")) << r.out;
    EXPECT_FALSE(has(r.out, "\"calls\"")) << r.out;  // -q: the summary only

    // -q in text: no line per call, one summary line per version.
    r = cli({"ping", "-q", "-c", "4", "127.0.0.1", "0x20000F01", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lines(r.out).size(), 1u) << r.out;
    EXPECT_TRUE(has(r.out, "version 3 over TCP port " + std::to_string(peerPorts_.tcp) +
                               ": 4 of 4 calls answered, min/avg/max "))
        << r.out;
    r = cli({"ping", "-c", "4", "127.0.0.1", "0x20000F01", "3"});
    EXPECT_EQ(lines(r.out).size(), 5u) << r.out;
}

// -n: straight to the port; the peer there is registered nowhere, so only
// a call that skips the portmapper reaches it.
TEST_F(CliPeers, PingAGivenPortWithoutThePortmapper) {
    const std::string hiddenProg = std::to_string(0x20000F01 + 0x100);
    auto r = cli({"ping", "127.0.0.1", hiddenProg, "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "status 1208 (port look-up)")) << r.err;
    for (const char* t : {"-t", "-u"}) {
        SCOPED_TRACE(t);
        const bool tcp = t[1] == 't';
        const std::string port = std::to_string(tcp ? hiddenPorts_.tcp : hiddenPorts_.udp);
        r = cli({"ping", "-n", port, t, "127.0.0.1", hiddenProg, "3"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(has(r.out, "version 3 over " + std::string(tcp ? "TCP" : "UDP") + " port " + port +
                                   ": answered in "))
            << r.out;
        // Without a version the probe works there too.
        r = cli({"ping", "-n", port, t, "127.0.0.1", hiddenProg, "--json", "-q"});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(has(r.out, "\"low\":1,\"high\":3,")) << r.out;
    }
    // The program asked is not at that port: PROG_UNAVAIL from the server.
    r = cli({"ping", "-n", std::to_string(hiddenPorts_.tcp), "-t", "127.0.0.1", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "status -5 (call)")) << r.err;
}

// ---------------------------------------------------------------------------
// A scripted portmapper on port 111: tables real ones do not send.
// ---------------------------------------------------------------------------

using testpeer::Bytes;
using testpeer::putWord;
using testpeer::wordAt;

// Answers GETPORT (procedure 3) with `getport` and DUMP (4) with `dump`
// (results after an accepted SUCCESS header, or the whole reply after the
// xid when dumpIsReply).
class ScriptedPortmapper {
  public:
    ScriptedPortmapper(uint32_t getport, Bytes dump, bool dumpIsReply = false)
        : peer_(
              [getport, dump, dumpIsReply](int, testpeer::Conn& c) {
                  Bytes q;
                  if (!c.readRecord(q) || q.size() < 24) return;
                  const uint32_t xid = wordAt(q, 0);
                  Bytes r;
                  if (wordAt(q, 20) == 3) {
                      r = testpeer::successReply(xid, testpeer::words({getport}));
                  } else if (dumpIsReply) {
                      putWord(r, xid);
                      r.insert(r.end(), dump.begin(), dump.end());
                  } else {
                      r = testpeer::successReply(xid, dump);
                  }
                  c.sendFragment(r, true);
              },
              qelrpc::platform::Endpoint{qelrpc::platform::loopbackAddress(), 111}) {}
    bool ok() const { return peer_.ok(); }

  private:
    testpeer::TcpPeer peer_;
};

Bytes entry(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port) {
    return testpeer::words({1, prog, vers, prot, port});
}
Bytes join(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const auto& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

TEST(CliScriptedPortmapper, DumpRefusesTablesThatDoNotEnd) {
    if (portprobe::answers(111)) QELRPC_SKIP_UNLESS_REQUIRED("a portmapper answers in this namespace");
    const Bytes one = entry(150001, 2, 6, 2000);
    const struct {
        const char* what;
        Bytes results;
    } cases[] = {
        {"no end marker", join({one, one, one})},
        {"an entry cut short", join({one, testpeer::words({1, 150001, 2})})},
        {"no list at all", {}},
        {"more entries promised than the reply can hold", join({one, testpeer::words({1})})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPortmapper pm(0, c.results);
        ASSERT_TRUE(pm.ok());
        const auto start = std::chrono::steady_clock::now();
        auto r = cli({"dump", "127.0.0.1"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));  // does not stall
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");  // no partial table
        EXPECT_TRUE(has(r.err, "the portmapper's table cannot be read")) << r.err;
        r = cli({"dump", "127.0.0.1", "--json"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(has(r.out, "\"ok\":false")) << r.out;
    }
}

TEST(CliScriptedPortmapper, DumpOfEmptyAndFullTables) {
    if (portprobe::answers(111)) QELRPC_SKIP_UNLESS_REQUIRED("a portmapper answers in this namespace");
    {
        ScriptedPortmapper pm(0, testpeer::words({0}));
        ASSERT_TRUE(pm.ok());
        const auto r = cli({"dump", "127.0.0.1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "No remote programs registered.\n");  // as rpcinfo -p says it
    }
    {
        // As many entries as a reply block holds (65,536 bytes less the
        // header and the end marker), and one protocol rpcinfo has no name for.
        Bytes table;
        const uint32_t n = (65536 - 64) / 20;
        for (uint32_t i = 0; i < n; ++i) {
            const Bytes e = entry(0x20001000 + i, 1, i == 0 ? 99 : 17, 1000 + (i % 60000));
            table.insert(table.end(), e.begin(), e.end());
        }
        putWord(table, 0);
        ScriptedPortmapper pm(0, table);
        ASSERT_TRUE(pm.ok());
        const auto r = cli({"dump", "127.0.0.1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto l = lines(r.out);
        ASSERT_EQ(l.size(), n + 1);
        EXPECT_EQ(l[1], " 536875008    1    99   1000");
        EXPECT_EQ(l[2], " 536875009    1   udp   1001");
    }
}

// GETPORT's answer stands only where the table lists (prog, vers, protocol);
// a portmapper without DUMP leaves it as it was.
TEST(CliScriptedPortmapper, GetportBelievesTheTable) {
    if (portprobe::answers(111)) QELRPC_SKIP_UNLESS_REQUIRED("a portmapper answers in this namespace");
    const Bytes v1tcp = entry(0x20000F99, 1, 6, 4001);
    const Bytes v2udp = entry(0x20000F99, 2, 17, 4002);
    const Bytes end = testpeer::words({0});
    const struct {
        const char* what;
        Bytes dump;
        bool dumpIsReply;
        const char* vers;
        int exit;
        const char* out;
    } cases[] = {
        {"listed for TCP", join({v1tcp, v2udp, end}), false, "1", 0, "version 1: tcp port 4001\n"},
        {"another version's port", join({v1tcp, end}), false, "2", 1, ""},
        // GETPORT asked for TCP and got version 1's port; the table has version 2 on UDP only.
        {"listed for UDP only", join({v1tcp, v2udp, end}), false, "2", 0, "version 2: udp port 4002\n"},
        {"no DUMP (PROC_UNAVAIL)", testpeer::words({1, 0, 0, 0, 3}), true, "2", 0, "version 2: tcp port 4444\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPortmapper pm(4444, c.dump, c.dumpIsReply);
        ASSERT_TRUE(pm.ok());
        const auto r = cli({"getport", "127.0.0.1", "0x20000F99", c.vers});
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        if (*c.out) EXPECT_EQ(r.out, "127.0.0.1 program 536874905 " + std::string(c.out));
        else EXPECT_TRUE(has(r.err, "not registered: status 1208")) << r.err;
    }
}

// A server's PROG_MISMATCH range is the peer's word: a huge range is called
// only so far, and a range that cannot be read is refused, not guessed.
TEST(CliScriptedServer, VersionProbeTakesTheRangeWithCare) {
    const struct {
        const char* what;
        Bytes mismatch;  // after the accept_stat word
        int exit;
        const char* expected;
    } cases[] = {
        {"every version claimed", testpeer::words({5, 0xFFFFFFFFu}), 0,
         "\"low\":5,\"high\":4294967295,\"versions\":[{\"version\":5,"},
        {"low above high", testpeer::words({7, 6}), 1, "version range cannot be read"},
        {"no high end", testpeer::words({7}), 1, "version range cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t low = c.mismatch.size() >= 4 ? wordAt(c.mismatch, 0) : 0;
        testpeer::UdpPeer server([&c, low](int, const Bytes& q) -> std::vector<Bytes> {
            if (q.size() < 24) return {};
            const uint32_t xid = wordAt(q, 0), vers = wordAt(q, 16);
            if (vers >= low && vers != 0 && c.exit == 0) return {testpeer::successReply(xid)};
            Bytes r = testpeer::words({xid, 1, 0, 0, 0, 2});
            r.insert(r.end(), c.mismatch.begin(), c.mismatch.end());
            return {r};
        });
        ASSERT_TRUE(server.ok());
        const auto r = cli({"ping", "-u", "-q", "-n", std::to_string(server.port()), "127.0.0.1", "0x20000F99", "--json"});
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_TRUE(has(r.out, c.expected)) << r.out;
        if (c.exit == 0) {
            EXPECT_TRUE(has(r.out, "{\"version\":68,")) << r.out;  // 64 versions from 5
            EXPECT_FALSE(has(r.out, "{\"version\":69,")) << r.out;
        }
    }
    // In text, the cap is said.
    testpeer::UdpPeer server([](int, const Bytes& q) -> std::vector<Bytes> {
        if (q.size() < 24) return {};
        if (wordAt(q, 16) != 0) return {testpeer::successReply(wordAt(q, 0))};
        return {testpeer::words({wordAt(q, 0), 1, 0, 0, 0, 2, 1, 1000})};
    });
    ASSERT_TRUE(server.ok());
    const auto r = cli({"ping", "-u", "-n", std::to_string(server.port()), "127.0.0.1", "0x20000F99"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, ": versions 1 to 1000 (only 1 to 64 are called)\n")) << r.out;
    EXPECT_EQ(lines(r.out).size(), 65u);
}

// A portmapper that matches versions exactly answers GETPORT of version 0
// with 0: the probe then finds the program's port in the table.
TEST(CliScriptedPortmapper, ProbeFindsThePortInTheTableWhenGetportSaysNone) {
    if (portprobe::answers(111)) QELRPC_SKIP_UNLESS_REQUIRED("a portmapper answers in this namespace");
    testpeer::UdpPeer server([](int, const Bytes& q) -> std::vector<Bytes> {
        if (q.size() < 24) return {};
        if (wordAt(q, 16) == 2) return {testpeer::successReply(wordAt(q, 0))};
        return {testpeer::words({wordAt(q, 0), 1, 0, 0, 0, 2, 2, 2})};
    });
    ASSERT_TRUE(server.ok());
    ScriptedPortmapper pm(0, join({entry(0x20000F99, 2, 17, server.port()), testpeer::words({0})}));
    ASSERT_TRUE(pm.ok());
    auto r = cli({"ping", "127.0.0.1", "0x20000F99"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "version 2 over UDP port " + std::to_string(server.port()) + ": answered in ")) << r.out;
    // Asked for TCP, the table has none: nothing to call.
    r = cli({"ping", "-t", "127.0.0.1", "0x20000F99"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "not registered for TCP: status 1208")) << r.err;
    // With a version, GETPORT's 0 stands.
    r = cli({"ping", "127.0.0.1", "0x20000F99", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "status 1208 (port look-up)")) << r.err;
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

    // --trace: the GETPORT call once, each answer with its sender; the
    // results word is the port.
    r = cli({"broadcast", "-w", "1", "--trace", "pcnfsd", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.err, "trace: broadcast to 255.255.255.255 port 111\n--> call, UDP datagram of 56 bytes\n"))
        << r.err;
    EXPECT_TRUE(has(r.err, "  prog         100000")) << r.err;
    EXPECT_TRUE(has(r.err, "  proc         3\n")) << r.err;
    EXPECT_TRUE(has(r.err, "trace: answer from 10.213.0.2 port 111\n<-- reply")) << r.err;
    char portWord[16];
    std::snprintf(portWord, sizeof portWord, "%02x %02x", (std::stoi(udp) >> 8) & 0xFF, std::stoi(udp) & 0xFF);
    EXPECT_TRUE(has(r.err, std::string("0000: 00 00 ") + portWord + "\n")) << r.err;

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
