// SPDX-License-Identifier: MIT
// The command-line tool without a network: argument errors and what a good
// command line turns into, the program names, the number forms, the JSON
// writer, and the table of the library's status codes and their meanings.
// The tool itself runs for --help and for the errors it reports before any
// exchange.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "args.h"
#include "output.h"
#include "platform/socket_errors.h"
#include "programs.h"
#include "qelrpc.h"
#include "requests.h"
#include "rpc/status.h"
#include "status_text.h"
#include "trace.h"

#ifndef _WIN32
#include "cli_run.h"
#endif

namespace {

using namespace qelrpc::cli;

bool parse(const std::vector<std::string>& words, Invocation& inv, std::string& error) {
    return parseCommandLine(words, inv, error);
}

// ---------------------------------------------------------------------------
// Argument errors: each refused with a message that names the problem.
// ---------------------------------------------------------------------------

struct BadLine {
    std::vector<std::string> words;
    const char* expected;  // part of the error text
};

TEST(CliArgs, RefusesWhatNoCommandCanRunWith) {
    const std::string longName(256, 'n');
    std::vector<std::string> tooManyUids{"uid2name", "h"};
    for (int i = 0; i < 129; ++i) tooManyUids.push_back(std::to_string(i));
    const BadLine cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"help", "nope"}, "unknown command 'nope'"},
        {{"ping", "h"}, "missing arguments"},
        {{"dump"}, "missing arguments"},
        {{"dump", "h", "extra"}, "too many arguments ('extra')"},
        {{"dump", ""}, "the host is empty"},
        {{"ping", "-n", "0", "-t", "h", "1"}, "the port '0' is not a number from 1 to 65534"},
        {{"ping", "-n", "65535", "-u", "h", "1"}, "the port '65535'"},
        {{"ping", "--port=x1", "-u", "h", "1"}, "the port 'x1'"},
        {{"ping", "-n", "2049", "h", "1"}, "-n needs -t or -u"},
        {{"ping", "-q", "-q", "h", "1"}, "--quiet given more than once"},
        {{"ping", "h", "pcnfsd", "-1"}, "the version '-1' is not a number"},
        {{"ping", "h", "pcnfsd", "2", "extra"}, "too many arguments ('extra')"},
        {{"ping", "-t", "-u", "h", "1", "2"}, "-t and -u exclude each other"},
        {{"ping", "-tu", "h", "1", "2"}, "-t and -u exclude each other"},
        {{"ping", "h", "1", "2", "--count"}, "--count needs a value (COUNT)"},
        {{"ping", "-c", "0", "h", "1", "1"}, "count '0' is not a number from 1 to 1000"},
        {{"ping", "-c1001", "h", "1", "1"}, "count '1001'"},
        {{"ping", "--count=abc", "h", "1", "1"}, "count 'abc'"},
        {{"getport", "h", "nfsx", "3"}, "unknown program 'nfsx'"},
        {{"getport", "h", "0x1FFFFFFFF", "1"}, "unknown program '0x1FFFFFFFF'"},
        {{"getport", "h", "pcnfsd", "two"}, "version 'two' is not a number"},
        {{"getport", "h", "pcnfsd", "4294967296"}, "version '4294967296' is not a number"},
        {{"getport", "", "1", "1"}, "the host is empty"},
        {{"getport", "--bogus", "h", "1", "1"}, "unknown option --bogus"},
        {{"getport", "-x", "h", "1", "1"}, "unknown option -x"},
        {{"getport", "--json=yes", "h", "1", "1"}, "--json takes no value"},
        {{"getport", "--json", "h", "1", "1", "--json"}, "--json given more than once"},
        {{"getport", "-c", "2", "h", "1", "1"}, "unknown option -c"},  // only ping counts
        {{"broadcast", "-w", "0", "1", "1"}, "wait '0'"},
        {{"broadcast", "-w", "3601", "1", "1"}, "wait '3601'"},
        {{"broadcast", "--wait", "1.5.2", "1", "1"}, "wait '1.5.2'"},
        {{"broadcast", "--wait", "-1", "1", "1"}, "the wait '-1'"},
        {{"broadcast", "h", "1", "1"}, "too many arguments ('1')"},
        {{"uid2name", "h"}, "missing arguments"},
        {{"uid2name", "h", "12a"}, "the uid '12a' is not a number"},
        {{"gid2name", "h", "4294967296"}, "the gid '4294967296' is not a number"},
        {{"uid2name", "h", "-2147483649"}, "the uid '-2147483649' is not a number"},
        // Ids are the protocols' unsigned 32 bits: no sign, nothing beyond.
        {{"uid2name", "h", "-5"}, "the uid '-5' is not a number"},
        {{"gid2name", "h", "0", "-1"}, "the gid '-1' is not a number"},
        {tooManyUids, "at most 128 uids at a time"},
        {{"name2uid", "h", ""}, "a name must have 1 to 255 characters"},
        {{"name2gid", "h", longName}, "a name must have 1 to 255 characters"},
        {{"authorize", "h"}, "missing arguments"},
        {{"authorize", "h", ""}, "the user name is empty"},
        {{"authorize", "h", "alice", "--order", "ae"}, "the order 'ae' is not 1 to 4 of the letters"},
        {{"authorize", "h", "alice", "--order", "abcda"}, "the order 'abcda'"},
        {{"authorize", "h", "alice", "--order="}, "the order ''"},
        {{"authorize", "h", "alice", "--alt", ""}, "the alternative server is empty"},
        {{"authorize", "h", "alice", "--alt"}, "--alt needs a value (ADDR)"},
        {{"netname", "frob", "x"}, "unknown kind 'frob'"},
        {{"netname", "host"}, "missing arguments"},
        {{"netname", "host", "d", "h1", "h2"}, "at most one HOST"},
        {{"netname", "host", ""}, "the domain is empty"},
        {{"netname", "user", "d"}, "at least one UID"},
        {{"netname", "user", "d", "x"}, "the uid 'x' is not a number"},
        {{"netname", "parse", "a", "b"}, "exactly one NETNAME"},
        {{"gss-whoami", "x"}, "too many arguments ('x')"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& w : c.words) line += w.substr(0, 20) + " ";
        SCOPED_TRACE(line);
        Invocation inv;
        std::string error;
        EXPECT_FALSE(parse(c.words, inv, error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

// ---------------------------------------------------------------------------
// Good command lines: what each command receives.
// ---------------------------------------------------------------------------

TEST(CliArgs, OptionsMayStandAnywhereAndIdsSpanTheUnsignedRange) {
    Invocation inv;
    std::string error;
    ASSERT_TRUE(parse({"ping", "h", "-c", "3", "PCNFSD", "--json", "2", "-u"}, inv, error)) << error;
    EXPECT_TRUE(inv.json);
    EXPECT_EQ(inv.command, "ping");
    const auto& ping = std::get<PingRequest>(inv.request);
    EXPECT_EQ(ping.host, "h");
    EXPECT_EQ(ping.prog, 150001u);
    EXPECT_EQ(ping.vers, 2u);
    EXPECT_EQ(ping.transport, Transport::Udp);
    EXPECT_EQ(ping.count, 3u);
    EXPECT_FALSE(ping.port.has_value());
    EXPECT_FALSE(ping.quiet);

    ASSERT_TRUE(parse({"uid2name", "h", "4294967295", "4242", "0", "0x10", "2147483648"}, inv, error)) << error;
    EXPECT_EQ(std::get<IdsToNamesRequest>(inv.request).ids,
              (std::vector<uint32_t>{4294967295u, 4242, 0, 16, 2147483648u}));
    EXPECT_FALSE(std::get<IdsToNamesRequest>(inv.request).groups);

    // "--" ends the options: a name may start with a dash.
    ASSERT_TRUE(parse({"name2gid", "h", "--", "-weird", "--json"}, inv, error)) << error;
    EXPECT_FALSE(inv.json);
    EXPECT_EQ(std::get<NamesToIdsRequest>(inv.request).names, (std::vector<std::string>{"-weird", "--json"}));
    EXPECT_TRUE(std::get<NamesToIdsRequest>(inv.request).groups);
}

TEST(CliArgs, EachCommandGetsItsRequest) {
    Invocation inv;
    std::string error;
    ASSERT_TRUE(parse({"getport", "srv", "0x2F00DBAD", "1", "--tcp"}, inv, error)) << error;
    EXPECT_EQ(std::get<GetportRequest>(inv.request).prog, 0x2F00DBADu);
    EXPECT_EQ(std::get<GetportRequest>(inv.request).transport, Transport::Tcp);
    ASSERT_TRUE(parse({"getport", "srv", "100000", "2"}, inv, error)) << error;
    EXPECT_EQ(std::get<GetportRequest>(inv.request).transport, Transport::Any);

    ASSERT_TRUE(parse({"broadcast", "pcnfsd", "2"}, inv, error)) << error;
    EXPECT_EQ(std::get<BroadcastRequest>(inv.request).transport, Transport::Udp);
    EXPECT_DOUBLE_EQ(std::get<BroadcastRequest>(inv.request).waitSeconds, 3.0);
    ASSERT_TRUE(parse({"broadcast", "-t", "-w", "0.25", "qelnfsd", "1"}, inv, error)) << error;
    EXPECT_EQ(std::get<BroadcastRequest>(inv.request).transport, Transport::Tcp);
    EXPECT_DOUBLE_EQ(std::get<BroadcastRequest>(inv.request).waitSeconds, 0.25);

    ASSERT_TRUE(parse({"authorize", "srv", "alice"}, inv, error)) << error;
    {
        const auto& a = std::get<AuthorizeRequest>(inv.request);
        EXPECT_EQ(a.order, "ca");  // PCNFSD first, as the name-service dispatch asks
        EXPECT_FALSE(a.altHost.has_value());
        EXPECT_EQ(a.comment, "");
    }
    ASSERT_TRUE(parse({"authorize", "srv", "alice", "--alt=10.0.0.2", "--order", "BD", "--comment", "x y"}, inv,
                      error))
        << error;
    {
        const auto& a = std::get<AuthorizeRequest>(inv.request);
        EXPECT_EQ(a.order, "BD");
        EXPECT_EQ(a.altHost.value_or(""), "10.0.0.2");
        EXPECT_EQ(a.comment, "x y");
    }

    ASSERT_TRUE(parse({"netname", "host", "example.com"}, inv, error)) << error;
    EXPECT_EQ(std::get<NetnameRequest>(inv.request).kind, NetnameRequest::Host);
    EXPECT_FALSE(std::get<NetnameRequest>(inv.request).host.has_value());  // this machine
    ASSERT_TRUE(parse({"netname", "user", "example.com", "0", "1001"}, inv, error)) << error;
    EXPECT_EQ(std::get<NetnameRequest>(inv.request).uids, (std::vector<int32_t>{0, 1001}));
    ASSERT_TRUE(parse({"netname", "parse", "unix.h@d"}, inv, error)) << error;
    EXPECT_EQ(std::get<NetnameRequest>(inv.request).netname, "unix.h@d");
    ASSERT_TRUE(parse({"gss-whoami", "--json"}, inv, error)) << error;
    EXPECT_TRUE(std::holds_alternative<GssWhoamiRequest>(inv.request));

    ASSERT_TRUE(parse({"dump", "srv", "--json"}, inv, error)) << error;
    EXPECT_EQ(std::get<DumpRequest>(inv.request).host, "srv");
    EXPECT_TRUE(inv.json);
}

// Without a version, ping probes; -n names the port and needs a transport.
TEST(CliArgs, PingVersionProbeAndPortForms) {
    Invocation inv;
    std::string error;
    ASSERT_TRUE(parse({"ping", "h", "pcnfsd"}, inv, error)) << error;
    {
        const auto& p = std::get<PingRequest>(inv.request);
        EXPECT_FALSE(p.vers.has_value());
        EXPECT_FALSE(p.port.has_value());
        EXPECT_EQ(p.transport, Transport::Any);
    }
    ASSERT_TRUE(parse({"ping", "-qn", "2049", "-t", "h", "100003", "0"}, inv, error)) << error;
    {
        const auto& p = std::get<PingRequest>(inv.request);
        EXPECT_EQ(p.vers, 0u);  // version 0 is a version like any other when given
        EXPECT_EQ(p.port, 2049);
        EXPECT_EQ(p.transport, Transport::Tcp);
        EXPECT_TRUE(p.quiet);
    }
    ASSERT_TRUE(parse({"ping", "--port", "65534", "-u", "h", "1", "--quiet"}, inv, error)) << error;
    EXPECT_EQ(std::get<PingRequest>(inv.request).port, 65534);
    EXPECT_TRUE(std::get<PingRequest>(inv.request).quiet);
}

TEST(CliArgs, HelpWinsOverMissingArgumentsForEveryCommand) {
    for (const char* cmd : {"getport", "ping", "dump", "broadcast", "uid2name", "gid2name", "name2uid", "name2gid",
                            "authorize", "netname", "gss-whoami"}) {
        SCOPED_TRACE(cmd);
        for (const char* flag : {"--help", "-h"}) {
            Invocation inv;
            std::string error;
            ASSERT_TRUE(parse({cmd, flag}, inv, error)) << error;
            EXPECT_TRUE(inv.help);
            EXPECT_EQ(inv.command, cmd);
        }
        const std::string help = commandHelp(cmd);
        EXPECT_EQ(help.rfind(std::string("usage: qelrpc ") + cmd, 0), 0u) << help;
        EXPECT_NE(help.find("--json"), std::string::npos);
        EXPECT_NE(help.find("--help"), std::string::npos);
        EXPECT_NE(generalHelp().find(std::string("  ") + cmd + " "), std::string::npos);
    }
    Invocation inv;
    std::string error;
    EXPECT_FALSE(parse({}, inv, error));  // no command: a usage error, not help
    EXPECT_EQ(error, "no command given");
    ASSERT_TRUE(parse({"help", "ping"}, inv, error));
    EXPECT_TRUE(inv.help);
    EXPECT_EQ(inv.command, "ping");
    // --version stands alone, before any command.
    ASSERT_TRUE(parse({"--version"}, inv, error)) << error;
    EXPECT_TRUE(inv.version);
    EXPECT_FALSE(inv.help);
    EXPECT_EQ(inv.command, "");
    EXPECT_FALSE(parse({"--version", "ping"}, inv, error));
    EXPECT_FALSE(parse({"ping", "--version"}, inv, error));  // not a command's option
    EXPECT_EQ(error, "unknown option --version");
}

// ---------------------------------------------------------------------------
// Program names and numbers.
// ---------------------------------------------------------------------------

// The tool's own table (all there is on Windows, the fallback elsewhere) and
// the number forms; the system's database is tried against a database of
// the test's own in test_net_cli.
TEST(CliPrograms, OwnTableAndNumbers) {
    const struct {
        const char* text;
        std::optional<uint32_t> builtIn;  // the own table alone
        std::optional<uint32_t> parsed;   // through the database first (none of these can differ there)
    } cases[] = {
        {"portmapper", 100000u, 100000u},         {"RPCBIND", 100000u, 100000u},
        {"PcNfsD", 150001u, 150001u},             {"qelnfsd", 788585389u, 788585389u},
        {"pcnfsd2", std::nullopt, std::nullopt},  {"100003", std::nullopt, 100003u},
        {"0x2f00dbad", std::nullopt, 788585389u}, {"0", std::nullopt, 0u},
        {"4294967295", std::nullopt, 4294967295u}, {"", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},       {"0x", std::nullopt, std::nullopt},
        {"12 ", std::nullopt, std::nullopt},      {"+5", std::nullopt, std::nullopt},
        {"0x1FFFFFFFF", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseBuiltInProgram(c.text), c.builtIn);
        EXPECT_EQ(parseProgram(c.text), c.parsed);
    }
    EXPECT_EQ(parseBuiltInProgram("nfs"), std::nullopt);  // the database's name, not the tool's
    EXPECT_STREQ(builtInProgramName(100000), "portmapper");
    EXPECT_STREQ(builtInProgramName(150001), "pcnfsd");
    EXPECT_STREQ(builtInProgramName(QELNFSD_PROGRAM), "qelnfsd");
    EXPECT_EQ(builtInProgramName(100003), nullptr);
    // Every name shows for its number, from one table or the other.
    for (const auto& p : knownPrograms()) {
        EXPECT_EQ(parseBuiltInProgram(p.name), p.number) << p.name;
        EXPECT_TRUE(programName(p.number).has_value()) << p.name;
    }
}

TEST(CliNumbers, SignedAndSecondsForms) {
    EXPECT_EQ(parseSigned32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseSigned32("2147483647"), INT32_MAX);
    EXPECT_EQ(parseSigned32("2147483648"), std::nullopt);
    EXPECT_EQ(parseSigned32("-"), std::nullopt);
    EXPECT_EQ(parseSigned32("--1"), std::nullopt);
    EXPECT_EQ(parseSigned32("0x10"), std::nullopt);  // ids are decimal
    EXPECT_EQ(parseSeconds("2"), 2.0);
    EXPECT_EQ(parseSeconds("0.5"), 0.5);
    EXPECT_EQ(parseSeconds(".5"), std::nullopt);
    EXPECT_EQ(parseSeconds("5."), std::nullopt);
    EXPECT_EQ(parseSeconds("1e3"), std::nullopt);
}

// ---------------------------------------------------------------------------
// JSON output.
// ---------------------------------------------------------------------------

TEST(CliJson, QuotesAndNesting) {
    EXPECT_EQ(jsonQuote("a\"b\\c\nd\te\x01\x1f\x7f"), "\"a\\\"b\\\\c\\nd\\te\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonQuote("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    JsonWriter j;
    j.beginObject().key("a").value(int32_t{-1}).key("list").beginArray();
    j.beginObject().key("n").null().endObject().value("x").value(true).beginArray().endArray();
    j.endArray().key("ms").value(0.5).key("empty").beginObject().endObject().endObject();
    EXPECT_EQ(j.text(), "{\"a\":-1,\"list\":[{\"n\":null},\"x\",true,[]],\"ms\":0.500,\"empty\":{}}");
}

TEST(CliJson, DottedAddressFromNetworkOrder) {
    const unsigned char bytes[4] = {10, 213, 0, 2};
    uint32_t a;
    std::memcpy(&a, bytes, 4);
    EXPECT_EQ(dottedAddress(a), "10.213.0.2");
    EXPECT_EQ(dottedAddress(0xFFFFFFFFu), "255.255.255.255");
}

// ---------------------------------------------------------------------------
// Status codes and their meanings.
// ---------------------------------------------------------------------------

const StatusFamily kFamilies[] = {StatusFamily::Buffer,    StatusFamily::Operation,   StatusFamily::Call,
                                  StatusFamily::PortLookup, StatusFamily::Broadcast,  StatusFamily::Server,
                                  StatusFamily::NameService, StatusFamily::Authorize, StatusFamily::Gss};

TEST(CliStatusText, TablesHaveOneTextPerCode) {
    for (StatusFamily f : kFamilies) {
        SCOPED_TRACE(familyName(f));
        std::set<int> seen;
        for (const auto& e : statusTable(f)) {
            EXPECT_TRUE(seen.insert(e.code).second) << "code " << e.code << " twice";
            ASSERT_NE(e.text, nullptr);
            EXPECT_GT(std::string(e.text).size(), 5u) << e.code;
            EXPECT_EQ(describeStatus(f, e.code), e.text);
        }
        EXPECT_TRUE(seen.count(0)) << "no text for success";
    }
    std::set<int> sockets;
    for (const auto& e : socketErrorTable()) EXPECT_TRUE(sockets.insert(e.code).second) << e.code;
}

// Every socket error the platform layer can report has its own text, in the
// call family and through a port look-up alike.
TEST(CliStatusText, EverySocketErrorOfThePlatformLayer) {
    namespace se = qelrpc::platform::sockerr;
    std::vector<int> codes = {se::kDisconnected, se::kSystemCallFailure};
#define QELRPC_CODE(name, number, ...) codes.push_back(number);
    QELRPC_SOCKET_ERRORS(QELRPC_CODE, )
#undef QELRPC_CODE
    for (int code : codes) {
        SCOPED_TRACE(code);
        const std::string text = describeStatus(StatusFamily::Call, code);
        EXPECT_EQ(text.find("Windows Sockets error"), std::string::npos) << "no own text: " << text;
        EXPECT_NE(text.find("WSA"), std::string::npos) << text;
        EXPECT_NE(describeStatus(StatusFamily::PortLookup, 200000 + code).find(text), std::string::npos);
    }
}

// The codes the library names, and the composed and passed-on ones, each as
// its own family reports it. That every code has a text and is documented is
// held by TablesHaveOneTextPerCode and test_status_table (docs/ERRORS.md
// against the status table).
TEST(CliStatusText, NamedComposedAndPassedOnCodes) {
    namespace st = qelrpc::status;
    const struct {
        StatusFamily family;
        int code;
        const char* fragment;
    } cases[] = {
        {StatusFamily::Operation, st::kNoMemory, "memory"},
        {StatusFamily::Operation, st::kNullRecord, "null operation"},
        {StatusFamily::Call, st::kExchangeTimeout, "no reply"},
        {StatusFamily::Call, st::kExchangeCancelled, "cancelled"},
        {StatusFamily::Call, st::kReplyNotReply, "not an RPC reply"},
        {StatusFamily::Call, st::kReplyRpcMismatch, "RPC_MISMATCH"},
        {StatusFamily::Call, st::kReplyAuthError, "AUTH_ERROR"},
        {StatusFamily::Call, st::kReplyAcceptBase - 1, "PROG_UNAVAIL"},
        {StatusFamily::Call, st::kReplyAcceptBase - 2, "PROG_MISMATCH"},
        {StatusFamily::Call, st::kReplyAcceptBase - 3, "PROC_UNAVAIL"},
        {StatusFamily::Call, st::kReplyAcceptBase - 4, "GARBAGE_ARGS"},
        {StatusFamily::Call, st::kReplyAcceptBase - 5, "SYSTEM_ERR"},
        {StatusFamily::Call, st::kReplyAcceptBase - 6, "accept status 6"},
        {StatusFamily::Call, st::kReplyAcceptBase - 1000, "accept status 1000"},
        {StatusFamily::Call, st::kReplyMalformed, "malformed"},
        {StatusFamily::Call, st::kNoServerAddress, "no server address"},
        {StatusFamily::Call, st::kInvalidParameter, "credential flavor"},
        {StatusFamily::Call, st::kNullRecord, "no credential"},
        {StatusFamily::Call, RPC_ERROR_ENCRYPTION_FAILED, "AUTH_DES"},
        {StatusFamily::Call, 10999, "Windows Sockets error 10999"},
        {StatusFamily::PortLookup, st::kHostUnresolvable, "cannot be resolved"},
        {StatusFamily::PortLookup, st::kPmapNoCredential, "no memory"},
        {StatusFamily::PortLookup, st::kNullRecord, "not registered"},
        {StatusFamily::PortLookup, st::kPmapTcpQueryBase + st::kReplyMalformed, "TCP-port question failed: the reply is malformed"},
        {StatusFamily::PortLookup, st::kPmapTcpQueryBase + st::kExchangeTimeout, "TCP-port question failed: no reply"},
        {StatusFamily::PortLookup, st::kPmapTcpQueryBase + 10061, "TCP-port question failed: connection refused"},
        {StatusFamily::PortLookup, st::kPmapUdpQueryBase + st::kReplyMalformed, "UDP-port question failed: the reply is malformed"},
        {StatusFamily::PortLookup, st::kPmapUdpQueryBase - 5, "UDP-port question failed: program unavailable"},
        {StatusFamily::NameService, st::kNullRecord, "no usable port"},
        {StatusFamily::NameService, st::kPmapTcpQueryBase + 10061, "TCP-port question failed: connection refused"},
        {StatusFamily::NameService, st::kReplyAcceptBase - 1, "PROG_UNAVAIL"},
        {StatusFamily::Authorize, st::kReplyRpcMismatch, "RPC_MISMATCH"},  // a call's status, not the look-up's
        {StatusFamily::Authorize, 10061, "connection refused"},
        {StatusFamily::Gss, -1 - 200, "call failed: no reply"},
        {StatusFamily::Gss, 10061 - 200, "call failed: connection refused"},
        {StatusFamily::Gss, 1208 - 200, "call failed: null operation"},
        {StatusFamily::Gss, -1 - 100, "header could not be written"},
        {StatusFamily::Gss, RPC_ERROR_ENCRYPTION_FAILED - 100, "header could not be written: the AUTH_DES"},
        {StatusFamily::Gss, 87 - 200, "call failed: no prepared request"},
        {StatusFamily::Gss, 8 - 200, "call failed: not enough memory"},
        {StatusFamily::Gss, -7 - 100, "header failed: the header's MIC could not be made"},
        {StatusFamily::Gss, -19 - 100, "header failed: the context expired"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(familyName(c.family)) + " " + std::to_string(c.code));
        EXPECT_NE(describeStatus(c.family, c.code).find(c.fragment), std::string::npos)
            << describeStatus(c.family, c.code);
    }
    // The same number means different things in different families.
    EXPECT_NE(describeStatus(StatusFamily::Call, -1), describeStatus(StatusFamily::NameService, -1));
    EXPECT_NE(describeStatus(StatusFamily::Call, 1208), describeStatus(StatusFamily::PortLookup, 1208));
    // Codes a family never returns are called unknown, not guessed.
    EXPECT_EQ(describeStatus(StatusFamily::Broadcast, 5), "unknown status");
    EXPECT_EQ(describeStatus(StatusFamily::Server, 99), "unknown status");
    EXPECT_EQ(describeStatus(StatusFamily::Call, 12345), "unknown status");
    EXPECT_EQ(describeStatus(StatusFamily::PortLookup, 200000), "unknown status");
}

#ifndef _WIN32
// ---------------------------------------------------------------------------
// The tool itself: exit status and where the messages go.
// ---------------------------------------------------------------------------

TEST(CliTool, UsageErrorsExitTwoWithAHint) {
    const struct {
        std::vector<std::string> args;
        const char* err;
        const char* hint;
    } cases[] = {
        {{"frobnicate"}, "qelrpc: unknown command 'frobnicate'", "Try 'qelrpc --help'."},
        {{"ping", "-t", "-u", "h", "1", "2"}, "qelrpc: -t and -u exclude each other", "Try 'qelrpc ping --help'."},
        {{"getport", "h", "nosuchprog", "1", "--json"}, "unknown program 'nosuchprog'", "Try 'qelrpc getport --help'."},
        {{"authorize", "127.0.0.1"}, "missing arguments: qelrpc authorize HOST USER", "Try 'qelrpc authorize --help'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const auto r = clirun::run(QELRPC_CLI_PATH, c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.hint), std::string::npos) << r.err;
    }
}

// As rpcinfo: no command at all is a usage error.
TEST(CliTool, NoArgumentsShowsTheUsageAndExitsTwo) {
    const auto r = clirun::run(QELRPC_CLI_PATH, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: qelrpc COMMAND", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("  dump "), std::string::npos) << r.err;
}

TEST(CliTool, HelpGoesToStandardOutput) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help", "broadcast"}, {"authorize", "--help"}, {"ping", "-h", "-t", "-u"}}) {
        const auto r = clirun::run(QELRPC_CLI_PATH, args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out.rfind("usage: qelrpc ", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

// --version answers with the library's version (the header's macros, which
// the packages and the CMake package carry too) and nothing else; the
// general help says so.
TEST(CliTool, VersionIsTheLibrarysVersion) {
    const auto r = clirun::run(QELRPC_CLI_PATH, {"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("qelrpc ") + QELRPC_VERSION_STRING + "\n");
    EXPECT_EQ(r.err, "");
    char expected[32];
    std::snprintf(expected, sizeof expected, "%d.%d.%d", QELRPC_VERSION_MAJOR, QELRPC_VERSION_MINOR,
                  QELRPC_VERSION_PATCH);
    EXPECT_EQ(std::string(QELRPC_VERSION_STRING), expected);

    const auto extra = clirun::run(QELRPC_CLI_PATH, {"--version", "dump"});
    EXPECT_EQ(extra.exitCode, 2);
    EXPECT_EQ(extra.out, "");
    EXPECT_NE(extra.err.find("--version takes no arguments"), std::string::npos) << extra.err;

    const auto help = clirun::run(QELRPC_CLI_PATH, {"--help"});
    EXPECT_NE(help.out.find("qelrpc --version"), std::string::npos) << help.out;
}

TEST(CliTool, FailuresShowTheStatusWithItsMeaning) {
    // The GSS-API back end hidden (the tests' build of the library takes its
    // path from the environment): the library's -1 with its text.
    const std::vector<std::string> hidden{"QELRPC_GSSAPI_PATH=/nonexistent/libgss.so",
                                          std::string("LD_LIBRARY_PATH=") + QELRPC_TEST_SEAMS_DIR};
    const auto plain = clirun::run(QELRPC_CLI_PATH, {"gss-whoami"}, "", hidden);
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_NE(plain.err.find("status -1 (RPCSEC_GSS): the Kerberos GSS-API library is not loaded"), std::string::npos)
        << plain.err;
    const auto json =
        clirun::run(QELRPC_CLI_PATH, {"gss-whoami", "--json"}, "", hidden);
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_NE(json.out.find("\"ok\":false"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"status\":-1,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"status_text\":\"the Kerberos GSS-API library is not loaded\""), std::string::npos);

    // No password on standard input: nothing is sent.
    const auto nopw = clirun::run(QELRPC_CLI_PATH, {"authorize", "127.0.0.1", "alice"});
    EXPECT_EQ(nopw.exitCode, 1);
    EXPECT_NE(nopw.err.find("no password could be read"), std::string::npos) << nopw.err;
    const auto longpw = clirun::run(QELRPC_CLI_PATH, {"authorize", "127.0.0.1", "alice"}, std::string(256, 'p') + "\n");
    EXPECT_EQ(longpw.exitCode, 1);
    EXPECT_NE(longpw.err.find("no password could be read"), std::string::npos) << longpw.err;

    const auto badNet = clirun::run(QELRPC_CLI_PATH, {"netname", "parse", "no-dot-here"});
    EXPECT_EQ(badNet.exitCode, 1);
    EXPECT_NE(badNet.err.find("not a net name"), std::string::npos) << badNet.err;
}

TEST(CliTool, NetNamesPlainAndJson) {
    auto r = clirun::run(QELRPC_CLI_PATH, {"netname", "user", "example.com.", "1001", "-1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "unix.1001@example.com\nunix.-1@example.com\n");
    r = clirun::run(QELRPC_CLI_PATH, {"netname", "host", "example.com", "server.lab.example.com", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "{\"command\":\"netname\",\"ok\":true,\"host\":\"server.lab.example.com\","
                     "\"result\":\"unix.server@example.com\"}\n");
    r = clirun::run(QELRPC_CLI_PATH, {"netname", "parse", "unix.server@example.com"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "server\n");
}
#endif

}  // namespace

// ---------------------------------------------------------------------------
// --trace's decoder (tools/cli/trace.cpp) on messages built here, well formed
// and not: the fields it names, and passwords that never show.
// ---------------------------------------------------------------------------

namespace trace_fixture {

using Bytes = std::vector<uint8_t>;

void word(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}
void opaque(Bytes& b, const Bytes& body, uint32_t announced) {
    word(b, announced);
    b.insert(b.end(), body.begin(), body.end());
    while (b.size() % 4 != 0) b.push_back(0);
}
void text(Bytes& b, const std::string& s) { opaque(b, Bytes(s.begin(), s.end()), static_cast<uint32_t>(s.size())); }

// A request block as the library leaves it after a TCP exchange: the record
// mark in its slot, then the call with the credential given.
Bytes callBlock(uint32_t prog, uint32_t vers, uint32_t proc, const Bytes& args, const Bytes& credential = {0, 0, 0, 0, 0, 0, 0, 0}) {
    Bytes b;
    for (uint32_t w : {0u, 0x1234ABCDu, 0u, 2u, prog, vers, proc}) word(b, w);
    b.insert(b.end(), credential.begin(), credential.end());
    word(b, 0);
    word(b, 0);
    b.insert(b.end(), args.begin(), args.end());
    const uint32_t mark = 0x80000000u | static_cast<uint32_t>(b.size() - 4);
    for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(mark >> (24 - 8 * i));
    return b;
}

std::string pcnfsdScrambled(const std::string& s) {
    std::string out;
    for (char c : s) out.push_back(static_cast<char>((static_cast<uint8_t>(c) ^ 0x5B) & 0x7F));
    return out;
}
Bytes qelnfsdBlock(const std::string& user, const std::string& password) {
    // Built in one string first: GCC 12 at -O3 warns (falsely) about a
    // vector grown from two bytes by insert.
    const std::string clear = std::string(2, '\0') + user + '\0' + password + '\0';
    Bytes b(clear.begin(), clear.end());
    uint8_t running = 0xFF;
    for (auto& x : b) running = x = static_cast<uint8_t>(x ^ running);
    return b;
}

std::string hexOf(const std::string& bytes) {
    std::string h;
    char x[4];
    for (char c : bytes) {
        std::snprintf(x, sizeof x, "%02x ", static_cast<uint8_t>(c));
        h += x;
    }
    if (!h.empty()) h.pop_back();
    return h;
}

template <class F>
std::string captured(F write) {
    std::FILE* f = std::tmpfile();
    if (f == nullptr) return "(no temporary file)";
    write(f);
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s.push_back(static_cast<char>(c));
    std::fclose(f);
    return s;
}
std::string decodeCall(const Bytes& b) {
    return captured([&](std::FILE* f) { writeCall(f, b.data(), static_cast<uint32_t>(b.size()), true); });
}

// Neither the password nor any form of it that went on the wire: as text,
// scrambled, or as a hex dump of either, in any line of the trace.
void expectNoPassword(const std::string& out, const std::string& password, const std::string& scrambled) {
    for (const std::string& form : {password, scrambled, hexOf(password), hexOf(scrambled),
                                    hexOf(password.substr(0, 4)), hexOf(scrambled.substr(0, 4))})
        EXPECT_EQ(out.find(form), std::string::npos) << "'" << form << "' in:\n" << out;
}

}  // namespace trace_fixture

TEST(CliTrace, CallHeaderAndAuthUnixCredentialAreDecoded) {
    using namespace trace_fixture;
    Bytes cred;
    word(cred, 1);  // AUTH_UNIX
    Bytes body;
    word(body, 1700000000);
    text(body, "pc-7");
    for (uint32_t w : {1001u, 100u, 2u, 100u, 27u}) word(body, w);
    opaque(cred, body, static_cast<uint32_t>(body.size()));
    Bytes args;
    word(args, 0xCAFE0001u);
    const std::string out = decodeCall(callBlock(150001, 2, 12, args, cred));
    for (const char* want : {"record mark  0x8000004c (last fragment, 76 bytes)", "xid          0x1234abcd",
                             "msg_type     0 (CALL)", "rpcvers      2", "prog         150001", "vers         2",
                             "proc         12", "credential   flavor 1 (AUTH_UNIX), length 32",
                             "machine name \"pc-7\"", "uid          1001", "gid          100", "gids         2: 100 27",
                             "verifier     flavor 0 (AUTH_NULL), length 0", "arguments    4 bytes",
                             "0000: ca fe 00 01"})
        EXPECT_NE(out.find(want), std::string::npos) << want << " in:\n" << out;
    // A credential whose length runs past the message is said so, not read.
    Bytes bad;
    word(bad, 1);
    word(bad, 4000);
    const std::string cut = decodeCall(callBlock(150001, 2, 12, {}, bad));
    EXPECT_NE(cut.find("runs past the message"), std::string::npos) << cut;
}

TEST(CliTrace, PasswordsAreMaskedWellFormedOrNot) {
    using namespace trace_fixture;
    const std::string password = "wonderland", scrambled = pcnfsdScrambled(password);
    auto pcnfsd = [&](uint32_t announcedPassword, bool withComment) {
        Bytes a;
        text(a, "pc-7");
        text(a, pcnfsdScrambled("alice"));
        opaque(a, Bytes(scrambled.begin(), scrambled.end()), announcedPassword);
        if (withComment) text(a, "from the lab");
        return callBlock(PCNFSD_PROGRAM, 2, PCNFSD_PROC_AUTH, a);
    };
    const std::string good = decodeCall(pcnfsd(10, true));
    EXPECT_NE(good.find("user         \"alice\" (sent scrambled)"), std::string::npos) << good;
    EXPECT_NE(good.find("password     10 bytes (masked)"), std::string::npos) << good;
    EXPECT_NE(good.find("comment      \"from the lab\""), std::string::npos) << good;
    expectNoPassword(good, password, scrambled);

    const Bytes qelBlock = qelnfsdBlock("alice", password);
    const std::string qelScrambled(qelBlock.begin(), qelBlock.end());
    auto qelnfsd = [&](uint32_t announced) {
        Bytes a;
        word(a, 0x7F000001u);
        word(a, 4);
        text(a, "");
        opaque(a, qelBlock, announced);
        return callBlock(QELNFSD_PROGRAM, 1, QELNFSD_PROC_AUTHORIZE, a);
    };
    const std::string q = decodeCall(qelnfsd(static_cast<uint32_t>(qelBlock.size())));
    EXPECT_NE(q.find("credentials  19 bytes (sent scrambled): user \"alice\", password 10 bytes (masked)"),
              std::string::npos)
        << q;
    expectNoPassword(q, password, qelScrambled.substr(8));  // the block's password part

    // Arguments that cannot be read as the procedure's are withheld whole,
    // never dumped: a password longer than the message, one without the
    // comment behind it, a Qelnfsd block cut short.
    struct Case {
        const char* name;
        Bytes block;
    };
    const Case bad[] = {{"PCNFSD password past the end", pcnfsd(200, true)},
                        {"PCNFSD without comment", pcnfsd(10, false)},
                        {"Qelnfsd block past the end", qelnfsd(300)}};
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        const std::string out = decodeCall(c.block);
        EXPECT_NE(out.find("withheld: they carry a password"), std::string::npos) << out;
        expectNoPassword(out, password, scrambled);
        expectNoPassword(out, password, qelScrambled.substr(8));
    }
}

TEST(CliTrace, ReplyStatusesAreDecoded) {
    using namespace trace_fixture;
    struct Case {
        std::vector<uint32_t> words;
        std::vector<const char*> want;
    };
    const Case cases[] = {
        {{7, 1, 0, 0, 0, 0, 0xDEADBEEF},
         {"xid          0x00000007", "msg_type     1 (REPLY)", "reply_stat   0 (MSG_ACCEPTED)",
          "verifier     flavor 0 (AUTH_NULL), length 0", "accept_stat  0 (SUCCESS)", "results      4 bytes",
          "0000: de ad be ef"}},
        {{7, 1, 0, 0, 0, 2, 2, 4}, {"accept_stat  2 (PROG_MISMATCH)", "versions     2 to 4"}},
        {{7, 1, 1, 1, 13}, {"reply_stat   1 (MSG_DENIED)", "reject_stat  1 (AUTH_ERROR), auth_stat 13 (RPCSEC_GSS_CREDPROBLEM)"}},
        {{7, 1, 1, 0, 2, 2}, {"reject_stat  0 (RPC_MISMATCH), versions 2 to 2"}},
        {{7, 1, 0, 0, 8}, {"(cut short)"}},  // the verifier's body is missing
        {{7, 1}, {"(shorter than a reply header)"}},
    };
    for (const Case& c : cases) {
        Bytes b;
        for (uint32_t w : c.words) word(b, w);
        const std::string out = captured(
            [&](std::FILE* f) { writeReply(f, b.data(), static_cast<uint32_t>(b.size()), 150001, 0); });
        for (const char* w : c.want) EXPECT_NE(out.find(w), std::string::npos) << w << " in:\n" << out;
    }
}
