#pragma once
// What the program needs to know about where its output goes, and how it hears Ctrl-C: one implementation
// per platform (ConsolePosix.cpp, ConsoleWin32.cpp).

#include <chrono>
#include <cstddef>
#include <memory>

namespace velmora::cli {

// Call first in main, before any thread exists.
void ignoreBrokenPipe();
bool stdoutIsTerminal();
// Standard output is a pipe or socket whose reader has gone.
bool stdoutReaderGone();

// While it lives, a Windows console shows the UTF-8 the program writes (Japanese texts, port names) instead
// of reading it in the console's own code page, which it puts back at the end. Nothing to do elsewhere.
class CUtf8Console {
  public:
    CUtf8Console();
    ~CUtf8Console();
    CUtf8Console(const CUtf8Console&) = delete;
    CUtf8Console& operator=(const CUtf8Console&) = delete;

  private:
    [[maybe_unused]] unsigned previous_ = 0;  // 0: left alone
};
// Columns of the terminal on stdout; 80 when that cannot be told.
std::size_t terminalColumns();

// Wakes the owner's thread when the update has ended or the user has asked it to stop (SIGINT, SIGTERM or
// SIGHUP; Ctrl-C, Ctrl-Break or the console closing on Windows). The signal itself only leaves a note that
// the owner's thread picks up, so the update core is never called from a signal handler. A signal that
// was ignored when the waiter was made (nohup, `trap '' INT`) stays ignored.
//
// Construct it before any other thread exists: on POSIX the signals are then held back from every thread
// but the one that waits, so a worker or a driver thread never has a blocking call cut short by them. One
// at a time.
class CRunWaiter {
  public:
    enum class Wake { Ended, Interrupted, TimedOut };

    CRunWaiter();
    // Puts back the handling there was before.
    ~CRunWaiter();
    CRunWaiter(const CRunWaiter&) = delete;
    CRunWaiter& operator=(const CRunWaiter&) = delete;

    // False when the signals could not be taken over; Ctrl-C then ends the program the default way.
    bool ready() const;

    // Any thread: the update has ended.
    void notifyEnded();
    // Owner's thread: what happened first, or TimedOut after `limit`. Each note is returned once.
    Wake wait(std::chrono::milliseconds limit);
    // The signal behind the last Interrupted (0 where there are no signal numbers).
    int signalNumber() const;

    struct Impl;  // the platform's own

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::cli
