#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "cli/Console.h"

namespace velmora::cli {

namespace {

// The write end of the waiter's pipe, for the signal handler. Lock-free, so safe to read there.
std::atomic<int> gSignalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signo) {
    const int saved = errno;
    const auto note = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe.load(), &note, 1);
    errno = saved;
}

// A lost terminal or ssh session (SIGHUP) stops the update as kill does, unless it was ignored at start.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kStopSignals) {
        sigaddset(&set, signo);
    }
    return set;
}

constexpr unsigned char kEndedNote = 0;  // no signal has number 0

}  // namespace

void ignoreBrokenPipe() {
    // A reader that goes away (`| head`) must not end the update half-way: writes to it fail instead, and
    // the failed stream then stays silent.
    ::signal(SIGPIPE, SIG_IGN);
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool stdoutReaderGone() {
    // Linux and the BSDs flag the write end of a pipe or socket without a reader as an error.
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

CUtf8Console::CUtf8Console() = default;  // terminals here take UTF-8 as it is
CUtf8Console::~CUtf8Console() = default;

std::size_t terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

struct CRunWaiter::Impl {
    int readFd = -1;
    int writeFd = -1;
    bool ready = false;
    // The handling each stop signal had before; restored only where ours was put in its place.
    std::array<struct sigaction, kStopSignals.size()> old{};
    std::array<bool, kStopSignals.size()> taken{};
    sigset_t oldMask{};
    int lastSignal = 0;
};

CRunWaiter::CRunWaiter() : impl_(std::make_unique<Impl>()) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return;
    }
    impl_->readFd = fds[0];
    impl_->writeFd = fds[1];
    for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // A handler must never block: with the pipe full, a note more is simply not needed.
    ::fcntl(impl_->writeFd, F_SETFL, ::fcntl(impl_->writeFd, F_GETFL) | O_NONBLOCK);
    gSignalPipe.store(impl_->writeFd);

    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, &impl_->oldMask);

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    impl_->ready = true;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (::sigaction(kStopSignals[i], nullptr, &impl_->old[i]) != 0) {
            impl_->ready = false;
            continue;
        }
        // A signal ignored when the program started stays ignored (nohup, `trap '' INT`): whoever started
        // it asked for the update to outlive that signal.
        if (impl_->old[i].sa_handler == SIG_IGN) {
            continue;
        }
        impl_->taken[i] = ::sigaction(kStopSignals[i], &action, nullptr) == 0;
        impl_->ready = impl_->ready && impl_->taken[i];
    }
}

CRunWaiter::~CRunWaiter() {
    // A signal still held back reaches the handler here and only adds a note nobody reads.
    pthread_sigmask(SIG_SETMASK, &impl_->oldMask, nullptr);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (impl_->taken[i]) {
            ::sigaction(kStopSignals[i], &impl_->old[i], nullptr);
        }
    }
    gSignalPipe.store(-1);
    for (int fd : {impl_->readFd, impl_->writeFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool CRunWaiter::ready() const {
    return impl_->ready;
}

void CRunWaiter::notifyEnded() {
    [[maybe_unused]] const ssize_t n = ::write(impl_->writeFd, &kEndedNote, 1);
}

CRunWaiter::Wake CRunWaiter::wait(std::chrono::milliseconds limit) {
    if (impl_->readFd < 0) {
        return Wake::TimedOut;
    }
    const sigset_t set = stopSignals();
    // Only this thread takes the signals, and only while it waits; one that came in meanwhile arrives now.
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    pollfd p{impl_->readFd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(limit.count()));
    if (ready < 0 && errno == EINTR) {
        ready = ::poll(&p, 1, 0);  // the signal that cut the wait short has left its note by now
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (ready <= 0) {
        return Wake::TimedOut;
    }
    unsigned char note = kEndedNote;
    if (::read(impl_->readFd, &note, 1) != 1) {
        return Wake::TimedOut;
    }
    if (note == kEndedNote) {
        return Wake::Ended;
    }
    impl_->lastSignal = note;
    return Wake::Interrupted;
}

int CRunWaiter::signalNumber() const {
    return impl_->lastSignal;
}

}  // namespace velmora::cli
