// SPDX-License-Identifier: MIT
// uid2name, gid2name, name2uid, name2gid and authorize: the user services.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>  // gethostname
#else
#include <unistd.h>  // gethostname
#endif

#include "commands.h"
#include "password.h"
#include "trace.h"
#include "qelrpc.h"

namespace qelrpc::cli {

namespace {

constexpr uint32_t kUnresolved = 0xFFFFFFFFu;
constexpr size_t kNameRoom = 256;  // a name of at most 255 characters and its NUL
constexpr size_t kPasswordMax = 255;
constexpr int kGroupRoom = 64;

const char* serviceName(NameServiceKind kind) {
    switch (kind) {
        case NameServiceQelnfsd: return "qelnfsd";
        case NameServicePcnfsd: return "pcnfsd";
        case NameServiceDirectory: return "directory";
    }
    return "unknown";
}

std::string serviceLabel(NameServiceKind kind, const std::string& host) {
    switch (kind) {
        case NameServiceQelnfsd: return "Qelnfsd version 1 at " + host;
        case NameServicePcnfsd: return "PCNFSD version 2 at " + host;
        case NameServiceDirectory: return "the local directory service";
    }
    return "an unknown service";
}

// The dispatch's choice, with the operation left ready for the question
// (open unless the directory service answers, which needs no operation).
struct Dispatch {
    RpcOperation op{};
    NameServiceKind kind = 0;
    bool open = false;
    ~Dispatch() {
        if (open) rpcCloseOperation(&op);
    }
};

int choose(Dispatch& d, const std::string& host, const Output& out) {
    const uint32_t addr = GetHostIP(host.c_str(), 0);
    if (addr == kUnresolved) return reportError(out, "cannot resolve host '" + host + "'");
    std::memset(&d.op, 0, sizeof d.op);
    d.op.hostName = host.c_str();
    d.op.hostAddr = addr;
    const int rc = PerformNfsdCheck(&d.op, 1, 1, &d.kind);
    // The check's questions go through port look-ups on the library's own
    // operations: only its outcome can be shown.
    traceNote(std::string("name service chosen: ") + (rc == 0 ? serviceName(d.kind) : "none") + ", status " +
              std::to_string(rc) + (rc == 0 && d.kind == NameServiceDirectory ? " (no messages)" : ""));
    if (rc != 0) return reportFailure(out, host + ": choosing the name service", StatusFamily::NameService, rc);
    d.open = d.kind != NameServiceDirectory;
    return 0;
}

void serviceFields(JsonWriter& j, const char* command, const std::string& host, const Dispatch& d) {
    j.beginObject().key("command").value(command).key("ok").value(true);
    j.key("host").value(host).key("service").value(serviceName(d.kind));
}

// --trace: PerformAuthorizeUser makes its call on operations of its own
// and wipes their blocks, so with --trace the tool makes the same call on
// an operation it owns, through the exported routines, and traces it: the
// same order letters and daemons, arguments and scrambling (the daemons'
// protocols), the same reply readers and statuses.
constexpr int kInternalError = 1359, kNoLogonServers = 1311, kNoSuchUser = 1317, kQelnfsdRefused = -1;

void wipeBytes(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) b[i] = 0;
}

int writeAuthorizeArguments(RpcOperation& op, bool qelnfsd, uint32_t server, const std::string& user,
                            const std::string& password, const std::string& comment) {
    InitDataBuffer(&op.request);
    if (qelnfsd) {
        // Two zero bytes, name, NUL, password, NUL; chain-scrambled from 0xFF.
        if (user.size() > 60 || password.size() > 60 - user.size()) return kInternalError;
        uint8_t block[64] = {};
        std::memcpy(block + 2, user.data(), user.size());
        std::memcpy(block + 3 + user.size(), password.data(), password.size());
        const size_t length = user.size() + password.size() + 4;
        uint8_t running = 0xFF;
        for (size_t i = 0; i < length; ++i) running = block[i] = static_cast<uint8_t>(block[i] ^ running);
        const uint8_t* a = reinterpret_cast<const uint8_t*>(&server);  // octets in network order
        int rc = mbufAddLong(&op.request.data, static_cast<int32_t>((uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) |
                                                                    (uint32_t{a[2]} << 8) | a[3]));
        if (rc == 0) rc = mbufAddLong(&op.request.data, 4);
        if (rc == 0)
            rc = mbufAddStringEx(&op.request.data, comment.data(),
                                 static_cast<uint32_t>(std::min<size_t>(comment.size(), 64)));
        if (rc == 0) rc = mbufAddStringEx(&op.request.data, reinterpret_cast<const char*>(block), static_cast<uint32_t>(length));
        wipeBytes(block, sizeof block);
        return rc == 0 ? 0 : kInternalError;
    }
    // PCNFSD version 2: client name, user and password each byte ^ 0x5B & 0x7F
    // (sent up to a first zero byte), comment.
    if (user.size() > 32 || password.size() > 64) return kInternalError;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    host[64] = '\0';
    char su[33] = {}, sp[65] = {};
    for (size_t i = 0; i < user.size(); ++i) su[i] = static_cast<char>((static_cast<uint8_t>(user[i]) ^ 0x5B) & 0x7F);
    for (size_t i = 0; i < password.size(); ++i)
        sp[i] = static_cast<char>((static_cast<uint8_t>(password[i]) ^ 0x5B) & 0x7F);
    int rc = mbufAddString(&op.request.data, host);
    if (rc == 0) rc = mbufAddString(&op.request.data, su);
    if (rc == 0) rc = mbufAddString(&op.request.data, sp);
    if (rc == 0) rc = mbufAddString(&op.request.data, comment.c_str());
    wipeBytes(sp, sizeof sp);
    return rc == 0 ? 0 : kInternalError;
}

int tracedAuthorize(const std::string& user, const std::string& password, const std::string& comment,
                    uint32_t server, uint32_t alt, const std::string& order, int32_t* uid, int32_t* gid,
                    int32_t* gids, int32_t* groupCount, uint32_t* flags) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, nullptr, server) != 0) return kInternalError;
    struct Closer {
        RpcOperation& op;
        ~Closer() {
            // The request carried the scrambled password, which anyone can undo.
            if (op.request.block.pos != nullptr) wipeBytes(op.request.block.pos, op.request.block.limit);
            rpcCloseOperation(&op);
        }
    } closer{op};
    bool tried[4] = {};
    for (size_t i = 0; i < 4 && i < order.size(); ++i) {
        char letter = static_cast<char>(order[i] >= 'A' && order[i] <= 'Z' ? order[i] - 'A' + 'a' : order[i]);
        if (alt != 0 && letter == 'a') letter = 'b';
        if (alt != 0 && letter == 'c') letter = 'd';
        if (letter < 'a' || letter > 'd') continue;
        const size_t k = static_cast<size_t>(letter - 'a');
        const bool viaAlt = letter == 'b' || letter == 'd';
        if (viaAlt && (alt == 0 || tried[k])) continue;
        tried[k] = true;
        const bool qelnfsd = letter == 'a' || letter == 'b';
        op.hostAddr = viaAlt ? alt : server;
        op.tcpPort = op.udpPort = 0;
        const uint32_t prog = qelnfsd ? QELNFSD_PROGRAM : PCNFSD_PROGRAM;
        const int found = GetProgramPort(&op, prog, qelnfsd ? QELNFSD_VERSION : PCNFSD_VERSION, 0);
        traceNote(std::string("GETPORT of ") + (qelnfsd ? "Qelnfsd" : "PCNFSD") +
                  " (on the library's own operation, not shown): status " + std::to_string(found));
        if (found != 0) continue;
        *flags |= (qelnfsd ? AUTH_BY_QELNFSD : AUTH_BY_PCNFSD) | (viaAlt ? AUTH_VIA_ALT_SERVER : 0u);
        if (!rpcCreateAuthNull(&op)) return kInternalError;
        int rc = rpcPrepareRPCHeader(&op, qelnfsd ? QELNFSD_PROC_AUTHORIZE : PCNFSD_PROC_AUTH);
        if (rc == 0) rc = writeAuthorizeArguments(op, qelnfsd, server, user, password, comment);
        if (rc != 0) return rc;
        rc = CallRPC(&op, 0);
        traceExchange(op, rc, qelnfsd ? "Qelnfsd AUTHORIZE" : "PCNFSD AUTH");
        if (rc != 0) return rc;
        if (qelnfsd) {
            rc = BuildQelnfsdAuthorizeResponse(op.reply.data.pos, uid, gid, gids, groupCount);
            return rc == kQelnfsdRefused ? kNoSuchUser : rc;
        }
        return BuildPcnfsdAuthorizeResponse(op.reply.data.pos, uid, gid, gids, groupCount);
    }
    return kNoLogonServers;
}

}  // namespace

int runIdsToNames(const IdsToNamesRequest& r, const Output& out) {
    Dispatch d;
    if (choose(d, r.host, out) != 0) return 1;
    const uint32_t count = static_cast<uint32_t>(r.ids.size());
    // The library's ids are the protocols' 32 bits in a signed word.
    std::vector<int32_t> ids;
    for (uint32_t id : r.ids) ids.push_back(static_cast<int32_t>(id));
    // Zero-filled: a list the server ends early leaves empty names behind.
    std::vector<char> names(count * kNameRoom + 1, 0);
    const int rc = r.groups ? PerformGetGNamesFromGids(&d.op, 0, 0, count, names.data(), ids.data())
                            : PerformGetUserNamesFromUids(&d.op, 0, 0, count, names.data(), ids.data());
    if (d.open) traceExchange(d.op, rc, r.groups ? "gids to group names" : "uids to user names");
    if (rc != 0)
        return reportFailure(out, r.host + ": " + (r.groups ? "gids to group names" : "uids to user names"),
                             StatusFamily::NameService, rc);
    std::vector<std::string> found;
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t len = strnlen(names.data() + at, names.size() - at);
        found.emplace_back(names.data() + at, len);
        at = std::min(names.size() - 1, at + len + 1);
        // Where the daemon had no name the library puts the id in decimal
        // (PCNFSD) or leaves the name empty: both are an unknown id.
        if (found.back() == std::to_string(ids[i])) found.back().clear();
    }
    const char* idKey = r.groups ? "gid" : "uid";
    if (out.json) {
        JsonWriter j;
        serviceFields(j, r.groups ? "gid2name" : "uid2name", r.host, d);
        j.key("results").beginArray();
        for (uint32_t i = 0; i < count; ++i) {
            j.beginObject().key(idKey).value(r.ids[i]).key("name");
            if (found[i].empty()) j.null();
            else j.value(found[i]);
            j.endObject();
        }
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        for (uint32_t i = 0; i < count; ++i)
            std::printf("%s %-8u %s\n", idKey, r.ids[i], found[i].empty() ? "(unknown)" : found[i].c_str());
        std::printf("answered by %s\n", serviceLabel(d.kind, r.host).c_str());
    }
    return 0;
}

int runNamesToIds(const NamesToIdsRequest& r, const Output& out) {
    Dispatch d;
    if (choose(d, r.host, out) != 0) return 1;
    const uint32_t count = static_cast<uint32_t>(r.names.size());
    std::string list;
    for (const auto& n : r.names) list.append(n).push_back('\0');
    std::vector<int32_t> ids(count, -1);
    const int rc = r.groups ? PerformGetGidsFromGNames(&d.op, 0, 0, count, list.data(), ids.data())
                            : PerformGetUidsFromUNames(&d.op, 0, 0, count, list.data(), ids.data());
    if (d.open) traceExchange(d.op, rc, r.groups ? "group names to gids (the last exchange)" : "user names to uids");
    if (rc != 0)
        return reportFailure(out, r.host + ": " + (r.groups ? "group names to gids" : "user names to uids"),
                             StatusFamily::NameService, rc);
    const char* idKey = r.groups ? "gid" : "uid";
    if (out.json) {
        JsonWriter j;
        serviceFields(j, r.groups ? "name2gid" : "name2uid", r.host, d);
        j.key("results").beginArray();
        for (uint32_t i = 0; i < count; ++i) {
            j.beginObject().key("name").value(r.names[i]).key(idKey);
            // -1 is the protocols' "unknown" (and so no uid of its own).
            if (ids[i] == -1) j.null();
            else j.value(static_cast<uint32_t>(ids[i]));
            j.endObject();
        }
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            if (ids[i] == -1) std::printf("%-16s (unknown)\n", r.names[i].c_str());
            else std::printf("%-16s %s %u\n", r.names[i].c_str(), idKey, static_cast<uint32_t>(ids[i]));
        }
        std::printf("answered by %s\n", serviceLabel(d.kind, r.host).c_str());
    }
    return 0;
}

int runAuthorize(const AuthorizeRequest& r, const Output& out) {
    const uint32_t server = GetHostIP(r.host.c_str(), 0);
    if (server == kUnresolved) return reportError(out, "cannot resolve host '" + r.host + "'");
    uint32_t alt = 0;
    if (r.altHost) {
        alt = GetHostIP(r.altHost->c_str(), 0);
        if (alt == kUnresolved) return reportError(out, "cannot resolve the alternative server '" + *r.altHost + "'");
    }
    std::string password;
    if (!readPassword("Password for " + r.user + ": ", password, kPasswordMax))
        return reportError(out, "no password could be read (at most 255 characters, one line)");

    int32_t uid = -1, gid = -1, groupCount = kGroupRoom;
    int32_t gids[kGroupRoom];
    uint32_t flags = 0;
    const int rc = tracing() ? tracedAuthorize(r.user, password, r.comment, server, alt, r.order, &uid, &gid, gids,
                                               &groupCount, &flags)
                             : PerformAuthorizeUser(r.user.c_str(), password.c_str(), r.comment.c_str(), server, alt,
                                                    r.order.c_str(), &uid, &gid, gids, &groupCount, &flags);
    wipe(password);
    const char* daemon = (flags & AUTH_BY_QELNFSD) ? "qelnfsd" : (flags & AUTH_BY_PCNFSD) ? "pcnfsd" : nullptr;
    const bool viaAlt = (flags & AUTH_VIA_ALT_SERVER) != 0;
    const std::string where = dottedAddress(viaAlt ? alt : server);
    if (rc != 0) {
        std::string what = r.user + " at " + r.host + ": not authorised";
        if (daemon) what += std::string(" (asked ") + (flags & AUTH_BY_QELNFSD ? "Qelnfsd" : "PCNFSD") + " at " + where + ")";
        return reportFailure(out, what, StatusFamily::Authorize, rc);
    }
    const int stored = std::max(0, std::min<int32_t>(groupCount, kGroupRoom));
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("authorize").key("ok").value(true);
        j.key("user").value(r.user).key("daemon");
        if (daemon) j.value(daemon);
        else j.null();
        j.key("server").value(where).key("via_alt_server").value(viaAlt);
        j.key("uid").value(uid).key("gid").value(gid).key("groups").beginArray();
        for (int i = 0; i < stored; ++i) j.value(gids[i]);
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        std::printf("%s: authorised by %s at %s%s: uid %d, gid %d", r.user.c_str(),
                    (flags & AUTH_BY_QELNFSD) ? "Qelnfsd" : "PCNFSD", where.c_str(),
                    viaAlt ? " (the alternative server)" : "", uid, gid);
        if (stored > 0) {
            std::printf(", groups");
            for (int i = 0; i < stored; ++i) std::printf(" %d", gids[i]);
        }
        std::printf("\n");
    }
    return 0;
}

}  // namespace qelrpc::cli
