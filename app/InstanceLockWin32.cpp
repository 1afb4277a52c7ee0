// The instance lock as a named mutex. A name without a namespace prefix lives in the session's own namespace,
// so copies that other users run at the same time do not count. The system closes the handle when the process
// ends, however it ends.

#include <windows.h>

#include <string>

#include "app/CInstanceLock.h"

namespace velmora::app {

CInstanceLock::CInstanceLock(const std::string& name) {
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr) {
        failure_ =
            "cannot create the named mutex \"" + name + "\": error " + std::to_string(::GetLastError());
    } else if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);  // the name exists: another copy holds this number
        mutex = nullptr;
    }
    handle_ = mutex;
}

CInstanceLock::~CInstanceLock() {
    if (handle_ != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle_));
    }
}

bool CInstanceLock::held() const {
    return handle_ != nullptr;
}

}  // namespace velmora::app
