#pragma once
// The two things the program does: list the ports, or run one update and turn its outcome into lines and an
// exit status.

#include <cstddef>
#include <ostream>

#include "cli/Options.h"

namespace velmora::cli {

struct Output {
    std::ostream& out;
    std::ostream& err;
    bool live = false;  // out is a terminal: one progress line rewritten in place
    std::size_t columns = 80;
};

int runList(const Options& options, const Output& output);

// Takes over SIGINT, SIGTERM and SIGHUP for its length; call it before the program starts any thread of its
// own.
int runFlash(const Options& options, const Output& output);

}  // namespace velmora::cli
