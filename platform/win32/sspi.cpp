// SPDX-License-Identifier: MIT
// The Kerberos package of the Windows security interface (platform/sspi.h)
// through the function table InitSecurityInterfaceA returned: nothing here
// links against secur32.dll, which the library loads at run time
// (auth/gss_providers.cpp).
//
// Buffer layouts, so that the bytes on the wire are the RFC 4121 tokens a
// GSS-API peer makes and takes:
//   MakeSignature / VerifySignature   DATA (the message) | TOKEN (the MIC token);
//                                     DATA without SECBUFFER_READONLY, which
//                                     a package may not take for DATA
//   EncryptMessage                    TOKEN | DATA (sealed in place) | PADDING;
//                                     the token is TOKEN | DATA | PADDING as
//                                     the package filled them, or DATA | TOKEN
//                                     from a package built over a GSS-API
//                                     library, which leaves PADDING untouched
//                                     (wrapLayout, platform/sspi.h)
//   DecryptMessage                    STREAM (the whole token) | DATA (the clear
//                                     text, pointing into the stream); a package
//                                     that refuses a stream takes DATA (the
//                                     token's first clear-length bytes) | TOKEN
//                                     (the rest) and leaves the text in DATA.
#include "platform/sspi.h"

#include <cstring>
#include <new>

#define SECURITY_WIN32
#include <windows.h>

#include <security.h>

#include "platform/heap.h"

namespace qelrpc::platform::sspi {

static_assert(kIContinueNeeded == SEC_I_CONTINUE_NEEDED && kNoCredentials == SEC_E_NO_CREDENTIALS &&
              kTargetUnknown == SEC_E_TARGET_UNKNOWN && kMessageAltered == SEC_E_MESSAGE_ALTERED &&
              kOutOfSequence == SEC_E_OUT_OF_SEQUENCE && kContextExpired == SEC_E_CONTEXT_EXPIRED &&
              kWrongPrincipal == SEC_E_WRONG_PRINCIPAL && kDecryptFailure == SEC_E_DECRYPT_FAILURE &&
              kInvalidToken == SEC_E_INVALID_TOKEN && kUnsupportedFunction == SEC_E_UNSUPPORTED_FUNCTION);

struct Session {
    CredHandle cred{};
    CtxtHandle context{};
    bool haveCred = false;
    bool haveContext = false;
    unsigned long maxToken = 12000;  // the package's own figure replaces it
    SecPkgContext_Sizes sizes{};
    bool haveSizes = false;
    // The enctype's checksum length, learnt from the first RFC 4121 MIC
    // token made or checked (the set-up's reply verifier is one).
    size_t checksumLength = 0;
};

namespace {

char kKerberos[] = "Kerberos";
// Room for a MIC and for the non-data part of a wrap token when the
// package's sizes are smaller than what it writes.
constexpr unsigned long kMicRoom = 128;
constexpr unsigned long kTrailerSlack = 128;

const SecurityFunctionTableA* fns(const void* table) { return static_cast<const SecurityFunctionTableA*>(table); }

bool take(Bytes& out, const void* data, size_t n) noexcept {
    out.data = static_cast<uint8_t*>(heap::raw(n));
    if (out.data == nullptr) return false;
    if (n != 0) std::memcpy(out.data, data, n);
    out.length = n;
    return true;
}

void noteMic(Session& s, const void* token, size_t n) noexcept {
    const size_t c = micChecksumLength(static_cast<const uint8_t*>(token), n);
    if (c != 0) s.checksumLength = c;
}

SecStatus acquire(const SecurityFunctionTableA& t, CredHandle& cred) noexcept {
    TimeStamp expiry{};
    return t.AcquireCredentialsHandleA(nullptr, kKerberos, SECPKG_CRED_OUTBOUND, nullptr, nullptr, nullptr,
                                       nullptr, &cred, &expiry);
}

}  // namespace

bool hasKerberos(const void* table) noexcept {
    if (table == nullptr) return false;
    const SecurityFunctionTableA& t = *fns(table);
    if (t.QuerySecurityPackageInfoA == nullptr || t.AcquireCredentialsHandleA == nullptr ||
        t.InitializeSecurityContextA == nullptr || t.FreeContextBuffer == nullptr) {
        return false;
    }
    PSecPkgInfoA info = nullptr;
    if (t.QuerySecurityPackageInfoA(kKerberos, &info) != SEC_E_OK) return false;
    if (info != nullptr) t.FreeContextBuffer(info);
    return true;
}

void endSession(const void* table, Session*& session) noexcept {
    Session* s = session;
    session = nullptr;
    if (s == nullptr) return;
    if (table != nullptr) {
        const SecurityFunctionTableA& t = *fns(table);
        if (s->haveContext) t.DeleteSecurityContext(&s->context);
        if (s->haveCred) t.FreeCredentialsHandle(&s->cred);
    }
    s->~Session();
    heap::release(s);
}

SecStatus initContext(const void* table, Session*& session, const char* spn, const uint8_t* input,
                      size_t inputLength, Bytes& out) noexcept {
    if (table == nullptr) return kSecpkgNotFound;
    const SecurityFunctionTableA& t = *fns(table);
    const bool first = session == nullptr;
    if (first) {
        void* raw = heap::raw(sizeof(Session));
        if (raw == nullptr) return kInsufficientMemory;
        session = new (raw) Session;
        PSecPkgInfoA info = nullptr;
        if (t.QuerySecurityPackageInfoA(kKerberos, &info) == SEC_E_OK && info != nullptr) {
            session->maxToken = info->cbMaxToken;
            t.FreeContextBuffer(info);
        }
        const SecStatus r = acquire(t, session->cred);
        if (r != SEC_E_OK) {
            endSession(table, session);
            return r;
        }
        session->haveCred = true;
    }
    Session& s = *session;
    if (inputLength > ULONG_MAX) return kInvalidToken;
    auto* buffer = static_cast<uint8_t*>(heap::raw(s.maxToken));
    if (buffer == nullptr) return kInsufficientMemory;
    SecBuffer ob{s.maxToken, SECBUFFER_TOKEN, buffer};
    SecBufferDesc od{SECBUFFER_VERSION, 1, &ob};
    SecBuffer ib{static_cast<unsigned long>(inputLength), SECBUFFER_TOKEN, const_cast<uint8_t*>(input)};
    SecBufferDesc id{SECBUFFER_VERSION, 1, &ib};
    unsigned long attributes = 0;
    TimeStamp expiry{};
    const unsigned long wanted =
        ISC_REQ_MUTUAL_AUTH | ISC_REQ_REPLAY_DETECT | ISC_REQ_INTEGRITY | ISC_REQ_CONFIDENTIALITY;
    const SecStatus r = t.InitializeSecurityContextA(
        &s.cred, s.haveContext ? &s.context : nullptr, const_cast<char*>(spn), wanted, 0, SECURITY_NATIVE_DREP,
        input != nullptr ? &id : nullptr, 0, &s.context, &od, &attributes, &expiry);
    if (r == SEC_E_OK || r == SEC_I_CONTINUE_NEEDED) s.haveContext = true;
    if ((r == SEC_E_OK || r == SEC_I_CONTINUE_NEEDED) && ob.cbBuffer != 0 && ob.cbBuffer <= s.maxToken) {
        out.data = buffer;
        out.length = ob.cbBuffer;
    } else {
        heap::release(buffer);
    }
    if (r == SEC_E_OK) {
        s.haveSizes = t.QueryContextAttributesA(&s.context, SECPKG_ATTR_SIZES, &s.sizes) == SEC_E_OK;
    }
    // A first step that failed leaves nothing behind.
    if (first && !s.haveContext) endSession(table, session);
    return r;
}

SecStatus sign(const void* table, Session* session, const void* data, size_t length, Bytes& mic) noexcept {
    if (table == nullptr || session == nullptr || !session->haveContext) return kInvalidHandle;
    if (length > ULONG_MAX) return kBufferTooSmall;
    const SecurityFunctionTableA& t = *fns(table);
    const unsigned long room =
        session->haveSizes && session->sizes.cbMaxSignature > kMicRoom ? session->sizes.cbMaxSignature : kMicRoom;
    auto* token = static_cast<uint8_t*>(heap::raw(room));
    if (token == nullptr) return kInsufficientMemory;
    SecBuffer b[2] = {{static_cast<unsigned long>(length), SECBUFFER_DATA,
                       const_cast<void*>(data)},
                      {room, SECBUFFER_TOKEN, token}};
    SecBufferDesc d{SECBUFFER_VERSION, 2, b};
    const SecStatus r = t.MakeSignature(&session->context, 0, &d, 0);
    if (r != SEC_E_OK || b[1].cbBuffer > room) {
        heap::release(token);
        return r != SEC_E_OK ? r : kInternalError;
    }
    mic.data = token;
    mic.length = b[1].cbBuffer;
    noteMic(*session, token, mic.length);
    return SEC_E_OK;
}

SecStatus verify(const void* table, Session* session, const void* data, size_t length, const void* mic,
                 size_t micLength) noexcept {
    if (table == nullptr || session == nullptr || !session->haveContext) return kInvalidHandle;
    if (length > ULONG_MAX || micLength > ULONG_MAX) return kInvalidToken;
    const SecurityFunctionTableA& t = *fns(table);
    // The package may work on the token in place: a copy, never the
    // caller's reply.
    Bytes copy;
    if (!take(copy, mic, micLength)) return kInsufficientMemory;
    SecBuffer b[2] = {{static_cast<unsigned long>(length), SECBUFFER_DATA,
                       const_cast<void*>(data)},
                      {static_cast<unsigned long>(micLength), SECBUFFER_TOKEN, copy.data}};
    SecBufferDesc d{SECBUFFER_VERSION, 2, b};
    unsigned long qop = 0;
    const SecStatus r = t.VerifySignature(&session->context, &d, 0, &qop);
    release(copy);
    if (r == SEC_E_OK) noteMic(*session, mic, micLength);
    return r;
}

SecStatus seal(const void* table, Session* session, const void* data, size_t length, Bytes& token) noexcept {
    if (table == nullptr || session == nullptr || !session->haveContext) return kInvalidHandle;
    const SecurityFunctionTableA& t = *fns(table);
    const unsigned long trailer = (session->haveSizes ? session->sizes.cbSecurityTrailer : 0) + kTrailerSlack;
    const unsigned long block = session->haveSizes ? session->sizes.cbBlockSize : 0;
    if (length > ULONG_MAX - trailer - block) return kBufferTooSmall;
    const size_t total = trailer + length + block;
    auto* work = static_cast<uint8_t*>(heap::raw(total));
    if (work == nullptr) return kInsufficientMemory;
    uint8_t* const dataArea = work + trailer;
    if (length != 0) std::memcpy(dataArea, data, length);
    SecBuffer b[3] = {{trailer, SECBUFFER_TOKEN, work},
                      {static_cast<unsigned long>(length), SECBUFFER_DATA, dataArea},
                      {block, SECBUFFER_PADDING, dataArea + length}};
    SecBufferDesc d{SECBUFFER_VERSION, block != 0 ? 3ul : 2ul, b};
    SecStatus r = t.EncryptMessage(&session->context, 0, &d, 0);
    const unsigned long padLength = block != 0 ? b[2].cbBuffer : 0;
    if (r == SEC_E_OK && (b[0].cbBuffer > trailer || b[1].cbBuffer > length || padLength > block)) r = kInternalError;
    const WrapLayout layout = r == SEC_E_OK ? wrapLayout(work, b[0].cbBuffer, dataArea, b[1].cbBuffer, padLength,
                                                         session->checksumLength)
                                            : WrapLayout{};
    if (r == SEC_E_OK && layout.order == WrapOrder::Unknown) r = kInternalError;
    if (r != SEC_E_OK) {
        heap::release(work);
        return r;
    }
    const size_t n = size_t{b[0].cbBuffer} + b[1].cbBuffer + layout.padding;
    auto* out = static_cast<uint8_t*>(heap::raw(n));
    if (out == nullptr) {
        heap::release(work);
        return kInsufficientMemory;
    }
    uint8_t* p = out;
    if (layout.order == WrapOrder::TokenFirst) {
        std::memcpy(p, work, b[0].cbBuffer);
        p += b[0].cbBuffer;
        std::memcpy(p, dataArea, b[1].cbBuffer);
        p += b[1].cbBuffer;
        if (layout.padding != 0) std::memcpy(p, dataArea + length, layout.padding);
    } else {
        std::memcpy(p, dataArea, b[1].cbBuffer);
        p += b[1].cbBuffer;
        std::memcpy(p, work, b[0].cbBuffer);
    }
    heap::release(work);
    token.data = out;
    token.length = n;
    return SEC_E_OK;
}

SecStatus unseal(const void* table, Session* session, const void* token, size_t length, Bytes& clear) noexcept {
    if (table == nullptr || session == nullptr || !session->haveContext) return kInvalidHandle;
    if (length > ULONG_MAX) return kInvalidToken;
    const SecurityFunctionTableA& t = *fns(table);
    Bytes work;
    if (!take(work, token, length)) return kInsufficientMemory;
    unsigned long qop = 0;
    SecBuffer b[2] = {{static_cast<unsigned long>(length), SECBUFFER_STREAM, work.data},
                      {0, SECBUFFER_DATA, nullptr}};
    SecBufferDesc d{SECBUFFER_VERSION, 2, b};
    SecStatus r = t.DecryptMessage(&session->context, &d, 0, &qop);
    const uint8_t* text = nullptr;
    size_t textLength = 0;
    if (r == SEC_E_OK) {
        text = static_cast<const uint8_t*>(b[1].pvBuffer);
        textLength = b[1].cbBuffer;
        // The text lies inside the stream, or the package misbehaved.
        if (textLength != 0 && (text < work.data || text + textLength > work.data + length)) r = kInternalError;
    } else if (r == kInvalidToken || r == kUnsupportedFunction) {
        // No stream buffers: split the token where its clear text ends.
        size_t n = 0;
        if (!wrapClearLength(static_cast<const uint8_t*>(token), length, session->checksumLength, n)) {
            release(work);
            return r;
        }
        std::memcpy(work.data, token, length);  // whatever the failed attempt left
        SecBuffer s[2] = {{static_cast<unsigned long>(n), SECBUFFER_DATA, work.data},
                          {static_cast<unsigned long>(length - n), SECBUFFER_TOKEN, work.data + n}};
        SecBufferDesc sd{SECBUFFER_VERSION, 2, s};
        r = t.DecryptMessage(&session->context, &sd, 0, &qop);
        text = work.data;
        textLength = n;
    }
    if (r == SEC_E_OK && !take(clear, text, textLength)) r = kInsufficientMemory;
    release(work);
    return r;
}

SecStatus defaultPrincipal(const void* table, Bytes& name) noexcept {
    if (table == nullptr) return kSecpkgNotFound;
    const SecurityFunctionTableA& t = *fns(table);
    CredHandle cred{};
    SecStatus r = acquire(t, cred);
    if (r != SEC_E_OK) return r;
    SecPkgCredentials_NamesA names{};
    r = t.QueryCredentialsAttributesA(&cred, SECPKG_CRED_ATTR_NAMES, &names);
    if (r == SEC_E_OK && names.sUserName != nullptr) {
        // DOMAIN\user, the system's own form, becomes user@DOMAIN.
        const char* user = names.sUserName;
        const char* slash = std::strchr(user, '\\');
        const size_t n = std::strlen(user);
        name.data = static_cast<uint8_t*>(heap::raw(n + 1));
        if (name.data == nullptr) {
            r = kInsufficientMemory;
        } else if (slash == nullptr) {
            std::memcpy(name.data, user, n);
            name.length = n;
        } else {
            const size_t domain = static_cast<size_t>(slash - user);
            const size_t rest = n - domain - 1;
            std::memcpy(name.data, slash + 1, rest);
            name.data[rest] = '@';
            std::memcpy(name.data + rest + 1, user, domain);
            name.length = n;
        }
        t.FreeContextBuffer(names.sUserName);
    } else if (r == SEC_E_OK) {
        r = kInternalError;
    }
    t.FreeCredentialsHandle(&cred);
    return r;
}

}  // namespace qelrpc::platform::sspi
