// The per-login instance lock on Linux: where its files go, who can hold a name, and that nothing another
// user plants and nothing this process leaves behind or hands to its children can take a number away.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/CInstanceLock.h"
#include "app/InstanceNumber.h"
#include "app/StartDecision.h"
#include "support/DescribedRow.h"
#include "support/ScratchDir.h"
#include "update/Texts.h"

extern char** environ;

namespace velmora::app {
namespace {

using velmora::testing::PrintTo;
namespace fs = std::filesystem;

const std::string kTitle1 = "Kivo R3ex System v1.21 Updater";
const std::string kTitle2 = "Kivo R3ex System v1.21 Updater (2)";

// A scratch home: a runtime directory, a cache directory and a home, with the environment pointing at them
// for the test's length.
class LockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const fs::path& dir : {runtime, cache, home}) {
            fs::create_directory(dir);
            ::chmod(dir.c_str(), 0700);
        }
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        ::setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

  public:
    velmora::testing::CScratchDir scratch{"velmora-lock-test"};
    const fs::path root = scratch.path();
    const fs::path runtime = root / "runtime", cache = root / "cache", home = root / "home";
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// The start every dialog program decides the same way: the lowest free number, a warning at 21 copies, an
// error where no lock can be made at all, each with its own exit status.
TEST_F(LockTest, TheStartTakesTheLowestFreeNumberAndIsRefusedAtTwentyOneCopiesOrWithoutAnyLock) {
    std::vector<std::unique_ptr<CInstanceLock>> held(texts::kMaxInstances);
    for (std::size_t i = 0; i < held.size(); ++i) {
        ASSERT_EQ(decideStart(held[i], "").instanceNumber, static_cast<int>(i) + 1);
    }
    std::unique_ptr<CInstanceLock> mine;
    const StartDecision limit = decideStart(mine, "");
    EXPECT_EQ(limit.instanceNumber, 0);
    EXPECT_EQ(limit.box, StartDecision::Box::Warning);
    EXPECT_EQ(limit.message, texts::instanceLimit(texts::kMaxInstances));
    EXPECT_EQ(limit.exitStatus, kExitInstanceLimit);
    EXPECT_EQ(decideStart(mine, " demo").instanceNumber, 1) << "another program's copies are counted apart";

    held.clear();
    mine.reset();
    ::chmod(runtime.c_str(), 0777);  // others may write there: not a place for a lock
    const fs::path file = runtime / "not-a-directory";
    std::ofstream(file) << "x";
    ::setenv("XDG_CACHE_HOME", file.c_str(), 1);
    const StartDecision none = decideStart(mine, "");
    ::chmod(runtime.c_str(), 0700);
    EXPECT_EQ(none.instanceNumber, 0);
    EXPECT_EQ(none.box, StartDecision::Box::Error);
    EXPECT_EQ(none.message.rfind("Cannot start: no directory for the instance lock", 0), 0u) << none.message;
    EXPECT_EQ(none.exitStatus, kExitNoInstanceLock);
}

TEST_F(LockTest, ANameHeldHereIsRefusedToASecondHolderAndFreeAgainOnceReleased) {
    auto first = std::make_unique<CInstanceLock>(kTitle1);
    ASSERT_TRUE(first->held());
    EXPECT_FALSE(CInstanceLock(kTitle1).held()) << "two holders of one instance number";
    EXPECT_EQ(CInstanceLock(kTitle1).failure(), "") << "a number in use taken for a lock that cannot be made";
    first.reset();
    EXPECT_TRUE(CInstanceLock(kTitle1).held()) << "a released number stayed taken";
}

TEST_F(LockTest, DifferentNamesDoNotBlockEachOther) {
    CInstanceLock one(kTitle1);
    CInstanceLock two(kTitle2);
    EXPECT_TRUE(one.held());
    EXPECT_TRUE(two.held());
}

TEST_F(LockTest, TheLockFileIsNamedAfterTheTitleMadeSafeAndLivesInThePrivateRuntimeDirectory) {
    EXPECT_EQ(lockFileName(kTitle2), "Kivo_R3ex_System_v1.21_Updater_(2).lock");
    EXPECT_EQ(lockFileName("../up/out"), ".._up_out.lock") << "a name must not reach another directory";
    CInstanceLock lock(kTitle2);
    ASSERT_TRUE(lock.held());
    EXPECT_EQ(instanceLockDirectory(), runtime.string());
    EXPECT_TRUE(fs::is_regular_file(runtime / lockFileName(kTitle2)));
}

TEST_F(LockTest, AFileLeftByAnEndedCopyDoesNotKeepItsNumberTaken) {
    { std::ofstream left(runtime / lockFileName(kTitle1)); }
    EXPECT_TRUE(CInstanceLock(kTitle1).held());
}

struct DirectoryRow {
    const char* what;
    std::function<void(LockTest&)> arrange;
    std::function<fs::path(LockTest&)> expected;  // empty path: no directory at all
};

class LockDirectoryTest : public LockTest, public ::testing::WithParamInterface<DirectoryRow> {};

TEST_P(LockDirectoryTest, ChoosesOnlyADirectoryNoOtherUserCanWriteTo) {
    const DirectoryRow& row = GetParam();
    row.arrange(*this);
    const fs::path expected = row.expected(*this);
    EXPECT_EQ(instanceLockDirectory(), expected.string()) << row.what;
    CInstanceLock lock(kTitle1);
    EXPECT_EQ(lock.held(), !expected.empty()) << row.what;
    // A lock that cannot be made at all must not pass for a number another copy holds.
    EXPECT_EQ(lock.failure().empty(), !expected.empty()) << row.what << ": " << lock.failure();
    if (!expected.empty()) {
        struct stat st {};
        ASSERT_EQ(::stat(expected.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0077, 0u) << row.what << ": the directory is open to others";
        EXPECT_TRUE(fs::exists(expected / lockFileName(kTitle1))) << row.what;
    }
}

const DirectoryRow kDirectoryRows[] = {
    {"a private runtime directory is used as it is", [](LockTest&) {}, [](LockTest& t) { return t.runtime; }},
    {"a group-writable runtime directory is passed over for a private one in the cache",
     [](LockTest& t) { ::chmod(t.runtime.c_str(), 0770); },
     [](LockTest& t) { return t.cache / "velmora-updater"; }},
    {"a world-writable sticky runtime directory (like /tmp) is passed over",
     [](LockTest& t) { ::chmod(t.runtime.c_str(), 01777); },
     [](LockTest& t) { return t.cache / "velmora-updater"; }},
    {"without a runtime directory the cache is used", [](LockTest&) { ::unsetenv("XDG_RUNTIME_DIR"); },
     [](LockTest& t) { return t.cache / "velmora-updater"; }},
    {"a relative runtime directory is not trusted",
     [](LockTest&) { ::setenv("XDG_RUNTIME_DIR", "runtime", 1); },
     [](LockTest& t) { return t.cache / "velmora-updater"; }},
    {"without a cache directory setting, ~/.cache is used (and made)",
     [](LockTest&) {
         ::unsetenv("XDG_RUNTIME_DIR");
         ::unsetenv("XDG_CACHE_HOME");
     },
     [](LockTest& t) { return t.home / ".cache" / "velmora-updater"; }},
    {"a runtime directory that is a symbolic link is not followed",
     [](LockTest& t) {
         fs::create_symlink(t.runtime, t.root / "link");
         ::setenv("XDG_RUNTIME_DIR", (t.root / "link").c_str(), 1);
     },
     [](LockTest& t) { return t.cache / "velmora-updater"; }},
    {"an existing cache directory of ours that others can write to is refused, and nothing is locked",
     [](LockTest& t) {
         ::unsetenv("XDG_RUNTIME_DIR");
         fs::create_directory(t.cache / "velmora-updater");
         ::chmod((t.cache / "velmora-updater").c_str(), 0777);
     },
     [](LockTest&) { return fs::path(); }},
    {"a cache setting that names a file leaves no directory, and nothing is locked",
     [](LockTest& t) {
         ::unsetenv("XDG_RUNTIME_DIR");
         std::ofstream(t.root / "file") << "x";
         ::setenv("XDG_CACHE_HOME", (t.root / "file").c_str(), 1);
     },
     [](LockTest&) { return fs::path(); }},
};

INSTANTIATE_TEST_SUITE_P(Rows, LockDirectoryTest, ::testing::ValuesIn(kDirectoryRows));

TEST_F(LockTest, ASymbolicLinkPlantedAtTheLockFilesNameIsNotFollowed) {
    const fs::path target = root / "victim";
    fs::create_symlink(target, runtime / lockFileName(kTitle1));
    EXPECT_FALSE(CInstanceLock(kTitle1).held());
    EXPECT_FALSE(fs::exists(target)) << "the lock created a file where the link pointed";
}

// Something at one number's lock file name moves the start on to the next number; only a lock folder that
// cannot be used stops it, with its reason. Rows add to what the rows before them left.
TEST_F(LockTest, ALockFileInTheWayPassesToTheNextNumberAndOnlyAnUnusableFolderStopsTheStart) {
    // Copy n's lock file name, freed of the file an earlier row's lock left there.
    const auto file = [this](int n) {
        const fs::path path = runtime / lockFileName(texts::instanceTitle(n));
        fs::remove(path);
        return path;
    };
    const struct {
        const char* description;
        std::function<void()> arrange;
        int number;  // 0: refused with a reason
    } rows[] = {
        {"a directory at copy 1's", [&] { fs::create_directory(file(1)); }, 2},
        {"a FIFO at copy 2's", [&] { ::mkfifo(file(2).c_str(), 0600); }, 3},
        {"a symbolic link at copy 3's", [&] { fs::create_symlink(root / "elsewhere", file(3)); }, 4},
        {"every number's in the way",
         [&] {
             for (int n = 4; n <= 20; ++n) {
                 fs::create_directory(file(n));
             }
         },
         0},
        {"no usable lock folder",
         [&] {
             ::chmod(runtime.c_str(), 0777);
             std::ofstream(cache / "velmora-updater") << "x";
         },
         0},
    };
    for (const auto& row : rows) {
        row.arrange();
        std::unique_ptr<CInstanceLock> lock;
        const InstanceNumber taken = takeInstanceNumber(lock);
        EXPECT_EQ(taken.number, row.number) << row.description << ": " << taken.failure;
        EXPECT_EQ(taken.failure.empty(), row.number != 0) << row.description;
    }
}

TEST_F(LockTest, AProgramStartedWhileTheLockIsHeldDoesNotInheritIt) {
    auto lock = std::make_unique<CInstanceLock>(kTitle1);
    ASSERT_TRUE(lock->held());
    pid_t child = 0;
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);
    lock.reset();
    const bool freed = CInstanceLock(kTitle1).held();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(freed) << "the started program kept the number taken after this process let it go";
}

TEST_F(LockTest, ACopyKilledOutrightFreesItsNumberAtOnce) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CInstanceLock held(kTitle1);
        const char state = held.held() ? 'y' : 'n';
        (void)!::write(ready[1], &state, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(state, 'y');
    EXPECT_FALSE(CInstanceLock(kTitle1).held());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(CInstanceLock(kTitle1).held()) << "a killed copy's number stayed taken";
}

}  // namespace
}  // namespace velmora::app
