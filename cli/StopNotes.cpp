#include "cli/StopNotes.h"

namespace velmora::cli {

void CStopNotes::add(int note) {
    {
        std::lock_guard lock(mutex_);
        notes_.push_back(note);
    }
    changed_.notify_all();
}

std::optional<int> CStopNotes::take(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [this] { return !notes_.empty(); })) {
        return std::nullopt;
    }
    const int note = notes_.front();
    notes_.pop_front();
    return note;
}

void CStopNotes::addAndHold(int note, std::chrono::milliseconds limit) {
    add(note);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return released_; });
}

void CStopNotes::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

}  // namespace velmora::cli
