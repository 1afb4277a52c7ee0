#include "fuzz/Support.h"

#include <cstring>
#include <utility>

namespace velmora::fuzz {

void require(bool ok, std::string_view what) {
    if (!ok) {
        throw PropertyBroken(std::string(what));
    }
}

ExactCopy::ExactCopy(std::span<const std::uint8_t> bytes)
    : bytes_(new std::uint8_t[bytes.size()]), size_(bytes.size()) {
    if (!bytes.empty()) {
        std::memcpy(bytes_.get(), bytes.data(), bytes.size());
    }
}

namespace reference {

std::uint32_t checksum32(std::span<const std::uint8_t> data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool low = (crc & 1u) != 0;
            crc >>= 1;
            if (low) {
                crc ^= 0xEDB88320u;
            }
        }
    }
    return crc;  // no final inversion
}

// Each group is a header byte whose bits 6, 5, ... 0 are the top bits of the data bytes that follow it.
Vec unpack7(std::span<const std::uint8_t> packed) {
    Vec out;
    for (std::size_t at = 0; at < packed.size(); ++at) {
        const std::size_t group = at / 8;
        const std::size_t j = at % 8;
        if (j == 0) {
            continue;
        }
        const std::uint8_t header = packed[group * 8];
        const std::uint8_t top = static_cast<std::uint8_t>(((header >> (7 - j)) & 1u) << 7);
        out.push_back(static_cast<std::uint8_t>((packed[at] & 0x7F) | top));
    }
    return out;
}

Vec pack7(std::span<const std::uint8_t> data) {
    Vec out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t j = i % 7;
        if (j == 0) {
            out.push_back(0);
        }
        const std::size_t header = out.size() - 1 - j;
        if ((data[i] & 0x80) != 0) {
            out[header] = static_cast<std::uint8_t>(out[header] | (1u << (6 - j)));
        }
        out.push_back(static_cast<std::uint8_t>(data[i] & 0x7F));
    }
    return out;
}

std::uint32_t decode7x5(const std::uint8_t* field) {
    std::uint32_t value = 0;
    for (int i = 4; i >= 0; --i) {
        const std::uint32_t bits = i == 4 ? field[i] & 0x0Fu : field[i] & 0x7Fu;
        value = (value << 7) | bits;
    }
    return value;
}

std::uint32_t decodeLength14(const std::uint8_t* field) {
    return static_cast<std::uint32_t>(field[0]) + 128u * static_cast<std::uint32_t>(field[1]);
}

}  // namespace reference

class DirectDriver::Output final : public midi::MidiOutput {
  public:
    explicit Output(DirectDriver& driver) : driver_(driver) {}
    bool send(midi::Bytes message, std::shared_ptr<midi::SendCompletion> done) override {
        driver_.sent_.emplace_back(message.begin(), message.end());
        done->finish(true);
        return true;
    }
    void close() override {}

  private:
    DirectDriver& driver_;
};

class DirectDriver::Input final : public midi::MidiInput {
  public:
    explicit Input(DirectDriver& driver) : driver_(driver) {}
    ~Input() override { driver_.handler_ = nullptr; }

  private:
    DirectDriver& driver_;
};

std::unique_ptr<midi::MidiOutput> DirectDriver::openOutput(int index, std::string* why) {
    if (index != 0) {
        if (why != nullptr) {
            *why = "no such output";
        }
        return nullptr;
    }
    return std::make_unique<Output>(*this);
}

std::unique_ptr<midi::MidiInput> DirectDriver::openInput(int index, midi::SysExHandler onSysEx,
                                                         std::string* why) {
    if (index != 0 || handler_) {
        if (why != nullptr) {
            *why = index != 0 ? "no such input" : "input already open";
        }
        return nullptr;
    }
    handler_ = std::move(onSysEx);
    return std::make_unique<Input>(*this);
}

bool DirectDriver::deliver(midi::Bytes entry) {
    if (!handler_) {
        return false;
    }
    handler_(entry);
    return true;
}

std::vector<Vec> DirectDriver::takeSent() {
    return std::exchange(sent_, {});
}

}  // namespace velmora::fuzz
