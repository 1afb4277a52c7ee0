#pragma once
// Every protocol time in one place. The defaults are the product's; tests scale them down so that a 30-second
// time-out costs milliseconds.

#include <chrono>
#include <cmath>

#include "midi/CMidiOutPort.h"

namespace velmora {

struct Timing {
    std::chrono::milliseconds replyTimeout{30000};  // identity, begin, read-back, erase and end waits
    std::chrono::milliseconds blockTimeout{1000};   // one write block
    std::chrono::milliseconds beginPause{500};      // after the device has agreed to begin
    std::chrono::milliseconds retryPause{100};      // before a refused or unanswered request is sent again
    std::chrono::milliseconds lateGrace{1000};  // after the block wait: a late answer still counts as its own
    std::chrono::milliseconds readBackTimeout{
        5000};                                 // a block read back (4 KiB, 1.5 s of a 5-pin MIDI cable)
    std::chrono::milliseconds pollPeriod{50};  // reply processing
    midi::SendBound sendBound{};               // the longest wait for the platform to send one message
    // Replies are handled the moment they arrive, the poll period staying as the fallback; false handles them
    // on the poll period alone (kept for comparison in the benchmark).
    bool wakeOnArrival = true;

    // Every time multiplied by factor (0 < factor <= 1 in tests), rounded up: a wait is never cut shorter
    // than the factor says, and none is below 1 ms.
    static Timing scaled(double factor) {
        Timing t;
        auto scale = [factor](std::chrono::milliseconds ms) {
            const auto v = static_cast<long long>(std::ceil(static_cast<double>(ms.count()) * factor - 1e-9));
            return std::chrono::milliseconds(v < 1 ? 1 : v);
        };
        t.replyTimeout = scale(t.replyTimeout);
        t.blockTimeout = scale(t.blockTimeout);
        t.beginPause = scale(t.beginPause);
        t.retryPause = scale(t.retryPause);
        t.lateGrace = scale(t.lateGrace);
        t.readBackTimeout = scale(t.readBackTimeout);
        t.pollPeriod = scale(t.pollPeriod);
        t.sendBound.base = scale(t.sendBound.base);
        return t;
    }
};

}  // namespace velmora
