// velmora-pty-device [SECONDS]: the emulated device on a pseudo-terminal, for whole runs of
// `velmora-flash --device` from a script. Prints the pty's path on the first line, then plays the device
// until it has answered an EndUpdateRequest or SECONDS (default 120) have passed. Then it prints how many
// identity requests and messages it received and its verdict on its flash, and exits 0 when the flash holds
// what the plan writes, 1 otherwise.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "emulator/FlashVerdict.h"
#include "support/PtyDevice.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
    if (seconds <= 0) {
        std::cerr << "usage: velmora-pty-device [SECONDS]\n";
        return 2;
    }
    velmora::testing::CPtyMaster master;
    if (!master.ok()) {
        std::cerr << "velmora-pty-device: no pseudo-terminal\n";
        return 2;
    }
    velmora::testing::CPtyDevice pty(master);
    std::cout << master.path() << std::endl;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (pty.device().counters().end == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(200ms);  // the answer to the end request is on its way out
    const velmora::emulator::EmulatorCounters counters = pty.device().counters();
    const velmora::emulator::FlashVerdict verdict = pty.device().verdict(velmora::emulator::builtInImages());
    std::cout << "identity requests: " << counters.identity << "\n"
              << "messages received: " << counters.messagesReceived << "\n"
              << "flash: " << verdict.summary << std::endl;
    return verdict.ok ? 0 : 1;
}
