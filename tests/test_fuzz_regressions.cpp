// Replays what the fuzz targets keep through the same entry points as the fuzz programs: every seed in
// fuzz/corpus and every finding in fuzz/regressions, so that a fault a fuzzer once found stays found in the
// ordinary and sanitizer builds, where no fuzzer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"

namespace velmora::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kFuzzDir = VELMORA_FUZZ_DIR;
const char* const kTargets[] = {"fuzz_replies", "fuzz_framer", "fuzz_codec", "fuzz_device_request",
                                "fuzz_scenario"};

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (fs::is_directory(dir)) {
        for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
            if (e.is_regular_file()) {
                files.push_back(e.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << file;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs one kept input through its target; a broken property is a failure naming the file.
void replay(const std::string& target, const fs::path& file) {
    SCOPED_TRACE(file.string());
    const TargetEntry entry = targetEntry(target);
    ASSERT_NE(entry, nullptr) << "no fuzz target named " << target;
    const Bytes input = readFile(file);
    try {
        entry(input.data(), input.size());
    } catch (const PropertyBroken& broken) {
        ADD_FAILURE() << target << " on " << file << ": " << broken.what();
    }
}

TEST(FuzzReplay, EveryTargetHasSeedsAndEverySeedPasses) {
    for (const char* target : kTargets) {
        const std::vector<fs::path> seeds = filesIn(kFuzzDir / "corpus" / target);
        EXPECT_FALSE(seeds.empty()) << "no seeds for " << target;
        for (const fs::path& seed : seeds) {
            replay(target, seed);
        }
    }
}

TEST(FuzzReplay, EveryKeptFindingPasses) {
    std::size_t replayed = 0;
    for (const fs::directory_entry& dir : fs::directory_iterator(kFuzzDir / "regressions")) {
        if (!dir.is_directory()) {
            continue;
        }
        const std::string target = dir.path().filename().string();
        EXPECT_NE(targetEntry(target), nullptr) << "fuzz/regressions/" << target << " names no fuzz target";
        for (const fs::path& file : filesIn(dir.path())) {
            replay(target, file);
            ++replayed;
        }
    }
    std::cout << replayed << " kept findings replayed\n";
}

// Found by fuzz_scenario ("chatter,"): parseScenario refused the text for an empty item, a duplicate key or a
// missing key, but returned the keys before it applied, so a caller that ignores the error would run a
// scenario nobody asked for.
TEST(FuzzRegressions, ScenarioRefusedForItsShapeLeavesNoKeyApplied) {
    for (const char* name : {"empty-item-after-an-applied-key", "duplicate-key-after-an-applied-key",
                             "missing-key-after-an-applied-key"}) {
        replay("fuzz_scenario", kFuzzDir / "regressions" / "fuzz_scenario" / name);
    }
}

}  // namespace
}  // namespace velmora::fuzz
