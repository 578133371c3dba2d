// SPDX-License-Identifier: MIT
// The XDR routines against libtirpc, an independent implementation of the
// same wire forms: bytes written by one are read by the other, both ways.
// And with libtirpc loaded first and globally, the shared library still
// runs its own routines when they call one another.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "peer_skip.h"
#include "qelrpc.h"
#include "xdr_tirpc_side.h"

namespace {

using tirpc_side::Bytes;

template <class F>
XdrProc proc(F f) {
    return reinterpret_cast<XdrProc>(reinterpret_cast<void (*)()>(f));
}

struct Writer {
    Bytes bytes = Bytes(65536);
    MbufCursor c{0, 65536, bytes.data()};
    Bytes written() const { return Bytes(bytes.begin(), bytes.begin() + c.count); }
};

struct Reader {
    Bytes bytes;
    MbufCursor c;
    explicit Reader(Bytes b) : bytes(std::move(b)) {
        bytes.reserve(bytes.size() + 1);
        c = MbufCursor{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()), bytes.data()};
    }
};

class Tirpc : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tirpc_side::available()) QELRPC_SKIP_UNLESS_REQUIRED("libtirpc.so.3 is not installed");
        // A sanitizer runtime that intercepts xdr_* makes this executable
        // export the copies linked into it, and libtirpc's calls between its
        // own routines then land in ours: it is no independent side then.
        if (dlsym(RTLD_DEFAULT, "xdr_u_int") == reinterpret_cast<void*>(&xdr_u_int))
            GTEST_SKIP() << "libtirpc's internal calls bind to this executable's xdr_* here";
    }
};

TEST_F(Tirpc, UnsignedWords) {
    const std::vector<uint32_t> values = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 100003};
    Writer w;
    for (uint32_t v : values) ASSERT_EQ(xdr_u_int(&w.c, XDR_OP_ENCODE, &v), 1);
    std::vector<uint32_t> back;
    ASSERT_TRUE(tirpc_side::decodeUInts(w.written(), values.size(), back));
    EXPECT_EQ(back, values);

    Bytes theirs;
    ASSERT_TRUE(tirpc_side::encodeUInts(values, theirs));
    EXPECT_EQ(theirs, w.written());
    Reader r(theirs);
    for (uint32_t v : values) {
        uint32_t got = 0;
        ASSERT_EQ(xdr_uint32_t(&r.c, XDR_OP_DECODE, &got), 1);
        EXPECT_EQ(got, v);
    }
}

TEST_F(Tirpc, StringsOfEveryPadding) {
    const std::vector<std::string> values = {"", "a", "ab", "abc", "abcd", "hello", std::string(255, 'x'),
                                             std::string(1000, 'y')};
    Writer w;
    for (const std::string& s : values) {
        char* p = const_cast<char*>(s.c_str());
        ASSERT_EQ(xdr_string(&w.c, XDR_OP_ENCODE, &p, 2000), 1);
    }
    std::vector<std::string> back;
    ASSERT_TRUE(tirpc_side::decodeStrings(w.written(), values.size(), back));
    EXPECT_EQ(back, values);

    Bytes theirs;
    ASSERT_TRUE(tirpc_side::encodeStrings(values, theirs));
    EXPECT_EQ(theirs, w.written());
    Reader r(theirs);
    for (const std::string& s : values) {
        char* got = nullptr;
        ASSERT_EQ(xdr_string(&r.c, XDR_OP_DECODE, &got, 2000), 1);
        EXPECT_EQ(std::string(got), s);
        xdr_string(nullptr, XDR_OP_FREE, &got, 0);
    }
}

TEST_F(Tirpc, ByteStringsWithZeroesInside) {
    const std::vector<Bytes> values = {{}, {0}, {1, 0, 2}, {0, 0, 0, 0}, Bytes(64, 0xA5), {9, 8, 7, 6, 5}};
    Writer w;
    for (const Bytes& b : values) {
        void* p = const_cast<uint8_t*>(b.data());
        uint32_t len = static_cast<uint32_t>(b.size());
        ASSERT_EQ(xdr_bytes(&w.c, XDR_OP_ENCODE, &p, &len, 64), 1);
    }
    std::vector<Bytes> back;
    ASSERT_TRUE(tirpc_side::decodeByteStrings(w.written(), values.size(), back));
    EXPECT_EQ(back, values);

    Bytes theirs;
    ASSERT_TRUE(tirpc_side::encodeByteStrings(values, theirs));
    EXPECT_EQ(theirs, w.written());
    Reader r(theirs);
    for (const Bytes& b : values) {
        void* got = nullptr;
        uint32_t len = 0;
        ASSERT_EQ(xdr_bytes(&r.c, XDR_OP_DECODE, &got, &len, 64), 1);
        EXPECT_EQ(Bytes(static_cast<uint8_t*>(got), static_cast<uint8_t*>(got) + len), b);
        xdr_bytes(nullptr, XDR_OP_FREE, &got, &len, 64);
    }
}

TEST_F(Tirpc, IntArrays) {
    for (size_t n : {0u, 1u, 100u}) {
        SCOPED_TRACE(n);
        std::vector<int32_t> values;
        for (size_t i = 0; i < n; ++i) values.push_back(static_cast<int32_t>(i * 2654435761u));
        Writer w;
        void* p = values.data();
        uint32_t count = static_cast<uint32_t>(n);
        ASSERT_EQ(xdr_array(&w.c, XDR_OP_ENCODE, &p, &count, 100, 4, proc(&xdr_int)), 1);
        std::vector<int32_t> back;
        ASSERT_TRUE(tirpc_side::decodeIntArray(w.written(), back));
        EXPECT_EQ(back, values);

        Bytes theirs;
        ASSERT_TRUE(tirpc_side::encodeIntArray(values, theirs));
        EXPECT_EQ(theirs, w.written());
        Reader r(theirs);
        void* got = nullptr;
        ASSERT_EQ(xdr_array(&r.c, XDR_OP_DECODE, &got, &count, 100, 4, proc(&xdr_int)), 1);
        EXPECT_EQ(std::vector<int32_t>(static_cast<int32_t*>(got), static_cast<int32_t*>(got) + count), values);
        xdr_array(nullptr, XDR_OP_FREE, &got, &count, 100, 4, proc(&xdr_int));
    }
}

TEST_F(Tirpc, OptionalData) {
    int32_t value = -77;
    for (int32_t* v : {static_cast<int32_t*>(nullptr), &value}) {
        SCOPED_TRACE(v ? "present" : "absent");
        Writer w;
        void* p = v;
        ASSERT_EQ(xdr_pointer(&w.c, XDR_OP_ENCODE, &p, 4, proc(&xdr_int)), 1);
        bool present = false;
        int32_t back = 0;
        ASSERT_TRUE(tirpc_side::decodeOptionalInt(w.written(), present, back));
        EXPECT_EQ(present, v != nullptr);
        if (v) {
            EXPECT_EQ(back, value);
        }

        Bytes theirs;
        ASSERT_TRUE(tirpc_side::encodeOptionalInt(v, theirs));
        EXPECT_EQ(theirs, w.written());
        Reader r(theirs);
        void* got = nullptr;
        ASSERT_EQ(xdr_pointer(&r.c, XDR_OP_DECODE, &got, 4, proc(&xdr_int)), 1);
        EXPECT_EQ(got != nullptr, v != nullptr);
        if (got) {
            EXPECT_EQ(*static_cast<int32_t*>(got), value);
        }
        xdr_pointer(nullptr, XDR_OP_FREE, &got, 4, proc(&xdr_int));
    }
}

TEST_F(Tirpc, PortmapperMapping) {
    mapping m{100003, 3, 17, 2049};
    Writer w;
    ASSERT_EQ(xdr_mapping(&w.c, XDR_OP_ENCODE, &m), 1);
    Bytes theirs;
    ASSERT_TRUE(tirpc_side::encodePmap(100003, 3, 17, 2049, theirs));
    EXPECT_EQ(theirs, w.written());
}

// Conversions between our record and the plain values of the side file.
void toOurs(const tirpc_side::Auth& a, opaque_auth& o) {
    o.flavor = a.flavor;
    o.length = static_cast<uint32_t>(a.body.size());
    o.body.base = const_cast<uint8_t*>(a.body.data());
}

rpc_msg toOurs(const tirpc_side::Msg& m) {
    rpc_msg r{};
    r.xid = m.xid;
    r.mtype = m.mtype;
    if (m.mtype == 0) {
        r.cbody.rpcvers = m.rpcvers;
        r.cbody.prog = m.prog;
        r.cbody.vers = m.vers;
        r.cbody.proc = m.proc;
        toOurs(m.cred, r.cbody.cred);
        toOurs(m.verf, r.cbody.verf);
    } else if ((r.rbody.stat = m.replyStat) == 0) {
        toOurs(m.rverf, r.rbody.areply.verf);
        r.rbody.areply.stat = m.acceptStat;
        r.rbody.areply.mismatch_info = {m.low, m.high};
    } else if ((r.rbody.rreply.stat = m.rejectStat) == 0) {
        r.rbody.rreply.mismatch_info = {m.low, m.high};
    } else {
        r.rbody.rreply.auth_stat = m.authStat;
    }
    return r;
}

Bytes body(const opaque_auth& a) { return a.length ? Bytes(a.body.base, a.body.base + a.length) : Bytes{}; }

TEST_F(Tirpc, WholeMessagesCallsAndEveryReplyArm) {
    using tirpc_side::Msg;
    const Bytes unixCred = {0, 0, 0, 1, 0, 0, 0, 4, 'h', 'o', 's', 't', 0, 0, 3, 0xE8, 0, 0, 0, 100, 0, 0, 0, 0};
    auto call = [](uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, tirpc_side::Auth cred,
                   tirpc_side::Auth verf) {
        Msg m;
        m.xid = xid;
        m.rpcvers = 2;
        m.prog = prog;
        m.vers = vers;
        m.proc = proc;
        m.cred = std::move(cred);
        m.verf = std::move(verf);
        return m;
    };
    auto accepted = [](uint32_t xid, tirpc_side::Auth verf, uint32_t stat, uint32_t low = 0, uint32_t high = 0) {
        Msg m;
        m.xid = xid;
        m.mtype = 1;
        m.rverf = std::move(verf);
        m.acceptStat = stat;
        m.low = low;
        m.high = high;
        return m;
    };
    auto denied = [](uint32_t xid, uint32_t stat, uint32_t low, uint32_t high, uint32_t why) {
        Msg m;
        m.xid = xid;
        m.mtype = 1;
        m.replyStat = 1;
        m.rejectStat = stat;
        m.low = low;
        m.high = high;
        m.authStat = why;
        return m;
    };
    const std::vector<Msg> msgs = {
        call(1, 100000, 2, 3, {}, {}),
        call(2, 100003, 3, 1, {1, unixCred}, {6, Bytes(13, 0x5A)}),
        accepted(3, {}, 0),
        accepted(4, {3, Bytes(12, 1)}, 2, 2, 4),
        accepted(5, {}, 4),
        denied(6, 0, 2, 2, 0),
        denied(7, 1, 0, 0, 13),
    };
    for (const Msg& m : msgs) {
        SCOPED_TRACE(m.xid);
        rpc_msg ours = toOurs(m);
        Writer w;
        ASSERT_EQ(xdr_rpc_msg(&w.c, XDR_OP_ENCODE, &ours), 1);
        Bytes theirs;
        ASSERT_TRUE(tirpc_side::encodeMsg(m, theirs));
        EXPECT_EQ(theirs, w.written());

        Msg back;
        ASSERT_TRUE(tirpc_side::decodeMsg(w.written(), back));
        EXPECT_EQ(back.xid, m.xid);
        EXPECT_EQ(back.mtype, m.mtype);

        Reader r(theirs);
        rpc_msg got{};
        ASSERT_EQ(xdr_rpc_msg(&r.c, XDR_OP_DECODE, &got), 1);
        EXPECT_EQ(r.c.count, 0u);
        EXPECT_EQ(got.xid, m.xid);
        if (m.mtype == 0) {
            EXPECT_EQ(got.cbody.prog, m.prog);
            EXPECT_EQ(back.proc, m.proc);
            EXPECT_EQ(body(got.cbody.cred), m.cred.body);
            EXPECT_EQ(body(got.cbody.verf), m.verf.body);
            EXPECT_EQ(back.cred.body, m.cred.body);
            EXPECT_EQ(back.verf.flavor, m.verf.flavor);
        } else if (m.replyStat == 0) {
            EXPECT_EQ(got.rbody.areply.stat, m.acceptStat);
            EXPECT_EQ(body(got.rbody.areply.verf), m.rverf.body);
            EXPECT_EQ(back.acceptStat, m.acceptStat);
            if (m.acceptStat == 2) {
                EXPECT_EQ(got.rbody.areply.mismatch_info.high, m.high);
                EXPECT_EQ(back.high, m.high);
            }
        } else {
            EXPECT_EQ(got.rbody.rreply.stat, m.rejectStat);
            EXPECT_EQ(back.rejectStat, m.rejectStat);
            if (m.rejectStat == 0) EXPECT_EQ(got.rbody.rreply.mismatch_info.low, m.low);
            else EXPECT_EQ(got.rbody.rreply.auth_stat, back.authStat);
        }
        EXPECT_EQ(xdr_rpc_msg(nullptr, XDR_OP_FREE, &got), 1);
    }
}

// --- interposition -----------------------------------------------------------

// Names of the symbols a shared library defines itself that one of its
// dynamic relocations still refers to: each such reference could be bound to
// another library's definition at load time.
std::vector<std::string> selfReferencesLeftToTheLoader(const char* path, bool& symbolic) {
    std::ifstream f(path, std::ios::binary);
    const std::string img((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<std::string> found;
    symbolic = false;
    if (img.size() < sizeof(Elf64_Ehdr) || img[EI_CLASS] != ELFCLASS64) return {"<not a 64-bit ELF file>"};
    const char* base = img.data();
    const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(base);
    const auto* sh = reinterpret_cast<const Elf64_Shdr*>(base + eh->e_shoff);
    for (int i = 0; i < eh->e_shnum; ++i) {
        if (sh[i].sh_type == SHT_DYNAMIC) {
            for (auto* d = reinterpret_cast<const Elf64_Dyn*>(base + sh[i].sh_offset); d->d_tag != DT_NULL; ++d)
                if (d->d_tag == DT_SYMBOLIC || (d->d_tag == DT_FLAGS && (d->d_un.d_val & DF_SYMBOLIC))) symbolic = true;
        }
        if (sh[i].sh_type != SHT_RELA) continue;
        const Elf64_Shdr& symtab = sh[sh[i].sh_link];
        const auto* syms = reinterpret_cast<const Elf64_Sym*>(base + symtab.sh_offset);
        const char* names = base + sh[symtab.sh_link].sh_offset;
        const auto* rel = reinterpret_cast<const Elf64_Rela*>(base + sh[i].sh_offset);
        for (size_t k = 0; k < sh[i].sh_size / sizeof(Elf64_Rela); ++k) {
            const Elf64_Sym& s = syms[ELF64_R_SYM(rel[k].r_info)];
            if (ELF64_R_SYM(rel[k].r_info) != 0 && s.st_shndx != SHN_UNDEF) found.emplace_back(names + s.st_name);
        }
    }
    return found;
}

TEST(XdrInterposition, SharedLibraryBindsItsOwnRoutines) {
    bool symbolic = false;
    EXPECT_EQ(selfReferencesLeftToTheLoader(QELRPC_SHARED_LIBRARY, symbolic), std::vector<std::string>{});
    EXPECT_TRUE(symbolic);
}

TEST(XdrInterposition, OwnRoutinesWinWithLibtirpcLoadedFirst) {
    void* tirpc = dlopen("libtirpc.so.3", RTLD_NOW | RTLD_GLOBAL);
    if (tirpc == nullptr) QELRPC_SKIP_UNLESS_REQUIRED("libtirpc.so.3 is not installed");
    void* ours = dlopen(QELRPC_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(ours, nullptr) << dlerror();
    // Another xdr_string (libtirpc's, or this executable's) is what the
    // process resolves by name first.
    ASSERT_NE(dlsym(RTLD_DEFAULT, "xdr_string"), nullptr);
    ASSERT_NE(dlsym(RTLD_DEFAULT, "xdr_string"), dlsym(ours, "xdr_string"));

    auto q = [&](const char* name) {
        void* s = dlsym(ours, name);
        EXPECT_NE(s, nullptr) << name;
        EXPECT_NE(s, dlsym(tirpc, name)) << name;
        return s;
    };
    auto qPointer = reinterpret_cast<decltype(&xdr_pointer)>(q("xdr_pointer"));
    auto qReference = reinterpret_cast<decltype(&xdr_reference)>(q("xdr_reference"));
    auto qArray = reinterpret_cast<decltype(&xdr_array)>(q("xdr_array"));
    auto qRpcMsg = reinterpret_cast<decltype(&xdr_rpc_msg)>(q("xdr_rpc_msg"));
    const XdrProc qInt = proc(q("xdr_int"));
    const XdrProc qString = proc(q("xdr_string"));
    const XdrProc qUChar = proc(q("xdr_u_char"));

    // Optional data: the presence word and the object through our routines.
    Reader r1(Bytes{0, 0, 0, 2, 0, 0, 0, 42});
    void* obj = nullptr;
    ASSERT_EQ(qPointer(&r1.c, XDR_OP_DECODE, &obj, 4, qInt), 1);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(*static_cast<int32_t*>(obj), 42);
    EXPECT_EQ(qPointer(nullptr, XDR_OP_FREE, &obj, 4, qInt), 1);

    // Our string routine, recognised as such, reads a string of any length.
    Bytes in = {0, 0, 0x01, 0x2C};
    in.resize(4 + 300, 's');
    Reader r2(in);
    void* text = nullptr;
    ASSERT_EQ(qReference(&r2.c, XDR_OP_DECODE, &text, 0, qString), 1);
    EXPECT_EQ(std::string(static_cast<char*>(text)), std::string(300, 's'));
    EXPECT_EQ(qReference(nullptr, XDR_OP_FREE, &text, 0, qString), 1);

    // Arrays through our integer and byte routines.
    for (auto [p, size] : {std::pair{qInt, 4u}, std::pair{qUChar, 1u}}) {
        Reader r3(Bytes{0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 9});
        void* e = nullptr;
        uint32_t n = 0;
        ASSERT_EQ(qArray(&r3.c, XDR_OP_DECODE, &e, &n, 2, size, p), 1);
        EXPECT_EQ(static_cast<uint8_t*>(e)[size], 9);
        EXPECT_EQ(qArray(nullptr, XDR_OP_FREE, &e, &n, 2, size, p), 1);
    }

    // A whole reply.
    Reader r4(Bytes{0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2});
    rpc_msg m{};
    ASSERT_EQ(qRpcMsg(&r4.c, XDR_OP_DECODE, &m), 1);
    EXPECT_EQ(m.rbody.rreply.auth_stat, 2u);
    dlclose(ours);
}

}  // namespace

#endif  // !_WIN32
