# Replays fuzz/corpus and fuzz/regressions through the fuzz targets' bodies (fuzz/FuzzTargets.h), so that the
# ordinary and sanitizer builds re-check every seed and every kept finding.
if(TARGET velmora_fuzz_targets)
    velmora_test(test_fuzz_regressions SOURCES test_fuzz_regressions.cpp LIBS velmora_fuzz_targets)
    target_compile_definitions(test_fuzz_regressions PRIVATE VELMORA_FUZZ_DIR="${PROJECT_SOURCE_DIR}/fuzz")
endif()
