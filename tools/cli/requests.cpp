// SPDX-License-Identifier: MIT
#include "requests.h"

#include <span>

#include "args.h"
#include "programs.h"

namespace qelrpc::cli {

namespace {

constexpr OptionSpec kJson{"json", 0, nullptr, "print the result as JSON (for scripts)"};
constexpr OptionSpec kHelp{"help", 'h', nullptr, "show this help"};
constexpr OptionSpec kTrace{"trace", 0, nullptr,
                            "show every message sent and received, decoded, on standard error (passwords masked)"};

const OptionSpec kCommonOptions[] = {kJson, kHelp};
const OptionSpec kCallingOptions[] = {kJson, kTrace, kHelp};
const OptionSpec kGetportOptions[] = {
    {"tcp", 't', nullptr, "ask only for the TCP port"},
    {"udp", 'u', nullptr, "ask only for the UDP port"},
    kJson, kTrace, kHelp};
const OptionSpec kPingOptions[] = {
    {"tcp", 't', nullptr, "call over TCP"},
    {"udp", 'u', nullptr, "call over UDP"},
    {"port", 'n', "PORT", "call PORT, without asking the portmapper (with -t or -u)"},
    {"count", 'c', "COUNT", "make COUNT calls (1 to 1000, default 1)"},
    {"quiet", 'q', nullptr, "print only the summary of the calls"},
    kJson, kTrace, kHelp};
const OptionSpec kBroadcastOptions[] = {
    {"tcp", 't', nullptr, "ask for the program's TCP registration"},
    {"udp", 'u', nullptr, "ask for the program's UDP registration (the default)"},
    {"wait", 'w', "SECONDS", "collect answers for SECONDS (default 3, at most 3600)"},
    kJson, kTrace, kHelp};
const OptionSpec kAuthorizeOptions[] = {
    {"alt", 0, "ADDR", "an alternative server (order letters b and d)"},
    {"order", 0, "ORDER", "daemons and servers to try, up to 4 letters (default ca): a Qelnfsd at HOST, "
                          "b Qelnfsd at the alternative server, c PCNFSD at HOST, d PCNFSD at the alternative server"},
    {"comment", 0, "TEXT", "free text sent with the request"},
    kJson, kTrace, kHelp};

using Parser = bool (*)(const ParsedOptions&, Request&, std::string&);

struct Command {
    const char* name;
    const char* usage;
    const char* summary;
    const char* details;
    std::span<const OptionSpec> options;
    size_t minArgs, maxArgs;
    Parser parse;
};

bool transportOf(const ParsedOptions& p, Transport& t, std::string& error) {
    if (p.has("tcp") && p.has("udp")) {
        error = "-t and -u exclude each other";
        return false;
    }
    t = p.has("tcp") ? Transport::Tcp : p.has("udp") ? Transport::Udp : Transport::Any;
    return true;
}

bool hostOf(const std::string& text, std::string& host, std::string& error) {
    if (text.empty()) {
        error = "the host is empty";
        return false;
    }
    host = text;
    return true;
}

bool programOf(const std::string& prog, uint32_t& p, std::string& error) {
    const auto pn = parseProgram(prog);
    if (!pn) {
        error = "unknown program '" + prog + "' (give a number, a name of the RPC program database, or one of:";
        for (const auto& k : knownPrograms()) error += std::string(" ") + k.name;
        error += ")";
        return false;
    }
    p = *pn;
    return true;
}

bool versionOf(const std::string& vers, uint32_t& v, std::string& error) {
    const auto vn = parseUnsigned32(vers);
    if (!vn) {
        error = "the version '" + vers + "' is not a number";
        return false;
    }
    v = *vn;
    return true;
}

bool programOf(const std::string& prog, const std::string& vers, uint32_t& p, uint32_t& v, std::string& error) {
    return programOf(prog, p, error) && versionOf(vers, v, error);
}

template <class Id, class Parse>
bool idListOf(std::span<const std::string> words, const char* what, std::vector<Id>& ids, Parse parseId,
              std::string& error) {
    if (words.size() > kMaxListItems) {
        error = "at most " + std::to_string(kMaxListItems) + " " + what + "s at a time";
        return false;
    }
    for (const auto& w : words) {
        const auto id = parseId(w);
        if (!id) {
            error = std::string("the ") + what + " '" + w + "' is not a number";
            return false;
        }
        ids.push_back(*id);
    }
    return true;
}

// Ids of the user services: 0 to 4294967295, as the protocols carry them.
bool idsOf(std::span<const std::string> words, const char* what, std::vector<uint32_t>& ids, std::string& error) {
    return idListOf(words, what, ids, parseUnsigned32, error);
}

// Net names take signed uids (unix.-1@DOMAIN is a name).
bool idsOf(std::span<const std::string> words, const char* what, std::vector<int32_t>& ids, std::string& error) {
    return idListOf(words, what, ids, parseSigned32, error);
}

bool parseGetport(const ParsedOptions& p, Request& r, std::string& error) {
    GetportRequest q;
    if (!transportOf(p, q.transport, error) || !hostOf(p.positional[0], q.host, error) ||
        !programOf(p.positional[1], p.positional[2], q.prog, q.vers, error))
        return false;
    r = q;
    return true;
}

bool parsePing(const ParsedOptions& p, Request& r, std::string& error) {
    PingRequest q;
    if (!transportOf(p, q.transport, error) || !hostOf(p.positional[0], q.host, error) ||
        !programOf(p.positional[1], q.prog, error))
        return false;
    if (p.positional.size() > 2) {
        uint32_t v = 0;
        if (!versionOf(p.positional[2], v, error)) return false;
        q.vers = v;
    }
    if (const std::string* n = p.value("port")) {
        const auto port = parseUnsigned32(*n);
        if (!port || *port < 1 || *port > 65534) {  // the library takes 65535 for "no port"
            error = "the port '" + *n + "' is not a number from 1 to 65534";
            return false;
        }
        // Without the portmapper nothing says which transport listens there.
        if (q.transport == Transport::Any) {
            error = "-n needs -t or -u (the transport PORT listens on)";
            return false;
        }
        q.port = static_cast<uint16_t>(*port);
    }
    q.quiet = p.has("quiet");
    if (const std::string* c = p.value("count")) {
        const auto n = parseUnsigned32(*c);
        if (!n || *n < 1 || *n > kMaxPings) {
            error = "the count '" + *c + "' is not a number from 1 to " + std::to_string(kMaxPings);
            return false;
        }
        q.count = *n;
    }
    r = q;
    return true;
}

bool parseDump(const ParsedOptions& p, Request& r, std::string& error) {
    DumpRequest q;
    if (!hostOf(p.positional[0], q.host, error)) return false;
    r = q;
    return true;
}

bool parseBroadcast(const ParsedOptions& p, Request& r, std::string& error) {
    BroadcastRequest q;
    Transport t;
    if (!transportOf(p, t, error) || !programOf(p.positional[0], p.positional[1], q.prog, q.vers, error))
        return false;
    q.transport = t == Transport::Tcp ? Transport::Tcp : Transport::Udp;
    if (const std::string* w = p.value("wait")) {
        const auto s = parseSeconds(*w);
        if (!s || *s <= 0 || *s > kMaxWaitSeconds) {
            error = "the wait '" + *w + "' is not a number of seconds above 0 and at most 3600";
            return false;
        }
        q.waitSeconds = *s;
    }
    r = q;
    return true;
}

bool parseIdsToNames(bool groups, const ParsedOptions& p, Request& r, std::string& error) {
    IdsToNamesRequest q;
    q.groups = groups;
    if (!hostOf(p.positional[0], q.host, error) ||
        !idsOf(std::span(p.positional).subspan(1), groups ? "gid" : "uid", q.ids, error))
        return false;
    r = q;
    return true;
}
bool parseUid2name(const ParsedOptions& p, Request& r, std::string& e) { return parseIdsToNames(false, p, r, e); }
bool parseGid2name(const ParsedOptions& p, Request& r, std::string& e) { return parseIdsToNames(true, p, r, e); }

bool parseNamesToIds(bool groups, const ParsedOptions& p, Request& r, std::string& error) {
    NamesToIdsRequest q;
    q.groups = groups;
    if (!hostOf(p.positional[0], q.host, error)) return false;
    if (p.positional.size() - 1 > kMaxListItems) {
        error = "at most " + std::to_string(kMaxListItems) + " names at a time";
        return false;
    }
    for (size_t i = 1; i < p.positional.size(); ++i) {
        const std::string& n = p.positional[i];
        if (n.empty() || n.size() > 255) {
            error = "a name must have 1 to 255 characters";
            return false;
        }
        q.names.push_back(n);
    }
    r = q;
    return true;
}
bool parseName2uid(const ParsedOptions& p, Request& r, std::string& e) { return parseNamesToIds(false, p, r, e); }
bool parseName2gid(const ParsedOptions& p, Request& r, std::string& e) { return parseNamesToIds(true, p, r, e); }

bool parseAuthorize(const ParsedOptions& p, Request& r, std::string& error) {
    AuthorizeRequest q;
    if (!hostOf(p.positional[0], q.host, error)) return false;
    q.user = p.positional[1];
    if (q.user.empty()) {
        error = "the user name is empty";
        return false;
    }
    if (const std::string* a = p.value("alt")) {
        if (a->empty()) {
            error = "the alternative server is empty";
            return false;
        }
        q.altHost = *a;
    }
    if (const std::string* o = p.value("order")) {
        bool good = !o->empty() && o->size() <= 4;
        for (char c : *o) good = good && ((c >= 'a' && c <= 'd') || (c >= 'A' && c <= 'D'));
        if (!good) {
            error = "the order '" + *o + "' is not 1 to 4 of the letters a, b, c, d";
            return false;
        }
        q.order = *o;
    }
    if (const std::string* c = p.value("comment")) q.comment = *c;
    r = q;
    return true;
}

bool parseNetname(const ParsedOptions& p, Request& r, std::string& error) {
    NetnameRequest q;
    const std::string& kind = p.positional[0];
    const size_t rest = p.positional.size() - 1;
    if (kind == "host") {
        q.kind = NetnameRequest::Host;
        if (rest < 1 || rest > 2) {
            error = "netname host needs DOMAIN and at most one HOST";
            return false;
        }
        if (rest == 2) q.host = p.positional[2];
    } else if (kind == "user") {
        q.kind = NetnameRequest::User;
        if (rest < 2) {
            error = "netname user needs DOMAIN and at least one UID";
            return false;
        }
        if (!idsOf(std::span(p.positional).subspan(2), "uid", q.uids, error)) return false;
    } else if (kind == "parse") {
        q.kind = NetnameRequest::Parse;
        if (rest != 1) {
            error = "netname parse needs exactly one NETNAME";
            return false;
        }
        q.netname = p.positional[1];
        r = q;
        return true;
    } else {
        error = "netname: unknown kind '" + kind + "' (host, user or parse)";
        return false;
    }
    q.domain = p.positional[1];
    if (q.domain.empty()) {
        error = "the domain is empty";
        return false;
    }
    r = q;
    return true;
}

bool parseGssWhoami(const ParsedOptions&, Request& r, std::string&) {
    r = GssWhoamiRequest{};
    return true;
}

const size_t kMany = static_cast<size_t>(-1);

const Command kCommands[] = {
    {"getport", "getport [-t|-u] HOST PROG VERS", "the port of a program, from HOST's portmapper",
     "Asks the portmapper on HOST (TCP port 111) for the TCP port of PROG version VERS and, when it has\n"
     "none, for its UDP port.",
     kGetportOptions, 3, 3, parseGetport},
    {"ping", "ping [-t|-u] [-n PORT] [-c COUNT] [-q] HOST PROG [VERS]", "a null call, with the time it took",
     "Looks up the program's port on HOST, then calls its procedure 0 (NULL) and shows how long each\n"
     "call took (the port look-up not included). Without -t or -u the call goes over TCP when the\n"
     "program is registered for TCP, else over UDP. With -n PORT (and -t or -u) the call goes to that\n"
     "port and the portmapper is not asked. Without VERS the server is asked which versions it has\n"
     "(the range of its PROG_MISMATCH answer to version 0) and each of them is called, as rpcinfo does.",
     kPingOptions, 2, 3, parsePing},
    {"dump", "dump HOST", "every registration of HOST's portmapper",
     "Lists the portmapper's table on HOST (version 2 DUMP over TCP port 111): program, version,\n"
     "protocol, port and the program's name, laid out as rpcinfo -p lays it out.",
     kCallingOptions, 1, 1, parseDump},
    {"broadcast", "broadcast [-t|-u] [-w SECONDS] PROG VERS", "which portmappers on the network know a program",
     "Broadcasts one portmapper question (GETPORT for PROG version VERS) to port 111 of every host on\n"
     "the local network (255.255.255.255) and shows each host that knows the program, with its port,\n"
     "as the answers arrive. Hosts that do not know it stay silent. With --json each answer is one\n"
     "JSON object on a line of its own.",
     kBroadcastOptions, 2, 2, parseBroadcast},
    {"uid2name", "uid2name HOST UID...", "user names of uids, through the name service",
     "Asks the name service for the user names of up to 128 uids (0 to 4294967295): the local\n"
     "directory service when one is configured, else PCNFSD version 2 on HOST, else Qelnfsd version 1\n"
     "on HOST. A uid nobody knows shows as (unknown), in JSON as null.",
     kCallingOptions, 2, kMany, parseUid2name},
    {"gid2name", "gid2name HOST GID...", "group names of gids, through the name service",
     "As uid2name, for group ids.", kCallingOptions, 2, kMany, parseGid2name},
    {"name2uid", "name2uid HOST NAME...", "uids of user names, through the name service",
     "As uid2name, the other way: up to 128 user names to uids.", kCallingOptions, 2, kMany,
     parseName2uid},
    {"name2gid", "name2gid HOST NAME...", "gids of group names, through the name service",
     "As name2uid, for group names.", kCallingOptions, 2, kMany, parseName2gid},
    {"authorize", "authorize HOST USER [--alt ADDR] [--order ORDER] [--comment TEXT]",
     "check a user's password with PCNFSD or Qelnfsd",
     "Authorises USER with a password and shows the uid, gid and groups the daemon answers. The\n"
     "password is read from the terminal without echo, or as one line from standard input when that\n"
     "is not a terminal. It leaves this machine only in the daemon's scrambled form.",
     kAuthorizeOptions, 2, 2, parseAuthorize},
    {"netname", "netname host DOMAIN [HOST] | netname user DOMAIN UID... | netname parse NETNAME",
     "Secure RPC net names",
     "host: the net name of HOST (default: this machine) in DOMAIN, unix.HOST@DOMAIN.\n"
     "user: the net names of uids in DOMAIN, unix.UID@DOMAIN.\n"
     "parse: the host part of a net name.",
     kCommonOptions, 2, kMany, parseNetname},
    {"gss-whoami", "gss-whoami", "the Kerberos principal of the default credentials",
     "Shows the principal (without its realm) of the default Kerberos credentials, as RPCSEC_GSS calls\n"
     "would use them.",
     kCommonOptions, 0, 0, parseGssWhoami},
};

const Command* findCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

std::string generalHelp() {
    std::string h =
        "usage: qelrpc COMMAND [ARGS...] [--json]\n"
        "       qelrpc COMMAND --help\n"
        "       qelrpc --version\n\n"
        "ONC RPC tools on the qelrpc library.\n\ncommands:\n";
    for (const auto& c : kCommands) {
        std::string name = c.name;
        name.resize(12, ' ');
        h += "  " + name + c.summary + "\n";
    }
    h += "\nPROG is a program number (decimal or 0x hexadecimal), a name of the system's RPC program\n"
         "database (/etc/rpc; Windows has none), or one of:";
    for (const auto& p : knownPrograms()) h += std::string(" ") + p.name;
    h += ".\nExit status: 0 success, 1 the operation failed (the library's status is shown with its\n"
         "meaning), 2 the command line is wrong.\n";
    return h;
}

std::string commandHelp(const std::string& command) {
    const Command* c = findCommand(command);
    if (c == nullptr) return generalHelp();
    std::string summary = c->summary;
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
    std::string h = std::string("usage: qelrpc ") + c->usage + "\n\n" + summary + ".\n" + c->details + "\n";
    h += "\noptions:\n";
    for (const auto& o : c->options) {
        std::string left = o.shortName ? std::string("-") + o.shortName + ", " : std::string("    ");
        left += std::string("--") + o.longName;
        if (o.valueName) left += std::string(" ") + o.valueName;
        if (left.size() < 20) left.resize(20, ' ');
        else left += "  ";
        h += "  " + left + o.help + "\n";
    }
    return h;
}

bool parseCommandLine(const std::vector<std::string>& words, Invocation& out, std::string& error) {
    out = Invocation{};
    if (words.empty()) {
        error = "no command given";
        return false;
    }
    if (words[0] == "--help" || words[0] == "-h") {
        out.help = true;
        return true;
    }
    if (words[0] == "--version") {
        if (words.size() > 1) {
            error = "--version takes no arguments";
            return false;
        }
        out.version = true;
        return true;
    }
    if (words[0] == "help") {
        out.help = true;
        if (words.size() > 1) out.command = words[1];
        if (words.size() > 2 || (!out.command.empty() && findCommand(out.command) == nullptr)) {
            error = "help: unknown command '" + (words.size() > 1 ? words[1] : std::string()) + "'";
            return false;
        }
        return true;
    }
    const Command* c = findCommand(words[0]);
    if (c == nullptr) {
        error = "unknown command '" + words[0] + "'";
        return false;
    }
    out.command = c->name;
    ParsedOptions parsed;
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (!parseOptions(c->options, rest, parsed, error)) return false;
    out.json = parsed.has("json");
    out.trace = parsed.has("trace");
    if (parsed.has("help")) {
        out.help = true;
        return true;
    }
    const size_t n = parsed.positional.size();
    if (n < c->minArgs) {
        error = std::string("missing arguments: qelrpc ") + c->usage;
        return false;
    }
    if (n > c->maxArgs) {
        error = "too many arguments ('" + parsed.positional[c->maxArgs] + "'): qelrpc " + c->usage;
        return false;
    }
    return c->parse(parsed, out.request, error);
}

}  // namespace qelrpc::cli
