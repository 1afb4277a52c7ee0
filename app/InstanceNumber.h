#pragma once
// Which instance number this copy of the program gets: the lowest whose lock it can take.

#include <memory>

#include "app/CInstanceLock.h"

namespace velmora::app {

// Exit status of a start refused because every instance number is taken (EX_TEMPFAIL of <sysexits.h>: it
// works again once another copy has ended). Every other end of the program is 0.
inline constexpr int kExitInstanceLimit = 75;

// Takes the lock of the lowest free number, 1 to texts::kMaxInstances, into `lock` and returns the number; 0
// when every number is taken. A number freed by a copy that ended is the next one handed out.
int takeInstanceNumber(std::unique_ptr<CInstanceLock>& lock);

}  // namespace velmora::app
