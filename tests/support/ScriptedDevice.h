#pragma once
// A stand-in device whose every answer a test decides: for cases the emulator has no scenario for (a status
// instead of an identity reply, a short read-back) and for holding an answer back while the test acts.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "midi/drivers/loopback/LoopbackDriver.h"
#include "update/Codec.h"

namespace velmora::testing {

class ScriptedDevice {
  public:
    using Bytes = std::vector<std::uint8_t>;
    // Given the n-th request (from 0), the bytes to answer with, or nothing for no answer.
    using Script = std::function<std::optional<Bytes>(const Bytes& request, int n)>;

    ScriptedDevice(midi::CLoopbackDriver& driver, Script script)
        : toHost_(driver.addInput("Velmora")),
          fromHost_(driver.addOutput("Velmora")),
          script_(std::move(script)),
          thread_([this] { run(); }) {}

    ~ScriptedDevice() {
        stop_ = true;
        thread_.join();
    }

    // Sends bytes of the device's own, outside any answer.
    void say(const Bytes& bytes) { toHost_->write(midi::Bytes(bytes.data(), bytes.size())); }

    std::vector<Bytes> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // Answers for the usual requests, for scripts that only change a few.
    static Bytes status(std::uint8_t code, std::uint8_t value) {
        return {0xF0, 0x52, 0x00, code, 0x00, value, 0xF7};
    }
    static Bytes identity(std::uint8_t code) {
        return {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, code, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
    }
    // A ReadReply carrying `data`, with its checksum.
    static Bytes readReply(const Bytes& data, std::uint8_t code = 0x63) {
        Bytes m = {0xF0, 0x52, 0x00, code, 0x60,
                   0x04, 0x30, 0x00, 0x00, static_cast<std::uint8_t>(data.size()),
                   0x00};
        Bytes packed(packedLength(data.size()));
        pack7(packed.data(), data.data(), data.size());
        m.insert(m.end(), packed.begin(), packed.end());
        std::uint8_t crc[5];
        encode7x5(checksum32(data.data(), data.size()), crc);
        m.insert(m.end(), crc, crc + 5);
        m.push_back(0xF7);
        return m;
    }
    // The host's ReadRequest for `count` bytes at `address`.
    static Bytes readRequest(std::uint32_t address, std::uint32_t count) {
        Bytes m = {0xF0, 0x52, 0x00, 0x63, 0x60, 0x30};
        std::uint8_t field[5];
        encode7x5(address, field);
        m.insert(m.end(), field, field + 5);
        encode7x5(count, field);
        m.insert(m.end(), field, field + 5);
        m.push_back(0xF7);
        return m;
    }
    static bool isIdentityRequest(const Bytes& m) { return m.size() == 6 && m[1] == 0x7E && m[4] == 0x01; }
    static bool isCode(const Bytes& m, std::uint8_t code) {
        return m.size() > 5 && m[1] == 0x52 && m[4] == code;
    }
    // A model 0x63 in update mode that agrees to everything, its boot region at version 0.99.
    static Bytes usualAnswer(const Bytes& request) {
        if (isIdentityRequest(request))
            return identity(0x63);
        if (isCode(request, 0x60))
            return readReply({'0', '.', '9', '9'});
        return status(0x63, 0);
    }

  private:
    void run() {
        int n = 0;
        while (!stop_) {
            auto request = fromHost_->receive(std::chrono::milliseconds(5));
            if (!request) {
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(*request);
            }
            if (auto answer = script_(*request, n++)) {
                toHost_->write(midi::Bytes(answer->data(), answer->size()));
            }
        }
    }

    std::shared_ptr<midi::LoopbackInputEnd> toHost_;
    std::shared_ptr<midi::LoopbackOutputEnd> fromHost_;
    Script script_;
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace velmora::testing
