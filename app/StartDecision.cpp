#include "app/StartDecision.h"

#include "app/InstanceNumber.h"
#include "ui/DialogTexts.h"
#include "update/Texts.h"

namespace velmora::app {

StartDecision decideStart(std::unique_ptr<CInstanceLock>& lock, const std::string& lockSuffix) {
    const InstanceNumber taken = takeInstanceNumber(lock, lockSuffix);
    if (taken.number != 0) {
        return {taken.number, StartDecision::Box::Warning, {}, 0};
    }
    if (!taken.failure.empty()) {
        return {0, StartDecision::Box::Error,
                i18n::arg(ui::labels::shown(ui::labels::kCannotStart), {taken.failure}), kExitNoInstanceLock};
    }
    return {0, StartDecision::Box::Warning, texts::instanceLimit(texts::kMaxInstances), kExitInstanceLimit};
}

}  // namespace velmora::app
