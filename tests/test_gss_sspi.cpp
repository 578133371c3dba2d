// SPDX-License-Identifier: MIT
// Back end 1's logic that needs no system: the service principal name a
// host-based name becomes, the GSS major status each SECURITY_STATUS
// stands for, and the facts about RFC 4121 tokens that the security
// interface's buffers are laid out by (where a wrap token starts and how
// long it is, how much clear text a sealed token holds).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "auth/gss_api.h"
#include "auth/gss_sspi.h"
#include "platform/sspi.h"

namespace {

using namespace qelrpc;
namespace ps = qelrpc::platform::sspi;

TEST(GssSspi, HostBasedNamesBecomeServicePrincipalNames) {
    struct Case {
        const char* target;
        size_t room;
        const char* spn;  // null: refused
    };
    const Case cases[] = {
        {"nfs@localhost", 64, "nfs/localhost"},
        {"nfs@server.example.com", 64, "nfs/server.example.com"},
        {"nfs/localhost", 64, "nfs/localhost"},              // already a principal name
        {"nfs/localhost@QEL.TEST", 64, "nfs/localhost@QEL.TEST"},  // with its realm: kept
        {"alice", 64, "alice"},                              // a bare principal
        {"@localhost", 64, nullptr},                         // no service
        {"nfs@", 64, nullptr},                               // no host
        {"", 64, nullptr},
        {"nfs@localhost", 14, "nfs/localhost"},              // exactly the room with its NUL
        {"nfs@localhost", 13, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        char out[64];
        std::memset(out, 'x', sizeof out);
        const bool ok = gss::sspi::servicePrincipalName(c.target, out, c.room);
        ASSERT_EQ(ok, c.spn != nullptr);
        if (ok) {
            EXPECT_STREQ(out, c.spn);
        } else {
            EXPECT_EQ(out[c.room < sizeof out ? c.room : sizeof out - 1], 'x');  // nothing past the room
        }
    }
}

TEST(GssSspi, SecurityStatusesMapOntoGssMajors) {
    const std::pair<ps::SecStatus, uint32_t> cases[] = {
        {ps::kOk, gss::kComplete},
        {ps::kIContinueNeeded, gss::kContinueNeeded},
        {ps::kNoCredentials, gss::kNoCred},
        {ps::kUnknownCredentials, gss::kNoCred},
        {ps::kNoAuthenticatingAuthority, gss::kNoCred},
        {ps::kLogonDenied, gss::kDefectiveCredential},
        {ps::kContextExpired, gss::kContextExpired},
        {ps::kIContextExpired, gss::kContextExpired},
        {ps::kMessageAltered, gss::kBadSig},
        {ps::kDecryptFailure, gss::kBadSig},
        {ps::kOutOfSequence, gss::kUnseqToken},
        {ps::kInvalidHandle, gss::kNoContext},
        {ps::kQopNotSupported, gss::kBadQop},
        {ps::kInvalidToken, gss::kDefectiveToken},
        {ps::kTargetUnknown, gss::kBadName},
        {ps::kWrongPrincipal, gss::kBadName},
        {ps::kInternalError, gss::kFailure},
        {ps::kTimeSkew, gss::kFailure},
        {ps::kICompleteNeeded, gss::kFailure},  // Kerberos never asks for CompleteAuthToken
        {ps::code(0x80091234), gss::kFailure},
    };
    for (const auto& [status, major] : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << status);
        EXPECT_EQ(gss::sspi::majorOf(status), major);
        // Every status the library tells apart has its name for the
        // error text.
        if (status != ps::code(0x80091234)) {
            EXPECT_NE(ps::statusName(status), nullptr);
        }
    }
    EXPECT_STREQ(ps::statusName(ps::kNoCredentials), "SEC_E_NO_CREDENTIALS");
    EXPECT_EQ(ps::statusName(ps::code(0x80091234)), nullptr);
}

// An RFC 4121 header: TOK_ID, flags, filler, EC, RRC, SND_SEQ.
std::vector<uint8_t> header(uint8_t id0, uint8_t flags, uint16_t ec, uint16_t rrc = 0) {
    return {id0, 0x04, flags, 0xFF, static_cast<uint8_t>(ec >> 8), static_cast<uint8_t>(ec), static_cast<uint8_t>(rrc >> 8),
            static_cast<uint8_t>(rrc), 0, 0, 0, 0, 0, 0, 0, 7};
}

// Stand-in cipher text: bytes that start like nothing unless told to.
std::vector<uint8_t> cipher(size_t n, std::vector<uint8_t> start = {}) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(0x9C + 37 * i);
    std::copy(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(std::min(start.size(), n)), v.begin());
    return v;
}

// RFC 1964's framing of a token `body` bytes long around `clear` bytes of
// sealed text and `pad` bytes of padding: 0x60, the DER length, the OID.
std::vector<uint8_t> framed(size_t body, size_t clear, size_t pad) {
    const std::vector<uint8_t> oid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};
    const size_t inner = oid.size() + body + clear + pad;
    std::vector<uint8_t> v = inner < 0x80 ? std::vector<uint8_t>{0x60, static_cast<uint8_t>(inner)}
                                          : std::vector<uint8_t>{0x60, 0x82, static_cast<uint8_t>(inner >> 8),
                                                                 static_cast<uint8_t>(inner)};
    v.insert(v.end(), oid.begin(), oid.end());
    const std::vector<uint8_t> rest = cipher(body);
    v.insert(v.end(), rest.begin(), rest.end());
    return v;
}

// A sealed RFC 4121 token (aes256-cts-hmac-sha1-96: 12-byte checksum) of
// `clear` bytes of text, as a GSS-API library's wrap makes it; `tail` is
// what the cipher text after the first `clear` bytes starts with.
std::vector<uint8_t> gssWrap(size_t clear, uint16_t ec, std::vector<uint8_t> tail = {}) {
    std::vector<uint8_t> v = header(0x05, 0x06, ec);
    const std::vector<uint8_t> rest = cipher(16 + clear + ec + 16 + 12);
    v.insert(v.end(), rest.begin(), rest.end());
    std::copy(tail.begin(), tail.end(), v.begin() + static_cast<std::ptrdiff_t>(clear));
    return v;
}

// The two packages' buffers after EncryptMessage, and what the token is.
TEST(GssSspi, TheWrapTokenIsTheOrderWhoseHeaderAgreesWithItsLength) {
    const std::vector<uint8_t> oidStart = {0x60, 0x2B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};
    struct Buffers {
        std::vector<uint8_t> token, data;
    };
    // A GSS-API library's token split as such a package splits it: the
    // first `clear` bytes over DATA, the rest in TOKEN.
    auto split = [](const std::vector<uint8_t>& whole, size_t clear) {
        return Buffers{{whole.begin() + static_cast<std::ptrdiff_t>(clear), whole.end()},
                       {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(clear)}};
    };
    // Windows' own package, AES: header and the rotated trailer in TOKEN
    // (EC 16, RRC 28), the text sealed in place.
    auto windowsAes = [](size_t clear, std::vector<uint8_t> dataStart = {}) {
        std::vector<uint8_t> token = header(0x05, 0x06, 16, 28);
        const std::vector<uint8_t> rest = cipher(16 + 16 + 16 + 12);
        token.insert(token.end(), rest.begin(), rest.end());
        return Buffers{token, cipher(clear, dataStart)};
    };
    struct Case {
        const char* what;
        Buffers b;
        size_t paddingLength;
        size_t checksum;
        ps::WrapOrder order;
        size_t padding;
    };
    const Case cases[] = {
        {"Windows, AES", windowsAes(40), 0, 12, ps::WrapOrder::TokenFirst, 0},
        {"Windows, AES, padding room left", windowsAes(40), 1, 12, ps::WrapOrder::TokenFirst, 0},
        {"Windows, AES, text starts like a framed token", windowsAes(40, oidStart), 0, 12, ps::WrapOrder::TokenFirst,
         0},
        {"Windows, AES, checksum length not learnt", windowsAes(40), 1, 0, ps::WrapOrder::TokenFirst, 0},
        {"Windows, RFC 1964 with 4 bytes of padding", {framed(32, 20, 4), cipher(20)}, 4, 12,
         ps::WrapOrder::TokenFirst, 4},
        {"Windows, RFC 1964, long-form length", {framed(32, 300, 1), cipher(300)}, 1, 12, ps::WrapOrder::TokenFirst, 1},
        {"Windows, RFC 1964, less padding than declared", {framed(32, 20, 4), cipher(20)}, 2, 12,
         ps::WrapOrder::Unknown, 0},
        {"GSS-API library", split(gssWrap(40, 0), 40), 1, 12, ps::WrapOrder::DataFirst, 0},
        {"GSS-API library, EC filler", split(gssWrap(40, 5), 40), 1, 12, ps::WrapOrder::DataFirst, 0},
        {"GSS-API library, the header split over both buffers", split(gssWrap(4, 0), 4), 1, 12,
         ps::WrapOrder::DataFirst, 0},
        {"GSS-API library, checksum length not learnt", split(gssWrap(40, 0), 40), 1, 0, ps::WrapOrder::DataFirst, 0},
        // The cipher text in TOKEN starts like a framed token (one time in
        // 256), or like a whole framed or RFC 4121 header: its lengths
        // disagree.
        {"GSS-API library, TOKEN starts with 0x60", split(gssWrap(40, 0, {0x60}), 40), 1, 12,
         ps::WrapOrder::DataFirst, 0},
        {"GSS-API library, TOKEN starts with a framing", split(gssWrap(40, 0, oidStart), 40), 1, 12,
         ps::WrapOrder::DataFirst, 0},
        {"GSS-API library, TOKEN starts with an RFC 4121 header", split(gssWrap(40, 0, header(0x05, 0x06, 7)), 40), 1,
         12, ps::WrapOrder::DataFirst, 0},
        {"nothing like a token", {cipher(60), cipher(40)}, 1, 12, ps::WrapOrder::Unknown, 0},
        {"a MIC token", {header(0x04, 0x04, 0), cipher(40)}, 0, 12, ps::WrapOrder::Unknown, 0},
        {"no filler", {{0x05, 0x04, 0x06, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, cipher(40)}, 0, 0,
         ps::WrapOrder::Unknown, 0},
        {"one byte of text more than the header says", split(gssWrap(40, 0), 41), 0, 12, ps::WrapOrder::Unknown, 0},
        {"empty", {{}, {}}, 0, 12, ps::WrapOrder::Unknown, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ps::WrapLayout l = ps::wrapLayout(c.b.token.data(), c.b.token.size(), c.b.data.data(), c.b.data.size(),
                                                c.paddingLength, c.checksum);
        EXPECT_EQ(l.order, c.order);
        EXPECT_EQ(l.padding, c.padding);
    }
    EXPECT_EQ(ps::wrapLayout(nullptr, 60, nullptr, 40, 0, 12).order, ps::WrapOrder::Unknown);
}

TEST(GssSspi, ClearLengthOfAWrapToken) {
    struct Case {
        uint8_t flags;
        uint16_t ec;
        size_t checksum;
        size_t total;
        bool ok;
        size_t clear;
    };
    const Case cases[] = {
        // Sealed, aes256-cts-hmac-sha1-96 (12-byte checksum): header,
        // confounder, text, filler, header copy, checksum.
        {0x02, 0, 12, 16 + 16 + 44 + 16 + 12, true, 44},
        {0x06, 0, 12, 60, true, 0},                           // acceptor subkey flag, empty text
        {0x02, 3, 12, 16 + 16 + 10 + 3 + 16 + 12, true, 10},  // EC filler bytes
        {0x02, 0, 24, 16 + 16 + 8 + 16 + 24, true, 8},        // aes256-sha384: 24-byte checksum
        {0x02, 0, 12, 59, false, 0},                          // shorter than the overhead
        {0x02, 0, 0, 100, false, 0},                          // checksum length not learnt yet
        // Not sealed: the header, the text, EC checksum bytes.
        {0x00, 12, 0, 16 + 20 + 12, true, 20},
        {0x00, 12, 0, 27, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags " << int{c.flags} << " ec " << c.ec << " total " << c.total);
        std::vector<uint8_t> token = header(0x05, c.flags, c.ec);
        token.resize(c.total < 16 ? 16 : c.total, 0xAB);
        size_t clear = 999;
        EXPECT_EQ(ps::wrapClearLength(token.data(), c.total, c.checksum, clear), c.ok);
        if (c.ok) {
            EXPECT_EQ(clear, c.clear);
        }
    }
    std::vector<uint8_t> mic = header(0x04, 0x00, 0);
    size_t clear = 0;
    EXPECT_FALSE(ps::wrapClearLength(mic.data(), mic.size(), 12, clear));  // a MIC token is no wrap token
}

TEST(GssSspi, ChecksumLengthFromAMicToken) {
    std::vector<uint8_t> mic = {0x04, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1};
    mic.resize(28, 0x5A);
    EXPECT_EQ(ps::micChecksumLength(mic.data(), mic.size()), 12u);
    EXPECT_EQ(ps::micChecksumLength(mic.data(), 16), 0u);  // a header alone
    const std::vector<uint8_t> wrap = header(0x05, 0x02, 0);
    EXPECT_EQ(ps::micChecksumLength(wrap.data(), wrap.size()), 0u);
    EXPECT_EQ(ps::micChecksumLength(nullptr, 0), 0u);
}

}  // namespace
