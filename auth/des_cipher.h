// SPDX-License-Identifier: MIT
// The DES and Diffie-Hellman arithmetic of AUTH_DES, from the qeldes
// library. Each call is true on success; a failed call leaves its output
// as it was.
#pragma once

#include <cstdint>

namespace qelrpc::auth::des {

// The Secure RPC modulus (RFC 1057 section 9.3.4), 192 bits.
constexpr const char* kModulus = "d4a0ba0250b6fd2ec626e7efd637df76c716e22d0944b88b";

// The common key's DES key: clientSecret and serverPublic are hexadecimal
// texts; the Diffie-Hellman result serverPublic ^ clientSecret mod the
// modulus, as a number, gives its bytes 8 to 15 counted from the least
// significant (least significant first), with odd parity. False when the
// arithmetic refuses a text or yields fewer than 32 hexadecimal digits.
bool commonKey(const char* clientSecret, const char* serverPublic, uint8_t key[8]) noexcept;

// Gives the 8 key bytes DES odd parity.
void setParity(uint8_t key[8]) noexcept;

// DES in ECB mode over len bytes (a multiple of 8), in place.
bool ecb(const uint8_t key[8], uint8_t* data, unsigned len, bool decrypt) noexcept;

// DES in CBC mode, encrypting len bytes in place from an all-zero vector.
bool cbcEncrypt(const uint8_t key[8], uint8_t* data, unsigned len) noexcept;

// Test seam: the cipher call (ecb or cbcEncrypt) after `successes` more
// successful ones fails, and so does every one after it until reset with a
// negative value.
void failCipherAfter(long successes) noexcept;

}  // namespace qelrpc::auth::des
