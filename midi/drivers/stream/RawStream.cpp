#include "midi/drivers/stream/RawStream.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "i18n/Translate.h"

namespace velmora::midi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr short kTrouble = POLLERR | POLLHUP | POLLNVAL;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

SysResult pollAll(std::vector<pollfd>& fds, int timeoutMs) {
    for (pollfd& p : fds) {
        p.revents = 0;
    }
    return sysCall([&] { return ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs); });
}

// A reader or a writer: make(wake) builds it around its wake-up pipe, and it starts its thread. Nothing, with
// the reason, when the pipe or the thread cannot be had. `pipe` and `thread` are marked VELMORA_TEXT.
template <typename Make>
auto withWakeup(const char* pipe, const char* thread, std::string* why, Make make)
    -> decltype(make(std::declval<CWakeup>())) {
    CWakeup wake;
    if (!wake.valid()) {
        if (why != nullptr) {
            *why = errorText(i18n::translate("Drivers", pipe), errno);
        }
        return nullptr;
    }
    return openWithThread(thread, why, [&] { return make(std::move(wake)); });
}

}  // namespace

// ---- output ----

std::unique_ptr<CRawOutput> CRawOutput::create(std::shared_ptr<RawChannel> channel, RawLimits limits,
                                               std::string* why) {
    return withWakeup(
        VELMORA_TEXT("Drivers", "cannot create the output's wake-up pipe"),
        VELMORA_TEXT("Drivers", "output's writer"), why, [&](CWakeup wake) {
            return std::unique_ptr<CRawOutput>(new CRawOutput(std::move(channel), limits, std::move(wake)));
        });
}

CRawOutput::CRawOutput(std::shared_ptr<RawChannel> channel, RawLimits limits, CWakeup wake)
    : channel_(std::move(channel)), limits_(limits), wake_(std::move(wake)), writer_([this] { run(); }) {}

CRawOutput::~CRawOutput() {
    close();
    writer_.join();
    channel_->released(Direction::Out);
}

bool CRawOutput::send(Bytes message, std::shared_ptr<SendCompletion> done) {
    if (!done) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_ || broken_) {
            return false;
        }
        queue_.push_back({std::vector<std::uint8_t>(message.begin(), message.end()), std::move(done)});
    }
    queued_.notify_one();
    return true;
}

void CRawOutput::close() {
    std::deque<Job> pending;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        pending.swap(queue_);
    }
    // The wake-up ends a wait for buffer space or for the queue to empty; the writer then gives up on the
    // message it holds.
    wake_.signal();
    queued_.notify_all();
    for (Job& job : pending) {
        job.done->finish(false);
    }
}

bool CRawOutput::broken() const {
    std::lock_guard lock(mutex_);
    return broken_;
}

bool CRawOutput::closing() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void CRawOutput::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return closed_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        if (closed_ || broken_) {
            lock.unlock();
            job.done->finish(false);
            lock.lock();
            continue;
        }
        lock.unlock();
        const Outcome outcome = transmit(job.bytes);
        if (outcome != Outcome::sent) {
            // What is left of a message that will not complete is of no use to the device.
            channel_->discardOutput();
        }
        lock.lock();
        if (outcome == Outcome::failed) {
            // Part of the message may have reached the device, and the device is probably gone: a later
            // message would follow a torn one.
            broken_ = true;
        }
        lock.unlock();
        job.done->finish(outcome == Outcome::sent);
        lock.lock();
    }
}

CRawOutput::Outcome CRawOutput::transmit(const std::vector<std::uint8_t>& bytes) {
    const Outcome written = writeAll(bytes);
    return written == Outcome::sent ? waitUntilSent() : written;
}

CRawOutput::Outcome CRawOutput::writeAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t written = 0;
    Clock::time_point lastProgress = Clock::now();
    while (written < bytes.size()) {
        if (closing()) {
            return Outcome::abandoned;
        }
        const IoResult result = channel_->write(Bytes(bytes).subspan(written));
        if (result.status == IoStatus::ok && result.count > 0) {
            written += std::min(result.count, bytes.size() - written);
            lastProgress = Clock::now();
            continue;
        }
        if (result.status != IoStatus::ok && result.status != IoStatus::wouldBlock) {
            return Outcome::failed;
        }
        switch (waitWritable(lastProgress + limits_.stall)) {
            case Wait::ready:
                break;
            case Wait::woken:
                return Outcome::abandoned;
            case Wait::timedOut:
            case Wait::failed:
                return Outcome::failed;
        }
    }
    return Outcome::sent;
}

CRawOutput::Wait CRawOutput::waitWritable(Clock::time_point deadline) {
    std::vector<pollfd> fds = channel_->pollDescriptors(Direction::Out);
    const std::size_t deviceFds = fds.size();
    fds.push_back({wake_.fd(), POLLIN, 0});
    const SysResult polled = pollAll(fds, millisecondsUntil(deadline));
    if (polled.failed()) {
        return Wait::failed;
    }
    if (fds.back().revents != 0) {
        return Wait::woken;
    }
    if (polled.value == 0) {
        return Wait::timedOut;
    }
    const short events = channel_->readyEvents(Direction::Out, std::span(fds.data(), deviceFds));
    if ((events & POLLOUT) == 0 && (events & kTrouble) != 0) {
        return Wait::failed;
    }
    return Wait::ready;
}

CRawOutput::Outcome CRawOutput::waitUntilSent() {
    std::size_t lastQueued = std::numeric_limits<std::size_t>::max();
    Clock::time_point lastProgress = Clock::now();
    std::vector<pollfd> wake = {{wake_.fd(), POLLIN, 0}};
    for (;;) {
        const IoResult queued = channel_->queuedOutput();
        if (queued.status != IoStatus::ok) {
            return Outcome::failed;
        }
        if (queued.count == 0) {
            break;
        }
        if (queued.count < lastQueued) {
            lastQueued = queued.count;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= limits_.stall) {
            return Outcome::failed;
        }
        // Polled rather than handed to a blocking drain, so that closing does not wait for the device.
        const SysResult polled = pollAll(wake, static_cast<int>(limits_.queuePoll.count()));
        if (polled.failed()) {
            return Outcome::failed;
        }
        if (polled.value > 0) {
            return Outcome::abandoned;
        }
    }
    if (closing()) {
        return Outcome::abandoned;
    }
    return channel_->drain() ? Outcome::sent : Outcome::failed;
}

// ---- input ----

std::unique_ptr<CRawInput> CRawInput::create(std::shared_ptr<RawChannel> channel, SysExHandler onSysEx,
                                             std::string* why) {
    return withWakeup(VELMORA_TEXT("Drivers", "cannot create the input's wake-up pipe"),
                      VELMORA_TEXT("Drivers", "input's reader"), why, [&](CWakeup wake) {
                          return std::unique_ptr<CRawInput>(
                              new CRawInput(std::move(channel), std::move(onSysEx), std::move(wake)));
                      });
}

CRawInput::CRawInput(std::shared_ptr<RawChannel> channel, SysExHandler onSysEx, CWakeup wake)
    : channel_(std::move(channel)),
      framer_(std::move(onSysEx)),
      wake_(std::move(wake)),
      reader_([this] { run(); }) {}

CRawInput::~CRawInput() {
    wake_.signal();
    reader_.join();
    channel_->released(Direction::In);
}

void CRawInput::run() {
    std::vector<pollfd> fds = channel_->pollDescriptors(Direction::In);
    const std::size_t deviceFds = fds.size();
    if (deviceFds == 0) {
        ended_ = true;  // nothing to wait on: the device could not even be asked
        return;
    }
    fds.push_back({wake_.fd(), POLLIN, 0});
    std::array<std::uint8_t, 4096> buffer{};
    // Reads per wake-up before the wake-up pipe is looked at again, so that a device that never stops
    // sending cannot hold up closing.
    constexpr int kReadsPerPoll = 16;
    for (;;) {
        if (pollAll(fds, -1).failed()) {
            break;
        }
        if (fds.back().revents != 0) {
            return;  // closing
        }
        const short events = channel_->readyEvents(Direction::In, std::span(fds.data(), deviceFds));
        bool gone = false;
        bool drained = (events & POLLIN) == 0;
        for (int reads = 0; !drained && reads < kReadsPerPoll; ++reads) {
            const IoResult result = channel_->read(buffer);
            if (result.status == IoStatus::ok && result.count > 0) {
                framer_.feed(Bytes(buffer.data(), std::min(result.count, buffer.size())));
                continue;
            }
            gone = result.status != IoStatus::wouldBlock && result.status != IoStatus::ok;
            drained = true;
        }
        // A hang-up is taken only after whatever arrived before it has been read.
        if (gone || (drained && (events & kTrouble) != 0)) {
            break;
        }
    }
    ended_ = true;
}

}  // namespace velmora::midi
