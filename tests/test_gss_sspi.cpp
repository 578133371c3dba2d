// SPDX-License-Identifier: MIT
// Back end 1's logic that needs no system: the service principal name a
// host-based name becomes, the GSS major status each SECURITY_STATUS
// stands for, and the facts about RFC 4121 tokens that the security
// interface's buffers are laid out by (where a wrap token starts, how much
// clear text a sealed token holds).
#include <gtest/gtest.h>

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

TEST(GssSspi, TheWrapTokenStartsInTheBufferThatLooksLikeOne) {
    const std::vector<uint8_t> head = header(0x05, 0x06, 0);
    const std::vector<uint8_t> random = {0x9c, 0x11, 0x3e, 0xa0, 0x55};
    const std::vector<uint8_t> rfc1964 = {0x60, 0x2b, 0x06, 0x09};
    const std::vector<uint8_t> micHead = {0x04, 0x04, 0x00, 0xFF};
    const std::vector<uint8_t> noFiller = {0x05, 0x04, 0x06, 0x00};
    EXPECT_EQ(ps::wrapOrder(head.data(), head.size(), random.data(), random.size()), ps::WrapOrder::TokenFirst);
    EXPECT_EQ(ps::wrapOrder(rfc1964.data(), rfc1964.size(), random.data(), random.size()), ps::WrapOrder::TokenFirst);
    EXPECT_EQ(ps::wrapOrder(random.data(), random.size(), head.data(), head.size()), ps::WrapOrder::DataFirst);
    // Four bytes of data are enough to tell (RPCSEC_GSS seals at least the
    // sequence number); three are not.
    EXPECT_EQ(ps::wrapOrder(random.data(), random.size(), head.data(), 4), ps::WrapOrder::DataFirst);
    EXPECT_EQ(ps::wrapOrder(random.data(), random.size(), head.data(), 3), ps::WrapOrder::Unknown);
    EXPECT_EQ(ps::wrapOrder(random.data(), random.size(), noFiller.data(), noFiller.size()), ps::WrapOrder::Unknown);
    EXPECT_EQ(ps::wrapOrder(nullptr, 0, nullptr, 0), ps::WrapOrder::Unknown);
    EXPECT_TRUE(ps::startsLikeToken(micHead.data(), micHead.size()));
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
