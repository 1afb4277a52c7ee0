#include "app/InstanceNumber.h"

#include "update/Texts.h"

namespace velmora::app {

InstanceNumber takeInstanceNumber(std::unique_ptr<CInstanceLock>& lock, const std::string& lockSuffix) {
    for (int n = 1; n <= texts::kMaxInstances; ++n) {
        auto candidate = std::make_unique<CInstanceLock>(texts::instanceTitle(n) + lockSuffix);
        if (candidate->held()) {
            lock = std::move(candidate);
            return {n, {}};
        }
        if (!candidate->failure().empty()) {
            // Not a number in use: no number can be had at all, and trying the others would say the same.
            return {0, candidate->failure()};
        }
    }
    return {};
}

}  // namespace velmora::app
