#include "midi/drivers/stream/PosixIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>

#include "i18n/Translate.h"

namespace velmora::midi {

std::string errorText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

CUniqueFd::~CUniqueFd() {
    reset();
}

CUniqueFd& CUniqueFd::operator=(CUniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int CUniqueFd::release() {
    return std::exchange(fd_, -1);
}

void CUniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        // Not retried on EINTR: on Linux the descriptor is released even then, and a retry could close a
        // descriptor another thread has just been given.
        ::close(fd_);
    }
    fd_ = fd;
}

CWakeup::CWakeup() {
    int ends[2] = {-1, -1};
    if (sysCall([&] { return ::pipe(ends); }).failed()) {
        return;
    }
    read_.reset(ends[0]);
    write_.reset(ends[1]);
    // Non-blocking: a signal never waits, and close-on-exec keeps the pipe out of child programs.
    for (const int fd : ends) {
        sysCall([&] { return ::fcntl(fd, F_SETFD, FD_CLOEXEC); });
        const SysResult flags = sysCall([&] { return ::fcntl(fd, F_GETFL); });
        if (flags.failed() || sysCall([&] {
                                  return ::fcntl(fd, F_SETFL, static_cast<int>(flags.value) | O_NONBLOCK);
                              }).failed()) {
            read_.reset();
            write_.reset();
            return;
        }
    }
}

void CWakeup::signal() {
    const char one = 1;
    // A full pipe is already readable, which is all a wake-up needs.
    sysCall([&] { return ::write(write_.get(), &one, 1); });
}

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool isNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

std::string linkTarget(const std::string& link) {
    char target[PATH_MAX];
    const SysResult n = sysCall([&] { return ::readlink(link.c_str(), target, sizeof target); });
    if (n.failed() || static_cast<std::size_t>(n.value) >= sizeof target) {
        return {};
    }
    return std::string(target, static_cast<std::size_t>(n.value));
}

bool holds(const std::string& pidDir, const std::string& target) {
    const std::string fdDir = pidDir + "/fd";
    DirHandle dir(::opendir(fdDir.c_str()));
    if (!dir) {
        return false;  // gone, or another user's process
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (isNumber(entry->d_name) && linkTarget(fdDir + "/" + entry->d_name) == target) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string describeHolders(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        return {};
    }
    const std::string target = resolved;
    DirHandle proc(::opendir("/proc"));
    if (!proc) {
        return {};
    }
    std::string holders;
    while (const dirent* entry = ::readdir(proc.get())) {
        if (!isNumber(entry->d_name)) {
            continue;
        }
        const std::string pidDir = std::string("/proc/") + entry->d_name;
        if (!holds(pidDir, target)) {
            continue;
        }
        std::string name;
        std::ifstream comm(pidDir + "/comm");
        std::getline(comm, name);
        if (name.empty()) {
            name = i18n::translate("Drivers", "a process");
        }
        if (!holders.empty()) {
            holders += ", ";
        }
        holders += i18n::arg(i18n::translate("Drivers", "%1 (pid %2)"), {name, entry->d_name});
    }
    return holders;
}

}  // namespace velmora::midi
