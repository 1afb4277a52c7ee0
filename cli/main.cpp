// velmora-flash: the update procedure from a terminal or a script.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/FlashCommand.h"
#include "cli/Options.h"

int main(int argc, char** argv) {
    using namespace velmora::cli;
    ignoreBrokenPipe();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.ok()) {
        std::cerr << "velmora-flash: " << parsed.error << "\nTry 'velmora-flash --help'.\n";
        return kExitUsage;
    }
    const Output output{std::cout, std::cerr, stdoutIsTerminal(), terminalColumns()};
    switch (parsed.options.command) {
        case Command::Help:
            std::cout << helpText("velmora-flash");
            return kExitCompleted;
        case Command::Version:
            std::cout << versionText("velmora-flash");
            return kExitCompleted;
        case Command::List:
            return runList(parsed.options, output);
        case Command::Flash:
            break;
    }
    return runFlash(parsed.options, output);
}
