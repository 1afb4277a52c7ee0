// How velmora-flash hears that its update ended or that the user wants it stopped: SIGINT and SIGTERM become
// a note the waiting thread picks up, never a call made from the signal handler, and never a blocking call
// cut short on another thread.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "cli/Console.h"
#include "cli/StopNotes.h"

namespace velmora::cli {
namespace {

using namespace std::chrono_literals;
using Wake = CRunWaiter::Wake;

TEST(RunWaiter, TheEndOfTheRunWakesTheOwnerFromAnotherThread) {
    CRunWaiter waiter;
    ASSERT_TRUE(waiter.ready());
    std::thread worker([&waiter] {
        std::this_thread::sleep_for(20ms);
        waiter.notifyEnded();
    });
    EXPECT_EQ(waiter.wait(10s), Wake::Ended);
    worker.join();
    EXPECT_EQ(waiter.wait(0ms), Wake::TimedOut) << "a note is returned once";
}

TEST(RunWaiter, WithNothingToReportItReturnsAfterTheLimit) {
    CRunWaiter waiter;
    EXPECT_EQ(waiter.wait(5ms), Wake::TimedOut);
}

// A signal raised while the owner is busy elsewhere must not be lost, nor end the process.
TEST(RunWaiter, ASignalThatCameWhileTheOwnerWasBusyIsReportedAtItsNextWait) {
    for (const int signo : {SIGINT, SIGTERM}) {
        CRunWaiter waiter;
        ASSERT_EQ(::raise(signo), 0);
        EXPECT_EQ(waiter.wait(10s), Wake::Interrupted) << signo;
        EXPECT_EQ(waiter.signalNumber(), signo);
    }
}

TEST(RunWaiter, ASignalSentToTheProcessReachesTheWaitingOwnerNotAWorkerThread) {
    CRunWaiter waiter;
    std::thread sender([] {
        std::this_thread::sleep_for(20ms);
        ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(waiter.wait(10s), Wake::Interrupted);
    sender.join();
}

TEST(RunWaiter, ThreadsStartedAfterItHoldTheStopSignalsBackSoTheirBlockingCallsAreNotCutShort) {
    CRunWaiter waiter;
    bool blocked = false;
    std::thread worker([&blocked] {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
    });
    worker.join();
    EXPECT_TRUE(blocked);
}

TEST(RunWaiter, PutsBackTheHandlingThereWasBefore) {
    struct sigaction before {};
    ::sigaction(SIGINT, nullptr, &before);
    sigset_t maskBefore;
    pthread_sigmask(SIG_BLOCK, nullptr, &maskBefore);
    {
        CRunWaiter waiter;
        struct sigaction during {};
        ::sigaction(SIGINT, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after {};
    ::sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    sigset_t maskAfter;
    pthread_sigmask(SIG_BLOCK, nullptr, &maskAfter);
    EXPECT_EQ(sigismember(&maskAfter, SIGINT), sigismember(&maskBefore, SIGINT));
}

// The Windows console-close handler: the process ends when it returns, so it must hold until the owner has
// stopped the update and written its result, and no longer than Windows allows.
TEST(StopNotes, AConsoleCloseHoldsTheHandlerUntilTheOwnerHasFinished) {
    CStopNotes notes;
    std::atomic<bool> returned{false};
    std::thread handler([&] {
        notes.addAndHold(SIGTERM, 10s);
        returned = true;
    });
    EXPECT_EQ(notes.take(10s), SIGTERM) << "the owner hears the close";
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned) << "the handler returned while the owner was still stopping the update";
    notes.release();
    handler.join();
    CStopNotes().addAndHold(SIGTERM, 30ms);  // returns by its limit though nobody lets go
}

}  // namespace
}  // namespace velmora::cli
