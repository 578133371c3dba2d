// SPDX-License-Identifier: MIT
// An AUTH_DES server of the tests' own (RFC 1057 section 9, RFC 2695),
// written apart from the library's client code and computing on libgcrypt
// directly: it holds the server's secret key, derives the common key from a
// client's public key, takes the conversation key out of a full-name
// credential, checks the window and the timestamp against its own clock,
// answers with the verifier (timestamp - 1) and a nickname, and accepts
// later nickname credentials whose timestamps move forward.
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace destest {

using Bytes = std::vector<uint8_t>;

constexpr const char* kModulus = "d4a0ba0250b6fd2ec626e7efd637df76c716e22d0944b88b";

inline void startGcrypt() {
    static std::once_flag once;
    std::call_once(once, [] { gcry_check_version(nullptr); });
}

struct Mpi {
    gcry_mpi_t v = nullptr;
    explicit Mpi(const std::string& hex) { gcry_mpi_scan(&v, GCRYMPI_FMT_HEX, hex.c_str(), 0, nullptr); }
    Mpi() : v(gcry_mpi_new(0)) {}
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    ~Mpi() { gcry_mpi_release(v); }
};

// base ^ exponent mod the Secure RPC modulus, as hexadecimal digits.
inline std::string powMod(const std::string& base, const std::string& exponent) {
    startGcrypt();
    Mpi b(base), e(exponent), m(kModulus), r;
    gcry_mpi_powm(r.v, b.v, e.v, m.v);
    unsigned char* text = nullptr;
    gcry_mpi_aprint(GCRYMPI_FMT_HEX, &text, nullptr, r.v);
    std::string out(reinterpret_cast<char*>(text));
    gcry_free(text);
    return out;
}

// A public key: 3 ^ secret mod the modulus.
inline std::string publicKey(const std::string& secret) { return powMod("3", secret); }

// The DES key of a common key: its bytes 8 to 15 counted from the least
// significant, least significant first, each through the classic Secure RPC
// parity table as key servers apply it (the top bit dropped, odd parity in
// the low bit).
inline void commonDesKey(const std::string& otherPublic, const std::string& ownSecret, uint8_t key[8]) {
    startGcrypt();
    Mpi p(otherPublic), s(ownSecret), m(kModulus), common;
    gcry_mpi_powm(common.v, p.v, s.v, m.v);
    uint8_t bytes[64] = {};
    size_t n = 0;
    gcry_mpi_print(GCRYMPI_FMT_USG, bytes, sizeof bytes, &n, common.v);
    for (size_t i = 0; i < 8; ++i) {
        const size_t fromLow = 8 + i;
        uint8_t b = fromLow < n ? bytes[n - 1 - fromLow] : 0;
        b &= 0x7E;
        if (__builtin_parity(b) == 0) b |= 1;
        key[i] = b;
    }
}

inline bool des(const uint8_t key[8], uint8_t* data, size_t len, bool cbc, bool decrypt) {
    startGcrypt();
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, GCRY_CIPHER_DES, cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, 0) != 0) return false;
    gcry_cipher_ctl(h, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1);
    const gcry_error_t k = gcry_cipher_setkey(h, key, 8);
    bool ok = k == 0 || gcry_err_code(k) == GPG_ERR_WEAK_KEY;
    const uint8_t zero[8] = {};
    if (ok && cbc) ok = gcry_cipher_setiv(h, zero, 8) == 0;
    if (ok && decrypt) ok = gcry_cipher_decrypt(h, data, len, nullptr, 0) == 0;
    else if (ok) ok = gcry_cipher_encrypt(h, data, len, nullptr, 0) == 0;
    gcry_cipher_close(h);
    return ok;
}

inline uint32_t word(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void put(Bytes& b, uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
}

// What the server made of one call.
struct Seen {
    uint32_t kind = 0;
    std::string netName;
    uint32_t window = 0;
    uint32_t nickname = 0;
    uint32_t seconds = 0;
    uint32_t micros = 0;
    uint32_t authStat = 0;  // 0 accepted
    Bytes encWindow;        // as it came in the full-name credential
    uint8_t convKey[8] = {};
};

class Server {
  public:
    static constexpr uint32_t kBadCred = 1, kRejectedCred = 2, kBadVerf = 3, kRejectedVerf = 4;

    Server(std::string secret, int32_t clockOffset) : secret_(std::move(secret)), clockOffset_(clockOffset) {}

    void addClient(const std::string& netName, const std::string& publicKey) {
        std::lock_guard l(m_);
        clients_[netName] = publicKey;
    }
    // Answers with the timestamp itself instead of timestamp - 1.
    void answerWrongVerifier(bool on) {
        std::lock_guard l(m_);
        wrongVerifier_ = on;
    }
    // An impostor: answers every call as a success with an AUTH_NULL
    // verifier, looking at no credential (it knows no key).
    void forgeNullVerifier(bool on) {
        std::lock_guard l(m_);
        forge_ = on;
    }
    std::vector<Seen> seen() {
        std::lock_guard l(m_);
        return seen_;
    }

    // One call message (no record mark) to its reply.
    Bytes answer(const Bytes& call) {
        std::lock_guard l(m_);
        Seen s;
        const uint32_t xid = call.size() >= 4 ? word(call.data()) : 0;
        if (forge_) {
            Bytes r;
            for (uint32_t w : {xid, 1u, 0u, 0u, 0u, 0u, 0x5EC0DEu}) put(r, w);
            return r;
        }
        Bytes verifier;
        uint32_t nickname = 0;
        s.authStat = check(call, s, verifier, nickname);
        seen_.push_back(s);
        Bytes r;
        put(r, xid);
        put(r, 1);
        if (s.authStat != 0) {
            put(r, 1);  // MSG_DENIED
            put(r, 1);  // AUTH_ERROR
            put(r, s.authStat);
            return r;
        }
        put(r, 0);  // MSG_ACCEPTED
        put(r, 3);
        put(r, 12);
        r.insert(r.end(), verifier.begin(), verifier.end());
        put(r, nickname);
        put(r, 0);  // SUCCESS
        put(r, 0x5EC0DE);
        return r;
    }

  private:
    struct Session {
        uint8_t key[8];
        uint32_t window;
        uint32_t seconds, micros;
    };

    static bool later(uint32_t s1, uint32_t u1, uint32_t s0, uint32_t u0) { return s1 > s0 || (s1 == s0 && u1 > u0); }

    uint32_t check(const Bytes& c, Seen& s, Bytes& verifier, uint32_t& nickname) {
        const size_t n = c.size();
        if (n < 32 || word(&c[24]) != 3) return kBadCred;
        const size_t credLength = word(&c[28]);
        if (32 + credLength + 8 > n) return kBadCred;
        const uint8_t* cred = &c[32];
        const uint8_t* verf = &c[32 + credLength];
        if (word(verf) != 3 || word(verf + 4) != 12 || 32 + credLength + 20 > n) return kBadVerf;
        const uint8_t* vb = verf + 8;
        s.kind = word(cred);
        const uint32_t now = static_cast<uint32_t>(std::time(nullptr)) + static_cast<uint32_t>(clockOffset_);

        Session* session = nullptr;
        if (s.kind == 0) {
            if (credLength < 8) return kBadCred;
            const uint32_t nameLength = word(cred + 4);
            const size_t padded = (nameLength + 3u) & ~size_t{3};
            if (credLength != 20 + padded) return kBadCred;
            s.netName.assign(reinterpret_cast<const char*>(cred + 8), nameLength);
            const auto client = clients_.find(s.netName);
            if (client == clients_.end()) return kBadCred;
            uint8_t common[8];
            commonDesKey(client->second, secret_, common);
            Session fresh{};
            std::memcpy(fresh.key, cred + 8 + padded, 8);
            if (!des(common, fresh.key, 8, false, true)) return kBadCred;
            s.encWindow.assign(cred + 16 + padded, cred + 20 + padded);
            uint8_t block[16];
            std::memcpy(block, vb, 8);
            std::memcpy(block + 8, cred + 16 + padded, 4);
            std::memcpy(block + 12, vb + 8, 4);
            if (!des(fresh.key, block, 16, true, true)) return kBadCred;
            s.seconds = word(block);
            s.micros = word(block + 4);
            s.window = word(block + 8);
            if (word(block + 12) != s.window - 1 || s.window == 0 || s.window > 3600) return kBadCred;
            std::memcpy(s.convKey, fresh.key, 8);
            fresh.window = s.window;
            fresh.seconds = s.seconds;
            fresh.micros = s.micros;
            nickname = nextNickname_++;
            session = &(sessions_[nickname] = fresh);
        } else if (s.kind == 1) {
            if (credLength != 8 || word(vb + 8) != 0) return kBadCred;
            nickname = s.nickname = word(cred + 4);
            const auto found = sessions_.find(nickname);
            if (found == sessions_.end()) return kRejectedCred;
            session = &found->second;
            uint8_t block[8];
            std::memcpy(block, vb, 8);
            if (!des(session->key, block, 8, false, true)) return kBadVerf;
            s.seconds = word(block);
            s.micros = word(block + 4);
            std::memcpy(s.convKey, session->key, 8);
            if (!later(s.seconds, s.micros, session->seconds, session->micros)) return kRejectedVerf;  // a replay
            session->seconds = s.seconds;
            session->micros = s.micros;
        } else {
            return kBadCred;
        }
        // The timestamp must be within the window of this server's clock.
        const int64_t skew = static_cast<int64_t>(static_cast<int32_t>(s.seconds - now));
        if (skew > static_cast<int64_t>(session->window) || -skew > static_cast<int64_t>(session->window))
            return kRejectedVerf;

        Bytes plain;
        put(plain, wrongVerifier_ ? s.seconds : s.seconds - 1);
        put(plain, s.micros);
        if (!des(session->key, plain.data(), 8, false, false)) return kBadVerf;
        verifier = plain;
        return 0;
    }

    std::mutex m_;
    std::string secret_;
    int32_t clockOffset_;
    std::map<std::string, std::string> clients_;
    std::map<uint32_t, Session> sessions_;
    uint32_t nextNickname_ = 0x1000;
    bool wrongVerifier_ = false;
    bool forge_ = false;
    std::vector<Seen> seen_;
};

}  // namespace destest
