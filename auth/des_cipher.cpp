// SPDX-License-Identifier: MIT
#include "auth/des_cipher.h"

#include <atomic>
#include <cstring>

#include "qeldes.h"

namespace qelrpc::auth::des {
namespace {

constexpr unsigned kMinCommonKeyDigits = 32;  // bytes 8 to 15 must exist
constexpr unsigned kDhTextSize = DH_MAXTEXT + 1;

std::atomic<long> cipherFailAfter{-1};

bool cipherAllowed() {
    long left = cipherFailAfter.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (cipherFailAfter.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

}  // namespace

void failCipherAfter(long successes) noexcept { cipherFailAfter.store(successes < 0 ? -1 : successes); }

bool commonKey(const char* clientSecret, const char* serverPublic, uint8_t key[8]) noexcept {
    // One spare byte in front, for a leading zero digit.
    char text[kDhTextSize + 1] = {};
    char* digits = text + 1;
    if (!::dh(clientSecret, serverPublic, kModulus, digits)) return false;
    unsigned n = static_cast<unsigned>(strnlen(digits, kDhTextSize - 1));
    if (n < kMinCommonKeyDigits) return false;
    if (n % 2 != 0) {
        // An odd count would shift every byte by a digit: read it as a number.
        *--digits = '0';
        ++n;
    }
    uint8_t bytes[kDhTextSize / 2 + 1];
    const int count = static_cast<int>(n / 2);
    if (!::hex2bin(count, digits, reinterpret_cast<char*>(bytes))) return false;
    // Skip the 8 least significant bytes, take the next 8, least significant first.
    for (int i = 0; i < 8; ++i) key[i] = bytes[count - 9 - i];
    setParity(key);
    return true;
}

void setParity(uint8_t key[8]) noexcept { ::des_setparity(reinterpret_cast<char*>(key)); }

bool ecb(const uint8_t key[8], uint8_t* data, unsigned len, bool decrypt) noexcept {
    if (!cipherAllowed()) return false;
    char k[8];
    std::memcpy(k, key, 8);
    const int rc = ::ecb_crypt(k, reinterpret_cast<char*>(data), len, decrypt ? DES_DECRYPT : DES_ENCRYPT);
    return !DES_FAILED(rc);
}

bool cbcEncrypt(const uint8_t key[8], uint8_t* data, unsigned len) noexcept {
    if (!cipherAllowed()) return false;
    char k[8];
    char iv[8] = {};
    std::memcpy(k, key, 8);
    const int rc = ::cbc_crypt(k, reinterpret_cast<char*>(data), len, DES_ENCRYPT, iv);
    return !DES_FAILED(rc);
}

}  // namespace qelrpc::auth::des
