// SPDX-License-Identifier: MIT
#include "platform/host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qelrpc::platform {

bool localHostName(char* buf, std::size_t size) noexcept {
    if (buf == nullptr || size == 0) return false;
    if (gethostname(buf, size) != 0) {
        buf[0] = '\0';
        return false;
    }
    buf[size - 1] = '\0';
    return true;
}

uint32_t resolveIPv4(const char* name) noexcept {
    if (name == nullptr || *name == '\0') return 0;
    in_addr a{};
    if (inet_pton(AF_INET, name, &a) == 1) return a.s_addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) return 0;
    uint32_t addr = 0;
    for (addrinfo* r = res; r != nullptr; r = r->ai_next) {
        if (r->ai_family == AF_INET && r->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin;
            std::memcpy(&sin, r->ai_addr, sizeof sin);
            addr = sin.sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(res);
    return addr;
}

}  // namespace qelrpc::platform
