// SPDX-License-Identifier: MIT
// XDR primitives: wire bytes, the three modes, the null-stream and unknown
// operation rules, and what a refused or failed decode leaves in the window
// and in the caller's pointers. Leaks show under the sanitizer build.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qelrpc.h"
#ifndef QELRPC_TEST_SHARED_LIBRARY
#include "platform/heap.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

template <class F>
XdrProc proc(F f) {
    return reinterpret_cast<XdrProc>(reinterpret_cast<void (*)()>(f));
}

// A writing window of `limit` bytes over a buffer that has guard bytes
// behind the limit, or a reading window over given bytes.
struct Window {
    Bytes bytes;
    MbufCursor c{};
    static Window writing(uint32_t limit, uint32_t count = 0) {
        Window w;
        w.bytes.assign(limit + 8, 0xEE);
        w.c = MbufCursor{count, limit, w.bytes.data()};
        return w;
    }
    static Window reading(Bytes in) {
        Window w;
        w.bytes = std::move(in);
        w.bytes.reserve(w.bytes.size() + 1);  // a real pointer even when empty
        w.c = MbufCursor{static_cast<uint32_t>(w.bytes.size()), static_cast<uint32_t>(w.bytes.size()),
                         w.bytes.data()};
        return w;
    }
    Bytes written() const { return Bytes(bytes.begin(), bytes.begin() + c.count); }
    uint32_t consumed() const { return static_cast<uint32_t>(c.pos - bytes.data()); }
};

Bytes words(std::initializer_list<uint32_t> ws) {
    Bytes b;
    for (uint32_t w : ws)
        for (int sh = 24; sh >= 0; sh -= 8) b.push_back(static_cast<uint8_t>(w >> sh));
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool same(const MbufCursor& a, const MbufCursor& b) { return a.count == b.count && a.limit == b.limit && a.pos == b.pos; }

// Makes the next n allocations of the library's heap succeed and the rest
// fail, for the lifetime of the guard. The shared library keeps that seam to
// itself: built against it (QELRPC_TEST_SHARED_LIBRARY) the guard does
// nothing, and the cases that need a failing heap are left out.
#ifndef QELRPC_TEST_SHARED_LIBRARY
constexpr bool kHeapSeam = true;
struct HeapBudget {
    explicit HeapBudget(long n) { qelrpc::heap::failAfter(n); }
    ~HeapBudget() { qelrpc::heap::failAfter(-1); }
};
#else
constexpr bool kHeapSeam = false;
struct HeapBudget {
    explicit HeapBudget(long) {}
};
#endif

// --- integers --------------------------------------------------------------

TEST(XdrIntegers, EncodeBigEndianWords) {
    auto w = Window::writing(64);
    uint32_t u = 0x01020304;
    int32_t i = -2, b = 2;
    unsigned char ch = 0xC8;
    ASSERT_EQ(xdr_uint32_t(&w.c, XDR_OP_ENCODE, &u), 1);
    ASSERT_EQ(xdr_u_long(&w.c, XDR_OP_ENCODE, &u), 1);
    ASSERT_EQ(xdr_int(&w.c, XDR_OP_ENCODE, &i), 1);
    ASSERT_EQ(xdr_u_int(&w.c, XDR_OP_ENCODE, &u), 1);
    ASSERT_EQ(xdr_bool(&w.c, XDR_OP_ENCODE, &b), 1);
    ASSERT_EQ(xdr_u_char(&w.c, XDR_OP_ENCODE, &ch), 1);
    EXPECT_EQ(w.written(), words({0x01020304, 0x01020304, 0xFFFFFFFE, 0x01020304, 2, 0xC8}));
}

TEST(XdrIntegers, DecodeStoresTheWordAsTheTypeHoldsIt) {
    // xdr_bool passes any value through; xdr_u_char keeps the low byte.
    auto r = Window::reading(words({0xFFFFFFFE, 2, 0x1FF, 0x80000000, 7}));
    int32_t i = 0, b = 0;
    unsigned char ch = 0;
    uint32_t u = 0, l = 0;
    ASSERT_EQ(xdr_int(&r.c, XDR_OP_DECODE, &i), 1);
    ASSERT_EQ(xdr_bool(&r.c, XDR_OP_DECODE, &b), 1);
    ASSERT_EQ(xdr_u_char(&r.c, XDR_OP_DECODE, &ch), 1);
    ASSERT_EQ(xdr_uint32_t(&r.c, XDR_OP_DECODE, &u), 1);
    ASSERT_EQ(xdr_u_long(&r.c, XDR_OP_DECODE, &l), 1);
    EXPECT_EQ(i, -2);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(ch, 0xFF);
    EXPECT_EQ(u, 0x80000000u);
    EXPECT_EQ(l, 7u);
    EXPECT_EQ(r.c.count, 0u);
}

TEST(XdrIntegers, RoomAndShortInputAreRefusedWithoutMovingTheWindow) {
    uint32_t v = 9;
    // Writers keep 4 bytes in reserve: 8 bytes free is enough, 7 is not.
    auto ok = Window::writing(100, 92);
    EXPECT_EQ(xdr_uint32_t(&ok.c, XDR_OP_ENCODE, &v), 1);
    auto full = Window::writing(100, 93);
    const MbufCursor before = full.c;
    EXPECT_EQ(xdr_uint32_t(&full.c, XDR_OP_ENCODE, &v), 0);
    EXPECT_TRUE(same(full.c, before));

    auto shortIn = Window::reading({0, 0, 1});
    const MbufCursor rb = shortIn.c;
    EXPECT_EQ(xdr_u_int(&shortIn.c, XDR_OP_DECODE, &v), 0);
    EXPECT_TRUE(same(shortIn.c, rb));
    EXPECT_EQ(v, 9u);
}

// --- modes: null stream, free, unknown operation ---------------------------

int32_t g_lastOp = -1;
int recordOp(MbufCursor*, XdrOp op, void*) {
    g_lastOp = op;
    return 7;
}

TEST(XdrModes, NullStreamFailsEncodeAndDecodeAndIsIgnoredByFree) {
    uint32_t u = 1;
    int32_t i = 1;
    unsigned char ch = 1;
    uint8_t raw[4] = {};
    void* bytes = nullptr;
    uint32_t len = 0, count = 0;
    char* text = nullptr;
    void* elems = nullptr;
    void* obj = nullptr;
    for (XdrOp op : {XDR_OP_ENCODE, XDR_OP_DECODE, XDR_OP_FREE}) {
        SCOPED_TRACE(op);
        const int want = op == XDR_OP_FREE ? 1 : 0;
        EXPECT_EQ(xdr_uint32_t(nullptr, op, &u), want);
        EXPECT_EQ(xdr_u_long(nullptr, op, &u), want);
        EXPECT_EQ(xdr_int(nullptr, op, &i), want);
        EXPECT_EQ(xdr_u_int(nullptr, op, &u), want);
        EXPECT_EQ(xdr_bool(nullptr, op, &i), want);
        EXPECT_EQ(xdr_u_char(nullptr, op, &ch), want);
        EXPECT_EQ(xdr_opaque(nullptr, op, 4, raw), want);
        EXPECT_EQ(xdr_bytes(nullptr, op, &bytes, &len, 10), want);
        EXPECT_EQ(xdr_array(nullptr, op, &elems, &count, 10, 4, proc(&xdr_int)), want);
        EXPECT_EQ(xdr_pointer(nullptr, op, &obj, 4, proc(&xdr_int)), want);
    }
    const char* text0 = "x";
    text = const_cast<char*>(text0);
    EXPECT_EQ(xdr_string(nullptr, XDR_OP_ENCODE, &text, 10), 0);
    text = nullptr;
    EXPECT_EQ(xdr_string(nullptr, XDR_OP_DECODE, &text, 10), 0);
    EXPECT_EQ(xdr_string(nullptr, XDR_OP_FREE, &text, 10), 1);
    EXPECT_EQ(xdr_void(), 1);
}

TEST(XdrModes, UnknownOperationFailsExceptOpaqueVoidAndReference) {
    auto w = Window::writing(64);
    const MbufCursor before = w.c;
    uint32_t u = 1;
    int32_t i = 1;
    unsigned char ch = 1;
    uint8_t raw[4] = {};
    void* bytes = nullptr;
    uint32_t len = 4, count = 1;
    char* text = nullptr;
    int32_t elem = 0;
    void* elems = &elem;
    int32_t target = 0;
    void* obj = &target;
    const XdrOp op = 3;
    EXPECT_EQ(xdr_uint32_t(&w.c, op, &u), 0);
    EXPECT_EQ(xdr_u_long(&w.c, op, &u), 0);
    EXPECT_EQ(xdr_int(&w.c, op, &i), 0);
    EXPECT_EQ(xdr_u_int(&w.c, op, &u), 0);
    EXPECT_EQ(xdr_bool(&w.c, op, &i), 0);
    EXPECT_EQ(xdr_u_char(&w.c, op, &ch), 0);
    EXPECT_EQ(xdr_bytes(&w.c, op, &bytes, &len, 10), 0);
    EXPECT_EQ(xdr_string(&w.c, op, &text, 10), 0);
    EXPECT_EQ(xdr_array(&w.c, op, &elems, &count, 10, 4, proc(&xdr_int)), 0);
    EXPECT_EQ(xdr_pointer(&w.c, op, &obj, 4, proc(&xdr_int)), 0);
    EXPECT_TRUE(same(w.c, before));
    EXPECT_EQ(xdr_opaque(&w.c, op, 4, raw), 1);
    EXPECT_TRUE(same(w.c, before));
    // The reference hands the operation to its routine and answers for it.
    EXPECT_EQ(xdr_reference(&w.c, op, &obj, 4, &recordOp), 1);
    EXPECT_EQ(g_lastOp, 3);
    EXPECT_EQ(obj, &target);
}

// --- fixed-length opaque -----------------------------------------------------

TEST(XdrOpaque, PadsToFourWithoutLengthWordOrReserve) {
    const uint8_t hello[5] = {'h', 'e', 'l', 'l', 'o'};
    auto w = Window::writing(100, 92);  // exactly 8 bytes below the limit
    ASSERT_EQ(xdr_opaque(&w.c, XDR_OP_ENCODE, 5, const_cast<uint8_t*>(hello)), 1);
    EXPECT_EQ(w.c.count, 100u);
    EXPECT_EQ(w.c.pos, w.bytes.data() + 8);
    EXPECT_EQ(Bytes(w.bytes.begin(), w.bytes.begin() + 9), Bytes({'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0xEE}));

    auto tight = Window::writing(100, 93);
    const MbufCursor before = tight.c;
    EXPECT_EQ(xdr_opaque(&tight.c, XDR_OP_ENCODE, 5, const_cast<uint8_t*>(hello)), 0);
    EXPECT_TRUE(same(tight.c, before));
}

TEST(XdrOpaque, DecodeSkipsPaddingUncheckedAndRefusesShortInput) {
    auto r = Window::reading({'a', 'b', 'c', 'd', 'e', 9, 9, 9, 0xAA});
    uint8_t out[6] = {0, 0, 0, 0, 0, 0x55};
    ASSERT_EQ(xdr_opaque(&r.c, XDR_OP_DECODE, 5, out), 1);
    EXPECT_EQ(0, std::memcmp(out, "abcde\x55", 6));
    EXPECT_EQ(r.c.count, 1u);

    auto shortIn = Window::reading({'a', 'b', 'c', 'd', 'e', 0, 0});
    const MbufCursor before = shortIn.c;
    EXPECT_EQ(xdr_opaque(&shortIn.c, XDR_OP_DECODE, 5, out), 0);
    EXPECT_TRUE(same(shortIn.c, before));
    EXPECT_EQ(xdr_opaque(nullptr, XDR_OP_FREE, 5, out), 1);
}

// --- counted bytes -----------------------------------------------------------

TEST(XdrBytes, RoundTripAndFree) {
    auto w = Window::writing(64);
    uint8_t src[5] = {1, 2, 3, 4, 5};
    void* p = src;
    uint32_t len = 5;
    ASSERT_EQ(xdr_bytes(&w.c, XDR_OP_ENCODE, &p, &len, 5), 1);
    EXPECT_EQ(w.written(), cat(words({5}), {1, 2, 3, 4, 5, 0, 0, 0}));

    auto r = Window::reading(w.written());
    void* got = nullptr;
    uint32_t gotLen = 0;
    ASSERT_EQ(xdr_bytes(&r.c, XDR_OP_DECODE, &got, &gotLen, 5), 1);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(gotLen, 5u);
    EXPECT_EQ(0, std::memcmp(got, src, 5));
    EXPECT_EQ(xdr_bytes(nullptr, XDR_OP_FREE, &got, &gotLen, 5), 1);
    EXPECT_EQ(got, nullptr);
}

TEST(XdrBytes, ZeroLengthWritesOneWordAndDecodesWithoutAllocating) {
    auto w = Window::writing(16);
    void* p = nullptr;
    uint32_t len = 0;
    ASSERT_EQ(xdr_bytes(&w.c, XDR_OP_ENCODE, &p, &len, 0), 1);
    EXPECT_EQ(w.written(), words({0}));

    int sentinel = 0;
    void* kept = &sentinel;
    auto r = Window::reading(words({0}));
    HeapBudget none(0);  // any allocation would fail the decode
    ASSERT_EQ(xdr_bytes(&r.c, XDR_OP_DECODE, &kept, &len, 10), 1);
    EXPECT_EQ(kept, &sentinel);
    EXPECT_EQ(xdr_bytes(nullptr, XDR_OP_FREE, &kept, &len, 10), 1);  // releases nothing
    EXPECT_EQ(kept, &sentinel);
}

TEST(XdrBytes, FailedDecodesLeaveWhatTheCallerCanRelyOn) {
    int sentinel = 0;
    struct Case {
        const char* what;
        Bytes in;
        uint32_t max;
        long allocations;     // heap budget, -1 unlimited
        bool pointerKept;     // refused length: pointer untouched, else null
        uint32_t wantLength;  // the length word as read
        uint32_t wantConsumed;
    };
    const Case cases[] = {
        {"length above the maximum", cat(words({11}), Bytes(12, 'x')), 10, -1, true, 11, 4},
        {"body shorter than announced", cat(words({8}), Bytes(7, 'x')), 10, -1, false, 8, 4},
        {"huge length, nothing behind it", words({0xFFFFFFF0}), UINT32_MAX, -1, false, 0xFFFFFFF0, 4},
        {"no memory", cat(words({4}), Bytes(4, 'x')), 10, 0, false, 4, 4},
    };
    for (const Case& c : cases) {
        if (c.allocations >= 0 && !kHeapSeam) continue;
        SCOPED_TRACE(c.what);
        auto r = Window::reading(c.in);
        void* p = &sentinel;
        uint32_t len = 0;
        HeapBudget budget(c.allocations);
        EXPECT_EQ(xdr_bytes(&r.c, XDR_OP_DECODE, &p, &len, c.max), 0);
        EXPECT_EQ(p, c.pointerKept ? static_cast<void*>(&sentinel) : nullptr);
        EXPECT_EQ(len, c.wantLength);
        EXPECT_EQ(r.consumed(), c.wantConsumed);
    }
}

// --- strings -----------------------------------------------------------------

TEST(XdrString, EncodeWritesLengthBytesAndPaddingWithoutConsultingTheMaximum) {
    struct Case { const char* text; Bytes want; };
    const Case cases[] = {
        {"", words({0})},
        {"abc", cat(words({3}), {'a', 'b', 'c', 0})},
        {"hello", cat(words({5}), {'h', 'e', 'l', 'l', 'o', 0, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto w = Window::writing(64);
        char* t = const_cast<char*>(c.text);
        ASSERT_EQ(xdr_string(&w.c, XDR_OP_ENCODE, &t, 1), 1);
        EXPECT_EQ(w.written(), c.want);
    }
    auto w = Window::writing(64);
    char* none = nullptr;
    EXPECT_EQ(xdr_string(&w.c, XDR_OP_ENCODE, &none, 10), 0);
    EXPECT_EQ(w.c.count, 0u);
}

TEST(XdrString, DecodeAllocatesATerminatedCopyUpToTheMaximum) {
    struct Case {
        const char* what;
        Bytes in;
        uint32_t max;
        const char* want;  // null: the decode fails
    };
    const Case cases[] = {
        {"empty string", words({0}), 0, ""},
        {"length equal to the maximum", cat(words({5}), {'h', 'e', 'l', 'l', 'o', 0, 0, 0}), 5, "hello"},
        {"aligned length", cat(words({4}), {'a', 'b', 'c', 'd'}), 4, "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = Window::reading(c.in);
        char* t = nullptr;
        ASSERT_EQ(xdr_string(&r.c, XDR_OP_DECODE, &t, c.max), 1);
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t, c.want);
        EXPECT_EQ(r.c.count, 0u);
        EXPECT_EQ(xdr_string(nullptr, XDR_OP_FREE, &t, c.max), 1);
        EXPECT_EQ(t, nullptr);
    }
}

TEST(XdrString, FailedDecodes) {
    char keep[] = "keep";
    struct Case {
        const char* what;
        Bytes in;
        uint32_t max;
        long allocations;
        bool pointerKept;  // refused length: pointer and window untouched
    };
    const Case cases[] = {
        {"one byte above the maximum", cat(words({6}), Bytes(8, 'x')), 5, -1, true},
        {"length word cut short", {0, 0, 0}, 5, -1, true},
        {"bytes missing", cat(words({6}), Bytes(4, 'x')), 100, -1, false},
        {"padding missing", cat(words({6}), Bytes(6, 'x')), 100, -1, false},
        {"length 0xFFFFFFFF, no maximum", words({0xFFFFFFFF}), UINT32_MAX, -1, false},
        {"no memory", cat(words({2}), Bytes(4, 'x')), 100, 0, false},
        {"no memory for the empty string", words({0}), 100, 0, false},
    };
    for (const Case& c : cases) {
        if (c.allocations >= 0 && !kHeapSeam) continue;
        SCOPED_TRACE(c.what);
        auto r = Window::reading(c.in);
        const MbufCursor before = r.c;
        char* t = keep;
        HeapBudget budget(c.allocations);
        EXPECT_EQ(xdr_string(&r.c, XDR_OP_DECODE, &t, c.max), 0);
        EXPECT_EQ(t, c.pointerKept ? keep : nullptr);
        EXPECT_TRUE(same(r.c, before));
    }
}

// --- arrays ------------------------------------------------------------------

// A string element of at most 8 bytes, counting its calls by mode.
int g_calls[3];
int shortString(MbufCursor* s, XdrOp op, void* p) {
    if (op >= 0 && op <= 2) ++g_calls[op];
    return xdr_string(s, op, static_cast<char**>(p), 8);
}

TEST(XdrArray, IntsRoundTripThroughEveryWordRoutine) {
    const XdrProc routines[] = {proc(&xdr_int), proc(&xdr_u_int), proc(&xdr_bool), proc(&xdr_uint32_t),
                                proc(&xdr_u_long)};
    for (XdrProc p : routines) {
        int32_t src[3] = {1, -1, 0x7FFFFFFF};
        void* e = src;
        uint32_t n = 3;
        auto w = Window::writing(64);
        ASSERT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &e, &n, 3, 4, p), 1);
        EXPECT_EQ(w.written(), words({3, 1, 0xFFFFFFFF, 0x7FFFFFFF}));

        auto r = Window::reading(w.written());
        void* got = nullptr;
        uint32_t gotN = 0;
        ASSERT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &got, &gotN, 3, 4, p), 1);
        ASSERT_EQ(gotN, 3u);
        EXPECT_EQ(0, std::memcmp(got, src, sizeof src));
        EXPECT_EQ(xdr_array(nullptr, XDR_OP_FREE, &got, &gotN, 3, 4, p), 1);
        EXPECT_EQ(got, nullptr);
    }
}

TEST(XdrArray, WordsThatDoNotAllFitMoveAsSingleCallsWould) {
    // Room for the count and two words (plus the reserve), not three.
    int32_t src[3] = {1, 2, 3};
    void* e = src;
    uint32_t n = 3;
    auto w = Window::writing(16);
    EXPECT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &e, &n, 3, 4, proc(&xdr_int)), 0);
    EXPECT_EQ(w.written(), words({3, 1, 2}));

    // Decoding, a count the window cannot hold is refused before any element.
    auto r = Window::reading(words({3, 1, 2}));
    void* got = nullptr;
    EXPECT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &got, &n, 3, 4, proc(&xdr_int)), 0);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(r.c.count, 8u);
}

TEST(XdrArray, ElementFailureReleasesEverythingTheDecodeAllocated) {
    // Three strings; the second is longer than its element allows. The first
    // string's block must not leak (LeakSanitizer) and the pointer is null.
    const Bytes in = cat(cat(cat(words({3, 2}), {'a', 'b', 0, 0}), words({9})), Bytes(12, 'x'));
    auto r = Window::reading(in);
    int sentinel;
    void* e = &sentinel;
    uint32_t n = 0;
    g_calls[0] = g_calls[1] = g_calls[2] = 0;
    EXPECT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &e, &n, 10, sizeof(char*), &shortString), 0);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(g_calls[XDR_OP_DECODE], 2);
    EXPECT_EQ(g_calls[XDR_OP_FREE], 2);  // the decoded element and the failed one
}

TEST(XdrArray, CountsThatCannotBeHonouredFailCleanly) {
    int sentinel;
    struct Case {
        const char* what;
        Bytes in;
        uint32_t max, size;
        bool pointerKept;  // refused count: pointer untouched
    };
    const Case cases[] = {
        {"count above the maximum", words({4, 1, 2, 3, 4}), 3, 4, true},
        {"huge count, no elements", words({0x40000000}), UINT32_MAX, 16, false},
        {"count the window cannot hold", words({3, 1, 2}), 10, 8, false},
        {"count times size of 4 GiB", words({0x10000, 0}), UINT32_MAX, 0x10000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = Window::reading(c.in);
        void* e = &sentinel;
        uint32_t n = 0;
        EXPECT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &e, &n, c.max, c.size, &shortString), 0);
        EXPECT_EQ(e, c.pointerKept ? static_cast<void*>(&sentinel) : nullptr);
        EXPECT_EQ(n, c.in[3] | c.in[2] << 8 | c.in[1] << 16 | uint32_t{c.in[0]} << 24);
        EXPECT_EQ(r.consumed(), 4u);
    }
}

TEST(XdrArray, EmptyArrayAndCallerErrors) {
    auto r = Window::reading(words({0}));
    void* e = nullptr;
    uint32_t n = 9;
    ASSERT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &e, &n, 5, 4, proc(&xdr_int)), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_NE(e, nullptr);  // an empty block, released by the free
    EXPECT_EQ(xdr_array(nullptr, XDR_OP_FREE, &e, &n, 5, 4, proc(&xdr_int)), 1);
    EXPECT_EQ(e, nullptr);

    // A null element pointer with a count is the caller's error, not a crash.
    n = 3;
    auto w = Window::writing(64);
    EXPECT_EQ(xdr_array(nullptr, XDR_OP_FREE, &e, &n, 5, 4, proc(&xdr_int)), 0);
    EXPECT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &e, &n, 5, 4, proc(&xdr_int)), 0);
    n = 0;
    EXPECT_EQ(xdr_array(nullptr, XDR_OP_FREE, &e, &n, 5, 4, proc(&xdr_int)), 1);
    EXPECT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &e, &n, 5, 4, nullptr), 0);
}

TEST(XdrArray, SmallElementsThroughTheirOwnRoutine) {
    unsigned char src[5] = {0, 1, 0x7F, 0x80, 0xFF};
    void* e = src;
    uint32_t n = 5;
    auto w = Window::writing(64);
    ASSERT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &e, &n, 5, 1, proc(&xdr_u_char)), 1);
    EXPECT_EQ(w.written(), words({5, 0, 1, 0x7F, 0x80, 0xFF}));
    auto r = Window::reading(w.written());
    void* got = nullptr;
    ASSERT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &got, &n, 5, 1, proc(&xdr_u_char)), 1);
    EXPECT_EQ(0, std::memcmp(got, src, 5));
    EXPECT_EQ(xdr_array(nullptr, XDR_OP_FREE, &got, &n, 5, 1, proc(&xdr_u_char)), 1);
}

// --- references and optional data ------------------------------------------

struct Node {
    int32_t value;
    Node* next;
};
int node(MbufCursor* s, XdrOp op, void* p) {
    auto* n = static_cast<Node*>(p);
    return xdr_int(s, op, &n->value) && xdr_pointer(s, op, reinterpret_cast<void**>(&n->next), sizeof(Node), &node);
}

TEST(XdrPointer, AbsentAllocatesNothingAndPresentAllocatesZeroedObject) {
    {
        auto r = Window::reading(words({0}));
        int sentinel;
        void* obj = &sentinel;
        HeapBudget none(0);
        ASSERT_EQ(xdr_pointer(&r.c, XDR_OP_DECODE, &obj, 64, proc(&xdr_int)), 1);
        EXPECT_EQ(obj, nullptr);
    }
    {
        // Any non-zero presence word means present.
        auto r = Window::reading(words({2, 42}));
        void* obj = nullptr;
        ASSERT_EQ(xdr_pointer(&r.c, XDR_OP_DECODE, &obj, 64, proc(&xdr_int)), 1);
        ASSERT_NE(obj, nullptr);
        const auto* bytes = static_cast<const uint8_t*>(obj);
        EXPECT_EQ(*static_cast<int32_t*>(obj), 42);
        EXPECT_EQ(Bytes(bytes + 4, bytes + 64), Bytes(60, 0));
        EXPECT_EQ(xdr_pointer(nullptr, XDR_OP_FREE, &obj, 64, proc(&xdr_int)), 1);
        EXPECT_EQ(obj, nullptr);
    }
}

TEST(XdrPointer, LinkedListRoundTripsAndFreesEveryNode) {
    Node c{3, nullptr}, b{2, &c}, a{1, &b};
    void* head = &a;
    auto w = Window::writing(256);
    ASSERT_EQ(xdr_pointer(&w.c, XDR_OP_ENCODE, &head, sizeof(Node), &node), 1);
    EXPECT_EQ(w.written(), words({1, 1, 1, 2, 1, 3, 0}));

    auto r = Window::reading(w.written());
    void* got = nullptr;
    ASSERT_EQ(xdr_pointer(&r.c, XDR_OP_DECODE, &got, sizeof(Node), &node), 1);
    const auto* n = static_cast<Node*>(got);
    ASSERT_TRUE(n && n->next && n->next->next);
    EXPECT_EQ(n->value + n->next->value + n->next->next->value, 6);
    EXPECT_EQ(n->next->next->next, nullptr);
    EXPECT_EQ(xdr_pointer(nullptr, XDR_OP_FREE, &got, sizeof(Node), &node), 1);
    EXPECT_EQ(got, nullptr);

    // Cut short in the third node: what was decoded stays for the free.
    auto cut = Window::reading(words({1, 1, 1, 2, 1}));
    got = nullptr;
    EXPECT_EQ(xdr_pointer(&cut.c, XDR_OP_DECODE, &got, sizeof(Node), &node), 0);
    EXPECT_EQ(xdr_pointer(nullptr, XDR_OP_FREE, &got, sizeof(Node), &node), 1);
    EXPECT_EQ(got, nullptr);
}

TEST(XdrReference, StringRoutineReadsAStringOfAnyLength) {
    const std::string big(70000, 'q');
    char* text = const_cast<char*>(big.c_str());
    auto w = Window::writing(80000);
    void* obj = text;
    ASSERT_EQ(xdr_reference(&w.c, XDR_OP_ENCODE, &obj, 0, proc(&xdr_string)), 1);
    EXPECT_EQ(w.c.count, 4u + 70000u);

    auto r = Window::reading(w.written());
    void* got = nullptr;
    ASSERT_EQ(xdr_reference(&r.c, XDR_OP_DECODE, &got, 0, proc(&xdr_string)), 1);
    EXPECT_EQ(std::string(static_cast<char*>(got)), big);
    EXPECT_EQ(xdr_reference(nullptr, XDR_OP_FREE, &got, 0, proc(&xdr_string)), 1);
    EXPECT_EQ(got, nullptr);
}

TEST(XdrReference, DecodesIntoAnExistingObjectAndRefusesToEncodeNothing) {
    int32_t target = 0;
    void* obj = &target;
    auto r = Window::reading(words({5}));
    ASSERT_EQ(xdr_reference(&r.c, XDR_OP_DECODE, &obj, 4, proc(&xdr_int)), 1);
    EXPECT_EQ(obj, &target);
    EXPECT_EQ(target, 5);

    void* none = nullptr;
    auto w = Window::writing(16);
    EXPECT_EQ(xdr_reference(&w.c, XDR_OP_ENCODE, &none, 4, proc(&xdr_int)), 0);
    EXPECT_EQ(xdr_reference(nullptr, XDR_OP_FREE, &none, 4, proc(&xdr_int)), 1);

    if (kHeapSeam) {
        HeapBudget noMemory(0);
        auto r2 = Window::reading(words({5}));
        EXPECT_EQ(xdr_reference(&r2.c, XDR_OP_DECODE, &none, 4, proc(&xdr_int)), 0);
        EXPECT_EQ(none, nullptr);
    }
}

// --- heap helpers ------------------------------------------------------------

TEST(XdrUtil, HeapHelpers) {
    auto* p = static_cast<uint8_t*>(xdrutil_malloc(32));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, p + 32), Bytes(32, 0));
    xdrutil_free(p);
    xdrutil_free(nullptr);
    char* s = xdrutil_strdup("copy me");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "copy me");
    // What the helpers allocate, the free mode releases.
    EXPECT_EQ(xdr_string(nullptr, XDR_OP_FREE, &s, 0), 1);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(xdrutil_strdup(nullptr), nullptr);
}

}  // namespace
