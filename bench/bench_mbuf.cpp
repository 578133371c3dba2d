// SPDX-License-Identifier: MIT
// Message buffer words and strings, and call headers with AUTH_UNIX, beside
// libtirpc's memory streams doing the same work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "qelrpc.h"
#include "tirpc.h"

namespace {

constexpr int kWords = 1000;
constexpr int kStrings = 100;
const char kText[] = "0123456789abcdef0123456789abcdef";  // 32 bytes

struct Block {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(RPC_MBUF_SIZE);
    MbufCursor writer() { return MbufCursor{0, RPC_MBUF_SIZE, bytes.data()}; }
    MbufCursor reader(uint32_t n) { return MbufCursor{n, n, bytes.data()}; }
};

void Qel_WordsEncode(benchmark::State& st) {
    Block b;
    for (auto _ : st) {
        MbufCursor w = b.writer();
        for (int i = 0; i < kWords; ++i) mbufAddLong(&w, i);
        benchmark::DoNotOptimize(w.count);
    }
    st.SetItemsProcessed(st.iterations() * kWords);
}

void Tirpc_WordsEncode(benchmark::State& st) {
    const auto& t = bench::tirpc::api();
    Block b;
    for (auto _ : st) {
        bench::tirpc::Stream x;
        t.xdrmem_create(&x, reinterpret_cast<char*>(b.bytes.data()), RPC_MBUF_SIZE, bench::tirpc::kEncode);
        for (unsigned i = 0; i < kWords; ++i) t.xdr_u_int(&x, &i);
        benchmark::DoNotOptimize(b.bytes.data());
    }
    st.SetItemsProcessed(st.iterations() * kWords);
}

void Qel_WordsDecode(benchmark::State& st) {
    Block b;
    for (auto _ : st) {
        MbufCursor r = b.reader(kWords * 4);
        uint32_t v = 0;
        for (int i = 0; i < kWords; ++i) mbufGetLong(&r, &v);
        benchmark::DoNotOptimize(v);
    }
    st.SetItemsProcessed(st.iterations() * kWords);
}

void Tirpc_WordsDecode(benchmark::State& st) {
    const auto& t = bench::tirpc::api();
    Block b;
    for (auto _ : st) {
        bench::tirpc::Stream x;
        t.xdrmem_create(&x, reinterpret_cast<char*>(b.bytes.data()), kWords * 4, bench::tirpc::kDecode);
        unsigned v = 0;
        for (int i = 0; i < kWords; ++i) t.xdr_u_int(&x, &v);
        benchmark::DoNotOptimize(v);
    }
    st.SetItemsProcessed(st.iterations() * kWords);
}

void Qel_StringsEncode(benchmark::State& st) {
    Block b;
    for (auto _ : st) {
        MbufCursor w = b.writer();
        for (int i = 0; i < kStrings; ++i) mbufAddString(&w, kText);
        benchmark::DoNotOptimize(w.count);
    }
    st.SetItemsProcessed(st.iterations() * kStrings);
}

void Tirpc_StringsEncode(benchmark::State& st) {
    const auto& t = bench::tirpc::api();
    Block b;
    for (auto _ : st) {
        bench::tirpc::Stream x;
        t.xdrmem_create(&x, reinterpret_cast<char*>(b.bytes.data()), RPC_MBUF_SIZE, bench::tirpc::kEncode);
        for (int i = 0; i < kStrings; ++i) {
            char* s = const_cast<char*>(kText);
            t.xdr_string(&x, &s, 255);
        }
        benchmark::DoNotOptimize(b.bytes.data());
    }
    st.SetItemsProcessed(st.iterations() * kStrings);
}

// Decoding into the caller's own buffer: mbufGetString copies into a fixed
// destination; libtirpc's xdr_string does the same when handed one.
void Qel_StringsDecode(benchmark::State& st) {
    Block b;
    MbufCursor w = b.writer();
    for (int i = 0; i < kStrings; ++i) mbufAddString(&w, kText);
    char dest[256];
    for (auto _ : st) {
        MbufCursor r = b.reader(w.count);
        for (int i = 0; i < kStrings; ++i) mbufGetString(&r, dest, sizeof dest);
        benchmark::DoNotOptimize(dest);
    }
    st.SetItemsProcessed(st.iterations() * kStrings);
}

void Tirpc_StringsDecode(benchmark::State& st) {
    const auto& t = bench::tirpc::api();
    Block b;
    MbufCursor w = b.writer();
    for (int i = 0; i < kStrings; ++i) mbufAddString(&w, kText);
    char dest[256];
    for (auto _ : st) {
        bench::tirpc::Stream x;
        t.xdrmem_create(&x, reinterpret_cast<char*>(b.bytes.data()), w.count, bench::tirpc::kDecode);
        for (int i = 0; i < kStrings; ++i) {
            char* s = dest;
            t.xdr_string(&x, &s, sizeof dest - 1);
        }
        benchmark::DoNotOptimize(dest);
    }
    st.SetItemsProcessed(st.iterations() * kStrings);
}

void Qel_CallHeaderAuthUnix(benchmark::State& st) {
    RpcOperation op;
    rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu);
    op.prog = 100003;
    op.vers = 3;
    rpcCreateAuthUnix(&op, "benchmark-host", 1000, 100);
    for (auto _ : st) {
        rpcPrepareRPCHeader(&op, 1);
        benchmark::DoNotOptimize(op.request.header.count);
    }
    rpcCloseOperation(&op);
}

void Tirpc_CallHeaderAuthUnix(benchmark::State& st) {
    auto* h = bench::tirpc::newCallHeader("benchmark-host", 1000, 100, 100003, 3);
    std::vector<char> buf(RPC_MBUF_SIZE);
    unsigned xid = 1;
    for (auto _ : st) {
        unsigned n = bench::tirpc::writeCallHeader(h, buf.data(), RPC_MBUF_SIZE, xid++, 1);
        benchmark::DoNotOptimize(n);
    }
    bench::tirpc::deleteCallHeader(h);
}

BENCHMARK(Qel_WordsEncode);
BENCHMARK(Tirpc_WordsEncode);
BENCHMARK(Qel_WordsDecode);
BENCHMARK(Tirpc_WordsDecode);
BENCHMARK(Qel_StringsEncode);
BENCHMARK(Tirpc_StringsEncode);
BENCHMARK(Qel_StringsDecode);
BENCHMARK(Tirpc_StringsDecode);
BENCHMARK(Qel_CallHeaderAuthUnix);
BENCHMARK(Tirpc_CallHeaderAuthUnix);

}  // namespace

BENCHMARK_MAIN();
