#pragma once
// The notes a run waiter hands its owner's thread (0: the run ended; otherwise the signal a stop stands for),
// and a hold for a handler thread that must not return before the owner has finished: Windows ends the
// process as soon as its console-close handler returns. Plain C++, so its logic is tested on every platform.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace velmora::cli {

class CStopNotes {
  public:
    void add(int note);
    // The oldest note, or nothing after `limit`.
    std::optional<int> take(std::chrono::milliseconds limit);
    // Adds `note`, then returns once release() has been called or `limit` has passed.
    void addAndHold(int note, std::chrono::milliseconds limit);
    // The owner is done with the run: every hold returns, now and from now on.
    void release();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> notes_;
    bool released_ = false;
};

}  // namespace velmora::cli
