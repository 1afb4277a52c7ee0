// The libFuzzer entry of one fuzz program; VELMORA_FUZZ_TARGET names the target body it runs.

#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const velmora::fuzz::TargetEntry entry = velmora::fuzz::targetEntry(VELMORA_FUZZ_TARGET);
    if (entry == nullptr) {
        std::fprintf(stderr, "no fuzz target named %s\n", VELMORA_FUZZ_TARGET);
        std::abort();
    }
    try {
        entry(data, size);
    } catch (const velmora::fuzz::PropertyBroken& broken) {
        // An abort is what libFuzzer keeps as a crash, with the input that caused it.
        std::fprintf(stderr, "%s: property broken: %s\n", VELMORA_FUZZ_TARGET, broken.what());
        std::abort();
    }
    return 0;
}
