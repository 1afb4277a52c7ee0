// The gate that carries a worker's view calls to the UI thread. The test's own thread plays the UI thread: it
// owns the gate and runs the queued tasks only when the test says so, so every interleaving below is forced,
// not hoped for.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/CUiCallGate.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;

// The UI thread's queue: tasks wait here until the test runs them.
class TaskQueue {
  public:
    void post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }
    // Waits for `count` tasks to be queued; false after a generous limit.
    bool waitForQueued(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return tasks_.size() >= count; });
    }
    // Runs queued tasks, in order, until `done` holds (checked between tasks); false after the limit.
    bool runUntil(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + 10s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (!changed_.wait_for(lock, 10ms, [&] { return !tasks_.empty(); })) {
                    continue;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }
    void runAll() {
        runUntil([this] {
            std::lock_guard lock(mutex_);
            return tasks_.empty();
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
};

// Joins a worker that must end by itself; a worker still blocked after the limit is the deadlock these tests
// exist to catch, so the run stops there rather than hang.
void joinOrDie(std::thread& worker, const char* what) {
    auto joined = std::async(std::launch::async, [&worker] { worker.join(); });
    if (joined.wait_for(10s) != std::future_status::ready) {
        std::fprintf(stderr, "worker still blocked: %s\n", what);
        std::_Exit(1);
    }
}

class CallGateTest : public ::testing::Test {
  protected:
    TaskQueue queue;
    CUiCallGate gate{[this](std::function<void()> task) { queue.post(std::move(task)); }};
};

TEST_F(CallGateTest, WorkerCallsRunOnTheOwnerThreadInOrderEachFinishedBeforeTheCallReturns) {
    const std::thread::id owner = std::this_thread::get_id();
    std::vector<int> ran;  // written on the owner's thread only
    std::vector<std::thread::id> where;
    std::atomic<int> returned{0};
    std::vector<std::size_t> seenOnReturn(3);
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(gate.call([&ran, &where, i] {
                ran.push_back(i);
                where.push_back(std::this_thread::get_id());
            }));
            // Safe to read: the owner ran the task and is not running another until the next call.
            seenOnReturn[static_cast<std::size_t>(i)] = ran.size();
            returned = i + 1;
        }
    });
    ASSERT_TRUE(queue.runUntil([&] { return returned.load() == 3; }));
    joinOrDie(worker, "ordered calls");
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(where, (std::vector<std::thread::id>{owner, owner, owner}));
    EXPECT_EQ(seenOnReturn, (std::vector<std::size_t>{1, 2, 3})) << "a call returned before its task had run";
}

TEST_F(CallGateTest, ClosingReleasesAWorkerWaitingForAnOwnerThatWillNotRunItsTask) {
    // The window is closing: its thread stops serving the queue and is about to wait for the worker.
    std::atomic<bool> taskRan{false};
    std::atomic<bool> result{true};
    std::thread worker([&] { result = gate.call([&] { taskRan = true; }); });
    ASSERT_TRUE(queue.waitForQueued(1));
    gate.close();
    joinOrDie(worker, "closed while waiting");
    EXPECT_FALSE(result.load());
    queue.runAll();  // the queued task comes round later, when the window is already on its way out
    EXPECT_FALSE(taskRan.load()) << "a task ran after the gate had closed";
}

TEST_F(CallGateTest, AfterClosingCallsReturnAtOnceAndTheirTasksNeverRun) {
    gate.close();
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) {
            EXPECT_FALSE(gate.call([&] { ++ran; }));
        }
    });
    joinOrDie(worker, "calls after close");
    queue.runAll();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_FALSE(gate.call([&] { ++ran; })) << "the owner's own call after close";
    EXPECT_EQ(ran.load(), 0);
}

TEST_F(CallGateTest, ACallOnTheOwnerThreadRunsInPlaceInsteadOfWaitingForItself) {
    bool ran = false;
    EXPECT_TRUE(gate.call([&] { ran = true; }));  // nobody serves the queue here: a posted task would hang
    EXPECT_TRUE(ran);
}

TEST_F(CallGateTest, ClosingFromInsideARunningTaskReleasesTheWorkerBeforeTheTaskEnds) {
    // As when the window closes while an error box, shown for the worker, runs its own event loop.
    std::atomic<bool> workerReturned{false};
    std::atomic<bool> result{true};
    bool releasedWhileTaskRan = false;
    std::thread worker([&] {
        result = gate.call([&] {
            gate.close();
            const auto limit = std::chrono::steady_clock::now() + 10s;
            while (!workerReturned && std::chrono::steady_clock::now() < limit) {
                std::this_thread::sleep_for(1ms);
            }
            releasedWhileTaskRan = workerReturned;
        });
        workerReturned = true;
    });
    ASSERT_TRUE(queue.runUntil([&] { return workerReturned.load(); }));
    joinOrDie(worker, "closed from inside a task");
    EXPECT_TRUE(releasedWhileTaskRan) << "the worker waited for a task that waited for the window to close";
    EXPECT_FALSE(result.load());
}

TEST(CallGateLifetime, TasksQueuedBeforeTheGateWentAwayRunHarmlessly) {
    TaskQueue queue;
    std::atomic<bool> taskRan{false};
    {
        CUiCallGate gate([&queue](std::function<void()> task) { queue.post(std::move(task)); });
        std::thread worker([&] { gate.call([&] { taskRan = true; }); });
        ASSERT_TRUE(queue.waitForQueued(1));
        gate.close();
        joinOrDie(worker, "gate going away");
    }
    queue.runAll();  // the task refers to state the gate shared, not to the gate itself
    EXPECT_FALSE(taskRan.load());
}

}  // namespace
}  // namespace velmora::ui
