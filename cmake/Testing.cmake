# GoogleTest, native or cross. A cross build compiles Debian's googletest source package (/usr/src/googletest)
# with the cross toolchain and runs each test executable as one ctest entry through
# CMAKE_CROSSCOMPILING_EMULATOR (wine for the Windows build, see .ci/wine-tests).
enable_testing()
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
    set(VELMORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree for cross builds")
    if(NOT EXISTS ${VELMORA_GTEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest source in ${VELMORA_GTEST_SOURCE} (apt-get install googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VELMORA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()

# Registers a GoogleTest executable with ctest: each test case on its own natively; the whole executable as
# one entry when cross-built, because listing the cases would have to run the emulator at build time.
function(velmora_register_gtest target)
    cmake_parse_arguments(ARG "" "PREFIX;LABELS" "" ${ARGN})
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${ARG_PREFIX}${target} COMMAND ${target})
        set_tests_properties(${ARG_PREFIX}${target} PROPERTIES LABELS "${ARG_LABELS}")
    else()
        gtest_discover_tests(${target} TEST_PREFIX "${ARG_PREFIX}" PROPERTIES LABELS "${ARG_LABELS}"
                             DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
