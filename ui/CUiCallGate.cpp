#include "ui/CUiCallGate.h"

#include <utility>

namespace velmora::ui {

CUiCallGate::CUiCallGate(Post post)
    : post_(std::move(post)), owner_(std::this_thread::get_id()), shared_(std::make_shared<Shared>()) {}

CUiCallGate::~CUiCallGate() {
    close();
}

bool CUiCallGate::call(std::function<void()> task) {
    if (std::this_thread::get_id() == owner_) {
        // Posting to our own queue and waiting for it would wait for ever.
        if (closed()) {
            return false;
        }
        task();
        return true;
    }
    auto pending = std::make_shared<Pending>();
    pending->task = std::move(task);
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed) {
            return false;
        }
    }
    post_([shared = shared_, pending] {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->closed) {
                return;  // the caller has stopped waiting; the window is on its way out
            }
        }
        pending->task();
        std::lock_guard lock(shared->mutex);
        pending->done = true;
        shared->changed.notify_all();
    });
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait(lock, [&] { return pending->done || shared_->closed; });
    return pending->done;
}

void CUiCallGate::close() {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->changed.notify_all();
}

bool CUiCallGate::closed() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->closed;
}

}  // namespace velmora::ui
