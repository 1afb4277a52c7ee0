// CDxMTimer: what start and stop promise about running ticks, no overlap, the default onTick, and wake().
// Periods are short and every wait for a tick has a generous limit; nothing here measures speed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "midi/CDxMTimer.h"

namespace velmora::midi {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 5s;                // a tick that has not come by then is not coming
constexpr unsigned kHour = 3600u * 1000u;  // a period that never elapses during a test

// Counts the ticks given to it as user value, and how many ran at once.
struct Probe {
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::chrono::milliseconds work{0};

    static void tick(std::uintptr_t self) { reinterpret_cast<Probe*>(self)->onTick(); }
    std::uintptr_t value() { return reinterpret_cast<std::uintptr_t>(this); }

    void onTick() {
        const int now = running.fetch_add(1) + 1;
        int most = mostAtOnce.load();
        while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
        }
        if (work.count() > 0) {
            std::this_thread::sleep_for(work);
        }
        running.fetch_sub(1);
        {
            std::lock_guard lock(mutex);
            ++ticks;
        }
        ticked.notify_all();
    }
    bool waitForTicks(int n) {
        std::unique_lock lock(mutex);
        return ticked.wait_for(lock, kLimit, [&] { return ticks >= n; });
    }
    int count() {
        std::lock_guard lock(mutex);
        return ticks;
    }
};

// A tick that holds until the test lets it go.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;
    int released = 0;  // ticks allowed to finish
    int finished = 0;

    static void tick(std::uintptr_t self) { reinterpret_cast<Gate*>(self)->onTick(); }
    std::uintptr_t value() { return reinterpret_cast<std::uintptr_t>(this); }

    void onTick() {
        std::unique_lock lock(mutex);
        const int mine = ++entered;
        changed.notify_all();
        changed.wait(lock, [&] { return released >= mine; });
        ++finished;
        changed.notify_all();
    }
    bool waitEntered(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kLimit, [&] { return entered >= n; });
    }
    void release(int upTo) {
        std::lock_guard lock(mutex);
        released = upTo;
        changed.notify_all();
    }
};

TEST(TimerTest, TicksWithTheUserValueUnderANonZeroId) {
    Probe probe;
    CDxMTimer timer;
    const unsigned id = timer.start(2, &Probe::tick, probe.value());
    EXPECT_NE(id, 0u);
    EXPECT_EQ(timer.timerId(), id);
    EXPECT_TRUE(probe.waitForTicks(3));
    EXPECT_TRUE(timer.stop());
    EXPECT_EQ(timer.timerId(), 0u);
}

TEST(TimerTest, ZeroPeriodIsRefusedAndNothingTicks) {
    Probe probe;
    CDxMTimer timer;
    EXPECT_EQ(timer.start(0, &Probe::tick, probe.value()), 0u);
    EXPECT_EQ(timer.timerId(), 0u);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(probe.count(), 0);
}

TEST(TimerTest, StopWhileIdleReturnsTrue) {
    CDxMTimer timer;
    EXPECT_TRUE(timer.stop());
    EXPECT_TRUE(timer.stop());
}

// Two timers at once would run processReplies twice at the same time; the old one must be fully gone,
// including a tick of it that was running, before start returns.
TEST(TimerTest, StartWhileRunningEndsTheOldTimerAndItsTickFirst) {
    Gate old;
    Probe fresh;
    CDxMTimer timer;
    const unsigned first = timer.start(1, &Gate::tick, old.value());
    ASSERT_TRUE(old.waitEntered(1));
    std::atomic<bool> restarted{false};
    unsigned second = 0;
    std::thread restarter([&] {
        second = timer.start(1, &Probe::tick, fresh.value());
        restarted = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(restarted.load()) << "start returned while the old timer's tick was still running";
    old.release(1);
    restarter.join();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    {
        std::lock_guard lock(old.mutex);
        EXPECT_EQ(old.finished, 1);
        EXPECT_EQ(old.entered, 1) << "the old tick function ran after the restart";
    }
    EXPECT_TRUE(fresh.waitForTicks(3));
}

// The owner releases what the tick uses as soon as stop returns; a tick still running would use freed state.
TEST(TimerTest, StopWaitsForTheRunningTickAndNoneFollows) {
    Gate gate;
    CDxMTimer timer;
    ASSERT_NE(timer.start(1, &Gate::tick, gate.value()), 0u);
    ASSERT_TRUE(gate.waitEntered(1));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        EXPECT_TRUE(timer.stop());
        stopped = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(stopped.load()) << "stop returned while a tick was running";
    gate.release(1);
    stopper.join();
    std::this_thread::sleep_for(10ms);
    std::lock_guard lock(gate.mutex);
    EXPECT_EQ(gate.entered, 1);
    EXPECT_EQ(gate.finished, 1);
}

// Ticks longer than the period, with wakes arriving all the while, must still run one at a time.
TEST(TimerTest, TicksNeverOverlapEvenWhenTheyOutlastThePeriodAndWakesPileUp) {
    Probe probe;
    probe.work = 3ms;
    CDxMTimer timer;
    ASSERT_NE(timer.start(1, &Probe::tick, probe.value()), 0u);
    std::atomic<bool> waking{true};
    std::thread waker([&] {
        while (waking) {
            timer.wake();
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(probe.waitForTicks(40));
    waking = false;
    waker.join();
    timer.stop();
    EXPECT_EQ(probe.mostAtOnce.load(), 1);
}

class CountingTimer : public CDxMTimer {
  public:
    ~CountingTimer() override { stop(); }  // before this part, which onTick uses, is gone
    Probe probe;

  protected:
    void onTick() override { probe.onTick(); }
};

TEST(TimerTest, WithoutATickFunctionEveryTickCallsOnTick) {
    CountingTimer timer;
    ASSERT_NE(timer.start(2), 0u);
    EXPECT_TRUE(timer.probe.waitForTicks(3));
}

TEST(TimerTest, WakeTicksWithoutWaitingForThePeriod) {
    Probe probe;
    CDxMTimer timer;
    ASSERT_NE(timer.start(kHour, &Probe::tick, probe.value()), 0u);
    timer.wake();
    EXPECT_TRUE(probe.waitForTicks(1)) << "only the wake can have caused a tick within the limit";
}

// A wake left over from before start must not turn into a tick of the new timer, nor keep an idle timer
// busy.
TEST(TimerTest, WakeWithoutARunningTimerDoesNothing) {
    Probe probe;
    CDxMTimer timer;
    timer.wake();
    ASSERT_NE(timer.start(kHour, &Probe::tick, probe.value()), 0u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(probe.count(), 0);
    timer.stop();
    timer.wake();
    EXPECT_EQ(timer.timerId(), 0u);
}

// Every entry that arrives calls wake(); a burst of arrivals during one tick must cost one more tick, not
// one per arrival, and must not be lost either.
TEST(TimerTest, WakesDuringATickAreServedByExactlyOneMoreTick) {
    Gate gate;
    CDxMTimer timer;
    ASSERT_NE(timer.start(kHour, &Gate::tick, gate.value()), 0u);
    timer.wake();
    ASSERT_TRUE(gate.waitEntered(1));
    for (int i = 0; i < 100; ++i) {
        timer.wake();
    }
    gate.release(1000);
    ASSERT_TRUE(gate.waitEntered(2)) << "wakes during a tick were lost";
    std::this_thread::sleep_for(30ms);
    timer.stop();
    std::lock_guard lock(gate.mutex);
    EXPECT_EQ(gate.entered, 2);
}

struct SelfStopper {
    CDxMTimer* timer = nullptr;
    std::atomic<int> ticks{0};
    std::atomic<bool> stopResult{false};
    std::atomic<unsigned> restartResult{1};

    static void stopTick(std::uintptr_t self) {
        auto* s = reinterpret_cast<SelfStopper*>(self);
        s->ticks.fetch_add(1);
        s->stopResult = s->timer->stop();
    }
    static void restartTick(std::uintptr_t self) {
        auto* s = reinterpret_cast<SelfStopper*>(self);
        if (s->ticks.fetch_add(1) == 0) {
            s->restartResult = s->timer->start(1, &SelfStopper::restartTick, self);
        }
    }
};

// A tick cannot wait for itself: stop from inside it must return, and that tick is the last.
TEST(TimerTest, StopFromInsideATickReturnsAndEndsTheTimer) {
    SelfStopper s;
    Probe probe;
    CDxMTimer timer;  // declared last: stopped before what its ticks use is gone
    s.timer = &timer;
    ASSERT_NE(timer.start(1, &SelfStopper::stopTick, reinterpret_cast<std::uintptr_t>(&s)), 0u);
    for (int i = 0; i < 500 && s.ticks.load() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(s.ticks.load(), 1);
    EXPECT_TRUE(s.stopResult.load());
    EXPECT_EQ(timer.timerId(), 0u);
    // The finished thread is reclaimed by the next start, which then runs as usual.
    ASSERT_NE(timer.start(1, &Probe::tick, probe.value()), 0u);
    EXPECT_TRUE(probe.waitForTicks(2));
}

TEST(TimerTest, StartFromInsideATickIsRefusedAndTheTimerGoesOn) {
    SelfStopper s;
    CDxMTimer timer;
    s.timer = &timer;
    ASSERT_NE(timer.start(1, &SelfStopper::restartTick, reinterpret_cast<std::uintptr_t>(&s)), 0u);
    for (int i = 0; i < 500 && s.ticks.load() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(s.ticks.load(), 3);
    EXPECT_EQ(s.restartResult.load(), 0u);
}

TEST(TimerTest, DestructionStopsTheTimer) {
    Probe probe;
    {
        CDxMTimer timer;
        ASSERT_NE(timer.start(1, &Probe::tick, probe.value()), 0u);
        ASSERT_TRUE(probe.waitForTicks(1));
    }
    const int atDestruction = probe.count();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(probe.count(), atDestruction);
}

}  // namespace
}  // namespace velmora::midi
