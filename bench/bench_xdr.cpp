// SPDX-License-Identifier: MIT
// XDR primitives beside libtirpc's memory streams doing the same work: 1,000
// uint32 words, 100 strings of 32 bytes, an array of 100 ints through the
// array routine, 100 byte strings of 64 bytes; each encoded, and decoded
// with whatever the decode allocated released again. Both libraries are
// called across their shared-library boundary. The per_element counter is
// the CPU time per value (3.4n = 3.4 ns).
//
// The decode-and-free rows also run as plain loops (Floor_*): the same bytes
// decoded by hand, one word load, one bounds test, one allocation, one copy
// and one free per item, with malloc (Floor_X) and with calloc
// (Floor_X_Calloc, libtirpc's mem_alloc). They are the anchor check: a
// libtirpc row far below its floor, or this library's far below the
// allocator's own cost, would mean the harness measures itself.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qelrpc.h"
#include "tirpc.h"

namespace {

namespace tirpc = bench::tirpc;

constexpr int kWords = 1000;
constexpr int kStrings = 100;
constexpr int kInts = 100;
constexpr int kOpaques = 100;
const char kText[] = "0123456789abcdef0123456789abcdef";  // 32 bytes

template <class To, class From>
To fn(From f) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(f));
}

struct Block {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(RPC_MBUF_SIZE);
    MbufCursor writer() { return MbufCursor{0, RPC_MBUF_SIZE, bytes.data()}; }
    MbufCursor reader(uint32_t n) { return MbufCursor{n, n, bytes.data()}; }
    char* chars() { return reinterpret_cast<char*>(bytes.data()); }
};

// This program links libqelrpc.so, whose xdr_* names are global. libtirpc's
// own routines call one another by those names (xdr_string calls xdr_u_int),
// so loaded plainly they would bind to ours and fail at once. Loading it
// first with its own symbols bound first keeps its side honest; the loader
// in tirpc.h then gets the same handle.
const bool g_tirpcBoundToItself = [] {
    if (dlopen("libtirpc.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND) == nullptr) {
        std::fprintf(stderr, "libtirpc.so.3 not loadable: %s\n", dlerror());
        std::abort();
    }
    return true;
}();

// Each side's encoding is checked once before it is timed, so a routine that
// fails early cannot pass for a fast one.
void expectBytes(benchmark::State& st, bool ok, uint32_t got, uint32_t want) {
    if (!ok || got != want) {
        std::fprintf(stderr, "moved %u bytes, expected %u (after %lld runs)\n", got, want,
                     static_cast<long long>(st.iterations()));
        std::abort();
    }
}

void perElement(benchmark::State& st, int n) {
    st.SetItemsProcessed(st.iterations() * n);
    st.counters["per_element"] = benchmark::Counter(static_cast<double>(st.iterations()) * n,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Every pass returns the bytes it moved, or 0 when a routine failed; each
// benchmark checks one pass before timing the same pass.
using Pass = uint32_t (*)(Block&, uint32_t);

void run(benchmark::State& st, Pass pass, uint32_t input, uint32_t want, int elements) {
    Block b;
    expectBytes(st, true, pass(b, input), want);
    for (auto _ : st) benchmark::DoNotOptimize(pass(b, input));
    perElement(st, elements);
}

// --- 1,000 uint32 words -------------------------------------------------------

[[gnu::noinline]] uint32_t qelU32Encode(Block& b, uint32_t) {
    MbufCursor w = b.writer();
    int ok = 1;
    for (uint32_t i = 0; i < kWords; ++i) ok &= xdr_u_int(&w, XDR_OP_ENCODE, &i);
    return ok ? w.count : 0;
}

[[gnu::noinline]] uint32_t tirpcU32Encode(Block& b, uint32_t) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), RPC_MBUF_SIZE, tirpc::kEncode);
    int ok = 1;
    for (unsigned i = 0; i < kWords; ++i) ok &= t.xdr_u_int(&x, &i);
    return ok ? t.getpos(&x) : 0;
}

[[gnu::noinline]] uint32_t qelU32Decode(Block& b, uint32_t n) {
    MbufCursor r = b.reader(n);
    uint32_t v = 0;
    int ok = 1;
    for (int i = 0; i < kWords; ++i) ok &= xdr_u_int(&r, XDR_OP_DECODE, &v);
    benchmark::DoNotOptimize(v);
    return ok ? n - r.count : 0;
}

[[gnu::noinline]] uint32_t tirpcU32Decode(Block& b, uint32_t n) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), n, tirpc::kDecode);
    unsigned v = 0;
    int ok = 1;
    for (int i = 0; i < kWords; ++i) ok &= t.xdr_u_int(&x, &v);
    benchmark::DoNotOptimize(v);
    return ok ? t.getpos(&x) : 0;
}

// --- 100 strings of 32 bytes ---------------------------------------------------

[[gnu::noinline]] uint32_t qelStringEncode(Block& b, uint32_t) {
    MbufCursor w = b.writer();
    int ok = 1;
    for (int i = 0; i < kStrings; ++i) {
        char* s = const_cast<char*>(kText);
        ok &= xdr_string(&w, XDR_OP_ENCODE, &s, 255);
    }
    return ok ? w.count : 0;
}

[[gnu::noinline]] uint32_t tirpcStringEncode(Block& b, uint32_t) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), RPC_MBUF_SIZE, tirpc::kEncode);
    int ok = 1;
    for (int i = 0; i < kStrings; ++i) {
        char* s = const_cast<char*>(kText);
        ok &= t.xdr_string(&x, &s, 255);
    }
    return ok ? t.getpos(&x) : 0;
}

// Decoding allocates each string; the free releases it again.
[[gnu::noinline]] uint32_t qelStringDecodeFree(Block& b, uint32_t n) {
    MbufCursor r = b.reader(n);
    int ok = 1;
    for (int i = 0; i < kStrings; ++i) {
        char* s = nullptr;
        ok &= xdr_string(&r, XDR_OP_DECODE, &s, 255);
        benchmark::DoNotOptimize(s);
        ok &= xdr_string(nullptr, XDR_OP_FREE, &s, 255);
    }
    return ok ? n - r.count : 0;
}

[[gnu::noinline]] uint32_t tirpcStringDecodeFree(Block& b, uint32_t n) {
    const auto& t = tirpc::api();
    static const auto freeString = fn<int (*)(tirpc::Stream*, void*)>(t.xdr_string);
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), n, tirpc::kDecode);
    int ok = 1;
    for (int i = 0; i < kStrings; ++i) {
        char* s = nullptr;
        ok &= t.xdr_string(&x, &s, 255);
        benchmark::DoNotOptimize(s);
        t.xdr_free(freeString, &s);
    }
    return ok ? t.getpos(&x) : 0;
}

// --- an array of 100 ints through the array routine -----------------------------

int32_t g_ints[kInts];

[[gnu::noinline]] uint32_t qelIntArrayEncode(Block& b, uint32_t) {
    MbufCursor w = b.writer();
    void* p = g_ints;
    uint32_t n = kInts;
    const int ok = xdr_array(&w, XDR_OP_ENCODE, &p, &n, kInts, sizeof(int32_t), fn<XdrProc>(&xdr_int));
    return ok ? w.count : 0;
}

[[gnu::noinline]] uint32_t tirpcIntArrayEncode(Block& b, uint32_t) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), RPC_MBUF_SIZE, tirpc::kEncode);
    char* p = reinterpret_cast<char*>(g_ints);
    unsigned n = kInts;
    const int ok = t.xdr_array(&x, &p, &n, kInts, sizeof(int), fn<int (*)(tirpc::Stream*, void*)>(t.xdr_int));
    return ok ? t.getpos(&x) : 0;
}

[[gnu::noinline]] uint32_t qelIntArrayDecodeFree(Block& b, uint32_t len) {
    MbufCursor r = b.reader(len);
    void* p = nullptr;
    uint32_t n = 0;
    int ok = xdr_array(&r, XDR_OP_DECODE, &p, &n, kInts, sizeof(int32_t), fn<XdrProc>(&xdr_int));
    benchmark::DoNotOptimize(p);
    ok &= xdr_array(nullptr, XDR_OP_FREE, &p, &n, kInts, sizeof(int32_t), fn<XdrProc>(&xdr_int));
    return ok ? len - r.count : 0;
}

[[gnu::noinline]] uint32_t tirpcIntArrayDecodeFree(Block& b, uint32_t len) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), len, tirpc::kDecode);
    char* p = nullptr;
    unsigned n = 0;
    const int ok = t.xdr_array(&x, &p, &n, kInts, sizeof(int), fn<int (*)(tirpc::Stream*, void*)>(t.xdr_int));
    benchmark::DoNotOptimize(p);
    std::free(p);  // libtirpc's mem_free
    return ok ? t.getpos(&x) : 0;
}

// --- 100 byte strings of 64 bytes ----------------------------------------------

uint8_t g_opaque[64];

[[gnu::noinline]] uint32_t qelBytesEncode(Block& b, uint32_t) {
    MbufCursor w = b.writer();
    int ok = 1;
    for (int i = 0; i < kOpaques; ++i) {
        void* p = g_opaque;
        uint32_t len = sizeof g_opaque;
        ok &= xdr_bytes(&w, XDR_OP_ENCODE, &p, &len, 1024);
    }
    return ok ? w.count : 0;
}

[[gnu::noinline]] uint32_t tirpcBytesEncode(Block& b, uint32_t) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), RPC_MBUF_SIZE, tirpc::kEncode);
    int ok = 1;
    for (int i = 0; i < kOpaques; ++i) {
        char* p = reinterpret_cast<char*>(g_opaque);
        unsigned len = sizeof g_opaque;
        ok &= t.xdr_bytes(&x, &p, &len, 1024);
    }
    return ok ? t.getpos(&x) : 0;
}

[[gnu::noinline]] uint32_t qelBytesDecodeFree(Block& b, uint32_t n) {
    MbufCursor r = b.reader(n);
    int ok = 1;
    for (int i = 0; i < kOpaques; ++i) {
        void* p = nullptr;
        uint32_t len = 0;
        ok &= xdr_bytes(&r, XDR_OP_DECODE, &p, &len, 1024);
        benchmark::DoNotOptimize(p);
        ok &= xdr_bytes(nullptr, XDR_OP_FREE, &p, &len, 1024);
    }
    return ok ? n - r.count : 0;
}

[[gnu::noinline]] uint32_t tirpcBytesDecodeFree(Block& b, uint32_t n) {
    const auto& t = tirpc::api();
    tirpc::Stream x;
    t.xdrmem_create(&x, b.chars(), n, tirpc::kDecode);
    int ok = 1;
    for (int i = 0; i < kOpaques; ++i) {
        char* p = nullptr;
        unsigned len = 0;
        ok &= t.xdr_bytes(&x, &p, &len, 1024);
        benchmark::DoNotOptimize(p);
        std::free(p);  // libtirpc's mem_free
    }
    return ok ? t.getpos(&x) : 0;
}

// --- the decode-and-free rows by hand: the anchor check -------------------------

void* plainMalloc(size_t n) { return std::malloc(n); }
void* plainCalloc(size_t n) { return std::calloc(1, n); }  // libtirpc's mem_alloc
using Allocator = void* (*)(size_t);

uint32_t plainWord(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return ntohl(v);
}

// Each returns the bytes it consumed, or 0 when the input was not what the
// encoder wrote or an allocation failed.
template <Allocator Alloc>
[[gnu::noinline]] uint32_t plainStringDecodeFree(Block& b, uint32_t n) {
    const uint8_t* p = b.bytes.data();
    const uint8_t* const end = p + n;
    for (int i = 0; i < kStrings; ++i) {
        if (end - p < 4) return 0;
        const uint32_t len = plainWord(p);
        p += 4;
        if (len > 255 || static_cast<size_t>(end - p) < ((len + 3) & ~3u)) return 0;
        auto* text = static_cast<char*>(Alloc(len + 1));
        if (text == nullptr) return 0;
        std::memcpy(text, p, len);
        text[len] = '\0';
        p += (len + 3) & ~3u;
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    return static_cast<uint32_t>(p - b.bytes.data());
}

template <Allocator Alloc>
[[gnu::noinline]] uint32_t plainIntArrayDecodeFree(Block& b, uint32_t n) {
    const uint8_t* p = b.bytes.data();
    if (n < 4) return 0;
    const uint32_t count = plainWord(p);
    p += 4;
    if (count > kInts || count > (n - 4) / 4) return 0;
    auto* ints = static_cast<int32_t*>(Alloc(size_t{count} * 4));
    if (ints == nullptr) return 0;
    for (uint32_t i = 0; i < count; ++i, p += 4) ints[i] = static_cast<int32_t>(plainWord(p));
    benchmark::DoNotOptimize(ints);
    std::free(ints);
    return static_cast<uint32_t>(p - b.bytes.data());
}

template <Allocator Alloc>
[[gnu::noinline]] uint32_t plainBytesDecodeFree(Block& b, uint32_t n) {
    const uint8_t* p = b.bytes.data();
    const uint8_t* const end = p + n;
    for (int i = 0; i < kOpaques; ++i) {
        if (end - p < 4) return 0;
        const uint32_t len = plainWord(p);
        p += 4;
        if (len > 1024 || static_cast<size_t>(end - p) < ((len + 3) & ~3u)) return 0;
        void* bytes = Alloc(len);
        if (bytes == nullptr) return 0;
        std::memcpy(bytes, p, len);
        p += (len + 3) & ~3u;
        benchmark::DoNotOptimize(bytes);
        std::free(bytes);
    }
    return static_cast<uint32_t>(p - b.bytes.data());
}

// Encoded inputs for the decoders, in the block every decode pass reads.
constexpr uint32_t kU32Bytes = kWords * 4;
constexpr uint32_t kStringBytes = kStrings * (4 + 32);
constexpr uint32_t kArrayBytes = 4 + kInts * 4;
constexpr uint32_t kOpaqueBytes = kOpaques * (4 + 64);

template <Pass Encode, Pass Decode>
void decodeBench(benchmark::State& st, uint32_t len, int elements) {
    Block b;
    Encode(b, 0);
    expectBytes(st, true, Decode(b, len), len);
    for (auto _ : st) benchmark::DoNotOptimize(Decode(b, len));
    perElement(st, elements);
}

void Qel_U32Encode(benchmark::State& st) { run(st, qelU32Encode, 0, kU32Bytes, kWords); }
void Tirpc_U32Encode(benchmark::State& st) { run(st, tirpcU32Encode, 0, kU32Bytes, kWords); }
void Qel_U32Decode(benchmark::State& st) { decodeBench<qelU32Encode, qelU32Decode>(st, kU32Bytes, kWords); }
void Tirpc_U32Decode(benchmark::State& st) { decodeBench<qelU32Encode, tirpcU32Decode>(st, kU32Bytes, kWords); }
void Qel_StringEncode(benchmark::State& st) { run(st, qelStringEncode, 0, kStringBytes, kStrings); }
void Tirpc_StringEncode(benchmark::State& st) { run(st, tirpcStringEncode, 0, kStringBytes, kStrings); }
void Qel_StringDecodeFree(benchmark::State& st) {
    decodeBench<qelStringEncode, qelStringDecodeFree>(st, kStringBytes, kStrings);
}
void Tirpc_StringDecodeFree(benchmark::State& st) {
    decodeBench<qelStringEncode, tirpcStringDecodeFree>(st, kStringBytes, kStrings);
}
void Qel_IntArrayEncode(benchmark::State& st) { run(st, qelIntArrayEncode, 0, kArrayBytes, kInts); }
void Tirpc_IntArrayEncode(benchmark::State& st) { run(st, tirpcIntArrayEncode, 0, kArrayBytes, kInts); }
void Qel_IntArrayDecodeFree(benchmark::State& st) {
    decodeBench<qelIntArrayEncode, qelIntArrayDecodeFree>(st, kArrayBytes, kInts);
}
void Tirpc_IntArrayDecodeFree(benchmark::State& st) {
    decodeBench<qelIntArrayEncode, tirpcIntArrayDecodeFree>(st, kArrayBytes, kInts);
}
void Qel_BytesEncode(benchmark::State& st) { run(st, qelBytesEncode, 0, kOpaqueBytes, kOpaques); }
void Tirpc_BytesEncode(benchmark::State& st) { run(st, tirpcBytesEncode, 0, kOpaqueBytes, kOpaques); }
void Qel_BytesDecodeFree(benchmark::State& st) {
    decodeBench<qelBytesEncode, qelBytesDecodeFree>(st, kOpaqueBytes, kOpaques);
}
void Tirpc_BytesDecodeFree(benchmark::State& st) {
    decodeBench<qelBytesEncode, tirpcBytesDecodeFree>(st, kOpaqueBytes, kOpaques);
}

void Floor_StringDecodeFree(benchmark::State& st) {
    decodeBench<qelStringEncode, plainStringDecodeFree<plainMalloc>>(st, kStringBytes, kStrings);
}
void Floor_StringDecodeFree_Calloc(benchmark::State& st) {
    decodeBench<qelStringEncode, plainStringDecodeFree<plainCalloc>>(st, kStringBytes, kStrings);
}
void Floor_IntArrayDecodeFree(benchmark::State& st) {
    decodeBench<qelIntArrayEncode, plainIntArrayDecodeFree<plainMalloc>>(st, kArrayBytes, kInts);
}
void Floor_IntArrayDecodeFree_Calloc(benchmark::State& st) {
    decodeBench<qelIntArrayEncode, plainIntArrayDecodeFree<plainCalloc>>(st, kArrayBytes, kInts);
}
void Floor_BytesDecodeFree(benchmark::State& st) {
    decodeBench<qelBytesEncode, plainBytesDecodeFree<plainMalloc>>(st, kOpaqueBytes, kOpaques);
}
void Floor_BytesDecodeFree_Calloc(benchmark::State& st) {
    decodeBench<qelBytesEncode, plainBytesDecodeFree<plainCalloc>>(st, kOpaqueBytes, kOpaques);
}

BENCHMARK(Qel_U32Encode);
BENCHMARK(Tirpc_U32Encode);
BENCHMARK(Qel_U32Decode);
BENCHMARK(Tirpc_U32Decode);
BENCHMARK(Qel_StringEncode);
BENCHMARK(Tirpc_StringEncode);
BENCHMARK(Qel_StringDecodeFree);
BENCHMARK(Tirpc_StringDecodeFree);
BENCHMARK(Qel_IntArrayEncode);
BENCHMARK(Tirpc_IntArrayEncode);
BENCHMARK(Qel_IntArrayDecodeFree);
BENCHMARK(Tirpc_IntArrayDecodeFree);
BENCHMARK(Qel_BytesEncode);
BENCHMARK(Tirpc_BytesEncode);
BENCHMARK(Qel_BytesDecodeFree);
BENCHMARK(Tirpc_BytesDecodeFree);
BENCHMARK(Floor_StringDecodeFree);
BENCHMARK(Floor_StringDecodeFree_Calloc);
BENCHMARK(Floor_IntArrayDecodeFree);
BENCHMARK(Floor_IntArrayDecodeFree_Calloc);
BENCHMARK(Floor_BytesDecodeFree);
BENCHMARK(Floor_BytesDecodeFree_Calloc);

// The rows as plain passes, for instruction counts: each pass runs `runs`
// times on its own input, so callgrind's count for a pass function divided
// by runs and by the elements is instructions per element.
struct Row {
    const char* name;
    Pass encode;  // writes the input of a decode pass
    Pass pass;
    uint32_t input;
};
const Row kRows[] = {
    {"qelU32Encode", nullptr, qelU32Encode, 0},
    {"tirpcU32Encode", nullptr, tirpcU32Encode, 0},
    {"qelU32Decode", qelU32Encode, qelU32Decode, kU32Bytes},
    {"tirpcU32Decode", qelU32Encode, tirpcU32Decode, kU32Bytes},
    {"qelStringEncode", nullptr, qelStringEncode, 0},
    {"tirpcStringEncode", nullptr, tirpcStringEncode, 0},
    {"qelStringDecodeFree", qelStringEncode, qelStringDecodeFree, kStringBytes},
    {"tirpcStringDecodeFree", qelStringEncode, tirpcStringDecodeFree, kStringBytes},
    {"qelIntArrayEncode", nullptr, qelIntArrayEncode, 0},
    {"tirpcIntArrayEncode", nullptr, tirpcIntArrayEncode, 0},
    {"qelIntArrayDecodeFree", qelIntArrayEncode, qelIntArrayDecodeFree, kArrayBytes},
    {"tirpcIntArrayDecodeFree", qelIntArrayEncode, tirpcIntArrayDecodeFree, kArrayBytes},
    {"qelBytesEncode", nullptr, qelBytesEncode, 0},
    {"tirpcBytesEncode", nullptr, tirpcBytesEncode, 0},
    {"qelBytesDecodeFree", qelBytesEncode, qelBytesDecodeFree, kOpaqueBytes},
    {"tirpcBytesDecodeFree", qelBytesEncode, tirpcBytesDecodeFree, kOpaqueBytes},
    {"plainStringDecodeFree<malloc>", qelStringEncode, plainStringDecodeFree<plainMalloc>, kStringBytes},
    {"plainStringDecodeFree<calloc>", qelStringEncode, plainStringDecodeFree<plainCalloc>, kStringBytes},
    {"plainIntArrayDecodeFree<malloc>", qelIntArrayEncode, plainIntArrayDecodeFree<plainMalloc>, kArrayBytes},
    {"plainIntArrayDecodeFree<calloc>", qelIntArrayEncode, plainIntArrayDecodeFree<plainCalloc>, kArrayBytes},
    {"plainBytesDecodeFree<malloc>", qelBytesEncode, plainBytesDecodeFree<plainMalloc>, kOpaqueBytes},
    {"plainBytesDecodeFree<calloc>", qelBytesEncode, plainBytesDecodeFree<plainCalloc>, kOpaqueBytes},
};

}  // namespace

// --passes=N runs every row N times without the benchmark library (for
// valgrind --tool=callgrind --toggle-collect='*qelU32Encode*' and the like);
// anything else goes to the benchmark library.
int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], "--passes=", 9) == 0) {
        const long runs = std::atol(argv[1] + 9);
        for (const Row& r : kRows) {
            Block b;
            if (r.encode) r.encode(b, 0);
            for (long i = 0; i < runs; ++i) benchmark::DoNotOptimize(r.pass(b, r.input));
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
