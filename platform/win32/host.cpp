// SPDX-License-Identifier: MIT
#include "platform/host.h"

#include <winsock.h>

#include <cstring>

namespace qelrpc::platform {

bool localHostName(char* buf, std::size_t size) noexcept {
    if (buf == nullptr || size == 0) return false;
    if (gethostname(buf, static_cast<int>(size)) != 0) {
        buf[0] = '\0';
        return false;
    }
    buf[size - 1] = '\0';
    return true;
}

uint32_t resolveIPv4(const char* name) noexcept {
    if (name == nullptr || *name == '\0') return 0;
    const unsigned long a = inet_addr(name);
    if (a != INADDR_NONE) return static_cast<uint32_t>(a);
    // Windows Sockets 1.1 has no getaddrinfo; gethostbyname's result lives
    // in per-thread storage of the socket layer.
    const hostent* h = gethostbyname(name);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 || h->h_addr_list[0] == nullptr) return 0;
    uint32_t addr;
    std::memcpy(&addr, h->h_addr_list[0], 4);
    return addr;
}

}  // namespace qelrpc::platform
