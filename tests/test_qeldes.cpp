// SPDX-License-Identifier: MIT
// The DES and Diffie-Hellman library: published DES known answers (the
// classic worked example, FIPS 81's ECB and CBC examples, entries of the
// NBS validation tables, weak key included), the des_crypt conventions of
// lengths, modes and results, and the Diffie-Hellman common key.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;
#endif

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qeldes.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& h) {
    Bytes b(h.size() / 2);
    EXPECT_EQ(hex2bin(static_cast<int>(b.size()), h.c_str(), reinterpret_cast<char*>(b.data())), 1) << h;
    return b;
}
char* c(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

constexpr const char* kSecureRpcModulus = "d4a0ba0250b6fd2ec626e7efd637df76c716e22d0944b88b";

TEST(QeldesEcb, PublishedKnownAnswers) {
    struct Case {
        const char* what;
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"classic worked example", "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"FIPS 81 ECB example", "0123456789abcdef", "4e6f77206973207468652074696d6520666f7220616c6c20",
         "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
        // NBS tables: variable plaintext under the weak key 0101010101010101,
        {"weak key, plaintext bit 1", "0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
        {"weak key, plaintext bit 2", "0101010101010101", "DD7F121CA5015619", "4000000000000000"},
        // and variable key with a zero plaintext.
        {"key bit 1", "8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
        {"key bit 2", "4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Bytes key = hex(k.key), data = hex(k.plain);
        const Bytes want = hex(k.cipher);
        ASSERT_FALSE(DES_FAILED(ecb_crypt(c(key), c(data), static_cast<unsigned>(data.size()), DES_ENCRYPT)));
        EXPECT_EQ(data, want);
        ASSERT_FALSE(DES_FAILED(ecb_crypt(c(key), c(data), static_cast<unsigned>(data.size()), DES_DECRYPT)));
        EXPECT_EQ(data, hex(k.plain));
    }
}

TEST(QeldesCbc, Fips81ExampleAndTheChainingVector) {
    Bytes key = hex("0123456789abcdef");
    const Bytes plain = hex("4e6f77206973207468652074696d6520666f7220616c6c20");
    const Bytes want = hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");

    Bytes data = plain, iv = hex("1234567890abcdef");
    ASSERT_FALSE(DES_FAILED(cbc_crypt(c(key), c(data), 24, DES_ENCRYPT, c(iv))));
    EXPECT_EQ(data, want);
    // The vector is left on the last ciphertext block.
    EXPECT_EQ(iv, Bytes(want.end() - 8, want.end()));

    // So two calls continue one chain, encrypting and decrypting.
    Bytes split = plain;
    iv = hex("1234567890abcdef");
    ASSERT_FALSE(DES_FAILED(cbc_crypt(c(key), c(split), 8, DES_ENCRYPT, c(iv))));
    ASSERT_FALSE(DES_FAILED(cbc_crypt(c(key), c(split) + 8, 16, DES_ENCRYPT, c(iv))));
    EXPECT_EQ(split, want);
    iv = hex("1234567890abcdef");
    ASSERT_FALSE(DES_FAILED(cbc_crypt(c(key), c(split), 16, DES_DECRYPT, c(iv))));
    EXPECT_EQ(iv, Bytes(want.begin() + 8, want.begin() + 16));
    ASSERT_FALSE(DES_FAILED(cbc_crypt(c(key), c(split) + 16, 8, DES_DECRYPT, c(iv))));
    EXPECT_EQ(split, plain);
}

TEST(QeldesCrypt, WeakAndSemiWeakKeysAreUsed) {
    // Encrypting twice under a weak key gives the plaintext back; a
    // semi-weak pair undoes each other.
    Bytes weak = hex("FEFEFEFEFEFEFEFE"), data = hex("0123456789ABCDEF");
    ASSERT_FALSE(DES_FAILED(ecb_crypt(c(weak), c(data), 8, DES_ENCRYPT)));
    EXPECT_NE(data, hex("0123456789ABCDEF"));
    ASSERT_FALSE(DES_FAILED(ecb_crypt(c(weak), c(data), 8, DES_ENCRYPT)));
    EXPECT_EQ(data, hex("0123456789ABCDEF"));

    Bytes k1 = hex("01FE01FE01FE01FE"), k2 = hex("FE01FE01FE01FE01");
    ASSERT_FALSE(DES_FAILED(ecb_crypt(c(k1), c(data), 8, DES_ENCRYPT)));
    ASSERT_FALSE(DES_FAILED(ecb_crypt(c(k2), c(data), 8, DES_ENCRYPT)));
    EXPECT_EQ(data, hex("0123456789ABCDEF"));
}

TEST(QeldesCrypt, ResultsLengthsAndModes) {
    Bytes key = hex("133457799BBCDFF1"), iv(8), data(DES_MAXDATA + 8);
    // Hardware was asked for (the default) and software did it: 1; software asked for: 0.
    EXPECT_EQ(ecb_crypt(c(key), c(data), 8, DES_ENCRYPT), DESERR_NOHWDEVICE);
    EXPECT_EQ(ecb_crypt(c(key), c(data), 8, DES_ENCRYPT | DES_SW), DESERR_NONE);
    EXPECT_EQ(cbc_crypt(c(key), c(data), 16, DES_DECRYPT | DES_SW, c(iv)), DESERR_NONE);
    EXPECT_EQ(ecb_crypt(c(key), c(data), 0, DES_ENCRYPT), DESERR_NOHWDEVICE);
    EXPECT_EQ(ecb_crypt(c(key), c(data), DES_MAXDATA, DES_ENCRYPT), DESERR_NOHWDEVICE);

    const Bytes before = data, ivBefore = iv;
    struct Case {
        const char* what;
        int result;
    } refused[] = {
        {"length not a multiple of 8", ecb_crypt(c(key), c(data), 12, DES_ENCRYPT)},
        {"length above the largest", ecb_crypt(c(key), c(data), DES_MAXDATA + 8, DES_ENCRYPT)},
        {"unknown mode bit", ecb_crypt(c(key), c(data), 8, 4)},
        {"null key", ecb_crypt(nullptr, c(data), 8, DES_ENCRYPT)},
        {"null data", ecb_crypt(c(key), nullptr, 8, DES_ENCRYPT)},
        {"CBC without a vector", cbc_crypt(c(key), c(data), 8, DES_ENCRYPT, nullptr)},
        {"CBC odd length", cbc_crypt(c(key), c(data), 9, DES_ENCRYPT, c(iv))},
    };
    for (const Case& r : refused) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.result, DESERR_BADPARAM);
        EXPECT_TRUE(DES_FAILED(r.result));
    }
    EXPECT_EQ(data, before);
    EXPECT_EQ(iv, ivBefore);
}

// Secure RPC key servers and clients set parity with the classic routine:
// each byte goes through a 128-entry table indexed by its low 7 bits, so the
// top bit is dropped and odd parity lands in the low bit. A peer's
// conversation and common keys are those bytes, so ours must be too.
TEST(QeldesParity, TheClassicTableDropsTheTopBitAndSetsOddParity) {
    Bytes key = hex("0001FEFF02031012");
    des_setparity(c(key));
    EXPECT_EQ(key, hex("01017F7F02021013"));
    for (int v = 0; v < 256; ++v) {
        Bytes k(8, static_cast<uint8_t>(v));
        des_setparity(c(k));
        int ones = 0;
        for (int b = k[0]; b != 0; b >>= 1) ones += b & 1;
        EXPECT_EQ(ones % 2, 1) << v;
        EXPECT_EQ(k[0] & 0xFE, v & 0x7E) << v;
        EXPECT_EQ(k, Bytes(8, k[0])) << v;
    }
}

#ifndef _WIN32
using SetParity = void (*)(char*);

// The classic routine as the C library (or libtirpc, where it exports one)
// carries it. glibc keeps it as a compatibility symbol only, reachable by
// its version, which differs between architectures.
SetParity classicSetParity() {
    if (void* tirpc = dlopen("libtirpc.so.3", RTLD_NOW | RTLD_LOCAL)) {
        if (void* f = dlsym(tirpc, "des_setparity")) return reinterpret_cast<SetParity>(f);
    }
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_LOCAL);
    if (libc == nullptr) return nullptr;
    for (const char* version : {"GLIBC_2.2.5", "GLIBC_2.0", "GLIBC_2.1", "GLIBC_2.17", "GLIBC_2.27", "GLIBC_2.4"}) {
        if (void* f = dlvsym(libc, "des_setparity", version)) return reinterpret_cast<SetParity>(f);
    }
    return nullptr;
}

TEST(QeldesParity, ByteForByteTheClassicRoutine) {
    const SetParity classic = classicSetParity();
    ASSERT_NE(classic, nullptr) << "neither libtirpc nor the C library carries des_setparity";
    ASSERT_NE(reinterpret_cast<void*>(classic), reinterpret_cast<void*>(&des_setparity));
    // Every byte value in every position,
    for (int v = 0; v < 256; ++v) {
        for (int at = 0; at < 8; ++at) {
            Bytes ours(8, 0x5A), theirs;
            ours[static_cast<size_t>(at)] = static_cast<uint8_t>(v);
            theirs = ours;
            des_setparity(c(ours));
            classic(c(theirs));
            ASSERT_EQ(ours, theirs) << "byte " << v << " at " << at;
        }
    }
    // then many keys from a fixed sequence (xorshift64).
    uint64_t x = 0x9E3779B97F4A7C15u;
    for (int n = 0; n < 200000; ++n) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        Bytes ours(8), theirs;
        std::memcpy(ours.data(), &x, 8);
        theirs = ours;
        des_setparity(c(ours));
        classic(c(theirs));
        ASSERT_EQ(ours, theirs) << "key " << std::hex << x;
    }
}
#endif

#ifdef QELDES_BINDING_PROBE
// The C library still carries des_setparity, ecb_crypt and cbc_crypt, and
// comes before the library's own dependencies in an ordinary program's
// lookup order: a name bound by name alone would go to it. Every DES and
// Diffie-Hellman routine the library imports must bind to libqeldes, as the
// dynamic linker reports for a plain C program linked to the shared library.
TEST(QeldesBinding, TheLibraryCallsItsSiblingWhateverComesFirst) {
    char dir[] = "/tmp/qeldes-bindings-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string prefix = std::string(dir) + "/ld";
    const std::string outFile = std::string(dir) + "/out";
    std::vector<std::string> env = {"LD_DEBUG=bindings", "LD_BIND_NOW=1", "LD_DEBUG_OUTPUT=" + prefix};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "LD_DEBUG", 8) != 0 && std::strncmp(*e, "LD_BIND_NOW=", 12) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char probe[] = QELDES_BINDING_PROBE;
    char* argv[] = {probe, nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, probe, &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ASSERT_EQ(spawned, 0) << probe;
    int status = -1;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the probe did not end within 10 seconds";
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;

    // The lookup order the probe saw: the C library before libqeldes.
    std::ifstream out(outFile);
    std::string line;
    int libcAt = -1, qeldesAt = -1, at = 0;
    while (std::getline(out, line)) {
        if (line.find("/libc.so") != std::string::npos) libcAt = at;
        if (line.find("/libqeldes.") != std::string::npos) qeldesAt = at;
        ++at;
    }
    ASSERT_GE(libcAt, 0);
    ASSERT_GE(qeldesAt, 0);
    EXPECT_LT(libcAt, qeldesAt) << "the probe does not have the C library first";

    // "binding file .../libqelrpc.so.0 [0] to .../libqeldes.so [0]: normal symbol `ecb_crypt' [QELDES_1]"
    std::ifstream log(prefix + "." + std::to_string(pid));
    ASSERT_TRUE(log.good()) << "no LD_DEBUG output";
    std::map<std::string, std::string> boundTo;
    while (std::getline(log, line)) {
        const size_t from = line.find("binding file ");
        const size_t to = line.find(" to ");
        const size_t sym = line.find("symbol `");
        if (from == std::string::npos || to == std::string::npos || sym == std::string::npos) continue;
        if (line.find("libqelrpc.so", from) > to) continue;
        const size_t end = line.find('\'', sym + 8);
        const std::string name = line.substr(sym + 8, end - sym - 8);
        boundTo[name] = line.substr(to + 4, line.find(':', to) - to - 4);
    }
    for (const char* name : {"dh", "hex2bin", "des_setparity", "ecb_crypt", "cbc_crypt"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(boundTo.count(name), 1u) << "the library does not import it";
        EXPECT_NE(boundTo[name].find("libqeldes."), std::string::npos) << "bound to " << boundTo[name];
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
#endif

TEST(QeldesHex, DigitsToBytes) {
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(hex2bin(3, "0aFf10", out), 1);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x0a, 0xff, 0x10, 'x'}));
    // Only the first 2n digits count.
    EXPECT_EQ(hex2bin(1, "7fzz", out), 1);
    EXPECT_EQ(static_cast<uint8_t>(out[0]), 0x7f);

    std::memcpy(out, "abcd", 4);
    EXPECT_EQ(hex2bin(2, "12g4", out), 0);
    EXPECT_EQ(hex2bin(2, "12", out), 0);  // the NUL is not a digit: never read past it
    EXPECT_EQ(hex2bin(-1, "12", out), 0);
    EXPECT_EQ(hex2bin(1, nullptr, out), 0);
    EXPECT_EQ(std::memcmp(out, "abcd", 4), 0);
}

TEST(QeldesDh, CommonKeyOfSmallNumbersAndPadding) {
    char out[DH_MAXTEXT + 1];
    ASSERT_EQ(dh("6", "5", "17", out), 1);  // 5^6 mod 23 = 8
    EXPECT_STREQ(out, "08");
    ASSERT_EQ(dh("1", "3", kSecureRpcModulus, out), 1);
    EXPECT_EQ(std::string(out), std::string(46, '0') + "03");
    ASSERT_EQ(dh("0", "ABC", kSecureRpcModulus, out), 1);  // anything^0 = 1
    EXPECT_EQ(std::string(out), std::string(47, '0') + "1");
    // 256^2 mod 65537 = 65536: the 17-bit modulus gives 3 bytes of digits.
    ASSERT_EQ(dh("2", "100", "10001", out), 1);
    EXPECT_STREQ(out, "010000");
}

TEST(QeldesDh, BothSidesReachTheSameCommonKey) {
    // Secure RPC keys: secret x, public 3^x mod the modulus.
    const char* clientSecret = "3a5f0c21b9e8d7c6a5b4c3d2e1f00112233445566778899a";
    const char* serverSecret = "0badc0ffee0ddf00d1234567890abcdef1234567890abcd";
    char clientPublic[DH_MAXTEXT + 1], serverPublic[DH_MAXTEXT + 1];
    ASSERT_EQ(dh(clientSecret, "3", kSecureRpcModulus, clientPublic), 1);
    ASSERT_EQ(dh(serverSecret, "3", kSecureRpcModulus, serverPublic), 1);
    char atClient[DH_MAXTEXT + 1], atServer[DH_MAXTEXT + 1];
    ASSERT_EQ(dh(clientSecret, serverPublic, kSecureRpcModulus, atClient), 1);
    ASSERT_EQ(dh(serverSecret, clientPublic, kSecureRpcModulus, atServer), 1);
    EXPECT_STREQ(atClient, atServer);
    EXPECT_EQ(std::strlen(atClient), 48u);
    EXPECT_STRNE(atClient, clientPublic);
    // Upper-case digits are the same number.
    std::string upper = serverPublic;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char again[DH_MAXTEXT + 1];
    ASSERT_EQ(dh(clientSecret, upper.c_str(), kSecureRpcModulus, again), 1);
    EXPECT_STREQ(again, atClient);
}

TEST(QeldesDh, RefusedTextsLeaveTheEmptyText) {
    const std::string longest(DH_MAXTEXT, '7'), tooLong(DH_MAXTEXT + 1, '7');
    struct Case {
        const char* what;
        const char* secret;
        const char* pub;
        const char* modulus;
    } cases[] = {
        {"not a digit", "12g4", "3", kSecureRpcModulus},
        {"sign", "-5", "3", kSecureRpcModulus},
        {"empty key", "", "3", kSecureRpcModulus},
        {"null key", nullptr, "3", kSecureRpcModulus},
        {"null modulus", "5", "3", nullptr},
        {"zero modulus", "5", "3", "000"},
        {"key over 255 digits", tooLong.c_str(), "3", kSecureRpcModulus},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        char out[DH_MAXTEXT + 1] = "untouched";
        EXPECT_EQ(dh(k.secret, k.pub, k.modulus, out), 0);
        EXPECT_STREQ(out, "");
    }
    char out[DH_MAXTEXT + 1];
    EXPECT_EQ(dh(longest.c_str(), "3", kSecureRpcModulus, out), 1);
    EXPECT_EQ(dh("5", "3", kSecureRpcModulus, nullptr), 0);
}

}  // namespace
