// SPDX-License-Identifier: MIT
// Back end 1 behind the seam (auth/gss_mechanism.h): the Windows security
// interface's Kerberos package (platform/sspi.h). The context is the
// platform's session; the statuses become GSS majors (majorOf) and the
// SECURITY_STATUS itself stays as the minor status, so that
// RPCSEC_GSS_GetErrorMessage can name it.
#include "auth/gss_sspi.h"

#include <cstdio>
#include <cstring>

#include "auth/gss_api.h"
#include "auth/gss_mechanism.h"
#include "auth/gss_providers.h"
#include "platform/heap.h"

namespace qelrpc::gss {
namespace sspi {

namespace ps = platform::sspi;

uint32_t majorOf(ps::SecStatus s) noexcept {
    switch (s) {
        case ps::kOk: return kComplete;
        case ps::kIContinueNeeded: return kContinueNeeded;
        case ps::kNoCredentials:
        case ps::kUnknownCredentials:
        case ps::kNoAuthenticatingAuthority: return kNoCred;
        case ps::kLogonDenied: return kDefectiveCredential;
        case ps::kContextExpired:
        case ps::kIContextExpired: return kContextExpired;
        case ps::kMessageAltered:
        case ps::kDecryptFailure: return kBadSig;
        // A signature that checked but came out of order: the same
        // supplementary answer as the MIT library's for RPC's own
        // retransmissions.
        case ps::kOutOfSequence: return kUnseqToken;
        case ps::kInvalidHandle: return kNoContext;
        case ps::kQopNotSupported: return kBadQop;
        case ps::kInvalidToken:
        case ps::kIncompleteMessage: return kDefectiveToken;
        case ps::kTargetUnknown:
        case ps::kWrongPrincipal: return kBadName;
        default: return kFailure;
    }
}

bool servicePrincipalName(const char* target, char* out, size_t room) noexcept {
    if (target == nullptr || out == nullptr) return false;
    const size_t n = std::strlen(target);
    if (n == 0 || n + 1 > room) return false;
    std::memcpy(out, target, n + 1);
    if (std::strchr(out, '/') != nullptr) return true;
    char* at = std::strchr(out, '@');
    if (at == nullptr) return true;  // a bare principal: the package completes it
    if (at == out || at[1] == '\0') return false;
    *at = '/';
    return true;
}

}  // namespace sspi

namespace {

namespace ps = platform::sspi;

// The text of a major status, the way GSS-API libraries word it.
const char* majorText(uint32_t major) noexcept {
    switch (major) {
        case kComplete: return "The routine completed successfully";
        case kContinueNeeded: return "The routine must be called again to complete its function";
        case kBadName: return "An invalid name was supplied";
        case kBadSig: return "A token had an invalid Message Integrity Check (MIC)";
        case kNoCred: return "No credentials were supplied, or the credentials were unavailable or inaccessible";
        case kNoContext: return "The referenced context could not be accessed";
        case kDefectiveToken: return "A token was invalid";
        case kDefectiveCredential: return "A supplied credential was invalid";
        case kCredentialsExpired: return "The referenced credential has expired";
        case kContextExpired: return "The referenced context has expired";
        case kBadQop: return "The quality-of-protection (QOP) requested could not be provided";
        case kUnseqToken: return "The token was received out of sequence";
        default: return "Unspecified GSS failure";
    }
}

void releaseBytes(Token& t) noexcept {
    ps::Bytes b{t.data, t.length};
    ps::release(b);
}

Status status(ps::SecStatus s) noexcept { return Status{sspi::majorOf(s), static_cast<uint32_t>(s)}; }

Status adopt(ps::SecStatus s, ps::Bytes& b, Token& t) noexcept {
    t.reset();
    t.data = b.data;
    t.length = b.length;
    t.release = b.data != nullptr ? &releaseBytes : nullptr;
    b = ps::Bytes{};
    return status(s);
}

ps::Session* session(RpcGssContext c) { return static_cast<ps::Session*>(c); }

class SspiMechanism final : public Mechanism {
  public:
    constexpr SspiMechanism() = default;

    GssProvider provider() const noexcept override { return GssProviderSspi; }

    Status initContext(RpcGssContext& context, const char* target, const uint8_t* input, size_t inputLength,
                       Token& output, bool& badName) const override {
        badName = false;
        const size_t room = std::strlen(target) + 1;
        auto* spn = static_cast<char*>(heap::raw(room));
        if (spn == nullptr) return status(ps::kInsufficientMemory);
        if (!sspi::servicePrincipalName(target, spn, room)) {
            heap::release(spn);
            badName = true;
            return Status{kBadName, 0};
        }
        ps::Session* s = session(context);
        ps::Bytes out;
        const ps::SecStatus r = ps::initContext(sspiKerberosTable(), s, spn, input, inputLength, out);
        heap::release(spn);
        context = s;
        return adopt(r, out, output);
    }

    void deleteContext(RpcGssContext& context) const noexcept override {
        ps::Session* s = session(context);
        ps::endSession(sspiKerberosTable(), s);
        context = nullptr;
    }

    Status getMic(RpcGssContext context, const void* data, size_t length, Token& mic) const noexcept override {
        ps::Bytes out;
        const ps::SecStatus r = ps::sign(sspiKerberosTable(), session(context), data, length, out);
        return adopt(r, out, mic);
    }

    Status verifyMic(RpcGssContext context, const void* data, size_t length, const void* mic,
                     size_t micLength) const noexcept override {
        return status(ps::verify(sspiKerberosTable(), session(context), data, length, mic, micLength));
    }

    Status wrap(RpcGssContext context, const void* data, size_t length, Token& sealed) const noexcept override {
        ps::Bytes out;
        const ps::SecStatus r = ps::seal(sspiKerberosTable(), session(context), data, length, out);
        return adopt(r, out, sealed);
    }

    Status unwrap(RpcGssContext context, const void* sealed, size_t length, Token& clear) const noexcept override {
        ps::Bytes out;
        const ps::SecStatus r = ps::unseal(sspiKerberosTable(), session(context), sealed, length, out);
        return adopt(r, out, clear);
    }

    void printStatus(uint32_t major, uint32_t minor) const noexcept override {
        std::fprintf(stderr, "GSS-API error: %s\n", majorText(major));
        const char* name = ps::statusName(static_cast<ps::SecStatus>(minor));
        std::fprintf(stderr, "GSS-API error: SECURITY_STATUS 0x%08X%s%s%s\n", static_cast<unsigned>(minor),
                     name != nullptr ? " (" : "", name != nullptr ? name : "", name != nullptr ? ")" : "");
    }

    Status defaultPrincipal(Token& name) const noexcept override {
        ps::Bytes out;
        const ps::SecStatus r = ps::defaultPrincipal(sspiKerberosTable(), out);
        return adopt(r, out, name);
    }
};

constinit const SspiMechanism g_sspiMechanism;

}  // namespace

const Mechanism* sspiMechanism() noexcept { return sspiKerberosTable() != nullptr ? &g_sspiMechanism : nullptr; }

}  // namespace qelrpc::gss
