#include "midi/CMidiInPort.h"

#include <cstring>
#include <new>
#include <utility>

namespace velmora::midi {

CMidiInPort::CMidiInPort(MidiDriver& driver) : driver_(driver) {}

CMidiInPort::~CMidiInPort() {
    close();
    // Popping one by one keeps a long queue from releasing itself recursively through its links.
    while (peekMessage()) {
        popMessage();
    }
}

bool CMidiInPort::open(int deviceIndex) {
    std::lock_guard lifecycle(lifecycleMutex_);
    {
        std::lock_guard lock(stateMutex_);
        if (running_) {
            return true;
        }
        deviceIndex_ = deviceIndex;
    }
    std::string why;
    input_ = driver_.openInput(
        deviceIndex, [this](Bytes entry) { onEntry(entry); }, &why);
    std::lock_guard lock(stateMutex_);
    running_ = input_ != nullptr;
    lastError_ = running_ ? std::string() : why;
    return running_;
}

bool CMidiInPort::close() {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (!input_) {
        return false;
    }
    // The driver may be inside onEntry, waiting for the queue or hook lock; neither is held here, so this
    // waits out that delivery and no further one starts.
    input_.reset();
    std::lock_guard lock(stateMutex_);
    running_ = false;
    return true;
}

void CMidiInPort::onEntry(Bytes entry) {
    if (entry.empty()) {
        return;
    }
    {
        std::lock_guard lock(queueMutex_);
        if (queuedBytes_ + entry.size() > kMaxQueuedBytes) {
            ++dropped_;
            return;
        }
    }
    // Allocated and filled before the queue lock, so the consumer only ever sees complete entries. Running
    // out of memory loses this entry and nothing else: the driver's thread must return normally.
    auto* message = new (std::nothrow) SysExMessage;
    if (message == nullptr) {
        return;
    }
    std::unique_ptr<SysExMessage> owned(message);
    owned->bytes.reset(new (std::nothrow) std::uint8_t[entry.size()]);
    if (!owned->bytes) {
        return;
    }
    std::memcpy(owned->bytes.get(), entry.data(), entry.size());
    owned->length = static_cast<std::uint32_t>(entry.size());
    {
        std::lock_guard lock(queueMutex_);
        SysExMessage* const appended = owned.get();
        queuedBytes_ += appended->length;
        if (tail_ != nullptr) {
            tail_->next = std::move(owned);
        } else {
            head_ = std::move(owned);
        }
        tail_ = appended;
    }
    std::shared_ptr<const std::function<void()>> hook;
    {
        std::lock_guard lock(hookMutex_);
        hook = arrivalHook_;
    }
    if (hook && *hook) {
        (*hook)();
    }
}

std::optional<Bytes> CMidiInPort::peekMessage() const {
    std::lock_guard lock(queueMutex_);
    if (!head_) {
        return std::nullopt;
    }
    return Bytes(head_->bytes.get(), head_->length);
}

void CMidiInPort::popMessage() {
    std::unique_ptr<SysExMessage> oldest;
    {
        std::lock_guard lock(queueMutex_);
        if (!head_) {
            return;
        }
        oldest = std::move(head_);
        head_ = std::move(oldest->next);
        queuedBytes_ -= oldest->length;
        if (!head_) {
            tail_ = nullptr;
        }
    }
    // Released outside the lock: the driver's thread never waits for a free.
}

std::uint64_t CMidiInPort::droppedEntries() const {
    std::lock_guard lock(queueMutex_);
    return dropped_;
}

void CMidiInPort::setArrivalHook(std::function<void()> hook) {
    auto shared = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
    std::lock_guard lock(hookMutex_);
    arrivalHook_ = std::move(shared);
}

unsigned CMidiInPort::deviceCount() const {
    return driver_.portCount(Direction::In);
}

std::string CMidiInPort::deviceName(int deviceIndex) const {
    return portNameAt(driver_, Direction::In, deviceIndex);
}

bool CMidiInPort::isOpen() const {
    std::lock_guard lock(stateMutex_);
    return running_;
}

int CMidiInPort::deviceIndex() const {
    std::lock_guard lock(stateMutex_);
    return deviceIndex_;
}

std::string CMidiInPort::lastError() const {
    std::lock_guard lock(stateMutex_);
    return lastError_;
}

}  // namespace velmora::midi
