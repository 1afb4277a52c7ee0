#include "midi/CDxMTimer.h"

#include <chrono>
#include <system_error>

namespace velmora::midi {

namespace {

using Clock = std::chrono::steady_clock;

// The timer whose tick this thread is running, if any: lets stop() and start() recognise a call from inside
// a tick, which must not wait for the thread it runs on.
thread_local const CDxMTimer* tickingTimer = nullptr;

}  // namespace

CDxMTimer::~CDxMTimer() {
    stop();
}

unsigned CDxMTimer::start(unsigned periodMs, TickFunction tick, std::uintptr_t userValue) {
    if (periodMs == 0 || tickingTimer == this) {
        return 0;
    }
    std::lock_guard control(controlMutex_);
    stopAndJoin();
    unsigned id = ++nextId_;
    if (id == 0) {
        id = ++nextId_;  // 0 means "no timer"
    }
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
        wakeRequested_ = false;
        timerId_ = id;
    }
    try {
        thread_ = std::thread(&CDxMTimer::run, this, periodMs, tick, userValue);
    } catch (const std::system_error&) {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        timerId_ = 0;
        return 0;
    }
    return id;
}

bool CDxMTimer::stop() {
    if (tickingTimer == this) {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        timerId_ = 0;
        return true;
    }
    std::lock_guard control(controlMutex_);
    stopAndJoin();
    return true;
}

void CDxMTimer::wake() {
    std::lock_guard lock(mutex_);
    if (timerId_ == 0 || stopRequested_) {
        return;
    }
    wakeRequested_ = true;
    // Under the lock: once stop() has taken it after this, the condition variable is no longer touched.
    changed_.notify_all();
}

unsigned CDxMTimer::timerId() const {
    std::lock_guard lock(mutex_);
    return timerId_;
}

void CDxMTimer::stopAndJoin() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
        timerId_ = 0;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CDxMTimer::run(unsigned periodMs, TickFunction tick, std::uintptr_t userValue) {
    tickingTimer = this;
    const auto period = std::chrono::milliseconds(periodMs);
    auto due = Clock::now() + period;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait_until(lock, due, [this] { return stopRequested_ || wakeRequested_; });
        if (stopRequested_) {
            break;
        }
        const auto now = Clock::now();
        if (now >= due) {
            // A late tick runs once, right away, and the period restarts from it: no burst of catch-up ticks.
            due += period;
            if (due <= now) {
                due = now + period;
            }
        } else if (!wakeRequested_) {
            continue;
        }
        // This tick serves every wake asked for so far; one asked for while it runs earns another.
        wakeRequested_ = false;
        lock.unlock();
        if (tick != nullptr) {
            tick(userValue);
        } else {
            onTick();
        }
        lock.lock();
    }
    tickingTimer = nullptr;
}

}  // namespace velmora::midi
