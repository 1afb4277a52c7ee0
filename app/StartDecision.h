#pragma once
// Whether this copy of a dialog program may start, decided once for every toolkit: the instance number it
// runs as, or the box that refuses the start and the exit status that goes with it.

#include <memory>
#include <string>

#include "app/CInstanceLock.h"

namespace velmora::app {

struct StartDecision {
    enum class Box { Error, Warning };
    int instanceNumber = 0;  // 1 to texts::kMaxInstances; 0 when the start is refused
    Box box = Box::Warning;  // a refusal's box: an error when no lock could be made, a warning at the limit
    std::string message;     // the refusal box's text, in the language chosen at start
    int exitStatus = 0;
};

// Takes the lowest free instance number's lock into `lock`, or says why the start is refused.
StartDecision decideStart(std::unique_ptr<CInstanceLock>& lock, const std::string& lockSuffix);

}  // namespace velmora::app
