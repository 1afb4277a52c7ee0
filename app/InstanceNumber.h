#pragma once
// Which instance number this copy of the program gets: the lowest whose lock it can take.

#include <memory>
#include <string>

#include "app/CInstanceLock.h"

namespace velmora::app {

// Exit status of a start refused because every instance number is taken (EX_TEMPFAIL of <sysexits.h>: it
// works again once another copy has ended). Every other end of the program is 0.
inline constexpr int kExitInstanceLimit = 75;
// Exit status of a start that could not make an instance lock at all (EX_CANTCREAT of <sysexits.h>).
inline constexpr int kExitNoInstanceLock = 73;

struct InstanceNumber {
    int number = 0;       // 1 to texts::kMaxInstances; 0 when none could be had
    std::string failure;  // why no lock could be made: the lock folder's failure, or the first number whose
                          // lock was in the way; empty when every number is simply taken
};

// Takes the lock of the lowest free number into `lock`. A number freed by a copy that ended is the next one
// handed out; a number whose lock cannot be made passes to the next, unless the lock folder itself is
// unusable. `lockSuffix` keeps another program's copies apart from the updater's (the demo counts its own).
InstanceNumber takeInstanceNumber(std::unique_ptr<CInstanceLock>& lock, const std::string& lockSuffix = {});

}  // namespace velmora::app
