// Instance numbers across real processes: copies of the application shell (the probe, and the demo program)
// started side by side in one login, with $XDG_RUNTIME_DIR pointing at a scratch directory.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/CInstanceLock.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

namespace velmora::app {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kExitInstanceLimitStatus = 75;

using CProcess = velmora::testing::CChildProcess;

// Reads the "instance <n>" line; 0 when none came.
int instanceNumber(CProcess& process) {
    const std::optional<std::string> line = process.readLine();
    if (!line || line->rfind("instance ", 0) != 0) {
        return 0;
    }
    return std::atoi(line->c_str() + 9);
}

class InstanceTest : public ::testing::Test {
  protected:
    // Probes report on standard output; Qt's own warnings go to the test's log.
    CProcess& start(const std::string& path = VELMORA_PROBE, const std::vector<std::string>& args = {},
                    bool withErrors = false) {
        copies.push_back(std::make_unique<CProcess>(
            path, args,
            CProcess::Setup{{"XDG_RUNTIME_DIR=" + runtime.string(), "QT_QPA_PLATFORM=offscreen"},
                            withErrors ? CProcess::Errors::WithOutput : CProcess::Errors::Inherited}));
        EXPECT_TRUE(copies.back()->started()) << path;
        return *copies.back();
    }
    // Starts a probe and returns the number it was given.
    int startCopy() { return instanceNumber(start()); }

    velmora::testing::CScratchDir scratch{"velmora-instances"};
    const fs::path runtime = scratch.path();
    std::vector<std::unique_ptr<CProcess>> copies;  // ended before their directory goes
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
