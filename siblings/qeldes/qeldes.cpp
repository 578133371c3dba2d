// SPDX-License-Identifier: MIT
// DES (ECB, CBC) and the Diffie-Hellman common key on libgcrypt. Nothing
// here does cipher or big-number arithmetic itself.
#include "qeldes.h"

#include <gcrypt.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// libgcrypt wants gcry_check_version before anything else, once. If the
// program set libgcrypt up itself, its settings stay.
void startGcrypt() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_check_version(nullptr);
        if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
            // Keys live in ordinary memory, as they do in the callers' records.
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A key text dh takes: 1 to DH_MAXTEXT hexadecimal digits and its NUL,
// looked at no further than that.
bool hexText(const char* text) {
    if (text == nullptr) return false;
    std::size_t n = 0;
    for (; n <= DH_MAXTEXT && text[n] != '\0'; ++n)
        if (hexValue(text[n]) < 0) return false;
    return n >= 1 && n <= DH_MAXTEXT;
}

struct Mpi {
    gcry_mpi_t v = nullptr;
    Mpi() = default;
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    ~Mpi() { gcry_mpi_release(v); }
};

struct Cipher {
    gcry_cipher_hd_t h = nullptr;
    Cipher() = default;
    Cipher(const Cipher&) = delete;
    Cipher& operator=(const Cipher&) = delete;
    ~Cipher() {
        if (h != nullptr) gcry_cipher_close(h);
    }
};

constexpr unsigned kBlock = 8;
constexpr unsigned kModeBits = DES_DECRYPT | DES_SW;

int desCrypt(char* key, char* buf, unsigned len, unsigned mode, char* ivec, bool cbc) {
    if (key == nullptr || buf == nullptr || (cbc && ivec == nullptr)) return DESERR_BADPARAM;
    if (len % kBlock != 0 || len > DES_MAXDATA || (mode & ~kModeBits) != 0) return DESERR_BADPARAM;
    const int done = (mode & DES_SW) ? DESERR_NONE : DESERR_NOHWDEVICE;
    if (len == 0) return done;
    startGcrypt();

    Cipher c;
    if (gcry_cipher_open(&c.h, GCRY_CIPHER_DES, cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, 0) != 0)
        return DESERR_HWERROR;
    // A key derived from a Diffie-Hellman common key (or from a clock) may be
    // weak; Secure RPC peers use it all the same. With weak keys allowed,
    // libgcrypt still reports GPG_ERR_WEAK_KEY but has set the key.
    gcry_cipher_ctl(c.h, GCRYCTL_SET_ALLOW_WEAK_KEY, nullptr, 1);
    const gcry_error_t k = gcry_cipher_setkey(c.h, key, kBlock);
    if (k != 0 && gcry_err_code(k) != GPG_ERR_WEAK_KEY) return DESERR_HWERROR;
    if (cbc && gcry_cipher_setiv(c.h, ivec, kBlock) != 0) return DESERR_HWERROR;

    const bool decrypt = (mode & DES_DECRYPT) != 0;
    unsigned char lastIn[kBlock];
    std::memcpy(lastIn, buf + len - kBlock, kBlock);
    const gcry_error_t e = decrypt ? gcry_cipher_decrypt(c.h, buf, len, nullptr, 0)
                                   : gcry_cipher_encrypt(c.h, buf, len, nullptr, 0);
    if (e != 0) return DESERR_HWERROR;
    // The chain goes on from the last ciphertext block.
    if (cbc) std::memcpy(ivec, decrypt ? reinterpret_cast<const char*>(lastIn) : buf + len - kBlock, kBlock);
    return done;
}

}  // namespace

extern "C" {

QELDES_API int dh(const char* secretKey, const char* publicKey, const char* modulus, char* out) {
    if (out == nullptr) return 0;
    out[0] = '\0';
    if (!hexText(secretKey) || !hexText(publicKey) || !hexText(modulus)) return 0;
    startGcrypt();

    Mpi sec, pub, mod, common;
    if (gcry_mpi_scan(&sec.v, GCRYMPI_FMT_HEX, secretKey, 0, nullptr) != 0 ||
        gcry_mpi_scan(&pub.v, GCRYMPI_FMT_HEX, publicKey, 0, nullptr) != 0 ||
        gcry_mpi_scan(&mod.v, GCRYMPI_FMT_HEX, modulus, 0, nullptr) != 0)
        return 0;
    if (gcry_mpi_cmp_ui(mod.v, 0) == 0) return 0;
    common.v = gcry_mpi_new(0);
    if (common.v == nullptr) return 0;
    gcry_mpi_powm(common.v, pub.v, sec.v, mod.v);

    // The result is below the modulus, so it has at most the modulus's bytes.
    const std::size_t width = (gcry_mpi_get_nbits(mod.v) + 7) / 8;
    unsigned char bytes[(DH_MAXTEXT + 1) / 2];
    std::size_t n = 0;
    if (width > sizeof bytes ||
        gcry_mpi_print(GCRYMPI_FMT_USG, bytes, sizeof bytes, &n, common.v) != 0 || n > width)
        return 0;
    static const char digits[] = "0123456789abcdef";
    std::size_t o = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const unsigned b = i < width - n ? 0u : bytes[i - (width - n)];
        out[o++] = digits[b >> 4];
        out[o++] = digits[b & 15];
    }
    out[o] = '\0';
    return 1;
}

QELDES_API int hex2bin(int len, const char* hex, char* bin) {
    if (len < 0 || hex == nullptr || bin == nullptr) return 0;
    const std::size_t n = static_cast<std::size_t>(len);
    // Checked first, so a bad digit leaves bin as it was; the scan stops at
    // the first bad character, a NUL included, never reading past it.
    for (std::size_t i = 0; i < 2 * n; ++i)
        if (hexValue(hex[i]) < 0) return 0;
    for (std::size_t i = 0; i < n; ++i)
        bin[i] = static_cast<char>((hexValue(hex[2 * i]) << 4) | hexValue(hex[2 * i + 1]));
    return 1;
}

QELDES_API void des_setparity(char* key) {
    if (key == nullptr) return;
    // The classic Secure RPC routine, byte for byte: each byte through a
    // 128-entry table indexed by its low 7 bits, so the top bit is dropped
    // and odd parity goes into the low bit. Key servers derive conversation
    // keys this way; a key with the top bits kept would be another key.
    for (int i = 0; i < 8; ++i) {
        unsigned b = static_cast<unsigned char>(key[i]) & 0x7Eu;
        unsigned ones = 0;
        for (unsigned v = b; v != 0; v >>= 1) ones += v & 1u;
        if (ones % 2 == 0) b |= 1u;
        key[i] = static_cast<char>(b);
    }
}

QELDES_API int ecb_crypt(char* key, char* buf, unsigned len, unsigned mode) {
    return desCrypt(key, buf, len, mode, nullptr, false);
}

QELDES_API int cbc_crypt(char* key, char* buf, unsigned len, unsigned mode, char* ivec) {
    return desCrypt(key, buf, len, mode, ivec, true);
}

}  // extern "C"
