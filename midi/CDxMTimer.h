#pragma once
// A periodic tick on a thread of its own, for reply processing. Ticks never overlap; a tick that outlasts
// the period delays the next one instead of piling ticks up behind it.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace velmora::midi {

class CDxMTimer {
  public:
    // Receives the user value given to start().
    using TickFunction = void (*)(std::uintptr_t userValue);

    CDxMTimer() = default;
    // Stops the timer. A subclass that overrides onTick() must call stop() in its own destructor, before its
    // part of the object is gone; the timer must not be destroyed from inside one of its own ticks.
    virtual ~CDxMTimer();
    CDxMTimer(const CDxMTimer&) = delete;
    CDxMTimer& operator=(const CDxMTimer&) = delete;

    // Stops any running timer (waiting for its tick, as stop() does), then ticks every periodMs
    // milliseconds, the first tick one period from now: tick(userValue), or onTick() when tick is null.
    // Returns the new timer's id, never 0; 0 when refused (a period of 0, a call from inside a tick, or no
    // thread to be had), and then nothing ticks.
    unsigned start(unsigned periodMs, TickFunction tick = nullptr, std::uintptr_t userValue = 0);

    // Always true. From any thread but the timer's own it returns only when no tick runs and none will
    // start. From inside a tick it cannot wait for itself: it returns at once, the tick under way is the
    // last, and the thread is reclaimed by the next start(), stop() or the destructor.
    bool stop();

    // Asks for a tick as soon as possible, without waiting for the period: at once when the timer is idle
    // between ticks, right after the current tick when one is running. Requests made before that tick
    // starts are served by it. Nothing happens when no timer runs. Safe from any thread, tick included.
    void wake();

    // The running timer's id; 0 when none runs.
    unsigned timerId() const;

  protected:
    // Runs on every tick of a timer started without a tick function; does nothing here.
    virtual void onTick() {}

  private:
    void run(unsigned periodMs, TickFunction tick, std::uintptr_t userValue);
    void stopAndJoin();

    std::mutex controlMutex_;  // serialises start, stop and destruction; never taken on the timer thread
    std::thread thread_;       // written only under controlMutex_
    unsigned nextId_ = 0;      // under controlMutex_

    mutable std::mutex mutex_;  // guards the fields below; never held while a tick runs
    std::condition_variable changed_;
    bool stopRequested_ = false;
    bool wakeRequested_ = false;
    unsigned timerId_ = 0;
};

}  // namespace velmora::midi
