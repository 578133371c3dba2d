// SPDX-License-Identifier: MIT
// netname and gss-whoami: Secure RPC net names and the Kerberos principal.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "qelrpc.h"

namespace qelrpc::cli {

namespace {

constexpr size_t kNetnameRoom = 256;  // 255 characters and the NUL

void printOne(const Output& out, const char* kindKey, const std::string& given, const std::string& result) {
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("netname").key("ok").value(true);
        j.key(kindKey).value(given).key("result").value(result).endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        std::printf("%s\n", result.c_str());
    }
}

}  // namespace

int runNetname(const NetnameRequest& r, const Output& out) {
    char name[kNetnameRoom] = {};
    switch (r.kind) {
        case NetnameRequest::Host:
            if (!host2netname(name, r.host ? r.host->c_str() : nullptr, r.domain.c_str()))
                return reportError(out, "no net name for " + (r.host ? "host '" + *r.host + "'" : std::string("this machine")) +
                                            " in domain '" + r.domain + "' (too long, or this machine's name is unknown)");
            printOne(out, "host", r.host ? *r.host : std::string(), name);
            return 0;
        case NetnameRequest::Parse: {
            char host[kNetnameRoom] = {};
            if (!netname2host(r.netname.c_str(), host, static_cast<int>(kNetnameRoom - 1)))
                return reportError(out, "'" + r.netname + "' is not a net name of the form unix.NAME@DOMAIN");
            printOne(out, "netname", r.netname, host);
            return 0;
        }
        case NetnameRequest::User: break;
    }
    std::vector<std::string> names;
    for (int32_t uid : r.uids) {
        if (!user2netname(name, uid, r.domain.c_str()))
            return reportError(out, "no net name for uid " + std::to_string(uid) + " in domain '" + r.domain +
                                        "' (the domain is too long)");
        names.emplace_back(name);
    }
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("netname").key("ok").value(true).key("results").beginArray();
        for (size_t i = 0; i < names.size(); ++i)
            j.beginObject().key("uid").value(r.uids[i]).key("result").value(names[i]).endObject();
        j.endArray().endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        for (const auto& n : names) std::printf("%s\n", n.c_str());
    }
    return 0;
}

int runGssWhoami(const GssWhoamiRequest&, const Output& out) {
    char principal[1024] = {};
    uint32_t length = sizeof principal - 1;
    const int rc = RPCSEC_GSS_InquireCred(principal, &length);
    if (rc != 0) return reportFailure(out, "default Kerberos credentials", StatusFamily::Gss, rc);
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value("gss-whoami").key("ok").value(true);
        j.key("principal").value(std::string(principal, length)).endObject();
        std::printf("%s\n", j.text().c_str());
    } else {
        std::printf("%s\n", std::string(principal, length).c_str());
    }
    return 0;
}

}  // namespace qelrpc::cli
