// SPDX-License-Identifier: MIT
// Runs the command-line tool to its end for the tests: arguments, optional
// text on standard input, extra environment; captures standard output and
// standard error and the exit status. Every run is bounded (killed by its
// PID after the limit).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace clirun {

struct Run {
    int exitCode = -1;  // -1: did not exit normally (or was killed at the limit)
    std::string out, err;
};

inline Run run(const std::string& tool, const std::vector<std::string>& args, const std::string& input = {},
               const std::vector<std::string>& extraEnv = {},
               std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    Run r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return r;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    std::vector<std::string> words{tool};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return r;
    }
    // The input is small (a password line): it fits the pipe at once.
    [[maybe_unused]] const ssize_t written = input.empty() ? 0 : write(in[1], input.data(), input.size());
    close(in[1]);
    const auto end = std::chrono::steady_clock::now() + limit;
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < end) {
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(p, 2, 50) <= 0) continue;
        char buf[4096];
        for (int k = 0; k < 2; ++k) {
            if (!(p[k].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(p[k].fd, buf, sizeof buf);
            if (n <= 0) (k == 0 ? outOpen : errOpen) = false;
            else (k == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() < end + std::chrono::seconds(1)) {
        if (waitpid(pid, &status, WNOHANG) == pid) gone = true;
        else usleep(10000);
    }
    if (!gone) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return r;
    }
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    return r;
}

}  // namespace clirun
