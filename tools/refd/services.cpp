// SPDX-License-Identifier: MIT
#include "services.h"

#include <string>
#include <vector>

namespace refd {
namespace {

enum AcceptStat : uint32_t {
    kSuccess = 0,
    kProgUnavail = 1,
    kProgMismatch = 2,
    kProcUnavail = 3,
    kGarbageArgs = 4,
    kSystemErr = 5,
};

// Most items one question may carry; more is refused as garbage.
constexpr uint32_t kMaxItems = 4096;

// Reads the arguments from the call's data window; every read is bounded
// by the bytes received, and a failed read marks the whole call garbage.
class Args {
  public:
    explicit Args(RpcOperation& call) : w_(call.request.data) {}
    bool ok() const { return ok_; }
    bool empty() const { return w_.count == 0; }
    uint32_t word() {
        uint32_t v = 0;
        if (ok_ && mbufGetLong(&w_, &v) != 0) ok_ = false;
        return v;
    }
    std::string text() {
        char buf[256];
        if (!ok_ || mbufGetString(&w_, buf, sizeof buf) != 0) {
            ok_ = false;
            return {};
        }
        return buf;
    }
    // A string that may hold NUL bytes (the scrambled credentials).
    std::string bytes(uint32_t max) {
        uint32_t n = 0;
        if (!ok_ || mbufGetLong(&w_, &n) != 0 || n > max || ((uint64_t{n} + 3) & ~uint64_t{3}) > w_.count) {
            ok_ = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(w_.pos), n);
        const uint32_t padded = (n + 3) & ~3u;
        w_.pos += padded;
        w_.count -= padded;
        return s;
    }

  private:
    MbufCursor w_;
    bool ok_ = true;
};

// Writes the results behind the reply header; a result that does not fit
// the block turns the reply into SYSTEM_ERR.
class Results {
  public:
    explicit Results(RpcOperation& call) : call_(call) {}
    void word(uint32_t v) {
        if (ok_ && mbufAddLong(&call_.reply.data, static_cast<int32_t>(v)) != 0) ok_ = false;
    }
    void text(const std::string& s) {
        if (ok_ && mbufAddStringEx(&call_.reply.data, s.data(), static_cast<uint32_t>(s.size())) != 0) ok_ = false;
    }
    bool ok() const { return ok_; }

  private:
    RpcOperation& call_;
    bool ok_ = true;
};

// Whether the current call's reply went out in full (the daemon answers one
// call at a time).
bool g_replySent = false;

void sendReply(RpcOperation& call, RpcSocket conn) { g_replySent = ReplyRPC(&call, conn) == 0; }

uint32_t send(RpcOperation& call, RpcSocket conn, uint32_t xid, uint32_t status, const uint32_t* versions = nullptr) {
    rpcCreateReplyHeader(&call, xid, status, versions);
    InitDataBuffer(&call.reply);
    sendReply(call, conn);
    return status;
}

// PCNFSD version 2 scrambles user names and passwords with XOR 0x5B,
// keeping 7 bits; the same transform undoes it.
std::string pcnfsdUnscramble(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>((static_cast<unsigned char>(c) ^ 0x5B) & 0x7F);
    return out;
}

// Qelnfsd chains each credential byte to the one before it (0xFF before
// the first).
std::string qelnfsdUnscramble(const std::string& s) {
    std::string out(s.size(), '\0');
    unsigned char prev = 0xFF;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        out[i] = static_cast<char>(c ^ prev);
        prev = c;
    }
    return out;
}

std::string homeOf(const User& u) { return "/home/" + u.name; }

// Writes the results in `fill`, then sends SUCCESS; GARBAGE_ARGS when the
// arguments could not be read, SYSTEM_ERR when the results did not fit.
template <class Fill>
uint32_t reply(RpcOperation& call, RpcSocket conn, uint32_t xid, Args& args, Fill fill) {
    if (!args.ok()) return send(call, conn, xid, kGarbageArgs);
    rpcCreateReplyHeader(&call, xid, kSuccess, nullptr);
    InitDataBuffer(&call.reply);
    Results r(call);
    fill(r);
    if (!r.ok()) return send(call, conn, xid, kSystemErr);
    sendReply(call, conn);
    return kSuccess;
}

uint32_t pcnfsdMapid(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid) {
    struct Item {
        uint32_t kind;
        int32_t id;
        std::string name;
    };
    Args args(call);
    args.text();  // comment
    std::vector<Item> items;
    while (args.ok() && args.word() != 0) {
        Item it;
        it.kind = args.word();
        it.id = static_cast<int32_t>(args.word());
        it.name = args.text();
        items.push_back(std::move(it));
        if (items.size() > kMaxItems) return send(call, conn, xid, kGarbageArgs);
    }
    return reply(call, conn, xid, args, [&](Results& r) {
        r.text("");  // comment
        for (const Item& it : items) {
            uint32_t status = 1;  // MAP_RES_UNKNOWN
            int32_t id = it.id;
            std::string name = it.name;
            switch (it.kind) {
                case 0:
                    if (const User* u = acc.userByUid(it.id)) status = 0, name = u->name;
                    else name.clear();
                    break;
                case 1:
                    if (const Group* g = acc.groupByGid(it.id)) status = 0, name = g->name;
                    else name.clear();
                    break;
                case 2:
                    if (const User* u = acc.userByName(it.name)) status = 0, id = u->uid;
                    else id = -1;
                    break;
                case 3:
                    if (const Group* g = acc.groupByName(it.name)) status = 0, id = g->gid;
                    else id = -1;
                    break;
                default: status = 2; break;  // MAP_RES_DENIED
            }
            r.word(1);
            r.word(it.kind);
            r.word(status);
            r.word(static_cast<uint32_t>(id));
            r.text(name);
        }
        r.word(0);
    });
}

uint32_t pcnfsdAuth(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid) {
    Args args(call);
    args.text();  // client
    const std::string user = pcnfsdUnscramble(args.bytes(32));
    const std::string password = pcnfsdUnscramble(args.bytes(64));
    args.text();  // comment
    const User* u = acc.authenticate(user, password);
    return reply(call, conn, xid, args, [&](Results& r) {
        r.word(u != nullptr ? 0 : 2);  // AUTH_RES_OK / AUTH_RES_FAIL
        r.word(u != nullptr ? static_cast<uint32_t>(u->uid) : 0xFFFFFFFEu);
        r.word(u != nullptr ? static_cast<uint32_t>(u->gid) : 0xFFFFFFFEu);
        const size_t n = u != nullptr ? std::min<size_t>(u->extraGids.size(), 16) : 0;
        r.word(static_cast<uint32_t>(n));
        for (size_t i = 0; i < n; ++i) r.word(static_cast<uint32_t>(u->extraGids[i]));
        r.text(u != nullptr ? homeOf(*u) : "");
        r.word(022);  // default umask
        r.text("");   // comment
    });
}

uint32_t qelnfsdAuthorize(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid) {
    Args args(call);
    args.word();  // the server address the client asked for
    args.word();  // constant 4
    args.text();  // comment
    const std::string block = qelnfsdUnscramble(args.bytes(64));
    // Two leading bytes, the user name and its NUL, the password and its NUL.
    std::string user, password;
    if (block.size() >= 4) {
        const size_t userEnd = block.find('\0', 2);
        if (userEnd != std::string::npos) {
            user = block.substr(2, userEnd - 2);
            const size_t passEnd = block.find('\0', userEnd + 1);
            password = block.substr(userEnd + 1, passEnd == std::string::npos ? std::string::npos : passEnd - userEnd - 1);
        }
    }
    const User* u = acc.authenticate(user, password);
    return reply(call, conn, xid, args, [&](Results& r) {
        if (u == nullptr) {
            for (uint32_t w : {1u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0u}) r.word(w);
            return;
        }
        r.word(0);
        r.word(static_cast<uint32_t>(u->uid));
        r.word(static_cast<uint32_t>(u->gid));
        r.word(static_cast<uint32_t>(u->extraGids.size()));
        for (int32_t g : u->extraGids) r.word(static_cast<uint32_t>(g));
    });
}

// Procedures 4 and 8: names back to back, to the end of the arguments.
uint32_t qelnfsdNamesToIds(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid, bool groups) {
    Args args(call);
    std::vector<std::string> names;
    while (args.ok() && !args.empty()) {
        names.push_back(args.text());
        if (names.size() > kMaxItems) return send(call, conn, xid, kGarbageArgs);
    }
    return reply(call, conn, xid, args, [&](Results& r) {
        for (const std::string& n : names) {
            int32_t id = -1;
            if (groups) {
                if (const Group* g = acc.groupByName(n)) id = g->gid;
            } else if (const User* u = acc.userByName(n)) {
                id = u->uid;
            }
            r.word(id == -1 ? 1 : 0);
            r.word(static_cast<uint32_t>(id));
        }
    });
}

// Procedures 5 and 7: a count and the ids; one name string per id, an
// empty one for an id the table does not know.
uint32_t qelnfsdIdsToNames(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid, bool groups) {
    Args args(call);
    const uint32_t count = args.word();
    if (count > kMaxItems) return send(call, conn, xid, kGarbageArgs);
    std::vector<int32_t> ids;
    for (uint32_t i = 0; i < count && args.ok(); ++i) ids.push_back(static_cast<int32_t>(args.word()));
    return reply(call, conn, xid, args, [&](Results& r) {
        for (int32_t id : ids) {
            std::string name;
            if (groups) {
                if (const Group* g = acc.groupByGid(id)) name = g->name;
            } else if (const User* u = acc.userByUid(id)) {
                name = u->name;
            }
            r.text(name);
        }
    });
}

uint32_t dispatch(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid) {
    if (call.prog == kPcnfsdProgram) {
        if (call.vers != kPcnfsdVersion) {
            const uint32_t versions[] = {kPcnfsdVersion, kPcnfsdVersion};
            return send(call, conn, xid, kProgMismatch, versions);
        }
        switch (call.proc) {
            case 0: return send(call, conn, xid, kSuccess);
            case 12: return pcnfsdMapid(acc, call, conn, xid);
            case 13: return pcnfsdAuth(acc, call, conn, xid);
            default: return send(call, conn, xid, kProcUnavail);
        }
    }
    if (call.prog == kQelnfsdProgram) {
        if (call.vers != kQelnfsdVersion) {
            const uint32_t versions[] = {kQelnfsdVersion, kQelnfsdVersion};
            return send(call, conn, xid, kProgMismatch, versions);
        }
        switch (call.proc) {
            case 0: return send(call, conn, xid, kSuccess);
            case 3: return qelnfsdAuthorize(acc, call, conn, xid);
            case 4: return qelnfsdNamesToIds(acc, call, conn, xid, true);
            case 5: return qelnfsdIdsToNames(acc, call, conn, xid, true);
            case 7: return qelnfsdIdsToNames(acc, call, conn, xid, false);
            case 8: return qelnfsdNamesToIds(acc, call, conn, xid, false);
            default: return send(call, conn, xid, kProcUnavail);
        }
    }
    return send(call, conn, xid, kProgUnavail);
}

}  // namespace

uint32_t answer(const Accounts& acc, RpcOperation& call, RpcSocket conn, uint32_t xid, bool& replySent) {
    g_replySent = false;
    const uint32_t status = dispatch(acc, call, conn, xid);
    replySent = g_replySent;
    return status;
}

}  // namespace refd
