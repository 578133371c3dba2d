// SPDX-License-Identifier: MIT
// getport, ping, dump and broadcast: the portmapper and null calls.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "broadcast_socket.h"
#include "commands.h"
#include "trace.h"
#include "programs.h"
#include "qelrpc.h"

namespace qelrpc::cli {

namespace {

constexpr uint32_t kPortmapperProgram = 100000;
constexpr uint32_t kPortmapperVersion = 2;
constexpr uint32_t kPmapGetPort = 3;
constexpr uint32_t kPmapDump = 4;
constexpr uint16_t kPortmapperPort = 111;
constexpr uint32_t kIpprotoTcp = 6;
constexpr uint32_t kIpprotoUdp = 17;
constexpr uint32_t kUnresolved = 0xFFFFFFFFu;
// No usable port: the library's ERROR_EXTENDED_ERROR.
constexpr int kNoUsablePort = 1208;
// PROG_MISMATCH from the reply check (-4 - accept_stat 2).
constexpr int kProgMismatch = -6;

bool usable(uint16_t port) { return port != 0 && port != 0xFFFF; }

std::string targetLabel(const std::string& host, uint32_t prog, uint32_t vers) {
    return host + " " + programLabel(prog) + " version " + std::to_string(vers);
}

void programFields(JsonWriter& j, uint32_t prog) {
    j.key("program").value(prog).key("program_name");
    if (const auto n = programName(prog)) j.value(*n);
    else j.null();
}

void programFields(JsonWriter& j, uint32_t prog, uint32_t vers) {
    programFields(j, prog);
    j.key("version").value(vers);
}

// An operation closed on every path once it was opened.
struct Operation {
    RpcOperation op{};
    bool open = false;
    Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    ~Operation() {
        if (open) rpcCloseOperation(&op);
    }
    int init(const std::string& host) {
        const int rc = rpcInitOperationEx(&op, host.c_str(), kUnresolved);
        open = true;  // a failed init holds no block: closing it then is harmless
        return rc;
    }
};

// The operation with the program's port looked up, or the failing status.
int lookUp(RpcOperation& op, uint32_t prog, uint32_t vers, Transport t, StatusFamily& family) {
    if (t == Transport::Udp) op.protocol = RPC_PROTOCOL_UDP_ONLY;
    family = StatusFamily::PortLookup;
    const int rc = GetProgramPort(&op, prog, vers, 0);
    if (rc != 0) return rc;
    // The portmapper itself is on 111 both ways; keep only the transport asked for.
    if (t == Transport::Udp) op.tcpPort = 0;
    if (t == Transport::Tcp) op.udpPort = 0;
    if ((t == Transport::Tcp && !usable(op.tcpPort)) || (t == Transport::Udp && !usable(op.udpPort))) return kNoUsablePort;
    return 0;
}

// ---------------------------------------------------------------------------
// The portmapper's table (RFC 1833 section 3.2, PMAPPROC_DUMP):
//
//   results  pmaplist = bool more | mapping (prog vers prot port) | bool more | ... | FALSE
//
// Read with the exported routines (mbufGetLong, xdr_mapping) over the reply's
// results window, so a list cut short or running past the reply is refused,
// never read beyond.
// ---------------------------------------------------------------------------

struct DumpTable {
    int status = 0;  // 0, or a status of `family`
    StatusFamily family = StatusFamily::Operation;
    std::string error;  // a failure without a library status
    uint32_t address = 0;
    std::vector<mapping> entries;
};

// Each entry takes 20 bytes of the reply (its "more" word and the mapping):
// no list in one block holds more, whatever its words say.
constexpr uint32_t kMaxDumpEntries = RPC_MBUF_SIZE / 20;

bool readPmapList(MbufCursor results, std::vector<mapping>& entries) {
    for (uint32_t i = 0; i <= kMaxDumpEntries; ++i) {
        // The "more" word through mbufGetLong, not xdr_bool: the sanitizer
        // runtimes interpose the C library's xdr_bool (two arguments) on
        // every executable, and this call would reach ours without its third.
        uint32_t more = 0;
        if (mbufGetLong(&results, &more) != 0) return false;
        if (more == 0) return true;
        mapping m{};
        if (xdr_mapping(&results, XDR_OP_DECODE, &m) != 1) return false;
        entries.push_back(m);
    }
    return false;
}

DumpTable dumpTable(const std::string& host) {
    DumpTable d;
    Operation o;
    RpcOperation& op = o.op;
    d.status = o.init(host);
    if (d.status != 0) return d;
    d.address = GetHostIP(host.c_str(), 0);
    if (d.address == kUnresolved) {
        d.error = "cannot resolve host '" + host + "'";
        return d;
    }
    op.hostAddr = d.address;
    if (!rpcCreateAuthNull(&op)) {
        d.error = "no memory for the credential";
        return d;
    }
    // Over TCP, as rpcinfo -p asks: a long table does not fit a datagram.
    op.prog = kPortmapperProgram;
    op.vers = kPortmapperVersion;
    op.tcpPort = kPortmapperPort;
    op.udpPort = 0;
    d.family = StatusFamily::Call;
    d.status = rpcPrepareRPCHeader(&op, kPmapDump);
    if (d.status != 0) return d;
    InitDataBuffer(&op.request);
    d.status = CallRPC(&op, 0);
    if (d.status != 0) return d;
    if (!readPmapList(op.reply.data, d.entries)) {
        d.entries.clear();
        d.error = "the portmapper's table cannot be read (cut short, or longer than the reply)";
    }
    return d;
}

const mapping* findRegistration(const std::vector<mapping>& entries, uint32_t prog, uint32_t vers, uint32_t prot) {
    for (const auto& m : entries)
        if (m.prog == prog && m.vers == vers && m.prot == prot) return &m;
    return nullptr;
}

// The first registration of prog in the table on the transport asked (TCP
// before UDP when none was), its port stored in the operation.
bool anyRegistration(const std::string& host, uint32_t prog, Transport t, RpcOperation& op) {
    const DumpTable table = dumpTable(host);
    if (table.status != 0 || !table.error.empty()) return false;
    for (const uint32_t prot : {kIpprotoTcp, kIpprotoUdp}) {
        if ((prot == kIpprotoTcp && t == Transport::Udp) || (prot == kIpprotoUdp && t == Transport::Tcp)) continue;
        for (const auto& m : table.entries) {
            if (m.prog != prog || m.prot != prot || !usable(static_cast<uint16_t>(m.port)) || m.port > 0xFFFF) continue;
            op.tcpPort = prot == kIpprotoTcp ? static_cast<uint16_t>(m.port) : 0;
            op.udpPort = prot == kIpprotoUdp ? static_cast<uint16_t>(m.port) : 0;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Null calls and the version probe.
// ---------------------------------------------------------------------------

struct CallResult {
    int status;
    double ms;
};

int nullCall(RpcOperation& op, uint32_t vers, double& ms) {
    op.vers = vers;
    const int rc = rpcPrepareRPCHeader(&op, 0);
    if (rc != 0) return rc;
    InitDataBuffer(&op.request);
    const auto start = std::chrono::steady_clock::now();
    const int status = CallRPC(&op, 0);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    ms = took.count();
    return status;
}

// The low and high versions of a PROG_MISMATCH answer (RFC 5531 section 9,
// mismatch_info), decoded from the whole reply in the operation's reply
// block with the exported message routine.
bool mismatchRange(const RpcOperation& op, uint32_t& low, uint32_t& high) {
    MbufCursor reply{};
    reply.pos = op.reply.block.pos;
    reply.count = std::min(op.reply.block.count, op.reply.block.limit);
    reply.limit = reply.count;
    rpc_msg msg{};
    const bool read = reply.pos != nullptr && xdr_rpc_msg(&reply, XDR_OP_DECODE, &msg) == 1 && msg.mtype == 1 &&
                      msg.rbody.stat == 0 && msg.rbody.areply.stat == 2;
    if (read) {
        low = msg.rbody.areply.mismatch_info.low;
        high = msg.rbody.areply.mismatch_info.high;
    }
    xdr_rpc_msg(nullptr, XDR_OP_FREE, &msg);
    return read && low <= high;
}

// Which versions the server has, as rpcinfo finds out: call version 0 and
// read the range of the PROG_MISMATCH answer; a server that takes version 0
// is asked for 4294967295 as well, and one that takes both claims them all.
// 0, a call's status, or kUnreadableRange.
constexpr int kUnreadableRange = 1;
int probeVersions(RpcOperation& op, uint32_t& low, uint32_t& high) {
    double ms = 0;
    for (const uint32_t unlikely : {0u, 0xFFFFFFFFu}) {
        const int rc = nullCall(op, unlikely, ms);
        if (rc == kProgMismatch) return mismatchRange(op, low, high) ? 0 : kUnreadableRange;
        if (rc != 0) return rc;
    }
    low = 0;
    high = 0xFFFFFFFFu;
    return 0;
}

struct VersionResult {
    uint32_t vers;
    std::vector<CallResult> calls;
    unsigned answered = 0;
    double least = 0, most = 0, total = 0;
};

VersionResult pingVersion(RpcOperation& op, uint32_t vers, unsigned count, bool printEach, bool probing) {
    VersionResult v{vers, {}};
    for (unsigned i = 0; i < count; ++i) {
        double ms = 0;
        const int rc = nullCall(op, vers, ms);
        v.calls.push_back({rc, ms});
        if (printEach) {
            if (probing) std::printf("version %u ", vers);
            if (rc == 0) std::printf("call %u: answered in %.3f ms\n", i + 1, ms);
            else std::printf("call %u: status %d (call): %s\n", i + 1, rc, describeStatus(StatusFamily::Call, rc).c_str());
            std::fflush(stdout);
        }
        if (rc != 0) continue;
        v.least = v.answered == 0 ? ms : std::min(v.least, ms);
        v.most = v.answered == 0 ? ms : std::max(v.most, ms);
        v.total += ms;
        ++v.answered;
    }
    return v;
}

void versionJson(JsonWriter& j, const VersionResult& v, bool quiet) {
    j.key("answered").value(static_cast<int64_t>(v.answered));
    if (v.answered > 0) {
        j.key("min_milliseconds").value(v.least).key("avg_milliseconds").value(v.total / v.answered);
        j.key("max_milliseconds").value(v.most);
    }
    if (quiet) return;
    j.key("calls").beginArray();
    for (const auto& res : v.calls) {
        j.beginObject().key("status").value(res.status);
        if (res.status == 0) j.key("milliseconds").value(res.ms);
        else j.key("status_text").value(describeStatus(StatusFamily::Call, res.status));
        j.endObject();
    }
    j.endArray();
}

// One line for a version: its time, its calls' summary, or why it failed.
void versionLine(const std::string& where, const VersionResult& v) {
    const size_t count = v.calls.size();
    if (count == 1 && v.answered == 1) {
        std::printf("%s: answered in %.3f ms\n", where.c_str(), v.calls[0].ms);
    } else if (count == 1) {
        const int rc = v.calls[0].status;
        std::printf("%s: not available: status %d (call): %s\n", where.c_str(), rc,
                    describeStatus(StatusFamily::Call, rc).c_str());
    } else {
        std::printf("%s: %u of %zu calls answered", where.c_str(), v.answered, count);
        if (v.answered > 0) std::printf(", min/avg/max %.3f/%.3f/%.3f ms", v.least, v.total / v.answered, v.most);
        std::printf("\n");
    }
}

}  // namespace

std::string programLabel(uint32_t prog) {
    if (const auto n = programName(prog)) return *n + " (" + std::to_string(prog) + ")";
    return "program " + std::to_string(prog);
}

int runGetport(const GetportRequest& r, const Output& out) {
    Operation o;
    RpcOperation& op = o.op;
    const std::string what = targetLabel(r.host, r.prog, r.vers);
    StatusFamily family = StatusFamily::Operation;
    int rc = o.init(r.host);
    if (rc == 0) rc = lookUp(op, r.prog, r.vers, r.transport, family);
    // rpcbind answers GETPORT with another version's port when the version
    // asked is not registered: a port is only believed once the table lists
    // (prog, vers, protocol). A portmapper without DUMP leaves GETPORT's
    // answer as it is.
    if (rc == 0 && r.prog != kPortmapperProgram) {
        const DumpTable table = dumpTable(r.host);
        if (table.status == 0 && table.error.empty()) {
            const mapping* tcp = findRegistration(table.entries, r.prog, r.vers, kIpprotoTcp);
            const mapping* udp = findRegistration(table.entries, r.prog, r.vers, kIpprotoUdp);
            // The same preference as the look-up: TCP, else UDP, unless one was asked for.
            op.tcpPort = r.transport != Transport::Udp && tcp ? static_cast<uint16_t>(tcp->port) : 0;
            op.udpPort = (r.transport == Transport::Udp || (r.transport == Transport::Any && !tcp)) && udp
                             ? static_cast<uint16_t>(udp->port)
                             : 0;
            if (!usable(op.tcpPort) && !usable(op.udpPort)) rc = kNoUsablePort;
        }
    }
    if (rc != 0) {
        if (rc == kNoUsablePort && family == StatusFamily::PortLookup)
            return reportFailure(out, what + (r.transport == Transport::Tcp   ? ": not registered for TCP"
                                              : r.transport == Transport::Udp ? ": not registered for UDP"
                                                                              : ": not registered"),
                                 family, rc);
        return reportFailure(out, what, family, rc);
    }
    const bool tcp = usable(op.tcpPort), udp = usable(op.udpPort);
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("getport").key("ok").value(true);
        j.key("host").value(r.host).key("address").value(dottedAddress(op.hostAddr));
        programFields(j, r.prog, r.vers);
        j.key("tcp_port");
        if (tcp) j.value(static_cast<int64_t>(op.tcpPort));
        else j.null();
        j.key("udp_port");
        if (udp) j.value(static_cast<int64_t>(op.udpPort));
        else j.null();
        j.endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        std::printf("%s:", what.c_str());
        if (tcp) std::printf(" tcp port %u", op.tcpPort);
        if (tcp && udp) std::printf(",");
        if (udp) std::printf(" udp port %u", op.udpPort);
        std::printf("\n");
    }
    return 0;
}

int runPing(const PingRequest& r, const Output& out) {
    Operation o;
    RpcOperation& op = o.op;
    const std::string what = r.vers ? targetLabel(r.host, r.prog, *r.vers) : r.host + " " + programLabel(r.prog);
    int rc = o.init(r.host);
    if (rc != 0) return reportFailure(out, what, StatusFamily::Operation, rc);
    if (r.port) {
        // rpcinfo -n: the port is given, the portmapper is not asked.
        op.hostAddr = GetHostIP(r.host.c_str(), 0);
        if (op.hostAddr == kUnresolved) return reportError(out, "cannot resolve host '" + r.host + "'");
        const bool tcp = r.transport == Transport::Tcp;
        op.tcpPort = tcp ? *r.port : 0;
        op.udpPort = tcp ? 0 : *r.port;
        if (!tcp) op.protocol = RPC_PROTOCOL_UDP_ONLY;
    } else {
        // Without a version, rpcbind's GETPORT answers with any version's
        // port, which is where the probe goes; a portmapper that matches
        // versions exactly answers 0, and then the table names the port.
        StatusFamily family;
        rc = lookUp(op, r.prog, r.vers.value_or(0), r.transport, family);
        if (rc == kNoUsablePort && !r.vers && anyRegistration(r.host, r.prog, r.transport, op)) rc = 0;
        if (rc != 0) {
            const char* missing = r.transport == Transport::Tcp   ? ": not registered for TCP"
                                  : r.transport == Transport::Udp ? ": not registered for UDP"
                                                                  : "";
            return reportFailure(out, rc == kNoUsablePort ? what + missing : what, family, rc);
        }
    }
    op.prog = r.prog;
    const bool overTcp = usable(op.tcpPort);
    const char* transport = overTcp ? "TCP" : "UDP";
    const unsigned port = overTcp ? op.tcpPort : op.udpPort;
    const std::string over = std::string(" over ") + transport + " port " + std::to_string(port);
    if (!rpcCreateAuthNull(&op)) return reportError(out, "no memory for the credential");

    uint32_t low = 0, high = 0;
    if (r.vers) {
        low = high = *r.vers;
    } else {
        rc = probeVersions(op, low, high);
        if (rc == kUnreadableRange)
            return reportError(out, what + over + ": the PROG_MISMATCH answer's version range cannot be read");
        if (rc != 0) return reportFailure(out, what + over + ": asking for its versions", StatusFamily::Call, rc);
    }
    // A server may claim any range: at most kMaxProbedVersions are called.
    const uint32_t last = high - low >= kMaxProbedVersions ? low + (kMaxProbedVersions - 1) : high;
    const bool probing = !r.vers.has_value();
    if (probing && !out.json) {
        std::printf("%s%s: versions %u to %u", what.c_str(), over.c_str(), low, high);
        if (last != high) std::printf(" (only %u to %u are called)", low, last);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::vector<VersionResult> results;
    for (uint64_t v = low; v <= last; ++v)
        results.push_back(pingVersion(op, static_cast<uint32_t>(v), r.count, !out.json && !r.quiet && r.count > 1, probing));

    bool all = true;
    for (const auto& v : results) all = all && v.answered == r.count;
    // One version, one call, no answer: a failure of the command, reported as such.
    if (!probing && r.count == 1 && !all)
        return reportFailure(out, what + over, StatusFamily::Call, results[0].calls[0].status);
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("ping").key("ok").value(all);
        j.key("host").value(r.host).key("address").value(dottedAddress(op.hostAddr));
        if (probing) programFields(j, r.prog);
        else programFields(j, r.prog, *r.vers);
        j.key("transport").value(overTcp ? "tcp" : "udp").key("port").value(static_cast<int64_t>(port));
        if (probing) {
            j.key("low").value(low).key("high").value(high).key("versions").beginArray();
            for (const auto& v : results) {
                j.beginObject().key("version").value(v.vers).key("ok").value(v.answered == r.count);
                versionJson(j, v, r.quiet);
                j.endObject();
            }
            j.endArray();
        } else {
            versionJson(j, results[0], r.quiet);
        }
        j.endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        for (const auto& v : results) versionLine(targetLabel(r.host, r.prog, v.vers) + over, v);
    }
    return all ? 0 : 1;
}

int runDump(const DumpRequest& r, const Output& out) {
    const DumpTable d = dumpTable(r.host);
    const std::string what = r.host + " portmapper table";
    if (!d.error.empty()) return reportError(out, r.host + ": " + d.error);
    if (d.status != 0) return reportFailure(out, what, d.family, d.status);
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("dump").key("ok").value(true);
        j.key("host").value(r.host).key("address").value(dottedAddress(d.address)).key("registrations").beginArray();
        for (const auto& m : d.entries) {
            j.beginObject();
            programFields(j, m.prog, m.vers);
            j.key("protocol");
            if (m.prot == kIpprotoTcp) j.value("tcp");
            else if (m.prot == kIpprotoUdp) j.value("udp");
            else j.value(m.prot);
            j.key("port").value(m.port).endObject();
        }
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
        return 0;
    }
    // rpcinfo -p's layout, column for column.
    if (d.entries.empty()) {
        std::printf("No remote programs registered.\n");
        return 0;
    }
    std::printf("   program vers proto   port  service\n");
    for (const auto& m : d.entries) {
        std::printf("%10u%5u", m.prog, m.vers);
        if (m.prot == kIpprotoUdp) std::printf("%6s", "udp");
        else if (m.prot == kIpprotoTcp) std::printf("%6s", "tcp");
        else std::printf("%6u", m.prot);
        std::printf("%7u", m.port);
        if (const auto n = programName(m.prog)) std::printf("  %s", n->c_str());
        std::printf("\n");
    }
    return 0;
}

int runBroadcast(const BroadcastRequest& r, const Output& out) {
    const bool tcp = r.transport == Transport::Tcp;
    const std::string what = "broadcast for " + programLabel(r.prog) + " version " + std::to_string(r.vers);
    RpcOperation op;
    int rc = rpcInitOperationEx(&op, nullptr, kUnresolved);
    if (rc != 0) return reportFailure(out, what, StatusFamily::Operation, rc);
    if (!rpcCreateAuthNull(&op)) {
        rpcCloseOperation(&op);
        return reportError(out, "no memory for the credential");
    }
    // GETPORT at every portmapper: an answer's first word is the port, and
    // a portmapper that does not know the program answers 0, which the
    // broadcast drops, so only hosts that have it are heard.
    rc = rpcPrepareRPCBroadcastHeader(&op, kPortmapperProgram, kPortmapperVersion, kPmapGetPort, kPortmapperPort);
    if (rc != 0) {
        rpcCloseOperation(&op);
        return reportFailure(out, what + ": call header", StatusFamily::Call, rc);
    }
    InitDataBuffer(&op.request);
    const mapping question{r.prog, r.vers, tcp ? kIpprotoTcp : kIpprotoUdp, 0};
    BuildPmapGetPort(&op.request.data, &question);
    rc = rpcBroadcastStart(&op);
    traceBroadcast(op, true, nullptr);
    if (rc != 0) {
        rpcCloseOperation(&op);
        return reportFailure(out, what, StatusFamily::Broadcast, rc);
    }
    if (!out.json) {
        std::printf("Asking every portmapper for %s version %u (%s), answers for %g s:\n", programLabel(r.prog).c_str(),
                    r.vers, tcp ? "TCP" : "UDP", r.waitSeconds);
        std::fflush(stdout);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(static_cast<int64_t>(r.waitSeconds * 1e6));
    unsigned answers = 0;
    int failure = 0;
    // Bounded by the deadline, and by a count should a flood of answers keep coming.
    for (int i = 0; i < 100000; ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        const RpcTimeValue wait{static_cast<int32_t>(left / 1000000), static_cast<int32_t>(left % 1000000)};
        RpcSockAddrIn sender{};
        rc = rpcBroadcastReadNext(&op, &wait, &sender);
        if (rc == -302) break;
        if (rc != 0) {
            failure = rc;
            break;
        }
        traceBroadcast(op, false, &sender);
        // The answer passed the reply check and its first word is nonzero;
        // run the check again to read that word, the port.
        uint32_t port = 0;
        if (ProcessRPCResponse(&op) != 0 || mbufGetLong(&op.reply.data, &port) != 0) continue;
        ++answers;
        if (out.json) {
            JsonWriter j;
            j.beginObject().key("command").value("broadcast").key("ok").value(true);
            j.key("address").value(dottedAddress(sender.addr));
            programFields(j, r.prog, r.vers);
            j.key("protocol").value(tcp ? "tcp" : "udp").key("port").value(static_cast<int64_t>(port & 0xFFFF));
            j.endObject();
            std::printf("%s\n", j.text().c_str());
        } else {
            std::printf("  %-15s %s port %u\n", dottedAddress(sender.addr).c_str(), tcp ? "tcp" : "udp", port & 0xFFFF);
        }
        std::fflush(stdout);
    }
    closeBroadcastSocket(op.sock);
    op.sock = RPC_INVALID_SOCKET;
    rpcCloseOperation(&op);
    if (failure != 0) return reportFailure(out, what, StatusFamily::Broadcast, failure);
    if (answers == 0) return reportFailure(out, what + ": no portmapper knows it", StatusFamily::Broadcast, -302);
    if (!out.json) std::printf("%u answer%s\n", answers, answers == 1 ? "" : "s");
    return 0;
}

}  // namespace qelrpc::cli
