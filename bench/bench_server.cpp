// SPDX-License-Identifier: MIT
// The server side against libtirpc's svc_tcp server, both answering the
// same null procedure and driven by the same libtirpc client: calls on one
// persistent connection, a connection per call, four clients calling at
// once on kept connections (pinned, and with every thread and the libtirpc
// server let loose on all CPUs), and calls while another client holds an
// idle connection.
//
// Run pinned to one CPU (taskset -c 0); the libtirpc server inherits the
// pinning, and this library's server runs on a thread of this process.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "qelrpc.h"
#include "tests/child_process.h"
#include "tirpc_client.h"

namespace {

constexpr uint32_t kNullProg = 0x20000F01;
constexpr uint32_t kVers = 1;
constexpr uint32_t kStopProc = 99;

struct Servers {
    testproc::Child tirpc;
    uint16_t tirpcPort = 0;
    RpcOperation listening{};
    uint32_t ourAddr = 0;
    uint16_t ourPort = 0;
    std::thread loop;
} g;

std::string peerProgram() {
    if (const char* p = std::getenv("QELRPC_PEER")) return p;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    return (std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path().parent_path() / "tests" /
            "peers" / "qelrpc_peer")
        .string();
}

// The null procedure; proc 99 stops the loop. The connection is kept for
// the client's next call.
int nullHandler(RpcOperation* op, RpcSocket conn, uint32_t xid) {
    rpcCreateReplyHeader(op, xid, op->proc == kStopProc || op->proc == 0 ? 0 : 3, nullptr);
    ReplyRPC(op, conn);
    return op->proc == kStopProc ? 0 : 1;
}

bool startServers() {
    if (!g.tirpc.start({peerProgram(), "noreg"})) return false;
    std::string line;
    unsigned tcp = 0, udp = 0;
    if (!g.tirpc.readLine(line, std::chrono::seconds(10)) ||
        std::sscanf(line.c_str(), "ready tcp=%u udp=%u", &tcp, &udp) != 2)
        return false;
    g.tirpcPort = static_cast<uint16_t>(tcp);
    if (rpcInitServerOperation(&g.listening, 0) != 0) return false;
    g.ourAddr = g.listening.localAddr.addr;
    g.ourPort = ntohs(g.listening.localAddr.port);
    g.loop = std::thread([] { rpcAcceptIncoming(&g.listening, nullHandler); });
    return true;
}

void stopServers() {
    if (g.loop.joinable()) {
        // A call to the stop procedure ends the accept loop.
        RpcOperation op{};
        rpcInitOperationEx(&op, nullptr, g.ourAddr);
        rpcCreateAuthNull(&op);
        op.prog = kNullProg;
        op.vers = kVers;
        op.tcpPort = g.ourPort;
        rpcPrepareRPCHeader(&op, kStopProc);
        InitDataBuffer(&op.request);
        CallRPC(&op, 0);
        rpcCloseOperation(&op);
        g.loop.join();
        close(static_cast<int>(g.listening.sock));
    }
    g.tirpc.stop();
}

void persistent(benchmark::State& state, uint32_t addr, uint16_t port) {
    auto* c = bench::tirpc::newTcpClient(addr, port, kNullProg, kVers, true);
    for (auto _ : state)
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
    bench::tirpc::deleteClient(c);
}

void perCall(benchmark::State& state, uint32_t addr, uint16_t port) {
    for (auto _ : state) {
        auto* c = bench::tirpc::newTcpClient(addr, port, kNullProg, kVers, true);
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
        bench::tirpc::deleteClient(c);
    }
}

// The affinity this process started with (taskset's), and all CPUs.
cpu_set_t g_startMask, g_allCpus;

// Widens (or restores) the CPUs of the servers: the libtirpc server process
// and this library's loop thread. Client threads set their own.
void setServerCpus(const cpu_set_t& mask) {
    sched_setaffinity(g.tirpc.pid(), sizeof mask, &mask);
    pthread_setaffinity_np(g.loop.native_handle(), sizeof mask, &mask);
}

// Four clients, each on its own kept connection, calling at once: the time
// per call of each (Google Benchmark's threads), so a server that interleaves
// them shows the same figure as one client alone, one that serves them one
// after another four times it.
void fourClients(benchmark::State& state, uint32_t addr, uint16_t port) {
    const bool loose = state.range(0) == 0;
    if (loose) {
        if (state.thread_index() == 0) setServerCpus(g_allCpus);
        pthread_setaffinity_np(pthread_self(), sizeof g_allCpus, &g_allCpus);
    }
    auto* c = bench::tirpc::newTcpClient(addr, port, kNullProg, kVers, true);
    for (auto _ : state)
        if (c == nullptr || !bench::tirpc::nullCall(c)) state.SkipWithError("call failed");
    bench::tirpc::deleteClient(c);
    if (loose) {
        pthread_setaffinity_np(pthread_self(), sizeof g_startMask, &g_startMask);
        if (state.thread_index() == 0) setServerCpus(g_startMask);
    }
}

// A null call on a kept connection while another client holds a connection
// open and sends nothing.
void besideAnIdleClient(benchmark::State& state, uint32_t addr, uint16_t port) {
    const int idle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addr;
    if (::connect(idle, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) state.SkipWithError("no idle connection");
    usleep(20000);  // accepted before the first call
    persistent(state, addr, port);
    ::close(idle);
}

void Qel_ServerPersistentConnection(benchmark::State& s) { persistent(s, g.ourAddr, g.ourPort); }
void Tirpc_ServerPersistentConnection(benchmark::State& s) { persistent(s, htonl(INADDR_LOOPBACK), g.tirpcPort); }
void Qel_ServerConnectionPerCall(benchmark::State& s) { perCall(s, g.ourAddr, g.ourPort); }
void Tirpc_ServerConnectionPerCall(benchmark::State& s) { perCall(s, htonl(INADDR_LOOPBACK), g.tirpcPort); }

void Qel_ServerFourKeptClients(benchmark::State& s) { fourClients(s, g.ourAddr, g.ourPort); }
void Tirpc_ServerFourKeptClients(benchmark::State& s) { fourClients(s, htonl(INADDR_LOOPBACK), g.tirpcPort); }
void Qel_ServerCallBesideAnIdleConnection(benchmark::State& s) { besideAnIdleClient(s, g.ourAddr, g.ourPort); }
void Tirpc_ServerCallBesideAnIdleConnection(benchmark::State& s) {
    besideAnIdleClient(s, htonl(INADDR_LOOPBACK), g.tirpcPort);
}

BENCHMARK(Qel_ServerPersistentConnection)->UseRealTime();
BENCHMARK(Tirpc_ServerPersistentConnection)->UseRealTime();
BENCHMARK(Qel_ServerConnectionPerCall)->UseRealTime();
BENCHMARK(Tirpc_ServerConnectionPerCall)->UseRealTime();
// Argument 1: pinned as the run is; 0: every thread and server on all CPUs.
BENCHMARK(Qel_ServerFourKeptClients)->ArgName("pinned")->Arg(1)->Arg(0)->Threads(4)->UseRealTime();
BENCHMARK(Tirpc_ServerFourKeptClients)->ArgName("pinned")->Arg(1)->Arg(0)->Threads(4)->UseRealTime();
BENCHMARK(Qel_ServerCallBesideAnIdleConnection)->UseRealTime();
BENCHMARK(Tirpc_ServerCallBesideAnIdleConnection)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    sched_getaffinity(0, sizeof g_startMask, &g_startMask);
    CPU_ZERO(&g_allCpus);
    for (long i = 0, n = sysconf(_SC_NPROCESSORS_ONLN); i < n && i < CPU_SETSIZE; ++i) CPU_SET(i, &g_allCpus);
    if (!startServers()) {
        std::fprintf(stderr, "bench_server: the servers did not start (%s)\n", peerProgram().c_str());
        stopServers();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stopServers();
    return 0;
}
