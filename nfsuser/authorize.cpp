// SPDX-License-Identifier: MIT
// User authorisation through Qelnfsd (procedure 3) or PCNFSD version 2
// (procedure 13).
//
// Qelnfsd arguments:  server address (its octets in network order)
//                     4
//                     comment (string, at most 64 bytes)
//                     credentials (string: 2 zero bytes, name NUL,
//                                  password NUL, chain-scrambled)
// PCNFSD arguments:   client host name (string, at most 64)
//                     user name (string, scrambled, at most 32)
//                     password (string, scrambled, at most 64)
//                     comment (string)
#include <cstring>
#include <initializer_list>

#include "nfsuser/authorize_readers.h"
#include "nfsuser/nfs_protocols.h"
#include "nfsuser/scramble.h"
#include "platform/host.h"
#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/call_header.h"
#include "rpc/credentials.h"
#include "rpc/operation.h"
#include "rpc/portmap.h"
#include "rpc/received_reply.h"
#include "xdr/mbuf.h"
#include "xdr/wire.h"

using namespace qelrpc;
using namespace qelrpc::nfsuser;

namespace {

constexpr uint32_t kQelnfsdConstant = 4;
constexpr size_t kQelnfsdCommentMax = 64;
constexpr size_t kQelnfsdCredentialBlock = 64;
constexpr size_t kQelnfsdCredentialMax = kQelnfsdCredentialBlock - 4;  // name + password characters
constexpr size_t kPcnfsdClientMax = 64;
constexpr size_t kPcnfsdUserMax = 32;
constexpr size_t kPcnfsdPasswordMax = 64;

enum class Daemon { Qelnfsd, Pcnfsd };

// Overwrites a buffer that held a clear password; the stores are volatile
// so they are not dropped as dead.
void wipe(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) b[i] = 0;
}

// The four operations, one per letter, sharing operation a's pair of
// blocks; only a releases them.
class AuthServerSet {
  public:
    AuthServerSet() = default;
    AuthServerSet(const AuthServerSet&) = delete;
    AuthServerSet& operator=(const AuthServerSet&) = delete;
    ~AuthServerSet() {
        for (RpcOperation* o : {&b, &c, &d}) {
            o->request = Mbuf{};
            o->reply = Mbuf{};
            operation::close(*o);
        }
        // The shared request block carried the scrambled password, which
        // anyone can undo: it goes back to the heap wiped, on every path.
        // A failed open left a's blocks empty, as b's, c's and d's are.
        if (a.request.block.pos != nullptr) wipe(a.request.block.pos, a.request.block.limit);
        operation::close(a);
    }

    bool open() {
        if (operation::init(a) != 0) return false;
        for (RpcOperation* o : {&b, &c, &d}) {
            operation::copyBuffer(a.request, o->request);
            operation::copyBuffer(a.reply, o->reply);
        }
        return true;
    }

    RpcOperation a{}, b{}, c{}, d{};
};

struct Choice {
    RpcOperation* op = nullptr;
    Daemon daemon = Daemon::Qelnfsd;
    bool viaAlt = false;
};

bool realAddress(uint32_t a) { return a != 0 && a != 0xFFFFFFFFu; }

// Walks the first four characters of authOrder until a server's
// portmapper knows the letter's daemon.
Choice chooseServer(AuthServerSet& set, const char* authOrder, uint32_t server, uint32_t alt) {
    RpcOperation* const ops[4] = {&set.a, &set.b, &set.c, &set.d};
    bool tried[4] = {};  // b and d are asked at most once each
    for (size_t i = 0; authOrder != nullptr && i < 4 && authOrder[i] != '\0'; ++i) {
        char letter = authOrder[i];
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
        // With an alternative server, a and c ask it (as b and d do).
        if (alt != 0 && letter == 'a') letter = 'b';
        if (alt != 0 && letter == 'c') letter = 'd';
        if (letter < 'a' || letter > 'd') continue;
        const size_t k = static_cast<size_t>(letter - 'a');
        Choice ch;
        ch.viaAlt = letter == 'b' || letter == 'd';
        if (ch.viaAlt && (alt == 0 || tried[k])) continue;
        tried[k] = true;
        ch.op = ops[k];
        ch.daemon = (letter == 'a' || letter == 'b') ? Daemon::Qelnfsd : Daemon::Pcnfsd;
        const uint32_t address = ch.viaAlt ? alt : server;
        if (!realAddress(address)) continue;  // nothing to ask there
        ch.op->hostAddr = address;
        const int rc = ch.daemon == Daemon::Qelnfsd ? rpc::getProgramPort(*ch.op, QELNFSD_PROGRAM, QELNFSD_VERSION, 0)
                                                     : rpc::getProgramPort(*ch.op, PCNFSD_PROGRAM, PCNFSD_VERSION, 0);
        if (rc == 0) return ch;
    }
    return Choice{};
}

int writeQelnfsdArguments(RpcOperation* op, uint32_t server, const char* user, const char* password,
                          const char* comment) {
    const size_t userLength = std::strlen(user), passwordLength = std::strlen(password);
    if (userLength > kQelnfsdCredentialMax || passwordLength > kQelnfsdCredentialMax - userLength)
        return kInternalError;
    // Two leading bytes (zero), the name and its NUL, the password and its NUL.
    uint8_t block[kQelnfsdCredentialBlock] = {};
    std::memcpy(block + 2, user, userLength);
    std::memcpy(block + 3 + userLength, password, passwordLength);
    const size_t length = userLength + passwordLength + 4;
    qelnfsdScramble(block, length);

    operation::initDataBuffer(op->request);
    MbufCursor& w = op->request.data;
    // The address's octets go out in the order they are kept (network order).
    int rc = mbuf::addLong(w, static_cast<int32_t>(wire::fromNetwork32(server)));
    if (rc == 0) rc = mbuf::addLong(w, static_cast<int32_t>(kQelnfsdConstant));
    if (rc == 0) rc = mbuf::addStringEx(w, comment, static_cast<uint32_t>(strnlen(comment, kQelnfsdCommentMax)));
    if (rc == 0) rc = mbuf::addStringEx(w, reinterpret_cast<const char*>(block), static_cast<uint32_t>(length));
    wipe(block, sizeof block);  // (the request block itself is wiped when the set is released)
    return rc == 0 ? 0 : kInternalError;
}

int writePcnfsdArguments(RpcOperation* op, const char* user, const char* password, const char* comment) {
    const size_t userLength = std::strlen(user), passwordLength = std::strlen(password);
    if (userLength > kPcnfsdUserMax || passwordLength > kPcnfsdPasswordMax) return kInternalError;
    char client[256];
    platform::localHostName(client, sizeof client);
    client[kPcnfsdClientMax] = '\0';  // the host name cut to the field's 64 characters
    char scrambledUser[kPcnfsdUserMax + 1], scrambledPassword[kPcnfsdPasswordMax + 1];
    pcnfsdScramble(user, userLength, scrambledUser);
    pcnfsdScramble(password, passwordLength, scrambledPassword);

    operation::initDataBuffer(op->request);
    MbufCursor& w = op->request.data;
    // Each scrambled text goes out up to its first zero byte.
    int rc = mbuf::addString(w, client);
    if (rc == 0) rc = mbuf::addString(w, scrambledUser);
    if (rc == 0) rc = mbuf::addString(w, scrambledPassword);
    if (rc == 0) rc = mbuf::addString(w, comment);
    wipe(scrambledUser, sizeof scrambledUser);
    wipe(scrambledPassword, sizeof scrambledPassword);
    return rc == 0 ? 0 : kInternalError;
}

}  // namespace

namespace qelrpc::nfsuser {

int readAuthorizeResponse(MbufCursor results, int32_t* uid, int32_t* gid, int32_t* gids, int32_t* groupCount,
                          int refused) {
    const uint32_t capacity = (groupCount != nullptr && *groupCount > 0 && gids != nullptr)
                                  ? static_cast<uint32_t>(*groupCount)
                                  : 0;
    if (uid != nullptr) *uid = -1;
    if (gid != nullptr) *gid = -1;
    for (uint32_t i = 0; i < capacity; ++i) gids[i] = -1;

    wire::Reader r(results);
    // A reply that cannot be read is no answer: neither an acceptance nor
    // a refusal (a refusal needs its status word, an acceptance every word
    // it names, its gids included).
    const uint32_t status = r.word();
    if (!r.ok()) return kProtocolError;
    if (status != 0) return refused;
    const uint32_t u = r.word(), g = r.word(), n = r.word();
    if (!r.ok() || uint64_t{n} * 4 > r.remaining()) return kProtocolError;
    if (uid != nullptr) *uid = static_cast<int32_t>(u);
    if (gid != nullptr) *gid = static_cast<int32_t>(g);
    uint32_t stored = 0;
    while (stored < n && stored < capacity) gids[stored++] = static_cast<int32_t>(r.word());  // present: checked above
    if (groupCount != nullptr) *groupCount = static_cast<int32_t>(stored);
    return 0;
}

}  // namespace qelrpc::nfsuser

extern "C" {

int BuildQelnfsdAuthorizeResponse(const uint8_t* results, int32_t* uid, int32_t* gid, int32_t* gids,
                                  int32_t* groupCount) {
    return readAuthorizeResponse(received::windowAt(results), uid, gid, gids, groupCount, kQelnfsdRefused);
}

int BuildPcnfsdAuthorizeResponse(const uint8_t* results, int32_t* uid, int32_t* gid, int32_t* gids,
                                 int32_t* groupCount) {
    return readAuthorizeResponse(received::windowAt(results), uid, gid, gids, groupCount, kPcnfsdRefused);
}

int PerformAuthorizeUser(const char* userName, const char* password, const char* comment, uint32_t serverAddress,
                         uint32_t altServerAddress, const char* authOrder, int32_t* uid, int32_t* gid,
                         int32_t* gids, int32_t* groupCount, uint32_t* authFlags) {
    if (userName == nullptr) userName = "";
    if (password == nullptr) password = "";
    if (comment == nullptr) comment = "";
    const uint32_t alt = realAddress(altServerAddress) ? altServerAddress : 0;

    AuthServerSet set;
    if (!set.open()) return kInternalError;
    const Choice chosen = chooseServer(set, authOrder, serverAddress, alt);
    if (chosen.op == nullptr) return kNoLogonServers;
    RpcOperation* op = chosen.op;
    const bool qelnfsd = chosen.daemon == Daemon::Qelnfsd;
    if (authFlags != nullptr)
        *authFlags |= (qelnfsd ? AUTH_BY_QELNFSD : AUTH_BY_PCNFSD) | (chosen.viaAlt ? AUTH_VIA_ALT_SERVER : 0u);

    if (!credentials::createAuthNull(*op)) return kInternalError;
    int rc = rpc::prepareHeader(*op, qelnfsd ? QELNFSD_PROC_AUTHORIZE : PCNFSD_PROC_AUTH);
    if (rc != 0) return rc;
    rc = qelnfsd ? writeQelnfsdArguments(op, serverAddress, userName, password, comment)
                 : writePcnfsdArguments(op, userName, password, comment);
    if (rc != 0) return rc;
    rc = rpc::callRpc(*op, 0);
    if (rc != 0) return rc;
    // A Qelnfsd refusal reaches this caller as "no such user".
    return readAuthorizeResponse(resultsOf(*op), uid, gid, gids, groupCount, qelnfsd ? kNoSuchUser : kPcnfsdRefused);
}

}  // extern "C"
