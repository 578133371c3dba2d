// SPDX-License-Identifier: MIT
// A scripted PCNFSD version 2 and Qelnfsd version 1 daemon that answers
// every call with a well-formed accepted reply around hostile results:
// items of the wrong kind, more or fewer items than asked, names of odd
// lengths or holding NUL bytes, lists cut off mid-item, garbage. It listens
// on TCP and UDP on 127.0.0.1 and, when asked, runs a portmapper on port
// 111 that names one of the two ports (the test runs in a network
// namespace of its own, so the port is the test's). Peers of
// tests/fake_peer.h: bounded waits, stopped and joined by the destructor.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_peer.h"

namespace hostile {

using testpeer::Bytes;
using testpeer::putWord;
using testpeer::wordAt;

enum class Style {
    Honest,     // what a good daemon says
    WrongKind,  // PCNFSD: every item of the other direction (id-to-name for name-to-id and back)
    More,       // three items (or gids) more than asked
    Fewer,      // one item, then the end of the list (Qelnfsd pairs: none)
    Name0,      // names of 0, 255, 256, 300 bytes
    Name255,
    Name256,
    Name300,
    NulNames,   // names "ro\0ot": a NUL byte inside
    Cut,        // the results stop in the middle of the first item
    Empty,      // no results at all
    Garbage,    // 37 bytes of 0xFF
};

// The name the daemon gives for item i (before any hostile cutting).
inline std::string replyName(Style s, size_t i) {
    switch (s) {
        case Style::Name0: return {};
        case Style::Name255: return std::string(255, static_cast<char>('a' + i % 26));
        case Style::Name256: return std::string(256, static_cast<char>('a' + i % 26));
        case Style::Name300: return std::string(300, static_cast<char>('a' + i % 26));
        case Style::NulNames: return std::string("ro\0ot", 5);
        default: return "name" + std::to_string(i);
    }
}

inline void putString(Bytes& b, const std::string& s) {
    putWord(b, static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    while (b.size() % 4) b.push_back(0);
}

// The parts of a call the daemon looks at.
struct Call {
    uint32_t xid = 0, prog = 0, vers = 0, proc = 0;
    Bytes args;
};

inline std::optional<Call> parseCall(const Bytes& m) {
    if (m.size() < 40) return std::nullopt;
    Call c;
    c.xid = wordAt(m, 0);
    c.prog = wordAt(m, 12);
    c.vers = wordAt(m, 16);
    c.proc = wordAt(m, 20);
    size_t at = 28;
    const uint32_t credLength = wordAt(m, at);
    at += 4 + (credLength + 3) / 4 * 4 + 4;  // credential body, verifier flavor
    if (at + 4 > m.size()) return std::nullopt;
    const uint32_t verfLength = wordAt(m, at);
    at += 4 + (verfLength + 3) / 4 * 4;
    if (at > m.size()) return std::nullopt;
    c.args.assign(m.begin() + static_cast<long>(at), m.end());
    return c;
}

// A cursor over call arguments (bounded; a short read gives 0 / empty).
struct ArgReader {
    const Bytes& b;
    size_t at = 0;
    uint32_t word() {
        if (at + 4 > b.size()) {
            at = b.size();
            return 0;
        }
        const uint32_t w = wordAt(b, at);
        at += 4;
        return w;
    }
    std::string string() {
        const uint32_t n = word();
        if (n > b.size() - at) {
            at = b.size();
            return {};
        }
        std::string s(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
        at += (n + 3) / 4 * 4;
        if (at > b.size()) at = b.size();
        return s;
    }
    bool done() const { return at >= b.size(); }
};

constexpr uint32_t kPcnfsd = 150001, kQelnfsd = 0x2F00DBAD;

inline Bytes garbage() { return Bytes(37, 0xFF); }

// PCNFSD MAPID (12): the items asked, answered in style s.
inline Bytes mapidResults(Style s, const Bytes& args) {
    if (s == Style::Empty) return {};
    if (s == Style::Garbage) return garbage();
    struct Asked {
        uint32_t kind;
        int32_t id;
    };
    std::vector<Asked> asked;
    ArgReader r{args};
    r.string();  // comment
    for (int guard = 0; guard < 100000 && !r.done(); ++guard) {
        if (r.word() == 0) break;
        Asked a{};
        a.kind = r.word();
        a.id = static_cast<int32_t>(r.word());
        r.string();
        asked.push_back(a);
    }
    Bytes b;
    putString(b, "");  // comment
    if (s == Style::Cut) {
        putWord(b, 1);
        putWord(b, asked.empty() ? 0 : asked[0].kind);
        return b;
    }
    size_t n = asked.size();
    if (s == Style::More) n += 3;
    if (s == Style::Fewer) n = n < 1 ? n : 1;
    for (size_t i = 0; i < n; ++i) {
        const Asked a = i < asked.size() ? asked[i] : Asked{asked.empty() ? 0u : asked[0].kind, 77};
        const bool idToName = a.kind == 0 || a.kind == 1;
        putWord(b, 1);
        if (s == Style::WrongKind) {
            // The other direction, with a full-size name and an id.
            putWord(b, idToName ? a.kind + 2 : a.kind - 2);
            putWord(b, 0);
            putWord(b, 4242);
            putString(b, std::string(255, 'W'));
            continue;
        }
        putWord(b, a.kind);
        putWord(b, 0);
        putWord(b, idToName ? static_cast<uint32_t>(a.id) : 1000 + static_cast<uint32_t>(i));
        putString(b, idToName ? replyName(s, i) : std::string("echo"));
    }
    putWord(b, 0);
    return b;
}

// Qelnfsd 4 and 8: a { status, id } pair per name.
inline Bytes qelnfsdPairs(Style s, const Bytes& args) {
    if (s == Style::Empty || s == Style::Fewer) return {};
    if (s == Style::Garbage) return garbage();
    Bytes b;
    if (s == Style::Cut) {
        putWord(b, 0);
        return b;
    }
    size_t names = 0;
    ArgReader r{args};
    for (int guard = 0; guard < 100000 && !r.done(); ++guard, ++names) r.string();
    if (s == Style::More) names += 3;
    for (size_t i = 0; i < names; ++i) {
        putWord(b, 0);
        putWord(b, 1000 + static_cast<uint32_t>(i));
    }
    return b;
}

// Qelnfsd 5 and 7: a name per id; an empty one ends the list.
inline Bytes qelnfsdNames(Style s, const Bytes& args) {
    if (s == Style::Empty) return {};
    if (s == Style::Garbage) return garbage();
    Bytes b;
    if (s == Style::Cut) {
        putWord(b, 8);
        b.push_back('n');
        b.push_back('a');
        return b;
    }
    ArgReader r{args};
    const uint32_t count = r.word();
    std::vector<int32_t> ids;
    for (uint32_t i = 0; i < count && i < 100000 && !r.done(); ++i) ids.push_back(static_cast<int32_t>(r.word()));
    size_t n = ids.size();
    if (s == Style::More) n += 3;
    if (s == Style::Fewer) n = n < 1 ? n : 1;
    for (size_t i = 0; i < n; ++i) {
        // Honest answers name the id itself, so a name that lands in the
        // wrong place shows.
        std::string name = replyName(s, i);
        if (s == Style::Honest && i < ids.size()) name = "u" + std::to_string(ids[i]);
        if (s == Style::NulNames && i < ids.size()) name = "u" + std::to_string(ids[i]) + std::string("\0x", 2);
        putString(b, name);
    }
    if (n < ids.size()) putString(b, "");
    return b;
}

// Authorisation (Qelnfsd 3, PCNFSD 13): status, uid, gid, count, gids.
inline Bytes authorizeResults(Style s) {
    switch (s) {
        case Style::Empty: return {};
        case Style::Garbage: return garbage();
        case Style::Cut: return testpeer::words({0});
        case Style::More: {
            Bytes b = testpeer::words({0, 1001, 100, 1000});
            for (uint32_t i = 0; i < 1000; ++i) putWord(b, 5000 + i);
            return b;
        }
        case Style::Fewer: return testpeer::words({0, 1001, 100, 3, 27});
        default: return testpeer::words({0, 1001, 100, 2, 27, 1000});
    }
}

inline Bytes answer(Style s, const Call& c) {
    Bytes results;
    if (c.prog == kPcnfsd && c.proc == 12) results = mapidResults(s, c.args);
    else if (c.prog == kPcnfsd && c.proc == 13) results = authorizeResults(s);
    else if (c.prog == kQelnfsd && (c.proc == 4 || c.proc == 8)) results = qelnfsdPairs(s, c.args);
    else if (c.prog == kQelnfsd && (c.proc == 5 || c.proc == 7)) results = qelnfsdNames(s, c.args);
    else if (c.prog == kQelnfsd && c.proc == 3) results = authorizeResults(s);
    return testpeer::successReply(c.xid, results);
}

// The daemon, on both transports, answering in one style.
class Daemon {
  public:
    explicit Daemon(Style s)
        : style_(s),
          udp_([this](int, const Bytes& req) {
              std::vector<Bytes> out;
              if (auto c = parseCall(req)) out.push_back(answer(style_, *c));
              return out;
          }),
          tcp_([this](int, testpeer::Conn& conn) {
              Bytes req;
              for (int i = 0; i < 64 && conn.readRecord(req); ++i)
                  if (auto c = parseCall(req)) conn.sendFragment(answer(style_, *c), true);
          }) {}
    bool ok() const { return udp_.ok() && tcp_.ok(); }
    uint16_t tcpPort() const { return tcp_.port(); }
    uint16_t udpPort() const { return udp_.port(); }

  private:
    Style style_;
    testpeer::UdpPeer udp_;
    testpeer::TcpPeer tcp_;
};

// A portmapper on 127.0.0.1:111 (TCP, as the library asks it) that names
// the daemon's TCP port, or for UDP no TCP port and the daemon's UDP port.
class Portmapper {
  public:
    Portmapper(uint16_t tcpPort, uint16_t udpPort)
        : tcp_(
              [tcpPort, udpPort](int, testpeer::Conn& conn) {
                  Bytes req;
                  for (int i = 0; i < 16 && conn.readRecord(req); ++i) {
                      auto c = parseCall(req);
                      if (!c) return;
                      ArgReader r{c->args};
                      r.word();
                      r.word();
                      const uint32_t prot = r.word();
                      const uint32_t port = prot == 6 ? tcpPort : prot == 17 ? udpPort : 0;
                      conn.sendFragment(testpeer::successReply(c->xid, testpeer::words({port})), true);
                  }
              },
              testpeer::Endpoint{testpeer::loopbackAddress(), 111}) {}
    bool ok() const { return tcp_.ok(); }

  private:
    testpeer::TcpPeer tcp_;
};

}  // namespace hostile
