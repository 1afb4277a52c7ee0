#pragma once
// A program a test starts: its standard output, and its standard error apart, with it or left to the test's
// log, read through pipes; its exit status or the signal that ended it. Killed and reaped when dropped.
// POSIX only.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::testing {

// How a child starts. Outside the class: a default argument cannot use a nested type's member initializers.
enum class ChildErrors { Apart, WithOutput, Inherited };
struct ChildSetup {
    std::vector<std::string> environment = {};  // "NAME=value", in place of what the test has as NAME
    ChildErrors errors = ChildErrors::Apart;
    int ignoredSignal = 0;  // starts with this one ignored, as under nohup
};

class CChildProcess {
  public:
    using Errors = ChildErrors;
    using Setup = ChildSetup;

    // The program starts as it would from a shell, whatever the test does with its own signals.
    CChildProcess(const std::string& path, const std::vector<std::string>& args, const Setup& setup = {}) {
        std::array<int, 2> out{-1, -1};
        std::array<int, 2> err{-1, -1};
        if (::pipe2(out.data(), O_CLOEXEC) != 0 ||
            (setup.errors == Errors::Apart && ::pipe2(err.data(), O_CLOEXEC) != 0)) {
            return;
        }
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (setup.errors != Errors::Inherited) {
            ::posix_spawn_file_actions_adddup2(&actions, setup.errors == Errors::Apart ? err[1] : out[1],
                                               STDERR_FILENO);
        }
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t stops;
        sigemptyset(&stops);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            sigaddset(&stops, s);
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction before {};
        if (setup.ignoredSignal != 0) {
            sigdelset(&stops, setup.ignoredSignal);  // ignored here, so ignored in the child
            ::sigaction(setup.ignoredSignal, &ignore, &before);
        }
        ::posix_spawnattr_setsigmask(&attributes, &none);
        ::posix_spawnattr_setsigdefault(&attributes, &stops);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::vector<std::string> argStrings{path};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<std::string> env = environment(setup.environment);
        const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, &attributes, pointers(argStrings).data(),
                                     pointers(env).data());
        if (setup.ignoredSignal != 0) {
            ::sigaction(setup.ignoredSignal, &before, nullptr);
        }
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        for (const int fd : {out[1], err[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        fds_ = {out[0], err[0]};
        if (rc != 0) {
            pid_ = -1;
            closeStream(0);
            closeStream(1);
        }
    }
    ~CChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeStream(0);
        closeStream(1);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Everything read so far but what readLine has taken.
    const std::string& out() const { return text_[0]; }
    const std::string& err() const { return text_[1]; }

    // Waits up to `limit` for output and keeps what came; false once every stream read has ended.
    bool pump(std::chrono::milliseconds limit) {
        if (fds_[0] < 0 && fds_[1] < 0) {
            return false;
        }
        std::array<pollfd, 2> p{
            {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}}};  // a negative fd is passed over
        if (::poll(p.data(), p.size(), static_cast<int>(limit.count())) > 0) {
            for (std::size_t i = 0; i < p.size(); ++i) {
                if (p[i].fd < 0 || p[i].revents == 0) {
                    continue;
                }
                char buffer[4096];
                const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    closeStream(i);
                } else {
                    text_[i].append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        return fds_[0] >= 0 || fds_[1] >= 0;
    }
    // Stops reading standard output, as a reader that goes away (`| head`).
    void closeOut() { closeStream(0); }

    // The next whole line of standard output, without its end; nothing when none came within `limit` or
    // the output ended.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto end = text_[0].find('\n'); end != std::string::npos) {
                std::string line = text_[0].substr(0, end);
                text_[0].erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || fds_[0] < 0) {
                return std::nullopt;
            }
            pump(left);
        }
    }
    // Every line of standard output up to its end.
    std::vector<std::string> readAll(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::vector<std::string> lines;
        while (auto line = readLine(limit)) {
            lines.push_back(*line);
        }
        if (!text_[0].empty()) {
            lines.push_back(text_[0]);
            text_[0].clear();
        }
        return lines;
    }

    void signal(int sig) {
        if (pid_ > 0) {
            ::kill(pid_, sig);
        }
    }
    // The status waitpid gives once the program has ended; nothing when it has not within `limit`.
    std::optional<int> waitStatus(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }
    // The exit status, or 128 + the signal that ended it; -1 when it does not end within `limit`.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const std::optional<int> status = waitStatus(limit);
        if (!status) {
            return -1;
        }
        return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
    }

  private:
    static std::vector<std::string> environment(const std::vector<std::string>& replaced) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool keep = true;
            for (const std::string& r : replaced) {
                keep = keep && entry.compare(0, r.find('=') + 1, r, 0, r.find('=') + 1) != 0;
            }
            if (keep) {
                env.push_back(entry);
            }
        }
        env.insert(env.end(), replaced.begin(), replaced.end());
        return env;
    }
    // A null-terminated argv or envp over `strings`, which must outlive it.
    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (std::string& s : strings) {
            p.push_back(s.data());
        }
        p.push_back(nullptr);
        return p;
    }
    void closeStream(std::size_t i) {
        if (fds_[i] >= 0) {
            ::close(fds_[i]);
            fds_[i] = -1;
        }
    }

    pid_t pid_ = -1;
    std::array<int, 2> fds_{-1, -1};  // standard output's pipe and standard error's, -1 once closed
    std::array<std::string, 2> text_;
};

}  // namespace velmora::testing
