#include <io.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>

#include "cli/Console.h"

namespace velmora::cli {

void ignoreBrokenPipe() {
    // Windows raises no signal for a closed pipe: the write fails and the stream goes quiet.
}

bool stdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

CUtf8Console::CUtf8Console() {
    const UINT current = GetConsoleOutputCP();  // 0 without a console
    if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        previous_ = current;
    }
}

CUtf8Console::~CUtf8Console() {
    if (previous_ != 0) {
        SetConsoleOutputCP(previous_);
    }
}

std::size_t terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) {
            return static_cast<std::size_t>(columns);
        }
    }
    return 80;
}

struct CRunWaiter::Impl {
    std::mutex mutex;
    std::condition_variable noted;
    std::deque<int> notes;  // 0: ended; otherwise the signal the console event stands for
    int lastSignal = 0;
    bool ready = false;

    void add(int note) {
        {
            std::lock_guard lock(mutex);
            notes.push_back(note);
        }
        noted.notify_all();
    }
};

namespace {

std::atomic<CRunWaiter::Impl*> gWaiter{nullptr};

// Windows runs console control handlers on a thread of their own, so a plain lock is fine here.
BOOL WINAPI onConsoleControl(DWORD type) {
    CRunWaiter::Impl* waiter = gWaiter.load();
    if (waiter == nullptr) {
        return FALSE;
    }
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            waiter->add(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            waiter->add(SIGTERM);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

CRunWaiter::CRunWaiter() : impl_(std::make_unique<Impl>()) {
    gWaiter.store(impl_.get());
    impl_->ready = SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

CRunWaiter::~CRunWaiter() {
    if (impl_->ready) {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
    }
    gWaiter.store(nullptr);
}

bool CRunWaiter::ready() const {
    return impl_->ready;
}

void CRunWaiter::notifyEnded() {
    impl_->add(0);
}

CRunWaiter::Wake CRunWaiter::wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(impl_->mutex);
    if (!impl_->noted.wait_for(lock, limit, [this] { return !impl_->notes.empty(); })) {
        return Wake::TimedOut;
    }
    const int note = impl_->notes.front();
    impl_->notes.pop_front();
    if (note == 0) {
        return Wake::Ended;
    }
    impl_->lastSignal = note;
    return Wake::Interrupted;
}

int CRunWaiter::signalNumber() const {
    return impl_->lastSignal;
}

}  // namespace velmora::cli
