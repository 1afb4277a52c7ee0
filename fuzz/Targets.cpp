#include <array>
#include <utility>

#include "fuzz/FuzzTargets.h"

namespace velmora::fuzz {

TargetEntry targetEntry(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, TargetEntry>, 5> kTargets = {{
        {"fuzz_replies", &fuzzReplies},
        {"fuzz_framer", &fuzzFramer},
        {"fuzz_codec", &fuzzCodec},
        {"fuzz_device_request", &fuzzDeviceRequest},
        {"fuzz_scenario", &fuzzScenario},
    }};
    for (const auto& [targetName, entry] : kTargets) {
        if (targetName == name) {
            return entry;
        }
    }
    return nullptr;
}

}  // namespace velmora::fuzz
