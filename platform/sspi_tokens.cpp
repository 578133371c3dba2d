// SPDX-License-Identifier: MIT
// The byte-level facts about the Kerberos package's tokens (platform/sspi.h)
// and the status names: plain logic, built everywhere so that it is tested
// everywhere. RFC 4121 section 4.2.6: a per-message token's header is
// TOK_ID (2), flags (1), filler FF (1), EC (2), RRC (2), SND_SEQ (8); a MIC
// token's header ends in five FF fillers instead of EC and RRC.
#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "platform/sspi.h"

namespace qelrpc::platform::sspi {
namespace {

constexpr size_t kHeader = 16;
constexpr size_t kConfounder = 16;  // one cipher block of the RFC 4121 enctypes (AES, Camellia)
constexpr uint8_t kSealedFlag = 0x02;

// TOK_ID 05 04 and the filler: an RFC 4121 wrap token's header (at least
// kHeader bytes at p).
bool isWrapHeader(const uint8_t* p) { return p[0] == 0x05 && p[1] == 0x04 && p[3] == 0xFF; }

// The bytes of such a token around its clear text: sealed, the header, a
// confounder, EC filler bytes, the header's copy and the checksum; not
// sealed, the header and EC checksum bytes. 0 for a sealed token while the
// checksum length is not known.
size_t wrapOverhead(const uint8_t* header, size_t checksumLength) {
    const size_t ec = (size_t{header[4]} << 8) | header[5];
    if ((header[2] & kSealedFlag) == 0) return kHeader + ec;
    return checksumLength == 0 ? 0 : kHeader + kConfounder + ec + kHeader + checksumLength;
}

}  // namespace

void release(Bytes& b) noexcept {
    heap::release(b.data);
    b.data = nullptr;
    b.length = 0;
}

namespace {

// RFC 1964's framing: [APPLICATION 0], a DER length that counts everything
// after it (the token, the sealed data and its padding), then the Kerberos
// mechanism's OID.
constexpr uint8_t kKerberosOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};
constexpr size_t kProbe = 2 + 4 + sizeof kKerberosOid;  // the longest framing read

// The first bytes of a token as seen joined from two buffers.
struct Probe {
    uint8_t bytes[kProbe > kHeader ? kProbe : kHeader] = {};
    size_t length = 0;
    void add(const uint8_t* p, size_t n) noexcept {
        const size_t k = std::min(n, sizeof bytes - length);
        if (k != 0) std::memcpy(bytes + length, p, k);
        length += k;
    }
};

// The whole length of the wrap token the probe starts, 0 when it starts
// none. An RFC 4121 token whose checksum length is not known yet gives
// `joined`: its header does not tell, and such tokens never take padding.
size_t wrapLength(const Probe& probe, size_t clearLength, size_t checksumLength, size_t joined) noexcept {
    const uint8_t* p = probe.bytes;
    if (probe.length >= kHeader && isWrapHeader(p) && (p[2] & ~0x07) == 0) {
        const size_t overhead = wrapOverhead(p, checksumLength);
        return overhead == 0 ? joined : clearLength + overhead;
    }
    if (probe.length < 2 || p[0] != 0x60) return 0;
    size_t length = p[1];
    size_t at = 2;
    if ((length & 0x80) != 0) {
        const size_t k = length & 0x7F;
        if (k == 0 || k > 4 || probe.length < 2 + k) return 0;
        length = 0;
        for (size_t i = 0; i < k; ++i) length = (length << 8) | p[2 + i];
        at += k;
    }
    if (probe.length < at + sizeof kKerberosOid || std::memcmp(p + at, kKerberosOid, sizeof kKerberosOid) != 0) {
        return 0;
    }
    return at + length;
}

// Whether first | second | up to `room` more bytes is a whole wrap token;
// how many of those more bytes it takes in `extra`.
bool isWholeToken(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength, size_t room,
                  size_t clearLength, size_t checksumLength, size_t& extra) noexcept {
    if ((first == nullptr && firstLength != 0) || (second == nullptr && secondLength != 0)) return false;
    Probe probe;
    probe.add(first, firstLength);
    probe.add(second, secondLength);
    const size_t joined = firstLength + secondLength;
    const size_t whole = wrapLength(probe, clearLength, checksumLength, joined);
    if (whole == 0 || whole < joined || whole - joined > room) return false;
    extra = whole - joined;
    return true;
}

}  // namespace

WrapLayout wrapLayout(const uint8_t* token, size_t tokenLength, const uint8_t* data, size_t dataLength,
                      size_t paddingLength, size_t checksumLength) noexcept {
    WrapLayout layout;
    size_t none = 0;
    if (isWholeToken(token, tokenLength, data, dataLength, paddingLength, dataLength, checksumLength,
                     layout.padding)) {
        layout.order = WrapOrder::TokenFirst;
    } else if (isWholeToken(data, dataLength, token, tokenLength, 0, dataLength, checksumLength, none)) {
        layout.order = WrapOrder::DataFirst;
    }
    return layout;
}

size_t micChecksumLength(const uint8_t* token, size_t length) noexcept {
    if (token == nullptr || length <= kHeader || token[0] != 0x04 || token[1] != 0x04) return 0;
    return length - kHeader;
}

bool wrapClearLength(const uint8_t* token, size_t length, size_t checksumLength, size_t& clear) noexcept {
    if (token == nullptr || length < kHeader || !isWrapHeader(token)) return false;
    const size_t overhead = wrapOverhead(token, checksumLength);
    if (overhead == 0 || overhead > length) return false;
    clear = length - overhead;
    return true;
}

const char* statusName(SecStatus s) noexcept {
    switch (s) {
        case kOk: return "SEC_E_OK";
        case kIContinueNeeded: return "SEC_I_CONTINUE_NEEDED";
        case kICompleteNeeded: return "SEC_I_COMPLETE_NEEDED";
        case kICompleteAndContinue: return "SEC_I_COMPLETE_AND_CONTINUE";
        case kIContextExpired: return "SEC_I_CONTEXT_EXPIRED";
        case kInsufficientMemory: return "SEC_E_INSUFFICIENT_MEMORY";
        case kInvalidHandle: return "SEC_E_INVALID_HANDLE";
        case kUnsupportedFunction: return "SEC_E_UNSUPPORTED_FUNCTION";
        case kTargetUnknown: return "SEC_E_TARGET_UNKNOWN";
        case kInternalError: return "SEC_E_INTERNAL_ERROR";
        case kSecpkgNotFound: return "SEC_E_SECPKG_NOT_FOUND";
        case kInvalidToken: return "SEC_E_INVALID_TOKEN";
        case kQopNotSupported: return "SEC_E_QOP_NOT_SUPPORTED";
        case kLogonDenied: return "SEC_E_LOGON_DENIED";
        case kUnknownCredentials: return "SEC_E_UNKNOWN_CREDENTIALS";
        case kNoCredentials: return "SEC_E_NO_CREDENTIALS";
        case kMessageAltered: return "SEC_E_MESSAGE_ALTERED";
        case kOutOfSequence: return "SEC_E_OUT_OF_SEQUENCE";
        case kNoAuthenticatingAuthority: return "SEC_E_NO_AUTHENTICATING_AUTHORITY";
        case kContextExpired: return "SEC_E_CONTEXT_EXPIRED";
        case kIncompleteMessage: return "SEC_E_INCOMPLETE_MESSAGE";
        case kBufferTooSmall: return "SEC_E_BUFFER_TOO_SMALL";
        case kWrongPrincipal: return "SEC_E_WRONG_PRINCIPAL";
        case kTimeSkew: return "SEC_E_TIME_SKEW";
        case kDecryptFailure: return "SEC_E_DECRYPT_FAILURE";
        default: return nullptr;
    }
}

}  // namespace qelrpc::platform::sspi
