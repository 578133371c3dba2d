// SPDX-License-Identifier: MIT
// uid2name, gid2name, name2uid, name2gid and authorize: the user services.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    // Its questions are traced as the library makes them; its verdict here.
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
    const int rc = PerformAuthorizeUser(r.user.c_str(), password.c_str(), r.comment.c_str(), server, alt,
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
