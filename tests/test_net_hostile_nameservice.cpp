// SPDX-License-Identifier: MIT
// Every user-service call against a scripted hostile PCNFSD / Qelnfsd
// daemon (tests/hostile_nameservice.h), over TCP and over UDP. The
// caller's inputs lie in read-only pages and its outputs end at a guard
// page, sized as a caller sizes them (count names of 255 characters, count
// ids), so a write into an input or past an output faults at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "guarded_pages.h"
#include "hostile_nameservice.h"
#include "nfsuser/name_service.h"
#include "qelrpc.h"
#include "scramble_reference.h"

// Every block released through free (this program links with
// --wrap=free, so the library's own calls come here too) is searched for
// g_secret while it is set.
namespace {
std::atomic<const std::string*> g_secret{nullptr};
std::atomic<int> g_secretFound{0};
}  // namespace
extern "C" void __real_free(void* p);
extern "C" void __wrap_free(void* p) {
    const std::string* secret = g_secret.load();
    if (p != nullptr && secret != nullptr) {
        const size_t n = malloc_usable_size(p);
        if (n >= secret->size() && memmem(p, n, secret->data(), secret->size()) != nullptr) ++g_secretFound;
    }
    __real_free(p);
}

namespace {

using hostile::Style;
using qelrpc::testing::GuardedPages;

constexpr int kProtocolError = 1728;

const Style kStyles[] = {Style::Honest,  Style::WrongKind, Style::More,     Style::Fewer,
                         Style::Name0,   Style::Name255,   Style::Name256,  Style::Name300,
                         Style::NulNames, Style::Cut,      Style::Empty,    Style::Garbage};

const char* styleName(Style s) {
    switch (s) {
        case Style::Honest: return "honest";
        case Style::WrongKind: return "items of the wrong kind";
        case Style::More: return "more items than asked";
        case Style::Fewer: return "fewer items than asked";
        case Style::Name0: return "names of 0 bytes";
        case Style::Name255: return "names of 255 bytes";
        case Style::Name256: return "names of 256 bytes";
        case Style::Name300: return "names of 300 bytes";
        case Style::NulNames: return "names holding a NUL";
        case Style::Cut: return "results cut mid-item";
        case Style::Empty: return "no results";
        case Style::Garbage: return "garbage";
    }
    return "?";
}

enum class Transport { Tcp, Udp };

// Read-only copies of a caller's inputs.
GuardedPages readOnly(const void* bytes, size_t n) {
    return GuardedPages(bytes, n);
}

class HostileNameService : public ::testing::TestWithParam<Transport> {
  protected:
    void SetUp() override {
        unsetenv("QELNIS_TYPE");  // no directory service: the daemons answer
    }

    // An operation that names the daemon's program and port (no look-up),
    // not opened: the calls open it themselves (openOperation set).
    RpcOperation aimedAt(const hostile::Daemon& d, uint32_t prog) const {
        RpcOperation op{};
        op.hostAddr = htonl(INADDR_LOOPBACK);
        op.prog = prog;
        op.vers = prog == hostile::kPcnfsd ? 2 : 1;
        if (GetParam() == Transport::Tcp) op.tcpPort = d.tcpPort();
        else op.udpPort = d.udpPort();
        return op;
    }
};

std::string transportName(const ::testing::TestParamInfo<Transport>& p) {
    return p.param == Transport::Tcp ? "Tcp" : "Udp";
}

// ---- name-to-id questions ----------------------------------------------

struct NamesToIds {
    const char* what;
    uint32_t prog;
    uint32_t count;  // names asked
    bool generic;    // the Pcnfsd* entry points: the operation comes opened, with AUTH_UNIX
    int (*call)(RpcOperation*, uint32_t count, const char* names, int32_t* ids);
};

const NamesToIds kNamesToIds[] = {
    {"PcnfsdGetUidsFromUNames", hostile::kPcnfsd, 3, true,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PcnfsdGetUidsFromUNames(o, 1, 0, n, in, out); }},
    {"PcnfsdGetGidsFromGNames", hostile::kPcnfsd, 3, true,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PcnfsdGetGidsFromGNames(o, 1, 0, n, in, out); }},
    {"PerformGetUidsFromUNames (PCNFSD)", hostile::kPcnfsd, 3, false,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PerformGetUidsFromUNames(o, 1, 0, n, in, out); }},
    {"PerformGetGidsFromGNames (PCNFSD)", hostile::kPcnfsd, 3, false,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PerformGetGidsFromGNames(o, 1, 0, n, in, out); }},
    {"PerformPcnfsdGroupName (PCNFSD)", hostile::kPcnfsd, 1, false,
     [](RpcOperation* o, uint32_t, const char* in, int32_t* out) { return PerformPcnfsdGroupName(o, 1, 0, in, out); }},
    {"PerformGetUidsFromUNames (Qelnfsd)", hostile::kQelnfsd, 3, false,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PerformGetUidsFromUNames(o, 1, 0, n, in, out); }},
    {"PerformGetGidsFromGNames (Qelnfsd)", hostile::kQelnfsd, 3, false,
     [](RpcOperation* o, uint32_t n, const char* in, int32_t* out) { return PerformGetGidsFromGNames(o, 1, 0, n, in, out); }},
    {"PerformPcnfsdGroupName (Qelnfsd)", hostile::kQelnfsd, 1, false,
     [](RpcOperation* o, uint32_t, const char* in, int32_t* out) { return PerformPcnfsdGroupName(o, 1, 0, in, out); }},
    {"PerformQelnfsdGroupName", hostile::kQelnfsd, 1, false,
     [](RpcOperation* o, uint32_t, const char* in, int32_t* out) { return PerformQelnfsdGroupName(o, 1, 0, in, out); }},
};

// What a name-to-id question must return against each style.
int namesToIdsStatus(Style s, uint32_t prog) {
    const bool pcnfsd = prog == hostile::kPcnfsd;
    switch (s) {
        case Style::Cut:
        case Style::Empty: return kProtocolError;
        case Style::Garbage: return pcnfsd ? kProtocolError : 0;  // Qelnfsd: a pair of 0xFFFFFFFF words
        case Style::Fewer: return pcnfsd ? 0 : kProtocolError;    // Qelnfsd: no pair at all
        default: return 0;
    }
}

// The id item i must get (the daemon answers 1000 + its item's place; one
// name a Qelnfsd call, so always 1000 there).
int32_t expectedId(Style s, uint32_t prog, uint32_t i, int rc) {
    if (rc != 0 || s == Style::Garbage) return -1;
    if (prog == hostile::kQelnfsd) return 1000;
    if (s == Style::WrongKind) return -1;  // no item answered the question asked
    if (s == Style::Fewer && i > 0) return -1;
    return 1000 + static_cast<int32_t>(i);
}

TEST_P(HostileNameService, NameToIdQuestionsNeverWriteTheirInputs) {
    const std::string list("alice\0bob\0carol\0", 16);
    for (Style s : kStyles) {
        hostile::Daemon daemon(s);
        ASSERT_TRUE(daemon.ok());
        for (const NamesToIds& f : kNamesToIds) {
            SCOPED_TRACE(std::string(f.what) + ", " + styleName(s));
            qelrpc::nfsuser::forgetNameServiceKind();
            GuardedPages names = readOnly(list.data(), list.size());
            names.makeReadOnly();
            GuardedPages ids(f.count * sizeof(int32_t));
            std::memset(ids.data(), 0x5A, ids.size());
            RpcOperation op = aimedAt(daemon, f.prog);
            if (f.generic) {
                ASSERT_EQ(rpcInitOperation(&op), 0);
                ASSERT_EQ(rpcCreateAuthUnix(&op, nullptr, 0, 0), 1);
            }
            auto* out = reinterpret_cast<int32_t*>(ids.data());
            const int rc = f.call(&op, f.count, names.chars(), out);
            EXPECT_EQ(rc, namesToIdsStatus(s, f.prog));
            for (uint32_t i = 0; i < f.count; ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(out[i], expectedId(s, f.prog, i, rc));
            }
            EXPECT_EQ(std::memcmp(names.data(), list.data(), list.size()), 0);
            EXPECT_EQ(op.request.block.pos, nullptr);  // openOperation set: closed
        }
    }
}

// ---- id-to-name questions ----------------------------------------------

// What an id the daemon does not name becomes.
enum class Unknown {
    Decimal,  // the id in decimal (the generic PCNFSD path)
    Nobody,   // "Nobody" (PerformPcnfsdReq*)
    Stops,    // Qelnfsd: an empty name ends the list; nothing more is written
};

struct IdsToNames {
    const char* what;
    uint32_t prog;
    bool generic;
    Unknown unknown;
    int (*call)(RpcOperation*, uint32_t count, const int32_t* ids, char* names);
};

const IdsToNames kIdsToNames[] = {
    {"PcnfsdGetUNamesFromUids", hostile::kPcnfsd, true, Unknown::Decimal,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) {
         return PcnfsdGetUNamesFromUids(o, 1, 0, n, out, const_cast<int32_t*>(in)); }},
    {"PcnfsdGetGNamesFromGids", hostile::kPcnfsd, true, Unknown::Decimal,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) {
         return PcnfsdGetGNamesFromGids(o, 1, 0, n, out, const_cast<int32_t*>(in)); }},
    {"PerformGetUserNamesFromUids (PCNFSD)", hostile::kPcnfsd, false, Unknown::Decimal,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformGetUserNamesFromUids(o, 1, 0, n, out, in); }},
    {"PerformGetGNamesFromGids (PCNFSD)", hostile::kPcnfsd, false, Unknown::Decimal,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformGetGNamesFromGids(o, 1, 0, n, out, in); }},
    {"PerformPcnfsdReqUid", hostile::kPcnfsd, false, Unknown::Nobody,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformPcnfsdReqUid(o, 1, 0, n, in, out); }},
    {"PerformPcnfsdReqGid", hostile::kPcnfsd, false, Unknown::Nobody,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformPcnfsdReqGid(o, 1, 0, n, in, out); }},
    {"PerformGetUserNamesFromUids (Qelnfsd)", hostile::kQelnfsd, false, Unknown::Stops,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformGetUserNamesFromUids(o, 1, 0, n, out, in); }},
    {"PerformGetGNamesFromGids (Qelnfsd)", hostile::kQelnfsd, false, Unknown::Stops,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformGetGNamesFromGids(o, 1, 0, n, out, in); }},
    {"PerformQelnfsdReqUid", hostile::kQelnfsd, false, Unknown::Stops,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformQelnfsdReqUid(o, 1, 0, n, in, out); }},
    {"PerformQelnfsdReqGid", hostile::kQelnfsd, false, Unknown::Stops,
     [](RpcOperation* o, uint32_t n, const int32_t* in, char* out) { return PerformQelnfsdReqGid(o, 1, 0, n, in, out); }},
};

int idsToNamesStatus(Style s) {
    switch (s) {
        case Style::Cut:
        case Style::Empty:
        case Style::Garbage: return kProtocolError;
        default: return 0;
    }
}

// The names expected in the output, in order; the list stops where the
// rest of the area is left as it was.
std::vector<std::string> expectedNames(Style s, const IdsToNames& f, const std::vector<int32_t>& ids) {
    std::vector<std::string> out;
    for (size_t i = 0; i < ids.size(); ++i) {
        const std::string unknown = f.unknown == Unknown::Decimal ? std::to_string(ids[i]) : "Nobody";
        std::string name;
        if (f.prog == hostile::kQelnfsd) {
            name = s == Style::Honest || s == Style::NulNames ? "u" + std::to_string(ids[i]) : hostile::replyName(s, i);
        } else {
            name = hostile::replyName(s, i);
        }
        name = name.substr(0, name.find('\0')).substr(0, 255);  // cut at a NUL, then at 255
        const bool answered = !(s == Style::Fewer && i > 0) && !(s == Style::WrongKind && f.prog == hostile::kPcnfsd);
        if (!answered || name.empty()) {
            if (f.unknown == Unknown::Stops) break;
            if (!answered && f.unknown == Unknown::Nobody) break;  // a list that ended: the rest untouched
            name = unknown;
        }
        out.push_back(name);
    }
    return out;
}

TEST_P(HostileNameService, IdToNameQuestionsNeverWriteTheirInputsNorPastTheirOutputs) {
    const std::vector<int32_t> idList{1001, 1002, 1003};
    const auto count = static_cast<uint32_t>(idList.size());
    for (Style s : kStyles) {
        hostile::Daemon daemon(s);
        ASSERT_TRUE(daemon.ok());
        for (const IdsToNames& f : kIdsToNames) {
            SCOPED_TRACE(std::string(f.what) + ", " + styleName(s));
            qelrpc::nfsuser::forgetNameServiceKind();
            GuardedPages ids = readOnly(idList.data(), idList.size() * sizeof(int32_t));
            ids.makeReadOnly();
            GuardedPages names(count * 256);  // count names of at most 255 characters
            RpcOperation op = aimedAt(daemon, f.prog);
            if (f.generic) {
                ASSERT_EQ(rpcInitOperation(&op), 0);
                ASSERT_EQ(rpcCreateAuthUnix(&op, nullptr, 0, 0), 1);
            }
            const int rc = f.call(&op, count, reinterpret_cast<const int32_t*>(ids.data()), names.chars());
            EXPECT_EQ(rc, idsToNamesStatus(s));
            EXPECT_EQ(op.request.block.pos, nullptr);
            if (rc != 0) continue;
            // Walk the names written, never past the area.
            const char* at = names.chars();
            const char* end = at + names.size();
            for (const std::string& want : expectedNames(s, f, idList)) {
                ASSERT_LT(at, end);
                const size_t n = strnlen(at, static_cast<size_t>(end - at));
                ASSERT_LT(n, static_cast<size_t>(end - at)) << "a name without its NUL";
                EXPECT_EQ(std::string(at, n), want);
                at += n + 1;
            }
        }
    }
}

// ---- the Qelnfsd chunks of 128 ids ---------------------------------------

TEST_P(HostileNameService, QelnfsdChunksLandInPlaceWhateverTheNamesHold) {
    constexpr uint32_t kCount = 130;  // two calls: 128 ids, then 2
    std::vector<int32_t> idList;
    for (uint32_t i = 0; i < kCount; ++i) idList.push_back(static_cast<int32_t>(2000 + i));
    for (Style s : {Style::Honest, Style::NulNames}) {
        SCOPED_TRACE(styleName(s));
        hostile::Daemon daemon(s);
        ASSERT_TRUE(daemon.ok());
        qelrpc::nfsuser::forgetNameServiceKind();
        GuardedPages ids = readOnly(idList.data(), idList.size() * sizeof(int32_t));
        ids.makeReadOnly();
        GuardedPages names(kCount * 256);
        RpcOperation op = aimedAt(daemon, hostile::kQelnfsd);
        ASSERT_EQ(PerformGetUserNamesFromUids(&op, 1, 0, kCount, names.chars(),
                                              reinterpret_cast<const int32_t*>(ids.data())),
                  0);
        const char* at = names.chars();
        for (uint32_t i = 0; i < kCount; ++i) {
            ASSERT_EQ(std::string(at), "u" + std::to_string(2000 + i)) << "name " << i;
            at += std::strlen(at) + 1;
        }
    }
}

// ---- authorisation -------------------------------------------------------

TEST_P(HostileNameService, AnAuthorisationReplyThatCannotBeReadIsNoRefusal) {
    struct Order {
        const char* order;
        int refused;
        uint32_t flag;
    };
    const Order orders[] = {{"a", 1317, AUTH_BY_QELNFSD}, {"c", 5, AUTH_BY_PCNFSD}};
    for (Style s : kStyles) {
        hostile::Daemon daemon(s);
        ASSERT_TRUE(daemon.ok());
        // Over UDP the portmapper knows no TCP port of the daemon.
        hostile::Portmapper portmapper(GetParam() == Transport::Tcp ? daemon.tcpPort() : 0, daemon.udpPort());
        ASSERT_TRUE(portmapper.ok());
        for (const Order& o : orders) {
            SCOPED_TRACE(std::string(o.order) + ", " + styleName(s));
            int expected = 0;
            if (s == Style::Cut || s == Style::Empty || s == Style::Fewer) expected = kProtocolError;
            if (s == Style::Garbage) expected = o.refused;  // a nonzero status word: a refusal
            const std::string user("alice"), password("wonderland"), comment("c");
            GuardedPages u = readOnly(user.c_str(), user.size() + 1), p = readOnly(password.c_str(), password.size() + 1),
                         c = readOnly(comment.c_str(), comment.size() + 1),
                         order = readOnly(o.order, std::strlen(o.order) + 1);
            for (GuardedPages* g : {&u, &p, &c, &order}) g->makeReadOnly();
            GuardedPages uid(4), gid(4), gids(4 * 4), count(4);
            auto* gidsOut = reinterpret_cast<int32_t*>(gids.data());
            auto* countIo = reinterpret_cast<int32_t*>(count.data());
            *countIo = 4;
            uint32_t flags = 0;
            const int rc = PerformAuthorizeUser(u.chars(), p.chars(), c.chars(), htonl(INADDR_LOOPBACK), 0,
                                                order.chars(), reinterpret_cast<int32_t*>(uid.data()),
                                                reinterpret_cast<int32_t*>(gid.data()), gidsOut, countIo, &flags);
            EXPECT_EQ(rc, expected);
            EXPECT_EQ(flags, o.flag);
            const int32_t uidOut = *reinterpret_cast<int32_t*>(uid.data());
            if (rc == 0) {
                EXPECT_EQ(uidOut, 1001);
                if (s == Style::More) {
                    EXPECT_EQ(*countIo, 4);  // no more than the room given
                    EXPECT_EQ(std::vector<int32_t>(gidsOut, gidsOut + 4), (std::vector<int32_t>{5000, 5001, 5002, 5003}));
                } else {
                    EXPECT_EQ(*countIo, 2);
                    EXPECT_EQ(std::vector<int32_t>(gidsOut, gidsOut + 4), (std::vector<int32_t>{27, 1000, -1, -1}));
                }
            } else {
                EXPECT_EQ(uidOut, -1);
                EXPECT_EQ(*countIo, 4);
                EXPECT_EQ(std::vector<int32_t>(gidsOut, gidsOut + 4), (std::vector<int32_t>{-1, -1, -1, -1}));
            }
        }
    }
}

using qelrpc::testing::chainScrambled;
using qelrpc::testing::maskScrambled;

// Either scrambling can be undone without a key: what the call sent must
// be gone from every block it gives back to the heap, whatever the reply.
TEST_P(HostileNameService, NoReleasedBlockHoldsThePassword) {
    std::string qelnfsd = chainScrambled(std::string("\0\0alice\0wonderland\0", 19));
    std::string pcnfsd = maskScrambled("wonderland");
    pcnfsd.insert(0, std::string("\0\0\0\x0A", 4));  // its XDR length word
    {
        // The watch sees what the library releases: a block it frees with
        // the text still in it is found.
        Mbuf m{};
        ASSERT_EQ(rpcAllocateBuffer(&m), 0);
        std::memcpy(m.block.pos + 100, qelnfsd.data(), qelnfsd.size());
        g_secretFound = 0;
        g_secret = &qelnfsd;
        mbufFreeMbuf(&m);
        g_secret = nullptr;
        ASSERT_EQ(g_secretFound.load(), 1) << "free is not wrapped: this test would see nothing";
    }
    for (Style s : {Style::Honest, Style::Cut, Style::Garbage}) {
        hostile::Daemon daemon(s);
        ASSERT_TRUE(daemon.ok());
        hostile::Portmapper portmapper(GetParam() == Transport::Tcp ? daemon.tcpPort() : 0, daemon.udpPort());
        ASSERT_TRUE(portmapper.ok());
        for (const auto& [order, secret] : {std::pair<const char*, const std::string*>{"a", &qelnfsd},
                                            std::pair<const char*, const std::string*>{"c", &pcnfsd}}) {
            SCOPED_TRACE(std::string(order) + ", " + styleName(s));
            int32_t uid = 0, gid = 0, gids[4] = {}, count = 4;
            uint32_t flags = 0;
            g_secretFound = 0;
            g_secret = secret;
            PerformAuthorizeUser("alice", "wonderland", "", htonl(INADDR_LOOPBACK), 0, order, &uid, &gid, gids,
                                 &count, &flags);
            g_secret = nullptr;
            EXPECT_NE(flags, 0u);  // the daemon was reached
            EXPECT_EQ(g_secretFound.load(), 0) << "a released block still held the scrambled password";
        }
    }
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Transports, HostileNameService, ::testing::Values(Transport::Tcp, Transport::Udp),
                         transportName);
