// SPDX-License-Identifier: MIT
// The Windows security interface's Kerberos package in plain types: the
// calls RPCSEC_GSS's back end 1 makes (auth/gss_sspi.cpp), on the function
// table InitSecurityInterfaceA returned (platform/win32/sspi.cpp; elsewhere
// every call answers kUnsupportedFunction), and the byte-level facts about
// the package's tokens that do not need the system (platform/sspi_tokens.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelrpc::platform::sspi {

// A SECURITY_STATUS; the values this library tells apart (winerror.h).
using SecStatus = int32_t;
constexpr SecStatus code(uint32_t v) { return static_cast<SecStatus>(v); }
constexpr SecStatus kOk = 0;
constexpr SecStatus kIContinueNeeded = code(0x00090312);
constexpr SecStatus kICompleteNeeded = code(0x00090313);
constexpr SecStatus kICompleteAndContinue = code(0x00090314);
constexpr SecStatus kIContextExpired = code(0x00090317);
constexpr SecStatus kInsufficientMemory = code(0x80090300);
constexpr SecStatus kInvalidHandle = code(0x80090301);
constexpr SecStatus kUnsupportedFunction = code(0x80090302);
constexpr SecStatus kTargetUnknown = code(0x80090303);
constexpr SecStatus kInternalError = code(0x80090304);
constexpr SecStatus kSecpkgNotFound = code(0x80090305);
constexpr SecStatus kInvalidToken = code(0x80090308);
constexpr SecStatus kQopNotSupported = code(0x8009030A);
constexpr SecStatus kLogonDenied = code(0x8009030C);
constexpr SecStatus kUnknownCredentials = code(0x8009030D);
constexpr SecStatus kNoCredentials = code(0x8009030E);
constexpr SecStatus kMessageAltered = code(0x8009030F);
constexpr SecStatus kOutOfSequence = code(0x80090310);
constexpr SecStatus kNoAuthenticatingAuthority = code(0x80090311);
constexpr SecStatus kContextExpired = code(0x80090317);
constexpr SecStatus kIncompleteMessage = code(0x80090318);
constexpr SecStatus kBufferTooSmall = code(0x80090321);
constexpr SecStatus kWrongPrincipal = code(0x80090322);
constexpr SecStatus kTimeSkew = code(0x80090324);
constexpr SecStatus kDecryptFailure = code(0x80090330);

// The symbolic name of a status ("SEC_E_NO_CREDENTIALS"), or null.
const char* statusName(SecStatus s) noexcept;

// Bytes made here, from heap::raw; release() gives them back.
struct Bytes {
    uint8_t* data = nullptr;
    size_t length = 0;
};
void release(Bytes& b) noexcept;

// One security context and the credential it was made with.
struct Session;

// Whether the table's package list has Kerberos.
bool hasKerberos(const void* table) noexcept;

// One InitializeSecurityContextA step toward the service principal name
// `spn` (service/host), mutual authentication, integrity and
// confidentiality asked. The first step (session null) acquires the
// outbound credential and makes the session; the output token, if any, in
// out. kOk, kIContinueNeeded or a failure; on a failure of the first step
// the session stays null.
SecStatus initContext(const void* table, Session*& session, const char* spn, const uint8_t* input,
                      size_t inputLength, Bytes& out) noexcept;
// Deletes the context and frees the credential; session becomes null.
void endSession(const void* table, Session*& session) noexcept;

SecStatus sign(const void* table, Session* session, const void* data, size_t length, Bytes& mic) noexcept;
SecStatus verify(const void* table, Session* session, const void* data, size_t length, const void* mic,
                 size_t micLength) noexcept;
// The wrap token of data, sealed, exactly as a GSS-API peer's unwrap takes it.
SecStatus seal(const void* table, Session* session, const void* data, size_t length, Bytes& token) noexcept;
SecStatus unseal(const void* table, Session* session, const void* token, size_t length, Bytes& clear) noexcept;
// The default outbound credential's principal name (user@REALM).
SecStatus defaultPrincipal(const void* table, Bytes& name) noexcept;

// Where EncryptMessage put the wrap token. Windows' own package writes
// the token's header into the TOKEN buffer, the sealed data into the DATA
// buffer and, for the RFC 1964 enctypes, padding into the PADDING buffer
// (token = TOKEN | DATA | the padding's first `padding` bytes); a package
// built over a GSS-API library copies the token's first bytes over the DATA
// buffer and the rest into the TOKEN buffer (token = DATA | TOKEN). The
// order is the one whose joined bytes start like a wrap token and are as
// long as that token's header says: the other buffer then starts with
// cipher text, which by chance may look like a token's first bytes but not
// like a whole header whose lengths agree. The clear text is dataLength
// bytes; checksumLength as wrapClearLength takes it (0 when not learnt).
enum class WrapOrder { TokenFirst, DataFirst, Unknown };
struct WrapLayout {
    WrapOrder order = WrapOrder::Unknown;
    size_t padding = 0;  // bytes of the PADDING buffer that end the token
};
WrapLayout wrapLayout(const uint8_t* token, size_t tokenLength, const uint8_t* data, size_t dataLength,
                      size_t paddingLength, size_t checksumLength) noexcept;

// The checksum length of an RFC 4121 MIC token (TOK_ID 04 04: a 16-byte
// header and the checksum), or 0 for anything else.
size_t micChecksumLength(const uint8_t* token, size_t length) noexcept;

// The length of the clear text inside an RFC 4121 wrap token (TOK_ID 05
// 04) whose enctype has checksums of checksumLength bytes: sealed, the
// header, a 16-byte confounder, the text, EC filler bytes, the header's
// copy and the checksum; not sealed, the header, the text and EC checksum
// bytes. False when the token is not one, or is too short.
bool wrapClearLength(const uint8_t* token, size_t length, size_t checksumLength, size_t& clear) noexcept;

}  // namespace qelrpc::platform::sspi
