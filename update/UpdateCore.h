#pragma once
// The update procedure and everything it owns: the two ports, the poll timer, the reply state and `busy`. The
// dialog and the command line each own one and talk to it through an UpdateView; the procedure exists once.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/CDxMTimer.h"
#include "midi/CMidiInPort.h"
#include "midi/CMidiOutPort.h"
#include "update/Messages.h"
#include "update/Replies.h"
#include "update/Timing.h"
#include "update/Transfer.h"
#include "update/UpdateView.h"

namespace velmora {

class CUpdateCore {
  public:
    CUpdateCore(midi::MidiDriver& driver, UpdateView& view, Timing timing = {});
    // Teardown: the abort if it has not happened, the timer stopped, the worker waited for; then the ports
    // and the reply state go, in that order.
    virtual ~CUpdateCore();
    CUpdateCore(const CUpdateCore&) = delete;
    CUpdateCore& operator=(const CUpdateCore&) = delete;

    // Starts reply processing on the poll timer; from now on replies are handled whether or not an update
    // runs.
    void startPolling();

    // Execute: opens the selected ports, disables the controls and starts the worker. Owner's thread.
    void onExecute();
    // The window is closing: both ports closed, status 255, the worker released. Owner's thread.
    void abort();
    // Returns when no worker runs.
    void waitForWorker();

    bool busy() const { return busy_.load() != 0; }
    // How the last run ended; read it once no worker runs (after waitForWorker).
    const RunReport& lastRun() const { return report_; }
    // Read every written region back before the EndUpdateRequest (the command line's --verify). Set it
    // before Execute.
    void setVerify(bool verify) { verify_ = verify; }
    // Stop each run after the identity and the boot-version read: nothing is begun, erased or written. A run
    // that gets that far counts as completed (the command line's --dry-run). Set it before Execute.
    void setDryRun(bool dryRun) { dryRun_ = dryRun; }
    void restoreControls();
    void enableExecute(bool enabled);
    // Runs on the worker's thread as its last act, after every run (set it before Execute). What it uses
    // must outlive the worker: the owner waits for it (waitForWorker) before those go.
    void setOnWorkerEnded(std::function<void()> hook) { onWorkerEnded_ = std::move(hook); }
    // Whether the last Execute started a worker (false after a refusal).
    bool workerStarted() const { return workerStarted_; }

    midi::CMidiInPort& inPort() { return inPort_; }
    midi::CMidiOutPort& outPort() { return outPort_; }
    CSysExSender& sender() { return sender_; }
    CReplyState& replies() { return replies_; }
    const Timing& timing() const { return timing_; }

  protected:
    // Runs body on a new thread; false when no thread could be started. Tests override it.
    virtual bool startWorker(std::function<void()> body);

  private:
    static void onReplyTick(std::uintptr_t core);
    // The worker's body; true when it gave the controls back (busy then clears), false after an abort.
    bool updateWorker();
    void runUpdate(RunContext& run);
    // The identity request and its answer: true with an accepted device code.
    bool identify(RunContext& run);
    // The BeginUpdateRequest and its answer, then the pause before the first step: true when the device
    // agreed.
    bool beginUpdate(RunContext& run);
    void enableControls(bool enabled);

    midi::MidiDriver& driver_;
    UpdateView& view_;
    const Timing timing_;
    midi::CMidiInPort inPort_;
    midi::CMidiOutPort outPort_;
    CSysExSender sender_;
    CReplyState replies_;
    midi::CDxMTimer timer_;
    std::atomic<int> busy_{0};
    std::atomic<bool> aborted_{false};
    bool verify_ = false;
    bool dryRun_ = false;
    RunReport report_;  // the worker's while it runs
    std::function<void()> onWorkerEnded_;
    bool workerStarted_ = false;
    std::thread worker_;
};

}  // namespace velmora
