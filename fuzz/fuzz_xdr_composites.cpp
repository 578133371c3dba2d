// SPDX-License-Identifier: MIT
// xdr_array, xdr_pointer, xdr_reference, xdr_bytes and xdr_string composed
// the way callers compose them, over arbitrary bytes. The first byte picks
// the composition, the second a maximum; the rest is the window, in
// read-only memory that ends where a guard page begins (a write into it or a
// read past it faults); the top-level object and the encoding lie between
// guard pages. A decode followed by free must leave nothing behind
// (LeakSanitizer), a successful decode must encode back to the same number of
// bytes, and a huge announced count or length must fail without a huge
// allocation (the sanitizer's allocator aborts on one).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

// The routines are called through XdrProc, as the C convention of XDR has it.
#if defined(__clang__)
#define CALLS_XDRPROC __attribute__((no_sanitize("function")))
#else
#define CALLS_XDRPROC
#endif

namespace {

uint32_t g_max = 0;

template <class F>
XdrProc proc(F f) {
    return reinterpret_cast<XdrProc>(reinterpret_cast<void (*)()>(f));
}

void check(bool ok) {
    if (!ok) std::abort();
}

// A string element of at most g_max bytes.
int boundedString(MbufCursor* s, XdrOp op, char** text) { return xdr_string(s, op, text, g_max); }

// A list node: a value and an optional next node.
struct Node {
    int32_t value;
    Node* next;
};
int node(MbufCursor* s, XdrOp op, Node* n) {
    return xdr_int(s, op, &n->value) &&
           xdr_pointer(s, op, reinterpret_cast<void**>(&n->next), sizeof(Node), proc(&node));
}

// An element holding a counted array of ints and optional bytes.
struct Inner {
    int32_t* ints;
    uint32_t count;
    void* bytes;
    uint32_t length;
};
int inner(MbufCursor* s, XdrOp op, Inner* in) {
    return xdr_array(s, op, reinterpret_cast<void**>(&in->ints), &in->count, 64, sizeof(int32_t), proc(&xdr_int)) &&
           xdr_bytes(s, op, &in->bytes, &in->length, g_max);
}

// A reference to a string of any length.
int anyString(MbufCursor* s, XdrOp op, char** text) {
    return xdr_reference(s, op, reinterpret_cast<void**>(text), sizeof(char*), proc(&xdr_string));
}

// An optional call body.
int optionalCall(MbufCursor* s, XdrOp op, call_body** c) {
    return xdr_pointer(s, op, reinterpret_cast<void**>(c), sizeof(call_body), proc(&xdr_call_body));
}

// One top-level object: whatever the composition needs, zeroed.
struct Top {
    void* elements;
    uint32_t count;
    void* object;
    char* text;
    void* bytes;
    uint32_t length;
};

int run(unsigned kind, MbufCursor* s, XdrOp op, Top& t) {
    void** e = &t.elements;
    switch (kind) {
    case 0: return xdr_array(s, op, e, &t.count, g_max, sizeof(char*), proc(&boundedString));
    case 1: return xdr_array(s, op, e, &t.count, UINT32_MAX, sizeof(int32_t), proc(&xdr_int));
    case 2: return xdr_array(s, op, e, &t.count, g_max, sizeof(unsigned char), proc(&xdr_u_char));
    case 3: return xdr_pointer(s, op, &t.object, sizeof(Node), proc(&node));
    case 4: return xdr_array(s, op, e, &t.count, g_max, sizeof(opaque_auth), proc(&xdr_opaque_auth));
    case 5: return xdr_array(s, op, e, &t.count, g_max, sizeof(Inner), proc(&inner));
    case 6: return xdr_array(s, op, e, &t.count, UINT32_MAX, sizeof(char*), proc(&anyString));
    case 7: return optionalCall(s, op, reinterpret_cast<call_body**>(&t.object));
    case 8: return xdr_array(s, op, e, &t.count, g_max, sizeof(rpc_msg), proc(&xdr_rpc_msg));
    case 9: return xdr_bytes(s, op, &t.bytes, &t.length, g_max ? g_max : UINT32_MAX);
    case 10: return xdr_string(s, op, &t.text, g_max ? g_max : UINT32_MAX);
    default: return xdr_array(s, op, e, &t.count, UINT32_MAX, sizeof(mapping), proc(&xdr_mapping));
    }
}
constexpr unsigned kKinds = 12;

}  // namespace

extern "C" CALLS_XDRPROC int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > RPC_MBUF_SIZE) return 0;
    const unsigned kind = data[0] % kKinds;
    g_max = data[1] == 0xFF ? UINT32_MAX : data[1];
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput topArea(sizeof(Top)), outArea(RPC_MBUF_SIZE + 4);

    Top& t = *topArea.zeroed<Top>();
    // With no bytes the position is the guard page itself: non-null, and
    // faulting if anything reads it.
    const auto n = static_cast<uint32_t>(size - 2);
    MbufCursor w{n, n, const_cast<uint8_t*>(input.place(data + 2, n))};
    const MbufCursor before = w;
    const int ok = run(kind, &w, XDR_OP_DECODE, t);
    check(ok == 0 || ok == 1);
    check(w.count <= before.count && (before.count - w.count) % 4 == 0);
    check(w.pos - before.pos == static_cast<ptrdiff_t>(before.count - w.count));

    if (ok) {
        const uint32_t consumed = before.count - w.count;
        // Fixed-length bodies pad with zero bytes where the input may not
        // have; the lengths must agree all the same. Exactly the bytes plus
        // the writers' 4-byte reserve.
        MbufCursor e{0, consumed + 4, outArea.area(consumed + 4)};
        if (kind != 10 && kind != 0 && kind != 6) {
            check(run(kind, &e, XDR_OP_ENCODE, t) == 1);
            check(e.count == consumed);
        } else if (run(kind, &e, XDR_OP_ENCODE, t) == 1) {
            // Strings stop at a NUL inside them on the way back.
            check(e.count <= consumed);
        }
    } else if (kind <= 2 || (kind >= 4 && kind <= 6) || kind == 8 || kind == 11) {
        // A failed array decode leaves null, or the caller's untouched null.
        check(t.elements == nullptr);
    }
    check(run(kind, nullptr, XDR_OP_FREE, t) == 1 || !ok);
    check(t.elements == nullptr || !ok);
    return 0;
}
