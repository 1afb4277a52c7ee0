#pragma once
// Small owners and helpers around POSIX descriptors, shared by the drivers that talk to device nodes.

#include <cerrno>
#include <string>

namespace velmora::midi {

// The outcome of one system call: its value, or -1 with the errno it left.
struct SysResult {
    long value = 0;
    int error = 0;
    bool failed() const { return value < 0; }
};

// Runs one system call that reports failure as -1 and errno, again when a signal interrupted it. Every raw
// call of these drivers goes through here so that EINTR is never mistaken for a failure.
template <typename Call>
SysResult sysCall(Call call) {
    for (;;) {
        const long value = static_cast<long>(call());
        if (value >= 0) {
            return {value, 0};
        }
        if (errno != EINTR) {
            return {value, errno};
        }
    }
}

// "what: reason" for an errno value.
std::string errorText(const std::string& what, int error);

// Owns one file descriptor and closes it.
class CUniqueFd {
  public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : fd_(fd) {}
    ~CUniqueFd();
    CUniqueFd(CUniqueFd&& other) noexcept : fd_(other.release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept;
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// A pipe that another thread makes readable to end a wait in poll(). Once signalled it stays readable: it
// only ever means "stop".
class CWakeup {
  public:
    CWakeup();
    bool valid() const { return read_.valid() && write_.valid(); }
    int fd() const { return read_.get(); }
    void signal();

  private:
    CUniqueFd read_;
    CUniqueFd write_;
};

// Which processes hold `path` open, as "name (pid N)" joined by ", "; empty when none can be seen (Linux's
// /proc shows other users' descriptors only to root).
std::string describeHolders(const std::string& path);

}  // namespace velmora::midi
