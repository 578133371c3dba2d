// SPDX-License-Identifier: MIT
// The byte-level facts about the Kerberos package's tokens (platform/sspi.h)
// and the status names: plain logic, built everywhere so that it is tested
// everywhere. RFC 4121 section 4.2.6: a per-message token's header is
// TOK_ID (2), flags (1), filler FF (1), EC (2), RRC (2), SND_SEQ (8); a MIC
// token's header ends in five FF fillers instead of EC and RRC.
#include "platform/heap.h"
#include "platform/sspi.h"

namespace qelrpc::platform::sspi {
namespace {

constexpr size_t kHeader = 16;
constexpr size_t kConfounder = 16;  // one cipher block of the RFC 4121 enctypes (AES, Camellia)
constexpr uint8_t kSealedFlag = 0x02;

}  // namespace

void release(Bytes& b) noexcept {
    heap::release(b.data);
    b.data = nullptr;
    b.length = 0;
}

bool startsLikeToken(const uint8_t* p, size_t n) noexcept {
    if (p == nullptr || n == 0) return false;
    if (p[0] == 0x60) return true;  // RFC 1964's [APPLICATION 0] framing
    if (n < 4) return false;
    return ((p[0] == 0x05 && p[1] == 0x04) || (p[0] == 0x04 && p[1] == 0x04)) && p[3] == 0xFF;
}

WrapOrder wrapOrder(const uint8_t* token, size_t tokenLength, const uint8_t* data, size_t dataLength) noexcept {
    if (startsLikeToken(token, tokenLength)) return WrapOrder::TokenFirst;
    if (startsLikeToken(data, dataLength)) return WrapOrder::DataFirst;
    return WrapOrder::Unknown;
}

size_t micChecksumLength(const uint8_t* token, size_t length) noexcept {
    if (token == nullptr || length <= kHeader || token[0] != 0x04 || token[1] != 0x04) return 0;
    return length - kHeader;
}

bool wrapClearLength(const uint8_t* token, size_t length, size_t checksumLength, size_t& clear) noexcept {
    if (token == nullptr || length < kHeader || token[0] != 0x05 || token[1] != 0x04 || token[3] != 0xFF) return false;
    const size_t ec = (size_t{token[4]} << 8) | token[5];
    const bool sealed = (token[2] & kSealedFlag) != 0;
    // Sealed: the checksum length must be known; not sealed: EC is the checksum.
    const size_t overhead = sealed ? kHeader + kConfounder + ec + kHeader + checksumLength : kHeader + ec;
    if ((sealed && checksumLength == 0) || overhead > length) return false;
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
