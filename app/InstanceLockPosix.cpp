// The instance lock as a lock file held with flock(). The kernel drops the lock with the last descriptor of
// the open file, so a copy that crashes or is killed frees its number at once. The file itself stays:
// removing it could pull it from under another process that has just opened it.

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/CInstanceLock.h"
#include "i18n/Translate.h"

namespace velmora::app {

namespace {

constexpr const char* kPrivateDirName = "velmora-updater";

// Only this user can add, remove or replace entries in it.
bool isPrivateDirectory(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string errnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The directory as a descriptor, when it is private; the checks are made on what was opened, not on the path.
// -1 otherwise, with the reason in *why.
int openPrivateDirectory(const std::string& path, std::string* why) {
    if (path.empty() || path.front() != '/') {
        // It would depend on the current directory.
        *why = i18n::arg(i18n::translate("InstanceLock", "\"%1\" is not an absolute path"), {path});
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errnoText(path, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *why = errnoText(path, errno);
    } else if (!isPrivateDirectory(st)) {
        *why = st.st_uid != geteuid()
                   ? i18n::arg(i18n::translate("InstanceLock", "%1: owned by user %2, not by this user"),
                               {path, std::to_string(st.st_uid)})
                   : i18n::arg(i18n::translate("InstanceLock", "%1: other users may write to it"), {path});
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

std::string absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

std::string homeDirectory() {
    std::string home = absoluteEnv("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(geteuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        }
    }
    return home;
}

std::string fallbackDirectory(std::string* why) {
    std::string cache = absoluteEnv("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = homeDirectory();
        if (home.empty() || home.front() != '/') {
            *why = i18n::translate("InstanceLock", "no home directory");
            return {};
        }
        cache = home + "/.cache";
    }
    ::mkdir(cache.c_str(), 0700);  // an existing one is fine: only our own directory below must be private
    return cache + "/" + kPrivateDirName;
}

// The directory for lock files as a descriptor and its path; -1 when there is none, with what was tried and
// why it failed in *why.
int openLockDirectory(std::string* path, std::string* why) {
    std::string dir = absoluteEnv("XDG_RUNTIME_DIR");
    std::string runtimeWhy = i18n::translate("InstanceLock", "XDG_RUNTIME_DIR is not set");
    int fd = -1;
    if (std::getenv("XDG_RUNTIME_DIR") != nullptr) {
        fd = openPrivateDirectory(std::getenv("XDG_RUNTIME_DIR"), &runtimeWhy);
    }
    if (fd < 0) {
        std::string fallbackWhy;
        dir = fallbackDirectory(&fallbackWhy);
        if (!dir.empty()) {
            if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
                fallbackWhy =
                    errnoText(i18n::arg(i18n::translate("InstanceLock", "cannot create %1"), {dir}), errno);
            } else {
                fd = openPrivateDirectory(dir, &fallbackWhy);
            }
        }
        if (fd < 0) {
            if (why != nullptr) {
                *why =
                    i18n::arg(i18n::translate("InstanceLock", "no directory for the instance lock: %1; %2"),
                              {runtimeWhy, fallbackWhy});
            }
            return -1;
        }
    }
    if (path != nullptr) {
        *path = dir;
    }
    return fd;
}

bool isSafeFileNameByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '(' || c == ')';
}

}  // namespace

std::string lockFileName(const std::string& name) {
    std::string file = name;
    for (char& c : file) {
        if (!isSafeFileNameByte(c)) {
            c = '_';
        }
    }
    return file + ".lock";
}

std::string instanceLockDirectory() {
    std::string path;
    const int fd = openLockDirectory(&path, nullptr);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return path;
}

CInstanceLock::CInstanceLock(const std::string& name) {
    std::string dirPath;
    const int dir = openLockDirectory(&dirPath, &failure_);
    if (dir < 0) {
        placeUnusable_ = true;
        return;
    }
    const std::string filePath = dirPath + "/" + lockFileName(name);
    // O_NOFOLLOW: a planted symbolic link must not lead the lock (and O_CREAT) elsewhere. O_NONBLOCK: a
    // planted FIFO must not hang the start. O_CLOEXEC: a program this one starts must not keep the number
    // taken.
    const int fd = ::openat(dir, lockFileName(name).c_str(),
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    const int openError = errno;
    ::close(dir);
    if (fd < 0) {
        failure_ = errnoText(filePath, openError);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        failure_ = i18n::arg(i18n::translate("InstanceLock", "%1: not a file of this user's"), {filePath});
        ::close(fd);
        return;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK) {
            failure_ =
                errnoText(i18n::arg(i18n::translate("InstanceLock", "cannot lock %1"), {filePath}), errno);
        }
        ::close(fd);  // EWOULDBLOCK: another process holds this number
        return;
    }
    fd_ = fd;
}

CInstanceLock::~CInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool CInstanceLock::held() const {
    return fd_ >= 0;
}

}  // namespace velmora::app
