// SPDX-License-Identifier: MIT
/*
 * qeldes: the suite's DES and Diffie-Hellman library for AUTH_DES
 * (RFC 1057 section 9, RFC 2695). The RPC library imports these five names.
 * The cipher routines follow the classic des_crypt conventions: keys are 8
 * bytes (the low bit of each byte is the parity bit), data is processed in
 * place in whole 8-byte blocks, and the result is one of the DESERR_* codes,
 * where DES_FAILED(result) tells a failure.
 *
 * All arithmetic comes from libgcrypt; nothing here keeps state besides the
 * one-time start of libgcrypt. Every function may run on any thread.
 */
#ifndef QELDES_H
#define QELDES_H

#ifdef _WIN32
#  ifdef QELDES_BUILDING
#    define QELDES_API __declspec(dllexport)
#  else
#    define QELDES_API __declspec(dllimport)
#  endif
#else
#  define QELDES_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* mode bits of ecb_crypt and cbc_crypt */
#define DES_ENCRYPT 0u
#define DES_DECRYPT 1u
#define DES_HW 0u /* hardware if there is any: the default */
#define DES_SW 2u /* software only */

/* results */
#define DESERR_NONE 0      /* done */
#define DESERR_NOHWDEVICE 1 /* done in software, hardware was asked for */
#define DESERR_HWERROR 2   /* the cipher failed */
#define DESERR_BADPARAM 3  /* null key or data, bad length or mode */
#define DES_FAILED(e) ((e) > DESERR_NOHWDEVICE)

/* Largest data length of one call, a multiple of 8. */
#define DES_MAXDATA 8192u

/* Largest key text dh takes and largest text it writes (each without the
 * NUL): the output area must hold DH_MAXTEXT + 1 bytes. */
#define DH_MAXTEXT 255

/* Diffie-Hellman common key: publicKey ^ secretKey mod modulus, all three
 * given as hexadecimal texts (most significant digit first, either case, at
 * most DH_MAXTEXT digits). out (DH_MAXTEXT + 1 bytes) receives the result as
 * lower-case hexadecimal digits, zero-padded to the modulus's width rounded
 * up to an even number of digits, NUL-terminated. 1 done; 0 a null
 * argument, an empty or over-long text, a character that is not a
 * hexadecimal digit, or a zero modulus (out is then the empty text). */
QELDES_API int dh(const char* secretKey, const char* publicKey, const char* modulus, char* out);

/* The len bytes the first 2 * len hexadecimal digits of hex stand for, into
 * bin. 1 done; 0 a null argument, a negative len, or a character that is
 * not a hexadecimal digit within those digits (a NUL among them included):
 * bin is then untouched. */
QELDES_API int hex2bin(int len, const char* hex, char* bin);

/* Gives each of the 8 key bytes DES odd parity in its low bit, as the
 * classic Secure RPC routine does: the byte's top bit is cleared (only its
 * low 7 bits count), so keys match those of Secure RPC key servers. */
QELDES_API void des_setparity(char* key);

/* DES in ECB mode, in place, over len bytes (a multiple of 8, at most
 * DES_MAXDATA). Weak and semi-weak keys are accepted, as Secure RPC peers
 * accept them. */
QELDES_API int ecb_crypt(char* key, char* buf, unsigned len, unsigned mode);

/* DES in CBC mode, in place, with the 8-byte initial vector ivec, which is
 * left holding the last ciphertext block (so a following call continues the
 * chain). Otherwise as ecb_crypt. */
QELDES_API int cbc_crypt(char* key, char* buf, unsigned len, unsigned mode, char* ivec);

#ifdef __cplusplus
}
#endif

#endif /* QELDES_H */
