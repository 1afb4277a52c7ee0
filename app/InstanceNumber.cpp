#include "app/InstanceNumber.h"

#include "update/Texts.h"

namespace velmora::app {

int takeInstanceNumber(std::unique_ptr<CInstanceLock>& lock) {
    for (int n = 1; n <= texts::kMaxInstances; ++n) {
        auto candidate = std::make_unique<CInstanceLock>(texts::instanceTitle(n));
        if (candidate->held()) {
            lock = std::move(candidate);
            return n;
        }
    }
    return 0;
}

}  // namespace velmora::app
