#include "midi/CMidiOutPort.h"

namespace velmora::midi {

CMidiOutPort::CMidiOutPort(MidiDriver& driver, SendBound bound) : driver_(driver), bound_(bound) {}

CMidiOutPort::~CMidiOutPort() {
    close();
}

bool CMidiOutPort::open(int deviceIndex) {
    std::shared_ptr<MidiOutput> previous;
    {
        std::lock_guard lock(mutex_);
        if (handle_ && deviceIndex_ == deviceIndex) {
            return true;
        }
        previous = std::move(handle_);
        deviceIndex_ = deviceIndex;
    }
    if (previous) {
        previous->close();
        previous.reset();
    }
    std::string why;
    std::unique_ptr<MidiOutput> opened = driver_.openOutput(deviceIndex, &why);
    std::lock_guard lock(mutex_);
    lastError_ = opened ? std::string() : why;
    handle_ = std::move(opened);
    return handle_ != nullptr;
}

bool CMidiOutPort::close() {
    std::shared_ptr<MidiOutput> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(handle_);
    }
    if (!previous) {
        return false;
    }
    // A send in progress on another thread still holds its own reference; close() makes it finish.
    previous->close();
    return true;
}

bool CMidiOutPort::sendSysEx(const std::uint8_t* data, std::uint32_t length) {
    std::shared_ptr<MidiOutput> output;
    {
        std::lock_guard lock(mutex_);
        output = handle_;
    }
    if (!output) {
        return false;
    }
    auto done = std::make_shared<SendCompletion>();
    if (!output->send(Bytes(data, length), done)) {
        return false;
    }
    // Bounded: a device unplugged mid-message must not hold this thread, and the window waiting for it, for
    // ever. On a time-out the driver still owns what it may be using; `done` stays alive through its
    // reference.
    const std::optional<bool> sent = done->waitFor(bound_.forBytes(length));
    return sent.value_or(false);
}

unsigned CMidiOutPort::deviceCount() const {
    return driver_.portCount(Direction::Out);
}

std::string CMidiOutPort::deviceName(int deviceIndex) const {
    return portNameAt(driver_, Direction::Out, deviceIndex);
}

bool CMidiOutPort::isOpen() const {
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

int CMidiOutPort::deviceIndex() const {
    std::lock_guard lock(mutex_);
    return deviceIndex_;
}

std::string CMidiOutPort::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace velmora::midi
