// SPDX-License-Identifier: MIT
// Helper processes for the tests (real servers: rpcbind, the libtirpc
// peers): started with their output on a pipe, stopped by their PID, every
// wait bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testproc {

class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    // Starts argv[0] with stdout on a pipe; false if it cannot start.
    bool start(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            pid_ = -1;
            return false;
        }
        out_ = fds[0];
        return true;
    }

    // One line of the child's output, waiting at most `most`.
    bool readLine(std::string& line, std::chrono::milliseconds most) {
        line.clear();
        const auto end = std::chrono::steady_clock::now() + most;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(out_, &c, 1) != 1) return false;
            if (c == '\n') return true;
            line.push_back(c);
        }
        return false;
    }

    bool running() {
        if (pid_ <= 0) return false;
        int status;
        return waitpid(pid_, &status, WNOHANG) == 0;
    }

    // SIGTERM, then SIGKILL after 3 seconds; always reaps the child.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            bool gone = false;
            for (int i = 0; i < 300 && !gone; ++i) {
                if (waitpid(pid_, &status, WNOHANG) == pid_) gone = true;
                else std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (!gone) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
            pid_ = -1;
        }
        if (out_ >= 0) close(out_);
        out_ = -1;
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Starts tshark capturing on loopback with `filter` into `pcap` and waits
// (bounded, 30 s) until it says it captures: tshark tells that on stderr,
// which sh puts on the pipe. False, with tshark's last line in `line`, if
// it never does.
inline bool startLoopbackCapture(Child& capture, const char* tshark, const std::string& filter,
                                 const std::string& pcap, std::string& line) {
    if (!capture.start({"/bin/sh", "-c",
                        std::string("exec ") + tshark + " -i lo -f '" + filter + "' -w " + pcap + " 2>&1"}))
        return false;
    for (int i = 0; i < 100; ++i)
        if (capture.readLine(line, std::chrono::milliseconds(300)) && line.find("Capture started") != std::string::npos)
            return true;
    return false;
}

}  // namespace testproc
