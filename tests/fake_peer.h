// SPDX-License-Identifier: MIT
// Scripted peers on 127.0.0.1 for the client exchanges: they produce the
// faults real servers do not (silence, answers only to a later
// transmission, odd fragmentation, stalls, early closes). Each runs on a
// thread of its own, every wait is bounded, and the destructor stops and
// joins it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket_errors.h"
#include "platform/socket_options.h"
#include "platform/sockets.h"
#include "platform/thread.h"

namespace testpeer {

using Bytes = std::vector<uint8_t>;
using namespace qelrpc::platform;

inline void putWord(Bytes& b, uint32_t w) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(w >> shift));
}
inline uint32_t wordAt(const Bytes& b, size_t off) {
    return (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) | (uint32_t{b[off + 2]} << 8) | b[off + 3];
}
inline Bytes words(std::initializer_list<uint32_t> ws) {
    Bytes b;
    for (uint32_t w : ws) putWord(b, w);
    return b;
}
// An accepted SUCCESS reply for xid with `results` behind it.
inline Bytes successReply(uint32_t xid, const Bytes& results = {}) {
    Bytes b = words({xid, 1, 0, 0, 0, 0});
    b.insert(b.end(), results.begin(), results.end());
    return b;
}

constexpr auto kPeerLifetime = std::chrono::seconds(60);

// Answers datagrams: script(n, request) is called for the n-th datagram
// (1-based) and returns the datagrams to send back to its sender.
class UdpPeer {
  public:
    using Script = std::function<std::vector<Bytes>(int n, const Bytes& request)>;
    explicit UdpPeer(Script script, Endpoint at = Endpoint{}) : script_(std::move(script)) {
        if (at.addr == 0) at.addr = loopbackAddress();
        ok_ = openSocket(SocketType::Datagram, s_) == 0 && bindTo(s_.get(), at) == 0 &&
              localEndpoint(s_.get(), at_) == 0;
        if (ok_) t_ = JoiningThread([this] { run(); });
    }
    ~UdpPeer() {
        stop_ = true;
        t_.join();
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return at_.port; }
    int received() const { return received_.load(); }
    std::vector<Bytes> requests() {
        std::lock_guard l(m_);
        return requests_;
    }

  private:
    void run() {
        const auto end = std::chrono::steady_clock::now() + kPeerLifetime;
        std::vector<uint8_t> buf(70000);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            unsigned ready = 0;
            if (waitFor(s_.get(), kReadable, 10'000, ready) != 0 || ready == 0) continue;
            size_t got = 0;
            Endpoint from;
            if (receiveDatagram(s_.get(), buf.data(), buf.size(), got, &from) != 0) continue;
            Bytes req(buf.begin(), buf.begin() + static_cast<long>(got));
            {
                std::lock_guard l(m_);
                requests_.push_back(req);
            }
            const int n = ++received_;
            for (const Bytes& answer : script_(n, req)) {
                size_t sent = 0;
                sendDatagram(s_.get(), answer.data(), answer.size(), from, sent);
            }
        }
    }
    Script script_;
    Socket s_;
    Endpoint at_;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> received_{0};
    std::mutex m_;
    std::vector<Bytes> requests_;
    JoiningThread t_;
};

// A TCP connection as the script sees it.
class Conn {
  public:
    explicit Conn(NativeSocket s, const std::atomic<bool>& stop) : s_(s), stop_(stop) {}
    // Reads one record (all fragments, marks removed); false if the peer
    // closed or nothing came within the bound.
    bool readRecord(Bytes& out, Bytes* raw = nullptr) {
        out.clear();
        for (;;) {
            Bytes mark;
            if (!readExactly(4, mark)) return false;
            if (raw) raw->insert(raw->end(), mark.begin(), mark.end());
            const uint32_t m = wordAt(mark, 0);
            Bytes frag;
            if (!readExactly(m & 0x7FFFFFFF, frag)) return false;
            if (raw) raw->insert(raw->end(), frag.begin(), frag.end());
            out.insert(out.end(), frag.begin(), frag.end());
            if (m & 0x80000000u) return true;
        }
    }
    bool readExactly(size_t n, Bytes& out) {
        out.resize(n);
        size_t have = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (have < n && !stop_ && std::chrono::steady_clock::now() < end) {
            unsigned ready = 0;
            if (waitFor(s_, kReadable, 10'000, ready) != 0 || ready == 0) continue;
            size_t got = 0;
            if (receiveBytes(s_, out.data() + have, n - have, got) != 0 || got == 0) return false;
            have += got;
        }
        return have == n;
    }
    void send(const Bytes& b) {
        size_t done = 0;
        while (done < b.size()) {
            size_t sent = 0;
            if (sendBytes(s_, b.data() + done, b.size() - done, sent) != 0) return;
            done += sent;
        }
    }
    // One fragment with its mark.
    void sendFragment(const Bytes& b, bool last) {
        Bytes f;
        putWord(f, static_cast<uint32_t>(b.size()) | (last ? 0x80000000u : 0));
        f.insert(f.end(), b.begin(), b.end());
        send(f);
    }
    // Keeps the connection open, silent, until the client goes or the peer stops.
    void holdOpen(std::chrono::milliseconds most = std::chrono::milliseconds(30'000)) {
        const auto end = std::chrono::steady_clock::now() + most;
        char c;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            unsigned ready = 0;
            if (waitFor(s_, kReadable, 10'000, ready) != 0 || ready == 0) continue;
            size_t got = 0;
            if (receiveBytes(s_, &c, 1, got) != 0 || got == 0) return;
        }
    }

  private:
    NativeSocket s_;
    const std::atomic<bool>& stop_;
};

// Accepts connections one after the other and runs script(n, conn) on each
// (n 1-based); the connection closes when the script returns.
class TcpPeer {
  public:
    using Script = std::function<void(int n, Conn& conn)>;
    explicit TcpPeer(Script script, Endpoint at = Endpoint{}) : script_(std::move(script)) {
        if (at.addr == 0) at.addr = loopbackAddress();
        // Reusable at once: a fixed port (111) is bound case after case.
        ok_ = openSocket(SocketType::Stream, l_) == 0 && setReuseAddress(l_.get(), true) == 0 &&
              bindTo(l_.get(), at) == 0 && listenOn(l_.get(), 16) == 0 && localEndpoint(l_.get(), at_) == 0;
        if (ok_) t_ = JoiningThread([this] { run(); });
    }
    ~TcpPeer() {
        stop_ = true;
        t_.join();
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return at_.port; }
    int accepted() const { return accepted_.load(); }

  private:
    void run() {
        const auto end = std::chrono::steady_clock::now() + kPeerLifetime;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            unsigned ready = 0;
            if (waitFor(l_.get(), kReadable, 10'000, ready) != 0 || ready == 0) continue;
            Socket c;
            if (acceptFrom(l_.get(), c, nullptr) != 0) continue;
            Conn conn(c.get(), stop_);
            script_(++accepted_, conn);
        }
    }
    Script script_;
    Socket l_;
    Endpoint at_;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    JoiningThread t_;
};

// A listener whose accept queue is full: a connect to it stays pending (the
// system drops the SYNs), like a host that never answers.
class BlackHole {
  public:
    explicit BlackHole(Endpoint at = Endpoint{}) {
        if (at.addr == 0) at.addr = loopbackAddress();
        ok_ = openSocket(SocketType::Stream, l_) == 0 && setReuseAddress(l_.get(), true) == 0 &&
              bindTo(l_.get(), at) == 0 && listenOn(l_.get(), 0) == 0 && localEndpoint(l_.get(), at_) == 0;
        // Fill the queue until a connect no longer completes.
        for (int i = 0; ok_ && i < 16; ++i) {
            Socket c;
            if (openSocket(SocketType::Stream, c) != 0 || setNonBlocking(c.get(), true) != 0) break;
            connectTo(c.get(), at_);
            unsigned ready = 0;
            waitFor(c.get(), kWritable, 200'000, ready);
            fillers_.push_back(std::move(c));
            if (ready == 0) return;  // this one hangs: the queue is full
        }
        ok_ = false;
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return at_.port; }

  private:
    Socket l_;
    Endpoint at_;
    bool ok_ = false;
    std::vector<Socket> fillers_;
};

}  // namespace testpeer
