// SPDX-License-Identifier: MIT
// Secure RPC net names (RFC 1057 section 9.3): the operating system, a '.',
// a host name or a numeric user id, an '@' and the naming domain, as in
// "unix.pc1@corp" or "unix.1001@corp". A name and its NUL fit 255 bytes.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/host.h"
#include "qelrpc.h"

namespace {

constexpr const char* kPrefix = "unix";
constexpr std::size_t kNetNameSize = 255;     // the largest name with its NUL
constexpr std::size_t kHostTextMax = 512;     // characters of host and domain looked at
constexpr std::size_t kUserDomainMax = 255;   // characters of the domain looked at
// "unix", '.', the widest decimal int (11), '@' and the NUL.
constexpr std::size_t kUserNameOverhead = 18;
// "unix", '.', '@' and the NUL.
constexpr std::size_t kHostNameOverhead = 7;

// Lays the parts end to end with a NUL; the caller has checked that they
// fit `size` bytes.
void join(char* out, std::initializer_list<const char*> parts) {
    for (const char* part : parts) {
        const std::size_t n = std::strlen(part);
        std::memcpy(out, part, n);
        out += n;
    }
    *out = '\0';
}

}  // namespace

extern "C" {

int host2netname(char* out, const char* host, const char* domain) {
    if (out == nullptr || domain == nullptr) return 0;
    out[0] = '\0';

    char hostText[kHostTextMax + 1] = {};
    if (host != nullptr) {
        std::memcpy(hostText, host, strnlen(host, kHostTextMax));
    } else if (!qelrpc::platform::localHostName(hostText, sizeof hostText)) {
        return 0;
    }
    char domainText[kHostTextMax + 1] = {};
    std::size_t domainLength = strnlen(domain, kHostTextMax);
    std::memcpy(domainText, domain, domainLength);
    if (domainLength == 0) return 0;
    if (domainText[domainLength - 1] == '.') domainText[--domainLength] = '\0';

    if (char* dot = std::strchr(hostText, '.')) *dot = '\0';
    const std::size_t hostLength = std::strlen(hostText);
    if (hostLength + domainLength + kHostNameOverhead > kNetNameSize) return 0;
    join(out, {kPrefix, ".", hostText, "@", domainText});
    return 1;
}

int user2netname(char* out, int uid, const char* domain) {
    if (out == nullptr || domain == nullptr) return 0;
    const std::size_t domainLength = strnlen(domain, kUserDomainMax);
    if (domainLength + kUserNameOverhead > kNetNameSize) return 0;
    char domainText[kUserDomainMax + 1] = {};
    std::memcpy(domainText, domain, domainLength);
    char number[16] = {};
    std::snprintf(number, sizeof number, "%d", uid);
    char name[kNetNameSize] = {};
    join(name, {kPrefix, ".", number, "@", domainText});
    std::size_t n = std::strlen(name);
    if (n > 0 && name[n - 1] == '.') name[--n] = '\0';
    std::memcpy(out, name, n + 1);
    return 1;
}

int netname2host(const char* netName, char* host, int hostLen) {
    if (netName == nullptr || host == nullptr) return 0;
    // A longer name would not fit the working copy: refused, not cut.
    const std::size_t nameLength = strnlen(netName, kNetNameSize + 1);
    if (nameLength > kNetNameSize) return 0;
    char name[kNetNameSize + 1] = {};
    std::memcpy(name, netName, nameLength);

    const char* dot = std::strchr(name, '.');
    if (dot == nullptr) return 0;
    const char* at = std::strchr(dot + 1, '@');
    if (at == nullptr) return 0;
    if (hostLen < 0 || hostLen > static_cast<int>(kNetNameSize)) return 0;

    const std::size_t want = static_cast<std::size_t>(hostLen);
    const std::size_t have = static_cast<std::size_t>(at - (dot + 1));
    const std::size_t copy = have < want ? have : want;
    std::memcpy(host, dot + 1, copy);
    std::memset(host + copy, 0, want - copy);
    host[want] = '\0';
    return 1;
}

}  // extern "C"
