// SPDX-License-Identifier: MIT
// The one seam between RPCSEC_GSS and the GSS back ends: the credential,
// the message protection and the error text call these and nothing below
// them. Back end 0 is the MIT GSS-API library (auth/gss_api.h), back end 1
// the Windows security interface's Kerberos package (auth/gss_sspi.cpp over
// platform/sspi.h). Both speak in GSS major statuses (RFC 2744 section
// 3.9.1), so the status codes the callers see do not depend on the back end;
// the minor status is the back end's own word (an MIT minor status, or the
// SECURITY_STATUS itself).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::gss {

struct Status {
    uint32_t major = 0;
    uint32_t minor = 0;
};

// Bytes a back end made, handed back to it when the token goes.
struct Token {
    uint8_t* data = nullptr;
    size_t length = 0;
    void (*release)(Token&) noexcept = nullptr;

    Token() = default;
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    ~Token() { reset(); }
    void reset() noexcept {
        if (release != nullptr) release(*this);
        data = nullptr;
        length = 0;
        release = nullptr;
    }
};

class Mechanism {
  public:
    virtual GssProvider provider() const noexcept = 0;
    // One step of the context set-up toward `target` (service@host): the
    // first step has no input; each later one takes the server's newest
    // token. kComplete, kContinueNeeded or an error major; badName when the
    // target could not be turned into a name at all. Runs only behind the
    // set-up's exception barrier: a back end's exception passes through.
    virtual Status initContext(RpcGssContext& context, const char* target, const uint8_t* input,
                               size_t inputLength, Token& output, bool& badName) const = 0;
    // Releases the context (null stays null); context becomes null.
    virtual void deleteContext(RpcGssContext& context) const noexcept = 0;
    virtual Status getMic(RpcGssContext context, const void* data, size_t length, Token& mic) const noexcept = 0;
    virtual Status verifyMic(RpcGssContext context, const void* data, size_t length, const void* mic,
                             size_t micLength) const noexcept = 0;
    // Seals with confidentiality into one RFC 4121 (or RFC 1964) wrap token.
    virtual Status wrap(RpcGssContext context, const void* data, size_t length, Token& sealed) const noexcept = 0;
    virtual Status unwrap(RpcGssContext context, const void* sealed, size_t length, Token& clear) const noexcept = 0;
    // The texts of a status pair, one "GSS-API error: ..." line each, to
    // standard error.
    virtual void printStatus(uint32_t major, uint32_t minor) const noexcept = 0;
    // The default credential's principal as text (not NUL-terminated), with
    // its realm. kNoCred, kDefectiveCredential, kCredentialsExpired or
    // another major when there is none.
    virtual Status defaultPrincipal(Token& name) const noexcept = 0;

  protected:
    ~Mechanism() = default;
};

// The back end a new RPCSEC_GSS credential uses, fixed while the library
// is loaded: the MIT library when it loaded, otherwise the security
// interface when it has the Kerberos package, otherwise none (null).
const Mechanism* active() noexcept;
// The back end a credential recorded at its creation, or null when that
// back end is unavailable now.
const Mechanism* forProvider(int provider) noexcept;

// The two implementations (auth/gss_providers.cpp, auth/gss_sspi.cpp);
// null when unavailable.
const Mechanism* mitMechanism() noexcept;
const Mechanism* sspiMechanism() noexcept;

}  // namespace qelrpc::gss
