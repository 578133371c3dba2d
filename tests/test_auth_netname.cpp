// SPDX-License-Identifier: MIT
// Secure RPC net names: building them for hosts and users, taking the host
// out of one, and the length limits (a name and its NUL fit 255 bytes;
// nothing is ever written past a field).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host.h"
#include "qelrpc.h"

namespace {

// An output area with a guard behind the 255 bytes a caller provides.
struct Out {
    char bytes[255 + 16];
    Out() { std::memset(bytes, '#', sizeof bytes); }
    bool guardIntact() const {
        for (size_t i = 255; i < sizeof bytes; ++i)
            if (bytes[i] != '#') return false;
        return true;
    }
};

TEST(HostNetName, Names) {
    struct Case {
        const char* what;
        const char* host;
        const char* domain;
        const char* want;
    } cases[] = {
        {"host cut at its first dot, trailing dot dropped", "pc1.corp", "corp.", "unix.pc1@corp"},
        {"plain", "pc1", "example.org", "unix.pc1@example.org"},
        {"only one trailing dot dropped", "pc1", "corp..", "unix.pc1@corp."},
        {"domain of one dot", "pc1", ".", "unix.pc1@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Out out;
        ASSERT_EQ(host2netname(out.bytes, c.host, c.domain), 1);
        EXPECT_STREQ(out.bytes, c.want);
        EXPECT_TRUE(out.guardIntact());
    }
}

TEST(HostNetName, ThisMachinesName) {
    char self[600] = {};
    ASSERT_TRUE(qelrpc::platform::localHostName(self, sizeof self));
    std::string host = self;
    host = host.substr(0, host.find('.'));
    Out out;
    ASSERT_EQ(host2netname(out.bytes, nullptr, "corp"), 1);
    EXPECT_EQ(std::string(out.bytes), "unix." + host + "@corp");
}

TEST(HostNetName, LengthLimitAndRefusals) {
    // Host and domain lengths (after the cut and the dropped dot) may add up
    // to 248: "unix." + host + "@" + domain + NUL = 255 bytes.
    const std::string host(100, 'h'), domain148(148, 'd'), domain149(149, 'd');
    Out out;
    ASSERT_EQ(host2netname(out.bytes, host.c_str(), (domain148 + ".").c_str()), 1);
    EXPECT_EQ(std::strlen(out.bytes), 254u);
    EXPECT_TRUE(out.guardIntact());
    ASSERT_EQ(host2netname(out.bytes, (host + ".sub").c_str(), domain148.c_str()), 1);

    Out refused;
    EXPECT_EQ(host2netname(refused.bytes, host.c_str(), domain149.c_str()), 0);
    EXPECT_STREQ(refused.bytes, "");
    EXPECT_TRUE(refused.guardIntact());
    const std::string huge(5000, 'x');  // looked at no further than 512 characters
    EXPECT_EQ(host2netname(refused.bytes, huge.c_str(), "corp"), 0);
    EXPECT_EQ(host2netname(refused.bytes, "pc1", huge.c_str()), 0);
    EXPECT_EQ(host2netname(refused.bytes, "pc1", ""), 0);
    EXPECT_TRUE(refused.guardIntact());

    Out untouched;
    EXPECT_EQ(host2netname(untouched.bytes, "pc1", nullptr), 0);
    EXPECT_EQ(untouched.bytes[0], '#');
    EXPECT_EQ(host2netname(nullptr, "pc1", "corp"), 0);
}

TEST(UserNetName, NamesAndLimits) {
    struct Case {
        const char* what;
        int uid;
        const char* domain;
        const char* want;
    } cases[] = {
        {"trailing dot dropped", 1001, "corp.", "unix.1001@corp"},
        {"empty domain", 1001, "", "unix.1001@"},
        {"negative uid", -2, "corp", "unix.-2@corp"},
        {"widest uid", INT32_MIN, "corp", "unix.-2147483648@corp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Out out;
        ASSERT_EQ(user2netname(out.bytes, c.uid, c.domain), 1);
        EXPECT_STREQ(out.bytes, c.want);
        EXPECT_TRUE(out.guardIntact());
    }
    const std::string d237(237, 'd'), d238(238, 'd');
    Out out;
    ASSERT_EQ(user2netname(out.bytes, INT32_MIN, d237.c_str()), 1);
    EXPECT_EQ(std::strlen(out.bytes), 254u);
    EXPECT_TRUE(out.guardIntact());
    Out untouched;
    EXPECT_EQ(user2netname(untouched.bytes, 1, d238.c_str()), 0);
    EXPECT_EQ(user2netname(untouched.bytes, 1, nullptr), 0);
    EXPECT_EQ(untouched.bytes[0], '#');
    EXPECT_EQ(user2netname(nullptr, 1, "corp"), 0);
}

TEST(NetNameToHost, HostTextCutOrPadded) {
    char host[257];
    std::memset(host, '#', sizeof host);
    ASSERT_EQ(netname2host("unix.pc1@corp", host, 255), 1);
    EXPECT_STREQ(host, "pc1");
    EXPECT_EQ(host[254], '\0');  // padded with NULs up to hostLen
    EXPECT_EQ(host[255], '\0');
    EXPECT_EQ(host[256], '#');

    std::memset(host, '#', sizeof host);
    ASSERT_EQ(netname2host("unix.pc1@corp", host, 2), 1);
    EXPECT_STREQ(host, "pc");
    EXPECT_EQ(host[3], '#');
    ASSERT_EQ(netname2host("x.a.b@c@d", host, 10), 1);  // first '.', the next '@'
    EXPECT_STREQ(host, "a.b");
    ASSERT_EQ(netname2host("unix.@corp", host, 0), 1);
    EXPECT_STREQ(host, "");
}

TEST(NetNameToHost, Refusals) {
    const std::string longest = "unix." + std::string(240, 'h') + "@" + std::string(9, 'd');  // 255
    const std::string tooLong = longest + "d";
    char host[300];
    ASSERT_EQ(netname2host(longest.c_str(), host, 255), 1);
    EXPECT_EQ(std::strlen(host), 240u);

    struct Case {
        const char* what;
        const char* name;
        int hostLen;
    } cases[] = {
        {"no dot", "unixpc1@corp", 10},
        {"no '@' after the first dot", "unix@pc1.corp", 10},
        {"hostLen above 255", "unix.pc1@corp", 256},
        {"negative hostLen", "unix.pc1@corp", -1},
        {"name over 255 characters", tooLong.c_str(), 10},
        {"null name", nullptr, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(host, '#', sizeof host);
        EXPECT_EQ(netname2host(c.name, host, c.hostLen), 0);
        EXPECT_EQ(host[0], '#');
    }
    EXPECT_EQ(netname2host("unix.pc1@corp", nullptr, 10), 0);
}

}  // namespace
