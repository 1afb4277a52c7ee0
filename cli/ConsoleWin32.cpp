#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>

#include "cli/Console.h"
#include "cli/StopNotes.h"

namespace velmora::cli {

void ignoreBrokenPipe() {
    // Windows raises no signal for a closed pipe: the write fails and the stream goes quiet.
}

bool stdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

bool stdoutReaderGone() {
    // A pipe whose reader has closed its end says so when asked what it holds.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return GetFileType(out) == FILE_TYPE_PIPE && !PeekNamedPipe(out, nullptr, 0, nullptr, nullptr, nullptr) &&
           GetLastError() == ERROR_BROKEN_PIPE;
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
    // Shared with a handler thread that may still be inside it when the waiter goes.
    std::shared_ptr<CStopNotes> notes = std::make_shared<CStopNotes>();
    int lastSignal = 0;
    bool ready = false;
};

namespace {

// Windows allows a console-close handler 5 seconds before it ends the process anyway.
constexpr std::chrono::milliseconds kCloseGrace{4500};

std::mutex gWaiterMutex;
std::shared_ptr<CStopNotes> gNotes;  // the live waiter's, under gWaiterMutex

// Windows runs console control handlers on a thread of their own, so plain locks are fine here.
BOOL WINAPI onConsoleControl(DWORD type) {
    std::shared_ptr<CStopNotes> notes;
    {
        std::lock_guard lock(gWaiterMutex);
        notes = gNotes;
    }
    if (!notes) {
        return FALSE;
    }
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            notes->add(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            // The process ends when this returns: the owner aborts the update, waits for the worker and
            // writes the result first, then lets go of the waiter.
            notes->addAndHold(SIGTERM, kCloseGrace);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

CRunWaiter::CRunWaiter() : impl_(std::make_unique<Impl>()) {
    {
        std::lock_guard lock(gWaiterMutex);
        gNotes = impl_->notes;
    }
    impl_->ready = SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

CRunWaiter::~CRunWaiter() {
    if (impl_->ready) {
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
    }
    {
        std::lock_guard lock(gWaiterMutex);
        gNotes.reset();
    }
    impl_->notes->release();
}

bool CRunWaiter::ready() const {
    return impl_->ready;
}

void CRunWaiter::notifyEnded() {
    impl_->notes->add(0);
}

CRunWaiter::Wake CRunWaiter::wait(std::chrono::milliseconds limit) {
    const std::optional<int> note = impl_->notes->take(limit);
    if (!note) {
        return Wake::TimedOut;
    }
    if (*note == 0) {
        return Wake::Ended;
    }
    impl_->lastSignal = *note;
    return Wake::Interrupted;
}

int CRunWaiter::signalNumber() const {
    return impl_->lastSignal;
}

}  // namespace velmora::cli
