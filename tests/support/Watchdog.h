#pragma once
// For tests of code that must never hang: a hang ends the whole run with a message naming what hung.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

namespace velmora::testing {

// Runs `work` on another thread and waits `limit` for it. A hang aborts the run: the work still uses the
// test's objects, so the test cannot carry on without it.
template <typename Work>
void expectFinishes(const char* what, Work work, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(work));
    std::future<void> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "hung: %s\n", what);
        std::abort();
    }
}

}  // namespace velmora::testing
