// velmora-bench: whole updates against the emulated device, timed. Prints figures; judges nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/UpdateRuns.h"
#include "emulator/CEmulatedDevice.h"
#include "emulator/WireModel.h"

namespace {

using namespace velmora;
using bench::BatchResult;
using bench::RunSetup;

// The most a whole update against the default emulated device should take on a slow machine.
constexpr double kLimitSeconds = 120;

struct BenchOptions {
    bool partA = true;
    bool partB = true;
    bool partC = true;
    bool quick = false;
    std::vector<int> devices = {1, 4, 20};
};

const char* kUsage =
    "Usage: velmora-bench [--part a,b,c] [--devices 1,4,20] [--quick]\n"
    "  a  no link delay and no flash time: total and host time per block, replies polled vs woken\n"
    "  b  USB link and flash times: total beside the limit and the model's wire and flash time\n"
    "  c  several emulated devices updated at once in this process\n"
    "  --quick  every time (host and device) scaled by 0.1, and at most 4 devices at once\n";

bool parseList(const std::string& text, std::vector<int>& out) {
    out.clear();
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        try {
            const int n = std::stoi(item);
            if (n < 1 || n > 100) {
                return false;
            }
            out.push_back(n);
        } catch (...) {
            return false;
        }
    }
    return !out.empty();
}

bool parse(int argc, char** argv, BenchOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            o.quick = true;
        } else if (arg == "--part" && hasValue) {
            const std::string parts = argv[++i];
            o.partA = parts.find('a') != std::string::npos;
            o.partB = parts.find('b') != std::string::npos;
            o.partC = parts.find('c') != std::string::npos;
        } else if (arg == "--devices" && hasValue) {
            if (!parseList(argv[++i], o.devices)) {
                return false;
            }
        } else {
            return false;
        }
    }
    if (o.quick) {
        o.devices.erase(std::remove_if(o.devices.begin(), o.devices.end(), [](int n) { return n > 4; }),
                        o.devices.end());
    }
    return true;
}

RunSetup setupFor(emulator::Link link, double scale, bool wake) {
    RunSetup s;
    s.scenario.link = link;
    s.deviceScale = link == emulator::Link::None ? 0 : scale;
    s.timing = scale < 1 ? Timing::scaled(scale) : Timing{};
    s.timing.wakeOnArrival = wake;
    return s;
}

// Prints what went wrong with any run; true when all completed.
bool report(const BatchResult& batch) {
    bool all = true;
    for (std::size_t i = 0; i < batch.runs.size(); ++i) {
        if (!batch.runs[i].completed) {
            std::printf("      run %zu did not complete: %s\n", i + 1, batch.runs[i].problem.c_str());
            all = false;
        }
    }
    return all;
}

void partA(double scale) {
    std::printf("a. No link delay, no flash time (link=none)\n");
    for (const bool wake : {false, true}) {
        const BatchResult b = bench::runUpdates(setupFor(emulator::Link::None, scale, wake), 1);
        const bench::RunResult& r = b.runs.front();
        std::printf("   %-30s total %6.2f s, %6.3f ms per block (%d blocks)\n",
                    wake ? "woken on arrival:" : "replies on the poll alone:", r.seconds,
                    r.blocks > 0 ? 1000 * r.writeSeconds / r.blocks : 0.0, r.blocks);
        std::fflush(stdout);
        report(b);
    }
}

void partB(double scale) {
    const emulator::LinkSpeed link = emulator::linkSpeed(emulator::Link::Usb);
    const emulator::FlashTimes flash;
    const emulator::ModelTime m = emulator::modelTime(link, flash, false);
    std::printf("b. USB link and flash times (link=usb)\n");
    std::printf(
        "   model: wire %.2f s (%zu bytes to the device in %d messages, %zu back in %d), flash %.2f s "
        "(%d sectors erased, %d blocks programmed): %.2f s\n",
        m.wireSeconds * scale, m.bytesToDevice, m.messagesToDevice, m.bytesFromDevice, m.messagesFromDevice,
        m.flashSeconds * scale, m.sectorsErased, m.blocksWritten, m.totalSeconds() * scale);
    for (const bool wake : {false, true}) {
        const BatchResult b = bench::runUpdates(setupFor(emulator::Link::Usb, scale, wake), 1);
        const bench::RunResult& r = b.runs.front();
        std::printf("   %-30s total %6.2f s (limit %.0f s), %.2f x the model, %.3f ms per block\n",
                    wake ? "woken on arrival:" : "replies on the poll alone:", r.seconds,
                    kLimitSeconds * scale, r.seconds / (m.totalSeconds() * scale),
                    r.blocks > 0 ? 1000 * r.writeSeconds / r.blocks : 0.0);
        std::fflush(stdout);
        report(b);
    }
}

void partC(double scale, const std::vector<int>& devices) {
    std::printf("c. Devices updated at once in one process (link=usb, flash times, woken on arrival)\n");
    double single = 0;
    for (const int n : devices) {
        const std::clock_t cpuStart = std::clock();
        const BatchResult b = bench::runUpdates(setupFor(emulator::Link::Usb, scale, true), n);
        // The whole process: the N update cores and the N emulated devices' threads alike.
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        double slowest = 0;
        for (const auto& r : b.runs) {
            slowest = std::max(slowest, r.seconds);
        }
        if (single == 0) {  // the first figure is the yardstick when N=1 is not asked for
            single = b.seconds;
        }
        std::printf(
            "   N=%-3d total %6.2f s, %.2f x N=1 (each device's own run: slowest %.2f s), "
            "CPU %.2f s\n",
            n, b.seconds, b.seconds / single, slowest, cpu);
        std::fflush(stdout);
        report(b);
    }
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const double scale = o.quick ? 0.1 : 1.0;
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&now));
    std::printf("velmora-bench, %s, %u hardware threads, times scaled by %.2g\n", date,
                std::thread::hardware_concurrency(), scale);
    std::fflush(stdout);
    if (o.partA) {
        partA(scale);
    }
    if (o.partB) {
        partB(scale);
    }
    if (o.partC) {
        partC(scale, o.devices);
    }
    return 0;
}
