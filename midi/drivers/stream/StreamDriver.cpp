#include "midi/drivers/stream/StreamDriver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#ifdef __linux__
#include <sys/sysmacros.h>
#include <time.h>

#include <sound/asound.h>
#endif

#include "i18n/Translate.h"

namespace velmora::midi {

namespace {

std::string inUse(const std::string& path) {
    const std::string holders = describeHolders(path);
    return i18n::arg(i18n::translate("Drivers", "%1 is in use by %2"),
                     {path, holders.empty() ? i18n::translate("Drivers", "another program") : holders});
}

std::string openFailure(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return i18n::arg(i18n::translate("Drivers", "%1 does not exist"), {path});
        case EACCES:
        case EPERM:
            return i18n::arg(i18n::translate("Drivers", "no permission to open %1 for reading and writing"),
                             {path});
        case EISDIR:
            return i18n::arg(i18n::translate("Drivers", "%1 is not a character device"), {path});
        case EBUSY:
            return inUse(path);
        case ENXIO:
        case ENODEV:
            return i18n::arg(i18n::translate("Drivers", "%1 has no device behind it"), {path});
        default:
            return errorText(i18n::arg(i18n::translate("Drivers", "cannot open %1"), {path}), error);
    }
}

bool fatal(int error) {
    return error != EAGAIN && error != EWOULDBLOCK;
}

std::string notMidi(const std::string& path) {
    return i18n::arg(i18n::translate("Drivers",
                                     "%1 is not a MIDI device: only a serial port, a pty or an ALSA "
                                     "rawmidi node (/dev/snd/midiC*D*) will do"),
                     {path});
}

// The kernel's class for a character device ("tty", "sound", "mem", ...), so that a node is judged before it
// is opened: opening some devices does something by itself. Nothing when the system does not say (Linux
// has no entry for a pty, for instance).
std::optional<std::string> deviceClass(const struct stat& info) {
#ifdef __linux__
    const std::string link = "/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                             std::to_string(minor(info.st_rdev)) + "/subsystem";
    char target[256];
    const SysResult n = sysCall([&] { return ::readlink(link.c_str(), target, sizeof target - 1); });
    if (n.failed()) {
        return std::nullopt;
    }
    const std::string text(target, static_cast<std::size_t>(n.value));
    return text.substr(text.find_last_of('/') + 1);
#else
    (void)info;
    return std::nullopt;
#endif
}

bool isRawMidi(int fd) {
#ifdef __linux__
    int version = 0;
    return !sysCall([&] { return ::ioctl(fd, SNDRV_RAWMIDI_IOCTL_PVERSION, &version); }).failed();
#else
    (void)fd;
    return false;
#endif
}

std::string ownTerminal(const std::string& path) {
    return i18n::arg(i18n::translate("Drivers", "%1 is the terminal this program runs in, not a MIDI device"),
                     {path});
}

// True when the node is the terminal the program was started from: its standard streams' tty, or /dev/tty.
bool isOwnTerminalNode(const struct stat& node) {
#ifdef __linux__
    if (node.st_rdev == makedev(5, 0)) {
        return true;
    }
#endif
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat info {};
        if (::isatty(fd) == 1 && ::fstat(fd, &info) == 0 && info.st_rdev == node.st_rdev) {
            return true;
        }
    }
    return false;
}

// True when the tty on fd is the controlling terminal of this program's session: switching it to raw bytes
// would take the user's terminal away.
bool isOwnTerminal(int fd) {
#ifdef TIOCGSID
    pid_t session = 0;
    return !sysCall([&] { return ::ioctl(fd, TIOCGSID, &session); }).failed() && session == ::getsid(0);
#else
    return false;
#endif
}

}  // namespace

// One open device node. A tty is switched to raw bytes for as long as it is open and given back its own
// settings afterwards.
class CStreamChannel final : public RawChannel {
  public:
    static std::shared_ptr<CStreamChannel> open(const std::string& path, std::chrono::milliseconds drainLimit,
                                                std::string* why);
    ~CStreamChannel() override;

    // False when `direction` is already in use.
    bool take(Direction direction) { return !taken(direction).exchange(true); }
    void released(Direction direction) override { taken(direction) = false; }
    // The device has reported an error or an end: this descriptor is of no further use.
    bool dead() const { return dead_.load(); }

    std::vector<pollfd> pollDescriptors(Direction direction) override {
        return {{fd_.get(), static_cast<short>(direction == Direction::In ? POLLIN : POLLOUT), 0}};
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
    CStreamChannel(CUniqueFd fd, std::chrono::milliseconds drainLimit)
        : fd_(std::move(fd)), drainLimit_(drainLimit) {}
    // Gives the kernel's output queue a known size, so that what is still queued can be told.
    void setUpRawMidi();
    // Waits for a serial port's transmitter to run empty, at most drainLimit_: with no flow control that
    // is a FIFO's worth of bytes, and a device that holds them back for longer is taken as gone.
    bool drainSerial();
    std::atomic<bool>& taken(Direction direction) {
        return direction == Direction::In ? inputTaken_ : outputTaken_;
    }
    IoResult result(SysResult done);

    CUniqueFd fd_;
    const std::chrono::milliseconds drainLimit_;
    bool tty_ = false;
    bool rawMidi_ = false;
    std::size_t rawMidiBuffer_ = 0;  // the output queue's size in bytes, as set at open; 0 when unknown
    termios saved_{};
    std::atomic<bool> inputTaken_{false};
    std::atomic<bool> outputTaken_{false};
    std::atomic<bool> dead_{false};
};

std::shared_ptr<CStreamChannel> CStreamChannel::open(const std::string& path,
                                                     std::chrono::milliseconds drainLimit, std::string* why) {
    auto fail = [&](std::string reason) -> std::shared_ptr<CStreamChannel> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    if (std::string refused = CStreamDriver::unusable(path); !refused.empty()) {
        return fail(std::move(refused));
    }
    const SysResult opened =
        sysCall([&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (opened.failed()) {
        return fail(openFailure(path, opened.error));
    }
    std::shared_ptr<CStreamChannel> channel(
        new CStreamChannel(CUniqueFd(static_cast<int>(opened.value)), drainLimit));
    const int fd = channel->fd_.get();

    struct stat info {};
    if (const SysResult s = sysCall([&] { return ::fstat(fd, &info); }); s.failed()) {
        return fail(errorText(i18n::arg(i18n::translate("Drivers", "cannot examine %1"), {path}), s.error));
    }
    const bool tty = ::isatty(fd) == 1;
    if (!S_ISCHR(info.st_mode) || (!tty && !isRawMidi(fd))) {
        return fail(notMidi(path));
    }
    if (tty && isOwnTerminal(fd)) {
        return fail(ownTerminal(path));
    }
    // Two programs writing to one device would interleave their messages on the wire.
    if (const SysResult locked = sysCall([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }); locked.failed()) {
        return fail(
            locked.error == EWOULDBLOCK
                ? inUse(path)
                : errorText(i18n::arg(i18n::translate("Drivers", "cannot lock %1"), {path}), locked.error));
    }
    if (!tty) {
        channel->rawMidi_ = true;
        channel->setUpRawMidi();
    } else {
        if (const SysResult got = sysCall([&] { return ::tcgetattr(fd, &channel->saved_); }); got.failed()) {
            return fail(errorText(
                i18n::arg(i18n::translate("Drivers", "cannot read the settings of %1"), {path}), got.error));
        }
        termios raw = channel->saved_;
        // MIDI is eight-bit data: no echo, no line editing, no signals, no translation of CR or LF. No flow
        // control of either kind: XON/XOFF would put bytes into a SysEx, and a handshake line nobody drives
        // would hold every byte back. CLOCAL: a missing carrier is not a hang-up.
        ::cfmakeraw(&raw);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        raw.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        raw.c_cflag |= CLOCAL | CREAD;
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (const SysResult set = sysCall([&] { return ::tcsetattr(fd, TCSANOW, &raw); }); set.failed()) {
            return fail(errorText(
                i18n::arg(i18n::translate("Drivers", "cannot switch %1 to raw bytes"), {path}), set.error));
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

void CStreamChannel::setUpRawMidi() {
#ifdef __linux__
    constexpr std::size_t kQueueBytes = 4096;
    snd_rawmidi_params params{};
    params.stream = SNDRV_RAWMIDI_STREAM_OUTPUT;
    params.buffer_size = kQueueBytes;
    params.avail_min = 1;
    params.no_active_sensing = 1;
    if (!sysCall([&] { return ::ioctl(fd_.get(), SNDRV_RAWMIDI_IOCTL_PARAMS, &params); }).failed()) {
        rawMidiBuffer_ = kQueueBytes;
    }
#endif
}

IoResult CStreamChannel::queuedOutput() {
#ifdef __linux__
    if (rawMidi_ && rawMidiBuffer_ > 0) {
        snd_rawmidi_status status{};
        status.stream = SNDRV_RAWMIDI_STREAM_OUTPUT;
        const SysResult done =
            sysCall([&] { return ::ioctl(fd_.get(), SNDRV_RAWMIDI_IOCTL_STATUS, &status); });
        if (done.failed()) {
            return result(done);
        }
        return {IoStatus::ok, status.avail < rawMidiBuffer_ ? rawMidiBuffer_ - status.avail : 0, 0};
    }
#endif
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
#ifdef __linux__
    if (rawMidi_) {
        // Returns once the kernel has put the last byte on the wire, as the ALSA driver's own drain does.
        int stream = SNDRV_RAWMIDI_STREAM_OUTPUT;
        return !sysCall([&] { return ::ioctl(fd_.get(), SNDRV_RAWMIDI_IOCTL_DRAIN, &stream); }).failed();
    }
#endif
    return !tty_ || drainSerial();
}

bool CStreamChannel::drainSerial() {
#ifdef TIOCSERGETLSR
    const auto deadline = std::chrono::steady_clock::now() + drainLimit_;
    for (;;) {
        unsigned int lineStatus = 0;
        if (sysCall([&] { return ::ioctl(fd_.get(), TIOCSERGETLSR, &lineStatus); }).failed()) {
            // A pty or a USB adapter cannot tell; its queue, already empty, is all there is to wait for.
            return true;
        }
        if ((lineStatus & TIOCSER_TEMT) != 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#else
    // tcdrain has no time limit: a port that never empties would hold the writer for good.
    return true;
#endif
}

void CStreamChannel::discardOutput() {
    if (tty_) {
        sysCall([&] { return ::tcflush(fd_.get(), TCOFLUSH); });
    }
}

// ---- the driver ----

std::string CStreamDriver::unusable(const std::string& path) {
    struct stat node {};
    if (const SysResult s = sysCall([&] { return ::stat(path.c_str(), &node); }); s.failed()) {
        return openFailure(path, s.error);
    }
    if (!S_ISCHR(node.st_mode)) {
        return notMidi(path);
    }
    if (const std::optional<std::string> kind = deviceClass(node);
        kind && *kind != "tty" && *kind != "sound") {
        return notMidi(path);
    }
    return isOwnTerminalNode(node) ? ownTerminal(path) : std::string();
}

CStreamDriver::CStreamDriver(std::string path, std::string name, RawLimits limits)
    : path_(std::move(path)), name_(name.empty() ? path_ : std::move(name)), limits_(limits) {}

unsigned CStreamDriver::portCount(Direction /*direction*/) {
    struct stat info {};
    return sysCall([&] { return ::stat(path_.c_str(), &info); }).failed() ? 0 : 1;
}

std::string CStreamDriver::portName(Direction direction, unsigned index) {
    return index < portCount(direction) ? name_ : std::string();
}

std::shared_ptr<CStreamChannel> CStreamDriver::claim(int index, Direction direction, std::string* why) {
    const bool input = direction == Direction::In;
    if (index != 0) {
        if (why != nullptr) {
            *why = i18n::arg(input ? i18n::translate("Drivers", "no input %1: %2 has only one")
                                   : i18n::translate("Drivers", "no output %1: %2 has only one"),
                             {std::to_string(index), path_});
        }
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    std::shared_ptr<CStreamChannel> channel = open_.lock();
    // A descriptor whose device went away stays with whoever still holds it; a new open gets a new one, so
    // that a device plugged in again can be used without closing the other direction first.
    if (!channel || channel->dead()) {
        channel = CStreamChannel::open(path_, limits_.stall, why);
        if (!channel) {
            return nullptr;
        }
        open_ = channel;
    }
    if (!channel->take(direction)) {
        if (why != nullptr) {
            *why = i18n::arg(input ? i18n::translate("Drivers", "the input on %1 is already open")
                                   : i18n::translate("Drivers", "the output on %1 is already open"),
                             {path_});
        }
        return nullptr;
    }
    return channel;
}

std::unique_ptr<MidiOutput> CStreamDriver::openOutput(int index, std::string* why) {
    std::shared_ptr<CStreamChannel> channel = claim(index, Direction::Out, why);
    if (!channel) {
        return nullptr;
    }
    std::unique_ptr<CRawOutput> output = CRawOutput::create(channel, limits_, why);
    if (!output) {
        channel->released(Direction::Out);
    }
    return output;
}

std::unique_ptr<MidiInput> CStreamDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    std::shared_ptr<CStreamChannel> channel = claim(index, Direction::In, why);
    if (!channel) {
        return nullptr;
    }
    std::unique_ptr<CRawInput> input = CRawInput::create(channel, std::move(onSysEx), why);
    if (!input) {
        channel->released(Direction::In);
    }
    return input;
}

}  // namespace velmora::midi
