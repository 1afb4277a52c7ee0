#pragma once
// The protocol times tests run with, one preset per kind of run; the product's own are Timing's defaults.

#include <chrono>

#include "update/Timing.h"

namespace velmora::testing {

using namespace std::chrono_literals;

// The product's waits, only the fixed pauses cut short: for devices that answer at once.
inline Timing quickTiming() {
    Timing t;
    t.beginPause = 5ms;
    t.retryPause = 1ms;
    return t;
}

// Generous waits for runs that succeed; a late answer on a loaded machine only costs a resend.
inline Timing successTiming() {
    Timing t = quickTiming();
    t.replyTimeout = 5000ms;
    t.blockTimeout = 1000ms;
    t.pollPeriod = 1ms;
    return t;
}

// Short waits for runs that must time out.
inline Timing timeoutTiming() {
    Timing t = successTiming();
    t.replyTimeout = 150ms;
    t.blockTimeout = 15ms;
    t.lateGrace = 15ms;
    t.readBackTimeout = 150ms;
    return t;
}

// Host time-outs a tenth of the product's, reply processing every millisecond.
inline Timing fastTiming() {
    Timing t = Timing::scaled(0.1);
    t.pollPeriod = 1ms;
    return t;
}

// Thousands of short runs with faults in them: every wait short, a lost answer costs little.
inline Timing sweepTiming() {
    Timing t;
    t.replyTimeout = 400ms;
    t.blockTimeout = 40ms;
    t.lateGrace = 40ms;
    t.readBackTimeout = 400ms;
    t.beginPause = 1ms;
    t.retryPause = 1ms;
    t.pollPeriod = 5ms;
    t.sendBound.base = 200ms;
    return t;
}

}  // namespace velmora::testing
