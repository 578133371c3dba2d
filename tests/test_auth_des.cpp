// SPDX-License-Identifier: MIT
// AUTH_DES on the client without a network: attaching the credential, the
// bytes of the full-name and nickname credentials and verifiers, the check
// of the server's verifier with the move to the nickname, the return to the
// full name, and failures of the arithmetic, the ciphers and the heap. The
// operation's clock offset is set beforehand (or its server address left
// unresolved), so no header here asks a time service.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "auth/des_cipher.h"
#include "platform/clock.h"
#include "qeldes.h"
#include "qelrpc.h"
#include "platform/heap.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kModulus = "d4a0ba0250b6fd2ec626e7efd637df76c716e22d0944b88b";
constexpr const char* kClientSecret = "3a5f0c21b9e8d7c6a5b4c3d2e1f00112233445566778899a";
constexpr const char* kServerSecret = "0badc0ffee0ddf00d1234567890abcdef1234567890abcd";
constexpr const char* kNetName = "unix.1001@example.co";  // 20 characters

uint32_t wordAt(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
void putWord(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}
std::string publicKeyOf(const char* secret) {
    char out[DH_MAXTEXT + 1];
    EXPECT_EQ(dh(secret, "3", kModulus, out), 1);
    return out;
}
void ecb(const uint8_t* key, uint8_t* data, unsigned len, unsigned mode) {
    char k[8];
    std::memcpy(k, key, 8);
    ASSERT_FALSE(DES_FAILED(ecb_crypt(k, reinterpret_cast<char*>(data), len, mode)));
}

class AuthDes : public ::testing::Test {
  protected:
    RpcOperation op{};
    std::string serverPublic = publicKeyOf(kServerSecret);

    void SetUp() override {
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0x0100007Fu), 0);
        op.prog = 0x20000F01;
        op.vers = 1;
        op.timeOffset = 1000;  // learned: no time service is asked
    }
    void TearDown() override {
        qelrpc::auth::des::failCipherAfter(-1);
        qelrpc::heap::failAfter(-1);
        rpcCloseOperation(&op);
    }
    AuthDesCred& cred() { return *static_cast<AuthDesCred*>(op.auth->body); }
    const uint8_t* header() const { return op.request.block.pos; }

    // A reply with the server's AUTH_DES verifier: (seconds, micros)
    // encrypted under the conversation key, then the nickname.
    void receiveVerifier(uint32_t seconds, uint32_t micros, uint32_t nickname) {
        uint8_t stamp[8];
        Bytes plain;
        putWord(plain, seconds);
        putWord(plain, micros);
        std::memcpy(stamp, plain.data(), 8);
        ecb(cred().convKey, stamp, 8, DES_ENCRYPT);
        Bytes r;
        for (uint32_t w : {7u, 1u, 0u, 3u, 12u}) putWord(r, w);
        r.insert(r.end(), stamp, stamp + 8);
        putWord(r, nickname);
        putWord(r, 0);  // SUCCESS
        std::memcpy(op.reply.block.pos, r.data(), r.size());
        op.reply.block.count = static_cast<uint32_t>(r.size());
    }
};

TEST_F(AuthDes, CreateAttachesAFullNameCredential) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    EXPECT_EQ(op.auth->flavor, RPC_AUTH_DES);
    EXPECT_EQ(op.auth->credLength, 40u);  // 20 + the 20-character name
    EXPECT_EQ(op.auth->verfFlavor, RPC_AUTH_DES);
    EXPECT_EQ(op.auth->verfLength, 12u);
    EXPECT_STREQ(cred().netName, kNetName);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);

    // The common key as the server derives it from the client's public key
    // and its own secret: bytes 8 to 15 from the low end, least significant
    // first, with odd parity.
    char common[DH_MAXTEXT + 1];
    ASSERT_EQ(dh(kServerSecret, publicKeyOf(kClientSecret).c_str(), kModulus, common), 1);
    ASSERT_EQ(std::strlen(common), 48u);
    char bytes[24];
    ASSERT_EQ(hex2bin(24, common, bytes), 1);
    char want[8];
    for (int i = 0; i < 8; ++i) want[i] = bytes[15 - i];
    des_setparity(want);
    EXPECT_EQ(std::memcmp(cred().commonKey, want, 8), 0);
}

// Whole common keys computed apart from this library (Python's pow() over
// the Secure RPC modulus, bytes 8 to 15 from the low end, least significant
// first, through the classic parity table), as a Secure RPC key server
// derives them. Their bytes with the top bit set show the parity routine.
TEST_F(AuthDes, CommonKeyIsTheOneKeyServersDerive) {
    struct Case {
        const char* clientSecret;
        const char* serverPublic;
        const char* key;
    } cases[] = {
        {kClientSecret, "9514d2307ea3035cd2d8de0e7915acbd4571484cd972a8f7", "75687c290d311a15"},
        {"9f2e4c3b8a7d6e5f4a3b2c1d0e9f8a7b6c5d4e3f2a1b0c9d", "ff8340e988890dc6b7676da75c26e757f9b569e605fa697",
         "5b5e2067525e3d16"},
        {"c0ffee", "1266b3efc251eb3daa72aa0fa4f21d71edb3146ad8dfb4d0", "4a047f5d4a2f3852"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.key);
        ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, k.serverPublic, k.clientSecret), 1);
        char want[8];
        ASSERT_EQ(hex2bin(8, k.key, want), 1);
        EXPECT_EQ(Bytes(cred().commonKey, cred().commonKey + 8), Bytes(want, want + 8));
        // A credential replaces the operation's without releasing it.
        rpcCloseOperation(&op);
        ASSERT_EQ(rpcInitOperationEx(&op, nullptr, 0x0100007Fu), 0);
    }
}

TEST_F(AuthDes, CreateRefusals) {
    const std::string name255(255, 'n'), name256(256, 'n'), key256(256, '1');
    struct Case {
        const char* what;
        const char* name;
        const char* pub;
        const char* secret;
    } cases[] = {
        {"null net name", nullptr, serverPublic.c_str(), kClientSecret},
        {"null public key", kNetName, nullptr, kClientSecret},
        {"null secret key", kNetName, serverPublic.c_str(), nullptr},
        {"net name over 255 characters", name256.c_str(), serverPublic.c_str(), kClientSecret},
        {"public key text over 255 characters", kNetName, key256.c_str(), kClientSecret},
        {"secret key text over 255 characters", kNetName, serverPublic.c_str(), key256.c_str()},
        {"key text that is not hexadecimal", kNetName, "xyz", kClientSecret},
        {"empty key text", kNetName, serverPublic.c_str(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rpcCreateAuthDES(&op, c.name, c.pub, c.secret), 0);
        EXPECT_EQ(op.auth, nullptr);
    }
    EXPECT_EQ(rpcCreateAuthDES(nullptr, kNetName, serverPublic.c_str(), kClientSecret), 0);

    // The longest name fits its field and the header.
    ASSERT_EQ(rpcCreateAuthDES(&op, name255.c_str(), serverPublic.c_str(), kClientSecret), 1);
    EXPECT_EQ(op.auth->credLength, 276u);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_EQ(op.request.header.count, 44u + 276 + 12);
    EXPECT_EQ(wordAt(header() + 40), 255u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header()) + 44, 255), name255);
}

TEST_F(AuthDes, NoMemoryLeavesNoCredential) {
    for (long successes : {0L, 1L}) {
        SCOPED_TRACE(successes);
        qelrpc::heap::failAfter(successes);  // the RpcAuth, then the AUTH_DES record
        EXPECT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 0);
        qelrpc::heap::failAfter(-1);
        EXPECT_EQ(op.auth, nullptr);
    }
}

TEST_F(AuthDes, FullNameHeaderCarriesKeyWindowAndTimestamp) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    const uint32_t before = qelrpc::platform::unixTimeNow() + 1000;
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 5), 0);
    const uint32_t after = qelrpc::platform::unixTimeNow() + 1000;

    const uint8_t* h = header();
    ASSERT_EQ(op.request.header.count, 44u + 40 + 12);
    EXPECT_EQ(wordAt(h), 96u);
    EXPECT_EQ(wordAt(h + 28), RPC_AUTH_DES);
    EXPECT_EQ(wordAt(h + 32), 40u);
    EXPECT_EQ(wordAt(h + 36), RPC_AUTHDES_FULLNAME);
    EXPECT_EQ(wordAt(h + 40), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h) + 44, 20), kNetName);
    EXPECT_EQ(wordAt(h + 76), RPC_AUTH_DES);  // verifier flavor and length
    EXPECT_EQ(wordAt(h + 80), 12u);

    // The conversation key comes back out under the common key.
    uint8_t key[8];
    std::memcpy(key, h + 64, 8);
    ecb(cred().commonKey, key, 8, DES_DECRYPT);
    EXPECT_EQ(std::memcmp(key, cred().convKey, 8), 0);
    EXPECT_EQ(std::memcmp(h + 64, cred().encConvKey, 8), 0);

    // Timestamp (verifier 0-7), window (credential), window - 1 (verifier
    // 8-11) are one CBC chain from a zero vector.
    uint8_t block[16];
    std::memcpy(block, h + 84, 8);
    std::memcpy(block + 8, h + 72, 4);
    std::memcpy(block + 12, h + 92, 4);
    char k[8], iv[8] = {};
    std::memcpy(k, key, 8);
    ASSERT_FALSE(DES_FAILED(cbc_crypt(k, reinterpret_cast<char*>(block), 16, DES_DECRYPT, iv)));
    const uint32_t ts = wordAt(block);
    EXPECT_GE(ts, before);
    EXPECT_LE(ts, after);
    EXPECT_EQ(wordAt(block + 4), 0u);
    EXPECT_EQ(wordAt(block + 8), 60u);
    EXPECT_EQ(wordAt(block + 12), 59u);
    EXPECT_EQ(static_cast<uint32_t>(cred().lastSeconds), ts);
}

TEST_F(AuthDes, EveryFullNameCredentialHasAFreshRandomKey) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    uint8_t first[8];
    std::memcpy(first, cred().convKey, 8);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);  // same second, most likely
    EXPECT_NE(std::memcmp(first, cred().convKey, 8), 0);
    // DES keys with odd parity.
    for (uint8_t b : cred().convKey) EXPECT_EQ(__builtin_popcount(b) % 2, 1);
}

TEST_F(AuthDes, VerifierCheckMovesToTheNicknameOnlyWhenItMatches) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    const uint32_t ts = static_cast<uint32_t>(cred().lastSeconds);
    const uint32_t micros = static_cast<uint32_t>(cred().lastUseconds);

    struct Case {
        const char* what;
        uint32_t seconds;
        uint32_t micros;
    } wrong[] = {
        {"the timestamp itself, not minus one", ts, micros},
        {"two seconds back", ts - 2, micros},
        {"other microseconds", ts - 1, micros + 1},
    };
    for (const Case& c : wrong) {
        SCOPED_TRACE(c.what);
        receiveVerifier(c.seconds, c.micros, 77);
        EXPECT_EQ(ProcessRPCResponse(&op), -4);
        EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
        EXPECT_EQ(op.auth->credLength, 40u);
    }

    receiveVerifier(ts - 1, micros, 77);
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_NICKNAME);
    EXPECT_EQ(cred().nickname, 77u);
    EXPECT_EQ(op.auth->credLength, 8u);
}

// Anyone can answer a call with an accepted reply and an AUTH_NULL
// verifier; only the server holding the conversation key can send the
// AUTH_DES one. A reply to an AUTH_DES call without it authenticates nobody:
// -98, with the results not offered (acceptStat as it was) and the
// credential left in its full-name form. An AUTH_DES verifier of another
// size is not the server's either (-4).
TEST_F(AuthDes, AReplyWithoutTheServersVerifierIsRefused) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    const uint32_t ts = static_cast<uint32_t>(cred().lastSeconds);
    const uint32_t micros = static_cast<uint32_t>(cred().lastUseconds);
    // The server's good verifier words: encrypted timestamp (2 words), nickname.
    receiveVerifier(ts - 1, micros, 77);
    const uint32_t s0 = wordAt(op.reply.block.pos + 20), s1 = wordAt(op.reply.block.pos + 24);

    auto accepted = [](std::initializer_list<uint32_t> verifier) {
        Bytes r;
        for (uint32_t w : {7u, 1u, 0u}) putWord(r, w);
        for (uint32_t w : verifier) putWord(r, w);
        putWord(r, 0);  // SUCCESS
        putWord(r, 0xCAFE);
        return r;
    };
    struct Case {
        const char* what;
        Bytes reply;
        int result;
    } cases[] = {
        {"forged: AUTH_NULL verifier", accepted({0, 0}), -98},
        {"forged: AUTH_NULL verifier with a body", accepted({0, 12, s0, s1, 77}), -98},
        {"wrong flavor: RPCSEC_GSS", accepted({6, 12, s0, s1, 77}), -98},
        {"wrong flavor: AUTH_UNIX", accepted({1, 0}), -98},
        {"AUTH_DES of 8 bytes, no nickname", accepted({3, 8, s0, s1}), -4},
        {"AUTH_DES of 16 bytes", accepted({3, 16, s0, s1, 77, 0}), -4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memcpy(op.reply.block.pos, c.reply.data(), c.reply.size());
        op.reply.block.count = static_cast<uint32_t>(c.reply.size());
        op.acceptStat = 77;
        EXPECT_EQ(ProcessRPCResponse(&op), c.result);
        EXPECT_EQ(op.acceptStat, 77u);
        EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
        EXPECT_EQ(cred().nickname, 0u);
        EXPECT_EQ(op.auth->credLength, 40u);
    }
    // The server's own verifier still passes afterwards.
    const Bytes good = accepted({3, 12, s0, s1, 77});
    std::memcpy(op.reply.block.pos, good.data(), good.size());
    op.reply.block.count = static_cast<uint32_t>(good.size());
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    EXPECT_EQ(cred().nickname, 77u);
    uint32_t result = 0;
    ASSERT_EQ(mbufGetLong(&op.reply.data, &result), 0);
    EXPECT_EQ(result, 0xCAFEu);
}

TEST_F(AuthDes, NicknameHeaderAndTheReturnToTheFullName) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    receiveVerifier(static_cast<uint32_t>(cred().lastSeconds) - 1, static_cast<uint32_t>(cred().lastUseconds), 0xABCD);
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    uint8_t convKey[8];
    std::memcpy(convKey, cred().convKey, 8);

    ASSERT_EQ(rpcPrepareRPCHeader(&op, 2), 0);
    const uint8_t* h = header();
    ASSERT_EQ(op.request.header.count, 44u + 8 + 12);
    EXPECT_EQ(wordAt(h + 32), 8u);
    EXPECT_EQ(wordAt(h + 36), RPC_AUTHDES_NICKNAME);
    EXPECT_EQ(wordAt(h + 40), 0xABCDu);
    EXPECT_EQ(wordAt(h + 44), RPC_AUTH_DES);
    EXPECT_EQ(wordAt(h + 48), 12u);
    EXPECT_EQ(wordAt(h + 60), 0u);
    uint8_t stamp[8];
    std::memcpy(stamp, h + 52, 8);
    ecb(convKey, stamp, 8, DES_DECRYPT);  // the key of the last full name
    EXPECT_EQ(wordAt(stamp), static_cast<uint32_t>(cred().lastSeconds));
    EXPECT_EQ(wordAt(stamp + 4), static_cast<uint32_t>(cred().lastUseconds));

    // Its verifier passes too and keeps the nickname form.
    receiveVerifier(wordAt(stamp) - 1, wordAt(stamp + 4), 0xABCE);
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    EXPECT_EQ(cred().nickname, 0xABCEu);
    EXPECT_EQ(op.auth->credLength, 8u);

    // A port look-up (here the portmapper's own program: nothing is asked)
    // brings the full name back, with a new key on the next header.
    ASSERT_EQ(GetProgramPort(&op, 100000, 2, 0), 0);
    EXPECT_EQ(cred().nameKind, RPC_AUTHDES_FULLNAME);
    EXPECT_EQ(op.auth->credLength, 40u);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 3), 0);
    EXPECT_EQ(op.request.header.count, 96u);
    EXPECT_EQ(wordAt(header() + 36), RPC_AUTHDES_FULLNAME);
    EXPECT_NE(std::memcmp(convKey, cred().convKey, 8), 0);
}

TEST_F(AuthDes, CallsWithinOneSecondCarryLaterTimestamps) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    // Servers refuse a timestamp not later than the last: the microseconds
    // count up while the seconds stay.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
        const int32_t s1 = cred().lastSeconds, u1 = cred().lastUseconds;
        ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
        if (cred().lastSeconds != s1) continue;  // a second went by in between
        EXPECT_EQ(cred().lastUseconds, u1 + 1);
        return;
    }
    FAIL() << "no two headers within one second";
}

TEST_F(AuthDes, CipherFailureFailsTheHeaderAndKeepsTheCredential) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    // Full name: the conversation key's encryption, then the CBC chain.
    for (long successes : {0L, 1L}) {
        SCOPED_TRACE(successes);
        const AuthDesCred before = cred();
        qelrpc::auth::des::failCipherAfter(successes);
        EXPECT_EQ(rpcPrepareRPCHeader(&op, 1), RPC_ERROR_ENCRYPTION_FAILED);
        qelrpc::auth::des::failCipherAfter(-1);
        EXPECT_EQ(op.request.header.count, 0u);
        EXPECT_EQ(std::memcmp(&before, &cred(), sizeof before), 0);
    }
    // Nickname: its one ECB block.
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    receiveVerifier(static_cast<uint32_t>(cred().lastSeconds) - 1, static_cast<uint32_t>(cred().lastUseconds), 9);
    ASSERT_EQ(ProcessRPCResponse(&op), 0);
    const AuthDesCred before = cred();
    qelrpc::auth::des::failCipherAfter(0);
    EXPECT_EQ(rpcPrepareRPCHeader(&op, 1), RPC_ERROR_ENCRYPTION_FAILED);
    qelrpc::auth::des::failCipherAfter(-1);
    EXPECT_EQ(std::memcmp(&before, &cred(), sizeof before), 0);
    // And a verifier cannot be checked without the cipher.
    receiveVerifier(static_cast<uint32_t>(cred().lastSeconds) - 1, static_cast<uint32_t>(cred().lastUseconds), 9);
    qelrpc::auth::des::failCipherAfter(0);
    EXPECT_EQ(ProcessRPCResponse(&op), -4);
}

TEST_F(AuthDes, UnresolvedServerUsesTheLocalClockAndAsksNothing) {
    op.hostAddr = 0;
    op.timeOffset = RPC_TIME_OFFSET_UNKNOWN;
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    const uint32_t before = qelrpc::platform::unixTimeNow();
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    EXPECT_GE(static_cast<uint32_t>(cred().lastSeconds), before);
    EXPECT_LE(static_cast<uint32_t>(cred().lastSeconds), qelrpc::platform::unixTimeNow());
    EXPECT_EQ(op.timeOffset, INT_MAX);
}

TEST_F(AuthDes, AnAuthDesVerifierForAnotherFlavorFails) {
    ASSERT_EQ(rpcCreateAuthDES(&op, kNetName, serverPublic.c_str(), kClientSecret), 1);
    ASSERT_EQ(rpcPrepareRPCHeader(&op, 1), 0);
    receiveVerifier(static_cast<uint32_t>(cred().lastSeconds) - 1, 0, 1);
    RpcAuth* des = op.auth;
    ASSERT_EQ(rpcCreateAuthUnix(&op, "m", 1, 1), 1);
    EXPECT_EQ(ProcessRPCResponse(&op), -4);
    rpcCloseOperation(&op);  // the AUTH_UNIX record
    op.auth = des;           // the fixture releases the AUTH_DES one
}

}  // namespace
