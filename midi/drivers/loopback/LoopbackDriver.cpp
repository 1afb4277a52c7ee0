#include "midi/drivers/loopback/LoopbackDriver.h"

#include <condition_variable>
#include <thread>
#include <utility>

#include "i18n/Translate.h"

namespace velmora::midi {

// ---- far end of an output ----

std::optional<std::vector<std::uint8_t>> LoopbackOutputEnd::receive(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, limit, [this] { return !inbox_.empty(); })) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> message = std::move(inbox_.front());
    inbox_.pop_front();
    return message;
}

std::size_t LoopbackOutputEnd::pending() const {
    std::lock_guard lock(mutex_);
    return inbox_.size();
}

void LoopbackOutputEnd::setRefuseOpen(bool refuse) {
    std::lock_guard lock(mutex_);
    behaviour_.refuseOpen = refuse;
}

void LoopbackOutputEnd::setRefuseSend(bool refuse) {
    std::lock_guard lock(mutex_);
    behaviour_.refuseSend = refuse;
}

void LoopbackOutputEnd::setSendTime(std::chrono::microseconds fixed, double bytesPerSecond) {
    std::lock_guard lock(mutex_);
    behaviour_.fixedTime = fixed;
    behaviour_.bytesPerSecond = bytesPerSecond;
}

void LoopbackOutputEnd::setNeverComplete(bool never) {
    std::lock_guard lock(mutex_);
    behaviour_.neverComplete = never;
}

void LoopbackOutputEnd::setUnplugged(bool unplugged) {
    std::lock_guard lock(mutex_);
    behaviour_.unplugged = unplugged;
}

bool LoopbackOutputEnd::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

int LoopbackOutputEnd::openCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

LoopbackOutputEnd::Behaviour LoopbackOutputEnd::behaviour() const {
    std::lock_guard lock(mutex_);
    return behaviour_;
}

void LoopbackOutputEnd::deliver(std::vector<std::uint8_t> message) {
    {
        std::lock_guard lock(mutex_);
        inbox_.push_back(std::move(message));
    }
    arrived_.notify_all();
}

bool LoopbackOutputEnd::markOpen(bool open) {
    std::lock_guard lock(mutex_);
    if (open && (behaviour_.refuseOpen || behaviour_.unplugged)) {
        return false;
    }
    open_ = open;
    openCount_ += open ? 1 : 0;
    return true;
}

// ---- host side of an output: one thread carries the messages across, one at a time, each whole ----

class LoopbackOutput : public MidiOutput {
  public:
    explicit LoopbackOutput(std::shared_ptr<LoopbackOutputEnd> end)
        : end_(std::move(end)), carrier_([this] { carry(); }) {}

    ~LoopbackOutput() override {
        close();
        carrier_.join();
        end_->markOpen(false);
    }

    bool send(Bytes message, std::shared_ptr<SendCompletion> done) override {
        if (end_->behaviour().refuseSend) {
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return false;
            }
            queue_.push_back({std::vector<std::uint8_t>(message.begin(), message.end()), std::move(done)});
        }
        wake_.notify_all();
        return true;
    }

    void close() override {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        wake_.notify_all();
    }

  private:
    struct Job {
        std::vector<std::uint8_t> bytes;
        std::shared_ptr<SendCompletion> done;
    };

    void carry() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;  // closed with nothing left
            }
            Job job = std::move(queue_.front());
            queue_.pop_front();
            const LoopbackOutputEnd::Behaviour b = end_->behaviour();
            if (closed_ || b.unplugged) {
                lock.unlock();
                job.done->finish(false);
                lock.lock();
                continue;
            }
            auto sendTime = b.fixedTime;
            if (b.bytesPerSecond > 0) {
                sendTime += std::chrono::microseconds(static_cast<std::int64_t>(
                    static_cast<double>(job.bytes.size()) * 1e6 / b.bytesPerSecond));
            }
            // Wait out the send time, or for ever when the port never completes; closing ends either wait.
            if (b.neverComplete) {
                wake_.wait(lock, [this] { return closed_; });
            } else if (sendTime.count() > 0) {
                wake_.wait_for(lock, sendTime, [this] { return closed_; });
            }
            const bool sent = !closed_;
            lock.unlock();
            if (sent) {
                end_->deliver(std::move(job.bytes));
            }
            job.done->finish(sent);
            lock.lock();
        }
    }

    const std::shared_ptr<LoopbackOutputEnd> end_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool closed_ = false;
    std::thread carrier_;  // last member: starts after everything it uses exists
};

// ---- far end of an input ----

bool LoopbackInputEnd::write(Bytes raw) {
    std::lock_guard lock(mutex_);
    if (!framer_ || unplugged_) {
        return false;
    }
    framer_->feed(raw);
    return true;
}

void LoopbackInputEnd::setRefuseOpen(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseOpen_ = refuse;
}

void LoopbackInputEnd::setUnplugged(bool unplugged) {
    std::lock_guard lock(mutex_);
    unplugged_ = unplugged;
}

bool LoopbackInputEnd::isOpen() const {
    std::lock_guard lock(mutex_);
    return framer_.has_value();
}

bool LoopbackInputEnd::attach(SysExHandler handler) {
    std::lock_guard lock(mutex_);
    if (refuseOpen_ || unplugged_ || framer_) {
        return false;
    }
    framer_.emplace(std::move(handler));
    return true;
}

void LoopbackInputEnd::detach() {
    std::lock_guard lock(mutex_);
    framer_.reset();
}

class LoopbackInput : public MidiInput {
  public:
    explicit LoopbackInput(std::shared_ptr<LoopbackInputEnd> end) : end_(std::move(end)) {}
    ~LoopbackInput() override { end_->detach(); }

  private:
    const std::shared_ptr<LoopbackInputEnd> end_;
};

// ---- the driver ----

namespace {

template <typename End>
std::shared_ptr<End> endAt(const std::vector<std::shared_ptr<End>>& ends, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < ends.size() ? ends[static_cast<std::size_t>(index)]
                                                                       : nullptr;
}

}  // namespace

std::shared_ptr<LoopbackInputEnd> CLoopbackDriver::addInput(std::string name) {
    auto end = std::make_shared<LoopbackInputEnd>(std::move(name));
    std::lock_guard lock(mutex_);
    inputs_.push_back(end);
    return end;
}

std::shared_ptr<LoopbackOutputEnd> CLoopbackDriver::addOutput(std::string name) {
    auto end = std::make_shared<LoopbackOutputEnd>(std::move(name));
    std::lock_guard lock(mutex_);
    outputs_.push_back(end);
    return end;
}

unsigned CLoopbackDriver::portCount(Direction direction) {
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(direction == Direction::In ? inputs_.size() : outputs_.size());
}

std::string CLoopbackDriver::portName(Direction direction, unsigned index) {
    const auto nameOf = [](const auto& end) { return end ? end->name() : std::string(); };
    const auto i = static_cast<int>(index);
    return direction == Direction::In ? nameOf(input(i)) : nameOf(output(i));
}

std::unique_ptr<MidiOutput> CLoopbackDriver::openOutput(int index, std::string* why) {
    auto end = output(index);
    if (!end || !end->markOpen(true)) {
        if (why != nullptr) {
            *why = end ? i18n::translate("Drivers", "the loopback output refused to open")
                       : i18n::translate("Drivers", "no such loopback output");
        }
        return nullptr;
    }
    std::unique_ptr<MidiOutput> opened =
        openWithThread(VELMORA_TEXT("Drivers", "loopback output's"), why,
                       [&end] { return std::make_unique<LoopbackOutput>(end); });
    if (!opened) {
        end->markOpen(false);
    }
    return opened;
}

std::unique_ptr<MidiInput> CLoopbackDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    auto end = input(index);
    if (!end || !end->attach(std::move(onSysEx))) {
        if (why != nullptr) {
            *why = end ? i18n::translate("Drivers", "the loopback input refused to open")
                       : i18n::translate("Drivers", "no such loopback input");
        }
        return nullptr;
    }
    return std::make_unique<LoopbackInput>(std::move(end));
}

std::shared_ptr<LoopbackInputEnd> CLoopbackDriver::input(int index) {
    std::lock_guard lock(mutex_);
    return endAt(inputs_, index);
}

std::shared_ptr<LoopbackOutputEnd> CLoopbackDriver::output(int index) {
    std::lock_guard lock(mutex_);
    return endAt(outputs_, index);
}

}  // namespace velmora::midi
