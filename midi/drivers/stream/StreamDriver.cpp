#include "midi/drivers/stream/StreamDriver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <utility>

namespace velmora::midi {

namespace {

std::string inUse(const std::string& path) {
    const std::string holders = describeHolders(path);
    return path + " is in use by " + (holders.empty() ? std::string("another program") : holders);
}

std::string openFailure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return path + " does not exist";
        case EACCES:
        case EPERM:
            return "no permission to open " + path + " for reading and writing";
        case EISDIR:
            return path + " is not a character device";
        case EBUSY:
            return inUse(path);
        case ENXIO:
        case ENODEV:
            return path + " has no device behind it";
        default:
            return errorText("cannot open " + path, error);
    }
}

bool fatal(int error) {
    return error != EAGAIN && error != EWOULDBLOCK;
}

}  // namespace

// One open device node. A tty is switched to raw bytes for as long as it is open and given back its own
// settings afterwards.
class CStreamChannel final : public RawChannel {
  public:
    static std::shared_ptr<CStreamChannel> open(const std::string& path, std::string* why);
    ~CStreamChannel() override;

    // False when `direction` is already in use.
    bool take(Direction direction) { return !taken(direction).exchange(true); }
    void released(Direction direction) override { taken(direction) = false; }
    // The device has reported an error or an end: this descriptor is of no further use.
    bool dead() const { return dead_.load(); }

    std::vector<pollfd> pollDescriptors(Direction direction) override {
        return {{fd_.get(), static_cast<short>(direction == Direction::input ? POLLIN : POLLOUT), 0}};
    }
    short readyEvents(Direction, std::span<pollfd> polled) override {
        return polled.empty() ? 0 : polled[0].revents;
    }
    IoResult read(std::span<std::uint8_t> into) override;
    IoResult write(Bytes bytes) override;
    IoResult queuedOutput() override;
    bool drain() override;
    void discardOutput() override;

  private:
    explicit CStreamChannel(CUniqueFd fd) : fd_(std::move(fd)) {}
    std::atomic<bool>& taken(Direction direction) {
        return direction == Direction::input ? inputTaken_ : outputTaken_;
    }
    IoResult result(SysResult done);

    CUniqueFd fd_;
    bool tty_ = false;
    termios saved_{};
    std::atomic<bool> inputTaken_{false};
    std::atomic<bool> outputTaken_{false};
    std::atomic<bool> dead_{false};
};

std::shared_ptr<CStreamChannel> CStreamChannel::open(const std::string& path, std::string* why) {
    auto fail = [&](std::string reason) -> std::shared_ptr<CStreamChannel> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    const SysResult opened =
        sysCall([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (opened.failed()) {
        return fail(openFailure(path, opened.error));
    }
    std::shared_ptr<CStreamChannel> channel(new CStreamChannel(CUniqueFd(static_cast<int>(opened.value))));
    const int fd = channel->fd_.get();

    struct stat info {};
    if (const SysResult s = sysCall([&] { return ::fstat(fd, &info); }); s.failed()) {
        return fail(errorText("cannot examine " + path, s.error));
    }
    if (!S_ISCHR(info.st_mode)) {
        return fail(path + " is not a character device (a serial port, a pty or a MIDI device node)");
    }
    // Two programs writing to one device would interleave their messages on the wire.
    if (const SysResult locked = sysCall([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }); locked.failed()) {
        return fail(locked.error == EWOULDBLOCK ? inUse(path)
                                                : errorText("cannot lock " + path, locked.error));
    }
    if (::isatty(fd) == 1) {
        if (const SysResult got = sysCall([&] { return ::tcgetattr(fd, &channel->saved_); }); got.failed()) {
            return fail(errorText("cannot read the settings of " + path, got.error));
        }
        termios raw = channel->saved_;
        // MIDI is eight-bit data: no echo, no line editing, no signals, no translation of CR or LF, no
        // software flow control on 0x11/0x13. CLOCAL: a missing carrier is not a hang-up.
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (const SysResult set = sysCall([&] { return ::tcsetattr(fd, TCSANOW, &raw); }); set.failed()) {
            return fail(errorText("cannot switch " + path + " to raw bytes", set.error));
        }
        channel->tty_ = true;
    }
    return channel;
}

CStreamChannel::~CStreamChannel() {
    if (tty_) {
        sysCall([&] { return ::tcsetattr(fd_.get(), TCSANOW, &saved_); });
    }
}

IoResult CStreamChannel::result(SysResult done) {
    if (!done.failed()) {
        return {IoStatus::ok, static_cast<std::size_t>(done.value), 0};
    }
    if (!fatal(done.error)) {
        return {IoStatus::wouldBlock, 0, 0};
    }
    dead_ = true;
    return {IoStatus::failed, 0, done.error};
}

IoResult CStreamChannel::read(std::span<std::uint8_t> into) {
    const SysResult done = sysCall([&] { return ::read(fd_.get(), into.data(), into.size()); });
    if (!done.failed() && done.value == 0 && !into.empty()) {
        dead_ = true;
        return {IoStatus::ended, 0, 0};
    }
    return result(done);
}

IoResult CStreamChannel::write(Bytes bytes) {
    return result(sysCall([&] { return ::write(fd_.get(), bytes.data(), bytes.size()); }));
}

IoResult CStreamChannel::queuedOutput() {
#ifdef TIOCOUTQ
    if (tty_) {
        int queued = 0;
        const SysResult done = sysCall([&] { return ::ioctl(fd_.get(), TIOCOUTQ, &queued); });
        if (done.failed()) {
            return result(done);
        }
        return {IoStatus::ok, static_cast<std::size_t>(queued > 0 ? queued : 0), 0};
    }
#endif
    return {};
}

bool CStreamChannel::drain() {
    // Only a tty can tell; for other nodes the bytes have left once written.
    return !tty_ || !sysCall([&] { return ::tcdrain(fd_.get()); }).failed();
}

void CStreamChannel::discardOutput() {
    if (tty_) {
        sysCall([&] { return ::tcflush(fd_.get(), TCOFLUSH); });
    }
}

// ---- the driver ----

CStreamDriver::CStreamDriver(std::string path, std::string name, RawLimits limits)
    : path_(std::move(path)), name_(boundedName(name.empty() ? path_ : std::move(name))), limits_(limits) {}

unsigned CStreamDriver::count() {
    struct stat info {};
    return sysCall([&] { return ::stat(path_.c_str(), &info); }).failed() ? 0 : 1;
}

std::string CStreamDriver::name(unsigned index) {
    return index < count() ? name_ : std::string();
}

unsigned CStreamDriver::inputCount() {
    return count();
}

std::string CStreamDriver::inputName(unsigned index) {
    return name(index);
}

unsigned CStreamDriver::outputCount() {
    return count();
}

std::string CStreamDriver::outputName(unsigned index) {
    return name(index);
}

std::shared_ptr<CStreamChannel> CStreamDriver::claim(int index, Direction direction, std::string* why) {
    const char* const what = direction == Direction::input ? "input" : "output";
    if (index != 0) {
        if (why != nullptr) {
            *why = "no " + std::string(what) + " " + std::to_string(index) + ": " + path_ + " has only one";
        }
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    std::shared_ptr<CStreamChannel> channel = open_.lock();
    // A descriptor whose device went away stays with whoever still holds it; a new open gets a new one, so
    // that a device plugged in again can be used without closing the other direction first.
    if (!channel || channel->dead()) {
        channel = CStreamChannel::open(path_, why);
        if (!channel) {
            return nullptr;
        }
        open_ = channel;
    }
    if (!channel->take(direction)) {
        if (why != nullptr) {
            *why = "the " + std::string(what) + " on " + path_ + " is already open";
        }
        return nullptr;
    }
    return channel;
}

std::unique_ptr<MidiOutput> CStreamDriver::openOutput(int index, std::string* why) {
    std::shared_ptr<CStreamChannel> channel = claim(index, Direction::output, why);
    if (!channel) {
        return nullptr;
    }
    std::unique_ptr<CRawOutput> output = CRawOutput::create(channel, limits_, why);
    if (!output) {
        channel->released(Direction::output);
    }
    return output;
}

std::unique_ptr<MidiInput> CStreamDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    std::shared_ptr<CStreamChannel> channel = claim(index, Direction::input, why);
    if (!channel) {
        return nullptr;
    }
    std::unique_ptr<CRawInput> input = CRawInput::create(channel, std::move(onSysEx), why);
    if (!input) {
        channel->released(Direction::input);
    }
    return input;
}

}  // namespace velmora::midi
