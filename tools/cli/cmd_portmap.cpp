// getport, ping and broadcast: the portmapper and null calls.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "broadcast_socket.h"
#include "commands.h"
#include "programs.h"
#include "qelrpc.h"

namespace qelrpc::cli {

namespace {

constexpr uint32_t kPortmapperProgram = 100000;
constexpr uint32_t kPortmapperVersion = 2;
constexpr uint32_t kPmapGetPort = 3;
constexpr uint16_t kPortmapperPort = 111;
constexpr uint32_t kIpprotoTcp = 6;
constexpr uint32_t kIpprotoUdp = 17;
// No usable port: the library's ERROR_EXTENDED_ERROR.
constexpr int kNoUsablePort = 1208;

bool usable(uint16_t port) { return port != 0 && port != 0xFFFF; }

std::string targetLabel(const std::string& host, uint32_t prog, uint32_t vers) {
    return host + " " + programLabel(prog) + " version " + std::to_string(vers);
}

void programFields(JsonWriter& j, uint32_t prog, uint32_t vers) {
    j.key("program").value(prog).key("program_name");
    if (const char* n = programName(prog)) j.value(n);
    else j.null();
    j.key("version").value(vers);
}

// The operation with the program's port looked up, or the failing status.
int lookUp(RpcOperation& op, const std::string& host, uint32_t prog, uint32_t vers, Transport t, StatusFamily& family) {
    family = StatusFamily::Operation;
    int rc = rpcInitOperationEx(&op, host.c_str(), 0xFFFFFFFFu);
    if (rc != 0) return rc;
    if (t == Transport::Udp) op.protocol = RPC_PROTOCOL_UDP_ONLY;
    family = StatusFamily::PortLookup;
    rc = GetProgramPort(&op, prog, vers, 0);
    if (rc != 0) return rc;
    // The portmapper itself is on 111 both ways; keep only the transport asked for.
    if (t == Transport::Udp) op.tcpPort = 0;
    if (t == Transport::Tcp) op.udpPort = 0;
    if ((t == Transport::Tcp && !usable(op.tcpPort)) || (t == Transport::Udp && !usable(op.udpPort))) return kNoUsablePort;
    return 0;
}

}  // namespace

std::string programLabel(uint32_t prog) {
    if (const char* n = programName(prog)) return std::string(n) + " (" + std::to_string(prog) + ")";
    return "program " + std::to_string(prog);
}

int runGetport(const GetportRequest& r, const Output& out) {
    RpcOperation op;
    StatusFamily family;
    const int rc = lookUp(op, r.host, r.prog, r.vers, r.transport, family);
    const std::string what = targetLabel(r.host, r.prog, r.vers);
    if (rc != 0) {
        rpcCloseOperation(&op);
        if (rc == kNoUsablePort && family == StatusFamily::PortLookup)
            return reportFailure(out, what + (r.transport == Transport::Tcp ? ": not registered for TCP" : ""),
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
    rpcCloseOperation(&op);
    return 0;
}

int runPing(const PingRequest& r, const Output& out) {
    RpcOperation op;
    StatusFamily family;
    const std::string what = targetLabel(r.host, r.prog, r.vers);
    int rc = lookUp(op, r.host, r.prog, r.vers, r.transport, family);
    if (rc != 0) {
        rpcCloseOperation(&op);
        const char* missing = r.transport == Transport::Tcp ? ": not registered for TCP"
                              : r.transport == Transport::Udp ? ": not registered for UDP" : "";
        return reportFailure(out, rc == kNoUsablePort ? what + missing : what, family, rc);
    }
    const bool overTcp = usable(op.tcpPort);
    const char* transport = overTcp ? "TCP" : "UDP";
    const unsigned port = overTcp ? op.tcpPort : op.udpPort;
    if (!rpcCreateAuthNull(&op)) {
        rpcCloseOperation(&op);
        return reportError(out, "no memory for the credential");
    }

    struct Result {
        int status;
        double ms;
    };
    std::vector<Result> results;
    for (unsigned i = 0; i < r.count; ++i) {
        rc = rpcPrepareRPCHeader(&op, 0);
        if (rc != 0) {
            rpcCloseOperation(&op);
            return reportFailure(out, what + ": call header", StatusFamily::Call, rc);
        }
        InitDataBuffer(&op.request);
        const auto start = std::chrono::steady_clock::now();
        rc = CallRPC(&op, 0);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        results.push_back({rc, took.count()});
        if (!out.json && r.count > 1) {
            if (rc == 0) std::printf("call %u: answered in %.3f ms\n", i + 1, took.count());
            else std::printf("call %u: status %d (call): %s\n", i + 1, rc, describeStatus(StatusFamily::Call, rc).c_str());
            std::fflush(stdout);
        }
    }
    const uint32_t address = op.hostAddr;
    rpcCloseOperation(&op);

    unsigned answered = 0;
    double total = 0, least = 0, most = 0;
    for (const auto& res : results) {
        if (res.status != 0) continue;
        least = answered == 0 ? res.ms : std::min(least, res.ms);
        most = answered == 0 ? res.ms : std::max(most, res.ms);
        total += res.ms;
        ++answered;
    }
    if (r.count == 1 && results[0].status != 0)
        return reportFailure(out, what + " over " + transport + " port " + std::to_string(port), StatusFamily::Call,
                             results[0].status);
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("ping").key("ok").value(answered == r.count);
        j.key("host").value(r.host).key("address").value(dottedAddress(address));
        programFields(j, r.prog, r.vers);
        j.key("transport").value(overTcp ? "tcp" : "udp").key("port").value(static_cast<int64_t>(port));
        j.key("calls").beginArray();
        for (const auto& res : results) {
            j.beginObject().key("status").value(res.status);
            if (res.status == 0) j.key("milliseconds").value(res.ms);
            else j.key("status_text").value(describeStatus(StatusFamily::Call, res.status));
            j.endObject();
        }
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
    } else if (r.count == 1) {
        std::printf("%s over %s port %u: answered in %.3f ms\n", what.c_str(), transport, port, results[0].ms);
    } else {
        std::printf("%s over %s port %u: %u of %u calls answered", what.c_str(), transport, port, answered, r.count);
        if (answered > 0) std::printf(", min/avg/max %.3f/%.3f/%.3f ms", least, total / answered, most);
        std::printf("\n");
    }
    return answered == r.count ? 0 : 1;
}

int runBroadcast(const BroadcastRequest& r, const Output& out) {
    const bool tcp = r.transport == Transport::Tcp;
    const std::string what = "broadcast for " + programLabel(r.prog) + " version " + std::to_string(r.vers);
    RpcOperation op;
    int rc = rpcInitOperationEx(&op, nullptr, 0xFFFFFFFFu);
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
