// SPDX-License-Identifier: MIT
// Peers of the name-service dispatch and authorisation tests, beyond those
// of nfsuser_peers.h: the libtirpc daemons with only some of their programs
// left registered, a second server in a network namespace of its own
// (reached over a veth pair that exists only between the test's namespaces),
// a packet capture of everything the test's interfaces carry, and a test
// account database bound over /etc/passwd and /etc/group (the test runs in
// a private mount namespace).
#pragma once

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nfsuser_peers.h"

namespace dispatchpeers {

// Runs a command to its end (at most 10 seconds, then it is killed);
// true when it exits 0. Its output goes to the test's.
inline bool run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

// The daemons' ports from their "ready tcp=T udp=U" line.
struct Ports {
    uint16_t tcp = 0, udp = 0;
};

inline uint32_t addr(const char* dotted) { return inet_addr(dotted); }

// One server: a portmapper and the libtirpc daemons, registered with it,
// in the test's namespace (prefix empty) or in another one (prefix: the
// nsenter words that enter it).
class Server {
  public:
    explicit Server(std::vector<std::string> prefix = {}) : prefix_(std::move(prefix)) {}
    void enterWith(std::vector<std::string> prefix) { prefix_ = std::move(prefix); }

    // (Re)starts the daemons, then unregisters the programs not wanted.
    bool serve(bool pcnfsd, bool qelnfsd) {
        daemons_.stop();
        std::vector<std::string> args = prefix_;
        args.push_back(TIRPC_DAEMONS);
        args.push_back("both");
        if (!daemons_.start(args)) return false;
        std::string line;
        if (!daemons_.readLine(line, std::chrono::seconds(10)) || line.rfind("ready", 0) != 0) return false;
        std::sscanf(line.c_str(), "ready tcp=%hu udp=%hu", &ports_.tcp, &ports_.udp);
        if (!pcnfsd && !unset("150001", "2")) return false;
        if (!qelnfsd && !unset("788585389", "1")) return false;
        return true;
    }
    // Kills the daemons without letting them unregister: the portmapper
    // still names their ports, where nobody answers any more.
    // Returns once the daemons are dead (a zombie until stop() reaps them).
    void crash() {
        const pid_t pid = daemons_.pid();
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(stat);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const size_t close = text.rfind(')');
            if (close == std::string::npos || text.compare(close, 3, ") Z") == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    void stop() { daemons_.stop(); }
    Ports ports() const { return ports_; }

  private:
    bool unset(const char* prog, const char* vers) {
        std::vector<std::string> args = prefix_;
        for (const char* a : {"/usr/sbin/rpcinfo", "-d", prog, vers}) args.push_back(a);
        return run(args);
    }
    std::vector<std::string> prefix_;
    testproc::Child daemons_;
    Ports ports_;
};

// A second machine: a network namespace with its own loopback, /run and
// portmapper, joined to the test's namespace by a veth pair; the test's
// end is 10.213.0.1, the other 10.213.0.2. Both addresses exist only in
// namespaces this test created.
class AltNamespace {
  public:
    static constexpr const char* kAddress = "10.213.0.2";

    bool start() {
        if (!holder_.start({"/usr/bin/unshare", "--net", "--mount", "--propagation", "private", "/bin/sh",
                            ALT_SERVER_SCRIPT}))
            return false;
        const std::string pid = std::to_string(holder_.pid());
        // Only once unshare has made the namespace may the veth end move in;
        // before that, "netns PID" would name the test's own namespace.
        std::string line;
        if (!holder_.readLine(line, std::chrono::seconds(10)) || line != "namespace") return false;
        if (!run({"/usr/sbin/ip", "link", "add", "qelalt0", "type", "veth", "peer", "name", "qelalt1", "netns", pid}))
            return false;
        if (!run({"/usr/sbin/ip", "addr", "add", "10.213.0.1/30", "dev", "qelalt0"}) ||
            !run({"/usr/sbin/ip", "link", "set", "qelalt0", "up"}))
            return false;
        if (!holder_.readLine(line, std::chrono::seconds(10)) || line != "ready") return false;
        if (!portprobe::waitFor(111, std::chrono::seconds(10), addr(kAddress))) return false;
        server_.enterWith({"/usr/bin/nsenter", "-t", pid, "-n", "-m"});
        return true;
    }
    Server& server() { return server_; }

  private:
    testproc::Child holder_;  // the namespace's portmapper
    Server server_;
};


// Every frame on every interface of the test's namespace, both ways,
// collected while it is open.
class Capture {
  public:
    Capture() {
        fd_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK, htons(ETH_P_ALL));
    }
    ~Capture() {
        if (fd_ >= 0) ::close(fd_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Reads what has arrived (waiting up to 200 ms for stragglers).
    void drain() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        uint8_t buf[70000];
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            frames_.emplace_back(buf, buf + n);
        }
    }
    // Whether the bytes occur in any frame.
    bool contains(const std::string& text) const {
        const std::vector<uint8_t> bytes(text.begin(), text.end());
        for (const auto& f : frames_)
            if (std::search(f.begin(), f.end(), bytes.begin(), bytes.end()) != f.end()) return true;
        return false;
    }
    // Whether any IPv4 TCP or UDP frame went to this destination port.
    bool sawPort(uint16_t port) const {
        for (const auto& f : frames_) {
            if (f.size() < 14 + 20 + 4 || f[12] != 0x08 || f[13] != 0x00) continue;
            const size_t ihl = (f[14] & 0x0F) * 4u;
            const uint8_t proto = f[14 + 9];
            if ((proto != 6 && proto != 17) || f.size() < 14 + ihl + 4) continue;
            const uint16_t dst = static_cast<uint16_t>((f[14 + ihl + 2] << 8) | f[14 + ihl + 3]);
            if (dst == port) return true;
        }
        return false;
    }

  private:
    int fd_ = -1;
    std::vector<std::vector<uint8_t>> frames_;
};

// A test account database: the machine's own entries (so system programs
// started later still find theirs) plus the given lines, bound over
// /etc/passwd and /etc/group for the rest of the test program.
inline bool bindAccounts(const std::string& passwdLines, const std::string& groupLines) {
    char dir[] = "/tmp/qelnis-accounts-XXXXXX";
    if (mkdtemp(dir) == nullptr) return false;
    for (auto [file, extra] : {std::pair<const char*, const std::string*>{"passwd", &passwdLines},
                               std::pair<const char*, const std::string*>{"group", &groupLines}}) {
        const std::string system = std::string("/etc/") + file;
        std::ifstream in(system);
        std::stringstream content;
        content << in.rdbuf() << *extra;
        const std::string copy = std::string(dir) + "/" + file;
        std::ofstream(copy) << content.str();
        if (::mount(copy.c_str(), system.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    }
    return true;
}

}  // namespace dispatchpeers
