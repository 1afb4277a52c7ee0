// velmora-flash: the update procedure from a terminal or a script.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/FlashCommand.h"
#include "i18n/Catalogue.h"

int main(int argc, char** argv) {
    using namespace velmora::cli;
    // Before anything is said: every text from here on is in the user's language.
    velmora::i18n::useLanguageOfEnvironment();
    ignoreBrokenPipe();
    const CUtf8Console console;
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runProgram(args,
                      Output{std::cout, std::cerr, stdoutIsTerminal(), terminalColumns(), stdoutReaderGone});
}
