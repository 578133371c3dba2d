// SPDX-License-Identifier: MIT
// Back end 0 behind the seam (auth/gss_mechanism.h): the MIT GSS-API
// library's entry points (auth/gss_api.h). Its statuses pass through as
// they are; its buffers go back to gss_release_buffer.
#include <cstdio>
#include <cstring>

#include "auth/gss_api.h"
#include "auth/gss_mechanism.h"

namespace qelrpc::gss {
namespace {

gss_buffer_desc view(const void* p, size_t n) { return gss_buffer_desc{n, const_cast<void*>(p)}; }

void releaseMitToken(Token& t) noexcept {
    gss_buffer_desc b{t.length, t.data};
    releaseBuffer(b);
}

// The buffer becomes the token's; the buffer itself is left empty.
void adopt(gss_buffer_desc& b, Token& t) noexcept {
    t.reset();
    t.data = static_cast<uint8_t*>(b.value);
    t.length = b.length;
    t.release = b.value != nullptr ? &releaseMitToken : nullptr;
    b = gss_buffer_desc{0, nullptr};
}

// No call below checks for the table: this back end is handed out only
// while its table is loaded (mitMechanism), and the table changes only at
// the library's load and unload.
class MitMechanism final : public Mechanism {
  public:
    constexpr MitMechanism() = default;

    GssProvider provider() const noexcept override { return GssProviderMit; }

    Status initContext(RpcGssContext& context, const char* target, const uint8_t* input, size_t inputLength,
                       Token& output, bool& badName) const override {
        badName = false;
        const EntryPoints& g = *mit();
        Status s;
        // The name goes back on every path, a throwing back end's too.
        struct Name {
            const EntryPoints& g;
            gss_name_t v = nullptr;
            ~Name() {
                OM_uint32 minor = 0;
                if (v != nullptr) g.releaseName(&minor, &v);
            }
        } name{g};
        gss_buffer_desc text = view(target, std::strlen(target));
        s.major = g.importName(&s.minor, &text, *g.ntServiceName, &name.v);
        if (s.major != kComplete) {
            badName = true;
            return s;
        }
        gss_buffer_desc in = view(input, inputLength);
        OwnedBuffer out;
        OM_uint32 flags = 0;
        s.major = g.initSecContext(&s.minor, nullptr, &context, name.v, nullptr, kMutualFlag | kReplayFlag, 0,
                                    nullptr, input != nullptr ? &in : nullptr, nullptr, &out.b, &flags, nullptr);
        adopt(out.b, output);
        return s;
    }

    void deleteContext(RpcGssContext& context) const noexcept override {
        if (context != nullptr) {
            OM_uint32 minor = 0;
            mit()->deleteSecContext(&minor, &context, nullptr);
        }
        context = nullptr;
    }

    Status getMic(RpcGssContext context, const void* data, size_t length, Token& mic) const noexcept override {
        Status s;
        gss_buffer_desc msg = view(data, length);
        gss_buffer_desc out{0, nullptr};
        s.major = mit()->getMic(&s.minor, context, 0, &msg, &out);
        adopt(out, mic);
        return s;
    }

    Status verifyMic(RpcGssContext context, const void* data, size_t length, const void* mic,
                     size_t micLength) const noexcept override {
        Status s;
        gss_qop_t qop = 0;
        gss_buffer_desc msg = view(data, length);
        gss_buffer_desc token = view(mic, micLength);
        s.major = mit()->verifyMic(&s.minor, context, &msg, &token, &qop);
        return s;
    }

    Status wrap(RpcGssContext context, const void* data, size_t length, Token& sealed) const noexcept override {
        Status s;
        int conf = 0;
        gss_buffer_desc msg = view(data, length);
        gss_buffer_desc out{0, nullptr};
        s.major = mit()->wrap(&s.minor, context, 1, 0, &msg, &conf, &out);
        adopt(out, sealed);
        return s;
    }

    Status unwrap(RpcGssContext context, const void* sealed, size_t length, Token& clear) const noexcept override {
        Status s;
        int conf = 0;
        gss_qop_t qop = 0;
        gss_buffer_desc in = view(sealed, length);
        gss_buffer_desc out{0, nullptr};
        s.major = mit()->unwrap(&s.minor, context, &in, &out, &conf, &qop);
        adopt(out, clear);
        return s;
    }

    void printStatus(uint32_t major, uint32_t minor) const noexcept override {
        print(*mit(), major, kGssCode);
        print(*mit(), minor, kMechCode);
    }

    Status defaultPrincipal(Token& text) const noexcept override {
        const EntryPoints& g = *mit();
        Status s;
        gss_name_t name = nullptr;
        OM_uint32 lifetime = 0;
        gss_cred_usage_t usage = 0;
        gss_OID_set mechs = nullptr;
        s.major = g.inquireCred(&s.minor, nullptr, &name, &lifetime, &usage, &mechs);
        if (s.major == kComplete) {
            gss_buffer_desc out{0, nullptr};
            gss_OID type = nullptr;
            s.major = g.displayName(&s.minor, name, &out, &type);
            adopt(out, text);
        }
        OM_uint32 minor = 0;
        if (name != nullptr) g.releaseName(&minor, &name);
        if (mechs != nullptr) g.releaseOidSet(&minor, &mechs);
        return s;
    }

  private:
    static void print(const EntryPoints& g, OM_uint32 status, int type) noexcept {
        OM_uint32 context = 0;
        // A back end that never reports the last text ends after a few.
        for (int i = 0; i < 16; ++i) {
            OM_uint32 minor = 0;
            OwnedBuffer text;
            const OM_uint32 major = g.displayStatus(&minor, status, type, nullptr, &context, &text.b);
            if (major != kComplete) return;
            std::fprintf(stderr, "GSS-API error: %.*s\n", static_cast<int>(text.b.length),
                         static_cast<const char*>(text.b.value));
            if (context == 0) return;
        }
    }
};

constinit const MitMechanism g_mitMechanism;

}  // namespace

const Mechanism* mitMechanism() noexcept { return mit() != nullptr ? &g_mitMechanism : nullptr; }

}  // namespace qelrpc::gss
