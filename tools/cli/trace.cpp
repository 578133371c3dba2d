// SPDX-License-Identifier: MIT
#include "trace.h"

#include <cstring>
#include <string>

#include "programs.h"

namespace qelrpc::cli {

namespace {

bool g_tracing = false;

constexpr uint32_t kPortmapperProgram = 100000;

// A bounds-checked reader of XDR words and opaque bodies: a message cut
// short reads as not ok, never past its end.
struct Words {
    const uint8_t* p;
    uint32_t n;
    uint32_t at = 0;
    bool ok = true;

    uint32_t word() {
        if (!ok || n - at < 4) {
            ok = false;
            return 0;
        }
        const uint8_t* b = p + at;
        at += 4;
        return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    }
    // length bytes and their padding; null when they are not all there.
    const uint8_t* body(uint32_t length) {
        const uint64_t padded = (uint64_t{length} + 3) & ~uint64_t{3};
        if (!ok || padded > n - at) {
            ok = false;
            return nullptr;
        }
        const uint8_t* b = p + at;
        at += static_cast<uint32_t>(padded);
        return b;
    }
    uint32_t left() const { return ok ? n - at : 0; }
};

void hexLines(std::FILE* f, const uint8_t* b, uint32_t n, const char* indent) {
    for (uint32_t off = 0; off < n; off += 16) {
        std::fprintf(f, "%s%04x:", indent, off);
        for (uint32_t i = off; i < off + 16 && i < n; ++i) std::fprintf(f, " %02x", b[i]);
        std::fprintf(f, "\n");
    }
}

// Printable text as it is, anything else as \xNN, in quotes.
std::string quoted(const uint8_t* b, uint32_t n) {
    std::string s = "\"";
    for (uint32_t i = 0; i < n; ++i) {
        if (b[i] >= 0x20 && b[i] < 0x7F && b[i] != '"' && b[i] != '\\') {
            s.push_back(static_cast<char>(b[i]));
        } else {
            char x[8];
            std::snprintf(x, sizeof x, "\\x%02x", b[i]);
            s += x;
        }
    }
    return s + "\"";
}

const char* flavorName(uint32_t flavor) {
    switch (flavor) {
        case 0: return "AUTH_NULL";
        case 1: return "AUTH_UNIX";
        case 2: return "AUTH_SHORT";
        case 3: return "AUTH_DES";
        case 6: return "RPCSEC_GSS";
    }
    return "unknown flavor";
}

void opaqueAuth(std::FILE* f, Words& r, const char* label) {
    const uint32_t flavor = r.word(), length = r.word();
    if (!r.ok) return;
    std::fprintf(f, "  %-12s flavor %u (%s), length %u\n", label, flavor, flavorName(flavor), length);
    const uint8_t* b = r.body(length);
    if (b == nullptr) return;
    if (flavor == 1) {  // AUTH_UNIX (RFC 5531 appendix A)
        Words u{b, length};
        const uint32_t stamp = u.word(), nameLength = u.word();
        const uint8_t* name = u.body(nameLength);
        const uint32_t uid = u.word(), gid = u.word(), count = u.word();
        if (u.ok && name != nullptr) {
            std::fprintf(f, "    stamp        %u\n    machine name %s\n    uid          %u\n    gid          %u\n"
                            "    gids         %u:",
                         stamp, quoted(name, nameLength).c_str(), uid, gid, count);
            for (uint32_t i = 0; i < count && u.left() >= 4; ++i) std::fprintf(f, " %u", u.word());
            std::fprintf(f, "\n");
            if (u.ok && u.left() == 0) return;
        }
        std::fprintf(f, "    (not a well-formed AUTH_UNIX body)\n");
    }
    if (length > 0) hexLines(f, b, length, "    ");
}

// PCNFSD version 2 AUTH: client, user and password (both scrambled: each
// byte ^ 0x5B, & 0x7F), comment. The user name is shown unscrambled; the
// password only by its length.
bool pcnfsdAuthArguments(std::FILE* f, Words r) {
    const uint32_t clientLength = r.word();
    const uint8_t* client = r.body(clientLength);
    const uint32_t userLength = r.word();
    const uint8_t* user = r.body(userLength);
    const uint32_t passwordLength = r.word();
    const bool passwordThere = r.body(passwordLength) != nullptr;
    const uint32_t commentLength = r.word();
    const uint8_t* comment = r.body(commentLength);
    if (client == nullptr || user == nullptr || !passwordThere || comment == nullptr) return false;
    std::string name;
    for (uint32_t i = 0; i < userLength; ++i) name.push_back(static_cast<char>((user[i] ^ 0x5B) & 0x7F));
    std::fprintf(f, "    client       %s\n", quoted(client, clientLength).c_str());
    std::fprintf(f, "    user         %s (sent scrambled)\n",
                 quoted(reinterpret_cast<const uint8_t*>(name.data()), userLength).c_str());
    std::fprintf(f, "    password     %u bytes (masked)\n", passwordLength);
    std::fprintf(f, "    comment      %s\n", quoted(comment, commentLength).c_str());
    if (r.left() != 0) std::fprintf(f, "    (%u more bytes not shown)\n", r.left());
    return true;
}

// Qelnfsd AUTHORIZE: server address, the constant 4, comment, then one
// chain-scrambled block (out[i] = in[i] ^ out[i-1], from 0xFF) holding two
// zero bytes, the user name, NUL, the password, NUL. The block is undone
// into a scratch copy only to find the lengths, and the copy wiped.
bool qelnfsdAuthorizeArguments(std::FILE* f, Words r) {
    const uint32_t address = r.word(), constant = r.word();
    const uint32_t commentLength = r.word();
    const uint8_t* comment = r.body(commentLength);
    const uint32_t blockLength = r.word();
    const uint8_t* block = r.body(blockLength);
    if (comment == nullptr || block == nullptr || blockLength > 256) return false;
    uint8_t clear[256];
    uint8_t running = 0xFF;
    for (uint32_t i = 0; i < blockLength; ++i) {
        clear[i] = static_cast<uint8_t>(block[i] ^ running);
        running = block[i];
    }
    uint32_t nameEnd = 2;
    while (nameEnd < blockLength && clear[nameEnd] != 0) ++nameEnd;
    const std::string name(reinterpret_cast<const char*>(clear) + (blockLength > 2 ? 2 : blockLength),
                           nameEnd > 2 ? nameEnd - 2 : 0);
    uint32_t passwordEnd = nameEnd + 1;
    while (passwordEnd < blockLength && clear[passwordEnd] != 0) ++passwordEnd;
    const uint32_t passwordLength = passwordEnd > nameEnd + 1 ? passwordEnd - nameEnd - 1 : 0;
    volatile uint8_t* wipe = clear;
    for (uint32_t i = 0; i < sizeof clear; ++i) wipe[i] = 0;
    std::fprintf(f, "    server       %u.%u.%u.%u\n    constant     %u\n    comment      %s\n", address >> 24,
                 (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, constant,
                 quoted(comment, commentLength).c_str());
    std::fprintf(f, "    credentials  %u bytes (sent scrambled): user %s, password %u bytes (masked)\n", blockLength,
                 quoted(reinterpret_cast<const uint8_t*>(name.data()), static_cast<uint32_t>(name.size())).c_str(),
                 passwordLength);
    if (r.left() != 0) std::fprintf(f, "    (%u more bytes not shown)\n", r.left());
    return true;
}

bool carriesPassword(uint32_t prog, uint32_t vers, uint32_t proc) {
    return (prog == PCNFSD_PROGRAM && vers == PCNFSD_VERSION && proc == PCNFSD_PROC_AUTH) ||
           (prog == QELNFSD_PROGRAM && proc == QELNFSD_PROC_AUTHORIZE);
}

std::string programText(uint32_t prog) {
    const auto name = programName(prog);
    return std::to_string(prog) + (name ? " (" + *name + ")" : std::string());
}

const char* acceptName(uint32_t s) {
    static const char* const names[] = {"SUCCESS", "PROG_UNAVAIL", "PROG_MISMATCH", "PROC_UNAVAIL",
                                        "GARBAGE_ARGS", "SYSTEM_ERR"};
    return s < 6 ? names[s] : "unknown";
}

const char* authStatName(uint32_t s) {
    static const char* const names[] = {"AUTH_OK", "AUTH_BADCRED", "AUTH_REJECTEDCRED", "AUTH_BADVERF",
                                        "AUTH_REJECTEDVERF", "AUTH_TOOWEAK", "AUTH_INVALIDRESP", "AUTH_FAILED"};
    if (s < 8) return names[s];
    if (s == 13) return "RPCSEC_GSS_CREDPROBLEM";
    if (s == 14) return "RPCSEC_GSS_CTXPROBLEM";
    return "unknown";
}

}  // namespace


namespace {

// One call message (after the record mark, if any); mark is the TCP record
// mark it was sent behind, null for a UDP datagram.
void writeCallMessage(std::FILE* f, const uint8_t* message, uint32_t length, const uint32_t* mark) {
    if (message == nullptr || length < 4) {
        std::fprintf(f, "--> call: nothing prepared\n");
        return;
    }
    if (mark != nullptr)
        std::fprintf(f, "--> call, TCP record of %u bytes\n  record mark  0x%08x (%s fragment, %u bytes)\n", length,
                     *mark, (*mark & 0x80000000u) ? "last" : "not the last", *mark & 0x7FFFFFFFu);
    else std::fprintf(f, "--> call, UDP datagram of %u bytes\n", length);
    Words r{message, length};
    const uint32_t xid = r.word(), type = r.word(), rpcvers = r.word(), prog = r.word(), vers = r.word(),
                   proc = r.word();
    if (!r.ok) {
        std::fprintf(f, "  (shorter than a call header)\n");
        return;
    }
    std::fprintf(f, "  xid          0x%08x\n  msg_type     %u (%s)\n  rpcvers      %u\n  prog         %s\n"
                    "  vers         %u\n  proc         %u\n",
                 xid, type, type == 0 ? "CALL" : "not CALL", rpcvers, programText(prog).c_str(), vers, proc);
    opaqueAuth(f, r, "credential");
    opaqueAuth(f, r, "verifier");
    if (!r.ok) {
        std::fprintf(f, "  (the credential or verifier runs past the message)\n");
        return;
    }
    const uint32_t left = r.left();
    if (carriesPassword(prog, vers, proc)) {
        std::fprintf(f, "  arguments    %u bytes\n", left);
        const bool shown = prog == PCNFSD_PROGRAM ? pcnfsdAuthArguments(f, r) : qelnfsdAuthorizeArguments(f, r);
        // Never a hex dump here: the bytes carry a password, scrambled or not.
        if (!shown) std::fprintf(f, "    (not well formed; withheld: they carry a password)\n");
        return;
    }
    std::fprintf(f, "  arguments    %u bytes\n", left);
    hexLines(f, message + r.at, left, "    ");
}

}  // namespace

void writeCall(std::FILE* f, const uint8_t* block, uint32_t length, bool tcp) {
    if (block == nullptr || length < 8) {
        std::fprintf(f, "--> call: nothing prepared\n");
        return;
    }
    Words slot{block, 4};
    const uint32_t mark = slot.word();
    writeCallMessage(f, block + 4, length - 4, tcp ? &mark : nullptr);
}

void writeReply(std::FILE* f, const uint8_t* message, uint32_t length, uint32_t prog, uint32_t proc) {
    (void)prog;
    (void)proc;
    std::fprintf(f, "<-- reply, %u bytes (as reassembled from its record)\n", length);
    Words r{message, length};
    const uint32_t xid = r.word(), type = r.word(), stat = r.word();
    if (!r.ok) {
        std::fprintf(f, "  (shorter than a reply header)\n");
        hexLines(f, message, length, "    ");
        return;
    }
    std::fprintf(f, "  xid          0x%08x\n  msg_type     %u (%s)\n", xid, type, type == 1 ? "REPLY" : "not REPLY");
    if (stat == 1) {
        const uint32_t reject = r.word();
        std::fprintf(f, "  reply_stat   1 (MSG_DENIED)\n");
        if (reject == 0) {
            const uint32_t low = r.word(), high = r.word();
            std::fprintf(f, "  reject_stat  0 (RPC_MISMATCH), versions %u to %u\n", low, high);
        } else if (reject == 1) {
            const uint32_t a = r.word();
            std::fprintf(f, "  reject_stat  1 (AUTH_ERROR), auth_stat %u (%s)\n", a, authStatName(a));
        } else {
            std::fprintf(f, "  reject_stat  %u (unknown)\n", reject);
        }
    } else if (stat == 0) {
        std::fprintf(f, "  reply_stat   0 (MSG_ACCEPTED)\n");
        opaqueAuth(f, r, "verifier");
        const uint32_t accept = r.word();
        if (!r.ok) {
            std::fprintf(f, "  (cut short)\n");
            return;
        }
        std::fprintf(f, "  accept_stat  %u (%s)\n", accept, acceptName(accept));
        if (accept == 2) {
            const uint32_t low = r.word(), high = r.word();
            if (r.ok) std::fprintf(f, "  versions     %u to %u\n", low, high);
        } else if (accept == 0) {
            std::fprintf(f, "  results      %u bytes\n", r.left());
            hexLines(f, message + r.at, r.left(), "    ");
            return;
        }
    } else {
        std::fprintf(f, "  reply_stat   %u (unknown)\n", stat);
    }
    if (r.left() != 0) {
        std::fprintf(f, "  (%u more bytes)\n", r.left());
        hexLines(f, message + r.at, r.left(), "    ");
    }
}

namespace {

// What a call is, for the trace's heading: the procedures the tool and the
// library call by their protocols' names, any other by its number.
std::string callLabel(uint32_t prog, uint32_t vers, uint32_t proc) {
    static const char* const portmapper[] = {"NULL", "SET", "UNSET", "GETPORT", "DUMP", "CALLIT"};
    if (proc == 0) return programText(prog) + " null call";
    if (prog == kPortmapperProgram && proc < 6) return std::string("PMAPPROC_") + portmapper[proc];
    if (prog == PCNFSD_PROGRAM && vers == PCNFSD_VERSION && proc == PCNFSD_PROC_AUTH) return "PCNFSD AUTH";
    if (prog == PCNFSD_PROGRAM && vers == PCNFSD_VERSION && proc == PCNFSD_PROC_MAPID) return "PCNFSD MAPID";
    if (prog == QELNFSD_PROGRAM) {
        switch (proc) {
            case QELNFSD_PROC_AUTHORIZE: return "Qelnfsd AUTHORIZE";
            case QELNFSD_PROC_GROUPNAME_TO_GID: return "Qelnfsd GROUPNAME_TO_GID";
            case QELNFSD_PROC_GIDS_TO_GROUPNAMES: return "Qelnfsd GIDS_TO_GROUPNAMES";
            case QELNFSD_PROC_UIDS_TO_USERNAMES: return "Qelnfsd UIDS_TO_USERNAMES";
            case QELNFSD_PROC_USERNAMES_TO_UIDS: return "Qelnfsd USERNAMES_TO_UIDS";
        }
    }
    return programText(prog) + " version " + std::to_string(vers) + " procedure " + std::to_string(proc);
}

}  // namespace

void traceExchange(const RpcExchangeView* v, void* /*context*/) {
    const bool tcp = v->transport == RPC_EXCHANGE_TCP;
    Words header{v->call, v->call != nullptr ? v->callLength : 0};
    header.word();  // xid
    header.word();  // msg_type
    header.word();  // rpcvers
    const uint32_t prog = header.word(), vers = header.word(), proc = header.word();
    const uint8_t* ab = reinterpret_cast<const uint8_t*>(&v->hostAddr);  // network order: first octet first
    std::fprintf(stderr, "trace: %s: %s to %u.%u.%u.%u port %u, status %d\n",
                 header.ok ? callLabel(prog, vers, proc).c_str() : "call", tcp ? "TCP" : "UDP", ab[0], ab[1], ab[2],
                 ab[3], v->port, v->status);
    writeCallMessage(stderr, v->call, v->callLength, tcp ? &v->recordMark : nullptr);
    if (v->reply == nullptr || v->replyLength == 0) std::fprintf(stderr, "<-- no reply\n");
    else writeReply(stderr, v->reply, v->replyLength, prog, proc);
    std::fflush(stderr);
}

void traceBroadcast(const RpcOperation& op, bool call, const RpcSockAddrIn* sender) {
    if (!g_tracing) return;
    if (call) {
        std::fprintf(stderr, "trace: broadcast to 255.255.255.255 port %u\n", op.udpPort);
        const uint64_t sent = uint64_t{op.request.header.count} + op.request.data.count;
        if (op.request.block.pos != nullptr && sent <= op.request.block.limit)
            writeCall(stderr, op.request.block.pos, static_cast<uint32_t>(sent), false);
    } else {
        const uint8_t* ab = reinterpret_cast<const uint8_t*>(&sender->addr);
        const uint8_t* pb = reinterpret_cast<const uint8_t*>(&sender->port);
        std::fprintf(stderr, "trace: answer from %u.%u.%u.%u port %u\n", ab[0], ab[1], ab[2], ab[3],
                     (unsigned{pb[0]} << 8) | pb[1]);
        const uint32_t got = op.reply.block.count < op.reply.block.limit ? op.reply.block.count : op.reply.block.limit;
        if (op.reply.block.pos != nullptr && got != 0) writeReply(stderr, op.reply.block.pos, got, op.prog, op.proc);
    }
    std::fflush(stderr);
}

void setTracing(bool on) { g_tracing = on; }
bool tracing() { return g_tracing; }

void traceNote(const std::string& text) {
    if (!g_tracing) return;
    std::fprintf(stderr, "trace: %s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace qelrpc::cli
