// SPDX-License-Identifier: MIT
// Whole null calls on loopback against one libtirpc server (tests/peers),
// side by side: this library (a fresh socket per exchange, and a kept one:
// rows .../Kept, set against libtirpc's kept client; TCP also from a
// reserved source port, .../ReservedPort, set against libtirpc's default
// as root), libtirpc with a client per call and with a kept client, and raw
// sockets without RPC machinery as the floor. Then the port look-up against rpcbind: this
// library's GetProgramPort and libtirpc's pmap_getport.
//
// Run pinned to one CPU (taskset -c 0); the servers inherit the pinning.
// rpcbind is started for the look-up benchmarks when nothing answers on
// port 111, and stopped again by its PID.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qelrpc.h"
#include "tests/child_process.h"
#include "tirpc_client.h"

namespace {

constexpr uint32_t kNullProg = 0x20000F01;
constexpr uint32_t kVers = 1;

struct Servers {
    testproc::Child rpcbind;
    testproc::Child peer;
    uint16_t tcp = 0, udp = 0;
    bool portmapper = false;
} g_servers;

uint32_t loopback() { return htonl(INADDR_LOOPBACK); }

bool listensOn(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = loopback();
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
    close(s);
    return ok;
}

std::string peerProgram() {
    if (const char* p = std::getenv("QELRPC_PEER")) return p;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    return (std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path().parent_path() / "tests" /
            "peers" / "qelrpc_peer")
        .string();
}

bool startServers() {
    if (!listensOn(111) && getuid() == 0 && std::filesystem::exists("/usr/sbin/rpcbind")) {
        g_servers.rpcbind.start({"/usr/sbin/rpcbind", "-f"});
        for (int i = 0; i < 200 && !listensOn(111); ++i) usleep(10'000);
    }
    g_servers.portmapper = listensOn(111);
    if (!g_servers.peer.start({peerProgram(), g_servers.portmapper ? "register" : "noreg"})) return false;
    std::string line;
    unsigned tcp = 0, udp = 0;
    if (!g_servers.peer.readLine(line, std::chrono::seconds(10)) ||
        std::sscanf(line.c_str(), "ready tcp=%u udp=%u", &tcp, &udp) != 2)
        return false;
    g_servers.tcp = static_cast<uint16_t>(tcp);
    g_servers.udp = static_cast<uint16_t>(udp);
    return true;
}

// An operation ready for null calls to the peer over one transport.
struct NullOperation {
    RpcOperation op{};
    NullOperation(uint16_t tcpPort, uint16_t udpPort, bool keep = false, bool reservedPort = false) {
        rpcInitOperationEx(&op, nullptr, loopback());
        if (keep) rpcSetKeepConnection(&op, 1);
        if (reservedPort) rpcSetReservedPort(&op, 1);
        rpcCreateAuthNull(&op);
        op.prog = kNullProg;
        op.vers = kVers;
        op.tcpPort = tcpPort;
        op.udpPort = udpPort;
    }
    ~NullOperation() { rpcCloseOperation(&op); }
    int call() {
        rpcPrepareRPCHeader(&op, 0);
        InitDataBuffer(&op.request);
        return CallRPC(&op, 0);
    }
};

// ---------------------------------------------------------------- UDP

void Qel_UdpNullCall(benchmark::State& state) {
    NullOperation n(0, g_servers.udp);
    for (auto _ : state)
        if (n.call() != 0) state.SkipWithError("call failed");
}

// One socket for all the calls, as libtirpc's kept client.
void Qel_UdpNullCall_Kept(benchmark::State& state) {
    NullOperation n(0, g_servers.udp, true);
    for (auto _ : state)
        if (n.call() != 0) state.SkipWithError("call failed");
}

// state.range(0): 1 = the benchmark hands libtirpc a plain socket, 0 =
// libtirpc makes its own (bound to a reserved port when run as root).
void Tirpc_UdpNullCall_ClientPerCall(benchmark::State& state) {
    for (auto _ : state) {
        auto* c = bench::tirpc::newUdpClient(loopback(), g_servers.udp, kNullProg, kVers, state.range(0) != 0);
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
        bench::tirpc::deleteClient(c);
    }
}

void Tirpc_UdpNullCall_KeptClient(benchmark::State& state) {
    auto* c = bench::tirpc::newUdpClient(loopback(), g_servers.udp, kNullProg, kVers);
    for (auto _ : state)
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
    bench::tirpc::deleteClient(c);
}

// The null call's bytes, built once: the floor sends them with no RPC work.
std::vector<uint8_t> nullCallRecord() {
    NullOperation n(0, 0);
    rpcPrepareRPCHeader(&n.op, 0);
    const uint8_t* b = n.op.request.block.pos;
    std::vector<uint8_t> rec(b, b + n.op.request.header.count);
    const uint32_t mark = htonl(0x80000000u | (n.op.request.header.count - 4));
    std::memcpy(rec.data(), &mark, 4);
    return rec;
}

void Floor_UdpNullCall_RawSocket(benchmark::State& state) {
    const std::vector<uint8_t> rec = nullCallRecord();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(g_servers.udp);
    to.sin_addr.s_addr = loopback();
    uint8_t buf[512];
    for (auto _ : state) {
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        sendto(s, rec.data() + 4, rec.size() - 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (recv(s, buf, sizeof buf, 0) <= 0) state.SkipWithError("no answer");
        close(s);
    }
}

// ---------------------------------------------------------------- TCP

void Qel_TcpNullCall(benchmark::State& state) {
    NullOperation n(g_servers.tcp, 0);
    for (auto _ : state)
        if (n.call() != 0) state.SkipWithError("call failed");
}

// One connection for all the calls, as libtirpc's kept client.
void Qel_TcpNullCall_Kept(benchmark::State& state) {
    NullOperation n(g_servers.tcp, 0, true);
    for (auto _ : state)
        if (n.call() != 0) state.SkipWithError("call failed");
}

// A connection per call from a reserved source port, beside libtirpc's own
// default as root.
void Qel_TcpNullCall_ReservedPort(benchmark::State& state) {
    NullOperation n(g_servers.tcp, 0, false, true);
    for (auto _ : state)
        if (n.call() != 0) state.SkipWithError("call failed");
}

// A client per call on a socket connected plainly (libtirpc's behaviour for
// an unprivileged caller); no row binds an ephemeral port before
// connecting, a search that grows with the closed connections in TIME_WAIT.
void Tirpc_TcpNullCall_ClientPerCall(benchmark::State& state) {
    for (auto _ : state) {
        auto* c = bench::tirpc::newTcpClient(loopback(), g_servers.tcp, kNullProg, kVers, true);
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
        bench::tirpc::deleteClient(c);
    }
}

// libtirpc's own default, which as root binds a reserved port first
// (bindresvport) and, when every one is held in TIME_WAIT, connects from an
// ephemeral port after the failed search.
void Tirpc_TcpNullCall_ClientPerCallReservedPort(benchmark::State& state) {
    for (auto _ : state) {
        auto* c = bench::tirpc::newTcpClient(loopback(), g_servers.tcp, kNullProg, kVers, false);
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
        bench::tirpc::deleteClient(c);
    }
}

void Tirpc_TcpNullCall_KeptClient(benchmark::State& state) {
    auto* c = bench::tirpc::newTcpClient(loopback(), g_servers.tcp, kNullProg, kVers);
    for (auto _ : state)
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
    bench::tirpc::deleteClient(c);
}

// Connect, send the record, read the whole reply record, close.
void rawTcpCall(benchmark::State& state, const std::vector<uint8_t>& rec, int s) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(g_servers.tcp);
    to.sin_addr.s_addr = loopback();
    uint8_t buf[512];
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) state.SkipWithError("connect");
    send(s, rec.data(), rec.size(), MSG_NOSIGNAL);
    // The whole record: mark, then as many bytes as it announces.
    size_t have = 0, want = 4;
    while (have < want) {
        const ssize_t n = recv(s, buf + have, sizeof buf - have, 0);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        if (have >= 4) want = 4 + (ntohl(*reinterpret_cast<uint32_t*>(buf)) & 0x7FFFFFFF);
    }
    close(s);
}

void Floor_TcpNullCall_RawSocket(benchmark::State& state) {
    const std::vector<uint8_t> rec = nullCallRecord();
    for (auto _ : state) rawTcpCall(state, rec, socket(AF_INET, SOCK_STREAM, 0));
}

// The same from a reserved port: SO_REUSEADDR, then ports 1023 down to 512
// in turn until one binds (the floor of any reserved-port client).
void Floor_TcpNullCall_RawSocketReservedPort(benchmark::State& state) {
    const std::vector<uint8_t> rec = nullCallRecord();
    uint16_t next = 1023;
    for (auto _ : state) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        bool bound = false;
        for (int tries = 0; tries < 512 && !bound; ++tries) {
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(next);
            next = next == 512 ? 1023 : static_cast<uint16_t>(next - 1);
            bound = bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
        }
        if (!bound) state.SkipWithError("no reserved port");
        rawTcpCall(state, rec, s);
    }
}

// ---------------------------------------------------------------- look-up

void Qel_PortLookUp_GetProgramPort(benchmark::State& state) {
    if (!g_servers.portmapper) return state.SkipWithError("no portmapper on port 111");
    RpcOperation op{};
    rpcInitOperationEx(&op, nullptr, loopback());
    rpcCreateAuthNull(&op);
    for (auto _ : state)
        if (GetProgramPort(&op, kNullProg, kVers, 0) != 0 || op.tcpPort != g_servers.tcp)
            state.SkipWithError("look-up failed");
    rpcCloseOperation(&op);
}

void Tirpc_PortLookUp_PmapGetport(benchmark::State& state) {
    if (!g_servers.portmapper) return state.SkipWithError("no portmapper on port 111");
    for (auto _ : state)
        if (bench::tirpc::pmapGetPort(loopback(), kNullProg, kVers, IPPROTO_TCP) != g_servers.tcp)
            state.SkipWithError("look-up failed");
}

}  // namespace

BENCHMARK(Qel_UdpNullCall)->UseRealTime();
BENCHMARK(Qel_UdpNullCall_Kept)->Name("Qel_UdpNullCall/Kept")->UseRealTime();
BENCHMARK(Tirpc_UdpNullCall_ClientPerCall)->ArgName("ownSocket")->Arg(1)->Arg(0)->UseRealTime();
BENCHMARK(Tirpc_UdpNullCall_KeptClient)->UseRealTime();
BENCHMARK(Floor_UdpNullCall_RawSocket)->UseRealTime();
BENCHMARK(Qel_TcpNullCall)->UseRealTime();
BENCHMARK(Qel_TcpNullCall_Kept)->Name("Qel_TcpNullCall/Kept")->UseRealTime();
BENCHMARK(Qel_TcpNullCall_ReservedPort)->Name("Qel_TcpNullCall/ReservedPort")->UseRealTime();
BENCHMARK(Tirpc_TcpNullCall_ClientPerCall)->UseRealTime();
BENCHMARK(Tirpc_TcpNullCall_ClientPerCallReservedPort)
    ->Name("Tirpc_TcpNullCall_ClientPerCall/ReservedPort")
    ->UseRealTime();
BENCHMARK(Tirpc_TcpNullCall_KeptClient)->UseRealTime();
BENCHMARK(Floor_TcpNullCall_RawSocket)->UseRealTime();
BENCHMARK(Floor_TcpNullCall_RawSocketReservedPort)->Name("Floor_TcpNullCall_RawSocket/ReservedPort")->UseRealTime();
BENCHMARK(Qel_PortLookUp_GetProgramPort)->UseRealTime();
BENCHMARK(Tirpc_PortLookUp_PmapGetport)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!startServers()) {
        std::fprintf(stderr, "bench_calls: the libtirpc peer did not start (%s)\n", peerProgram().c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_servers.peer.stop();
    g_servers.rpcbind.stop();
    return 0;
}
