#include "app/InstanceNumber.h"

#include "update/Texts.h"

namespace velmora::app {

InstanceNumber takeInstanceNumber(std::unique_ptr<CInstanceLock>& lock, const std::string& lockSuffix) {
    std::string firstFailure;
    for (int n = 1; n <= texts::kMaxInstances; ++n) {
        auto candidate = std::make_unique<CInstanceLock>(texts::instanceTitle(n) + lockSuffix);
        if (candidate->held()) {
            lock = std::move(candidate);
            return {n, {}};
        }
        if (candidate->placeUnusable()) {
            // No number can be had at all, and trying the others would say the same.
            return {0, candidate->failure()};
        }
        // This number's lock alone is in the way (something else at its file's name, a mutex another user
        // made): the next number may do. One that was in the way says why no number could be had.
        if (firstFailure.empty()) {
            firstFailure = candidate->failure();
        }
    }
    return {0, firstFailure};
}

}  // namespace velmora::app
