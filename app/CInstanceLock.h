#pragma once
// The per-login named lock that marks one instance number as taken. Whoever holds it keeps it for as long as
// the object lives; the system frees it when the process ends, however it ends. One implementation per
// platform: InstanceLockPosix.cpp (a lock file held with flock) and InstanceLockWin32.cpp (a named mutex).

#include <string>

namespace velmora::app {

class CInstanceLock {
  public:
    // Tries to take the lock called `name`. held() tells whether it worked: it does not when another process
    // holds the name, nor when the lock cannot be made at all.
    explicit CInstanceLock(const std::string& name);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    bool held() const;
    // Why the lock could not be made at all (the place it was looked for, and what went wrong there); empty
    // when it is held, and when another process holds the name.
    const std::string& failure() const { return failure_; }
    // The failure is the place for every lock (the lock folder), not this name's: no other name can be had
    // either.
    bool placeUnusable() const { return placeUnusable_; }

  private:
    std::string failure_;
    bool placeUnusable_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

#ifndef _WIN32
// Where the lock files go: $XDG_RUNTIME_DIR when it is a private directory of this user's, else the directory
// "velmora-updater" (created 0700 when missing) under $XDG_CACHE_HOME or ~/.cache. Empty when neither is a
// private directory of this user's.
std::string instanceLockDirectory();

// The lock file's name for a lock name: every byte other than a letter, digit, '.', '-', '_', '(' or ')'
// becomes '_', and ".lock" is appended.
std::string lockFileName(const std::string& name);
#endif

}  // namespace velmora::app
