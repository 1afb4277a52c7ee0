// Instance numbers across real processes: copies of the application shell (the probe, and the demo program)
// started side by side in one login, with $XDG_RUNTIME_DIR pointing at a scratch directory.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/CInstanceLock.h"

extern char** environ;

namespace velmora::app {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kExitInstanceLimitStatus = 75;

// One started program, its standard output (with its standard error when asked) read line by line; killed and
// reaped when dropped.
class CProcess {
  public:
    CProcess(const std::string& path, const std::vector<std::string>& args, const std::string& runtimeDir,
             bool withErrors) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 &&
                std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) {
                env.emplace_back(*e);
            }
        }
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        env.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<std::string> argStrings{path};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argStrings) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (withErrors) {
            ::posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        }
        const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(out[0]);
            return;
        }
        fd_ = out[0];
    }
    ~CProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;

    bool started() const { return pid_ > 0; }

    // The next whole line of output, without its end; nothing when none came within `limit` or the output
    // ended.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || fd_ < 0) {
                return std::nullopt;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char chunk[512];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0) {
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Every line up to the end of the output.
    std::vector<std::string> readAll(std::chrono::milliseconds limit = 20s) {
        std::vector<std::string> lines;
        while (auto line = readLine(limit)) {
            lines.push_back(*line);
        }
        if (!buffer_.empty()) {
            lines.push_back(buffer_);
            buffer_.clear();
        }
        return lines;
    }

    // Reads the "instance <n>" line; 0 when none came.
    int instanceNumber() {
        const std::optional<std::string> line = readLine();
        if (!line || line->rfind("instance ", 0) != 0) {
            return 0;
        }
        return std::atoi(line->c_str() + 9);
    }

    void signal(int sig) {
        if (pid_ > 0) {
            ::kill(pid_, sig);
        }
    }
    // The exit status, or 128 + the signal that ended it; -1 when it does not end within `limit`.
    int wait(std::chrono::milliseconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
};

class InstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-instances-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime = pattern;
        ::chmod(runtime.c_str(), 0700);
    }
    void TearDown() override {
        copies.clear();
        std::error_code ignored;
        fs::remove_all(runtime, ignored);
    }

    // Probes report on standard output; Qt's own warnings go to the test's log.
    CProcess& start(const std::string& path = VELMORA_PROBE, const std::vector<std::string>& args = {},
                    bool withErrors = false) {
        copies.push_back(std::make_unique<CProcess>(path, args, runtime.string(), withErrors));
        EXPECT_TRUE(copies.back()->started()) << path;
        return *copies.back();
    }
    // Starts a probe and returns the number it was given.
    int startCopy() { return start().instanceNumber(); }

    fs::path runtime;
    std::vector<std::unique_ptr<CProcess>> copies;
};

TEST_F(InstanceTest, TheFirstCopyGetsOneAndTheSecondTwo) {
    EXPECT_EQ(startCopy(), 1);
    EXPECT_EQ(startCopy(), 2);
}

TEST_F(InstanceTest, EndingCopyOneWhileTwoRunsHandsOutOneAgainNotThree) {
    ASSERT_EQ(startCopy(), 1);
    ASSERT_EQ(startCopy(), 2);
    copies[0]->signal(SIGTERM);
    ASSERT_NE(copies[0]->wait(), -1);
    EXPECT_EQ(startCopy(), 1);
}

TEST_F(InstanceTest, AKilledCopysNumberIsFreeAgainAtOnce) {
    ASSERT_EQ(startCopy(), 1);
    ASSERT_EQ(startCopy(), 2);
    ASSERT_EQ(startCopy(), 3);
    copies[1]->signal(SIGKILL);
    ASSERT_EQ(copies[1]->wait(), 128 + SIGKILL);
    EXPECT_EQ(startCopy(), 2);
}

TEST_F(InstanceTest, WithTwentyRunningTheTwentyFirstIsRefusedWithTheMessageAndOpensNoDialog) {
    for (int n = 1; n <= 20; ++n) {
        ASSERT_EQ(startCopy(), n);
    }
    CProcess& refused = start();
    const std::vector<std::string> output = refused.readAll();
    const std::vector<std::string> expected = {
        "box\twarning\ttest_app_probe\tIt is forbidden to launch more than 20 instance of this "
        "application.\t1"};
    EXPECT_EQ(output, expected) << "the refusal box, and nothing else (no dialog)";
    EXPECT_EQ(refused.wait(), kExitInstanceLimitStatus);
}

TEST_F(InstanceTest, TheDemoProgramHoldsItsOwnNumberForItsWholeRunAndLeavesTheUpdatersAlone) {
    CProcess& demo = start(VELMORA_DEMO);
    // The demo prints nothing: wait until its number is visibly taken.
    const std::string title1 = "Kivo R3ex System v1.21 Updater demo";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    bool taken = false;
    for (int i = 0; i < 400 && !taken; ++i) {
        taken = !CInstanceLock(title1).held();
        if (!taken) {
            std::this_thread::sleep_for(25ms);
        }
    }
    ASSERT_TRUE(taken) << "the demo did not take its number 1";
    EXPECT_EQ(startCopy(), 1) << "a running demo made the updater another copy, which looks for other names";
    demo.signal(SIGKILL);
    ASSERT_EQ(demo.wait(), 128 + SIGKILL);
    EXPECT_TRUE(CInstanceLock(title1).held()) << "the demo's number stayed taken after it was killed";
}

TEST_F(InstanceTest, NoPlaceForTheLockIsReportedWithItsReasonNotAsTheInstanceLimit) {
    // A runtime directory others may write to, and a cache setting that names a file: no lock anywhere.
    ::chmod(runtime.c_str(), 0777);
    const fs::path file = runtime / "not-a-directory";
    std::ofstream(file) << "x";
    const char* savedCache = std::getenv("XDG_CACHE_HOME");
    const std::string restore = savedCache != nullptr ? savedCache : "";
    ::setenv("XDG_CACHE_HOME", file.c_str(), 1);
    CProcess& refused = start();
    const std::vector<std::string> output = refused.readAll();
    const int status = refused.wait();
    savedCache != nullptr ? ::setenv("XDG_CACHE_HOME", restore.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
    ::chmod(runtime.c_str(), 0700);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(
        output.front().rfind("box\tcritical\ttest_app_probe\tCannot start: no directory for the instance "
                             "lock: " +
                                 runtime.string() + ": other users may write to it; ",
                             0),
        0u)
        << output.front();
    EXPECT_NE(output.front().find(file.string() + "/velmora-updater: Not a directory"), std::string::npos)
        << output.front();
    EXPECT_EQ(status, 73) << "another status than the instance limit's 75";
}

TEST_F(InstanceTest, TheDemoRefusesABadScenarioBeforeTakingANumber) {
    CProcess& demo = start(VELMORA_DEMO, {"model=banana"}, true);
    const std::vector<std::string> output = demo.readAll();
    EXPECT_EQ(demo.wait(), 2);
    ASSERT_FALSE(output.empty());
    EXPECT_NE(output.front().find("\"model=banana\" is not valid"), std::string::npos) << output.front();
    EXPECT_EQ(startCopy(), 1);
}

}  // namespace
}  // namespace velmora::app
