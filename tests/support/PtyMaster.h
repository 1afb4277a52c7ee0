#pragma once
// The device side of a pseudo-terminal, for tests that play a device on a raw MIDI byte stream.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmora::testing {

// The device side of a pty.
class CPtyMaster {
  public:
    CPtyMaster() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0) {
            std::array<char, 128> name{};
            if (::ptsname_r(fd_, name.data(), name.size()) == 0) {
                path_ = name.data();
            }
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~CPtyMaster() { hangUp(); }
    CPtyMaster(const CPtyMaster&) = delete;
    CPtyMaster& operator=(const CPtyMaster&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0 && !path_.empty(); }

    void hangUp() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool write(std::span<const std::uint8_t> bytes) {
        std::size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
        return done == bytes.size();
    }

    // Up to `count` bytes, waiting at most `limit` for them.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds limit) {
        std::vector<std::uint8_t> out;
        std::array<std::uint8_t, 4096> buffer{};
        const auto end = std::chrono::steady_clock::now() + limit;
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 10);
            const ssize_t n = ::read(fd_, buffer.data(), std::min(buffer.size(), count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buffer.begin(), buffer.begin() + n);
            }
        }
        return out;
    }

    // The slave's settings (a pty's master reports its slave's).
    termios settings() const {
        termios t{};
        ::tcgetattr(fd_, &t);
        return t;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace velmora::testing
