#pragma once
// Carries a worker's calls to the UI thread: each runs there, in the order made, and the worker goes on only
// when it has run. Once the gate is closed (the window is going away and its thread is about to wait for the
// worker) every call still waiting and every later one returns at once, so the two threads never wait for
// each other. Qt-free: the owner says how a task reaches its thread.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora::ui {

class CUiCallGate {
  public:
    // Queues a task to run later on the owner's thread. It may drop the task (say, when the owner is gone); a
    // caller then waits until close().
    using Post = std::function<void(std::function<void()>)>;

    // The thread that constructs the gate is the owner's.
    explicit CUiCallGate(Post post);
    // Closes the gate.
    ~CUiCallGate();
    CUiCallGate(const CUiCallGate&) = delete;
    CUiCallGate& operator=(const CUiCallGate&) = delete;

    // Runs task on the owner's thread (at once when called there) and returns true when it has run; false,
    // without running it, once the gate is closed. A task that is running when the gate closes may still be
    // finishing after call() has returned, so it must own what it uses rather than refer to the caller's
    // locals.
    bool call(std::function<void()> task);

    // From now on calls return false at once; calls waiting now return, and their tasks will not run.
    void close();
    bool closed() const;

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
    };
    struct Pending {
        std::function<void()> task;
        bool done = false;
    };

    const Post post_;
    const std::thread::id owner_;
    const std::shared_ptr<Shared> shared_;  // shared with queued tasks, which may outlive the gate
};

}  // namespace velmora::ui
