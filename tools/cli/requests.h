// SPDX-License-Identifier: MIT
// What each command asks for, checked from the command line before anything
// touches the network: the command table with each command's options and
// help, and one typed request per command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qelrpc::cli {

enum class Transport { Any, Tcp, Udp };

struct GetportRequest {
    std::string host;
    uint32_t prog = 0, vers = 0;
    Transport transport = Transport::Any;
};

struct PingRequest {
    std::string host;
    uint32_t prog = 0;
    std::optional<uint32_t> vers;  // none: probe the versions the server has
    Transport transport = Transport::Any;
    std::optional<uint16_t> port;  // -n: call this port, no portmapper (needs -t or -u)
    unsigned count = 1;
    bool quiet = false;  // -q: the summary only
};

// The portmapper's whole table (version 2 DUMP).
struct DumpRequest {
    std::string host;
};

struct BroadcastRequest {
    uint32_t prog = 0, vers = 0;
    Transport transport = Transport::Udp;  // the registration asked about
    double waitSeconds = 3;
};

// uid2name, gid2name
struct IdsToNamesRequest {
    bool groups = false;
    std::string host;
    std::vector<uint32_t> ids;  // the protocol's full unsigned range
};

// name2uid, name2gid
struct NamesToIdsRequest {
    bool groups = false;
    std::string host;
    std::vector<std::string> names;
};

struct AuthorizeRequest {
    std::string host, user;
    std::optional<std::string> altHost;
    std::string order = "ca";
    std::string comment;
};

struct NetnameRequest {
    enum Kind { Host, User, Parse } kind = Host;
    std::string domain;
    std::optional<std::string> host;  // Host: null for this machine
    std::vector<int32_t> uids;        // User
    std::string netname;              // Parse
};

struct GssWhoamiRequest {};

using Request = std::variant<GetportRequest, PingRequest, DumpRequest, BroadcastRequest, IdsToNamesRequest, NamesToIdsRequest,
                             AuthorizeRequest, NetnameRequest, GssWhoamiRequest>;

struct Invocation {
    std::string command;  // empty: general help
    bool json = false;
    bool trace = false;  // --trace: the messages on standard error
    bool help = false;
    bool version = false;  // --version: the library's version
    Request request;
};

// The longest id and name lists one command sends (Qelnfsd answers at most
// 128 ids a call).
constexpr size_t kMaxListItems = 128;
constexpr unsigned kMaxPings = 1000;
// The most versions a probe calls: a server may claim any range in its
// PROG_MISMATCH answer.
constexpr uint32_t kMaxProbedVersions = 64;
constexpr double kMaxWaitSeconds = 3600;

// Parses the words after the program's name. False with an error text for
// anything the command cannot run with (no words at all included: the
// caller shows the usage); help is set for --help, -h and for
// "help [COMMAND]".
bool parseCommandLine(const std::vector<std::string>& words, Invocation& out, std::string& error);

// The help of one command, or the general help for an empty or unknown name.
std::string commandHelp(const std::string& command);
std::string generalHelp();

}  // namespace qelrpc::cli
