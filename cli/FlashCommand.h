#pragma once
// The two things the program does: list the ports, or run one update and turn its outcome into lines and an
// exit status.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace velmora::cli {

struct Output {
    std::ostream& out;
    std::ostream& err;
    bool live = false;  // out is a terminal: one progress line rewritten in place
    std::size_t columns = 80;
    // Whether out's reader has gone (`| head`): output it no longer wants is not lost. Null: never.
    bool (*readerGone)() = nullptr;
};

int runList(const Options& options, const Output& output);

// The whole program on `args` (without its name): parses them and runs what they ask for; returns the exit
// status. Call it before the program starts any thread of its own (see runFlash).
int runProgram(const std::vector<std::string>& args, const Output& output);

// Takes over SIGINT, SIGTERM and SIGHUP for its length; call it before the program starts any thread of its
// own.
int runFlash(const Options& options, const Output& output);

}  // namespace velmora::cli
