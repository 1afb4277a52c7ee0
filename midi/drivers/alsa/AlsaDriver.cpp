#include "midi/drivers/alsa/AlsaDriver.h"

#include <alsa/asoundlib.h>

#include <map>
#include <memory>
#include <utility>

#include "i18n/Translate.h"

namespace velmora::midi {

// ---- names ----

std::string alsaPortName(const AlsaPort& port) {
    if (!port.subdeviceName.empty()) {
        return port.subdeviceName;
    }
    if (!port.deviceName.empty()) {
        return port.deviceName;
    }
    return "hw:" + std::to_string(port.card) + "," + std::to_string(port.device) + "," +
           std::to_string(port.subdevice);
}

std::vector<std::string> distinctPortNames(const std::vector<std::string>& rawNames) {
    std::vector<std::string> names;
    names.reserve(rawNames.size());
    std::map<std::string, unsigned> seen;
    for (const std::string& raw : rawNames) {
        const unsigned copy = ++seen[raw];
        names.push_back(copy > 1 ? raw + " (" + std::to_string(copy) + ")" : raw);
    }
    return names;
}

namespace {

// ---- alsa-lib objects, each with its owner ----

struct CtlCloser {
    void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};
struct RawMidiCloser {
    void operator()(snd_rawmidi_t* rawmidi) const { snd_rawmidi_close(rawmidi); }
};
struct InfoFree {
    void operator()(snd_rawmidi_info_t* info) const { snd_rawmidi_info_free(info); }
};
struct ParamsFree {
    void operator()(snd_rawmidi_params_t* params) const { snd_rawmidi_params_free(params); }
};
struct StatusFree {
    void operator()(snd_rawmidi_status_t* status) const { snd_rawmidi_status_free(status); }
};
using CtlHandle = std::unique_ptr<snd_ctl_t, CtlCloser>;
using RawMidiHandle = std::unique_ptr<snd_rawmidi_t, RawMidiCloser>;
using InfoHandle = std::unique_ptr<snd_rawmidi_info_t, InfoFree>;
using ParamsHandle = std::unique_ptr<snd_rawmidi_params_t, ParamsFree>;
using StatusHandle = std::unique_ptr<snd_rawmidi_status_t, StatusFree>;

// Every alsa-lib call that reports failure as a negative errno goes through here.
bool alsaOk(int result, const std::string& what, std::string* why) {
    if (result >= 0) {
        return true;
    }
    if (why != nullptr) {
        *why = what + ": " + snd_strerror(result);
    }
    return false;
}

// Large enough for the longest message of the update protocol to be queued whole.
constexpr std::size_t kBufferBytes = 16384;

std::string address(const AlsaPort& port) {
    return "hw:" + std::to_string(port.card) + "," + std::to_string(port.device) + "," +
           std::to_string(port.subdevice);
}

snd_rawmidi_stream_t streamOf(Direction direction) {
    return direction == Direction::In ? SND_RAWMIDI_STREAM_INPUT : SND_RAWMIDI_STREAM_OUTPUT;
}

std::vector<AlsaPort> listPorts(snd_rawmidi_stream_t stream) {
    std::vector<AlsaPort> ports;
    snd_rawmidi_info_t* rawInfo = nullptr;
    if (!alsaOk(snd_rawmidi_info_malloc(&rawInfo), "", nullptr)) {
        return ports;
    }
    const InfoHandle info(rawInfo);
    int card = -1;
    while (alsaOk(snd_card_next(&card), "", nullptr) && card >= 0) {
        snd_ctl_t* rawCtl = nullptr;
        if (!alsaOk(snd_ctl_open(&rawCtl, ("hw:" + std::to_string(card)).c_str(), 0), "", nullptr)) {
            continue;  // a card going away while we look
        }
        const CtlHandle ctl(rawCtl);
        int device = -1;
        while (alsaOk(snd_ctl_rawmidi_next_device(ctl.get(), &device), "", nullptr) && device >= 0) {
            snd_rawmidi_info_set_device(info.get(), static_cast<unsigned>(device));
            snd_rawmidi_info_set_stream(info.get(), stream);
            snd_rawmidi_info_set_subdevice(info.get(), 0);
            if (!alsaOk(snd_ctl_rawmidi_info(ctl.get(), info.get()), "", nullptr)) {
                continue;  // the device has no port in this direction
            }
            const unsigned subdevices = snd_rawmidi_info_get_subdevices_count(info.get());
            for (unsigned sub = 0; sub < subdevices; ++sub) {
                snd_rawmidi_info_set_subdevice(info.get(), sub);
                if (!alsaOk(snd_ctl_rawmidi_info(ctl.get(), info.get()), "", nullptr)) {
                    continue;
                }
                ports.push_back({card, device, static_cast<int>(sub), snd_rawmidi_info_get_name(info.get()),
                                 snd_rawmidi_info_get_subdevice_name(info.get())});
            }
        }
    }
    return ports;
}

std::vector<std::string> portNames(const std::vector<AlsaPort>& ports) {
    std::vector<std::string> raw;
    raw.reserve(ports.size());
    for (const AlsaPort& port : ports) {
        raw.push_back(alsaPortName(port));
    }
    return distinctPortNames(raw);
}

// One open rawmidi handle, one direction.
class CAlsaChannel final : public RawChannel {
  public:
    explicit CAlsaChannel(RawMidiHandle handle) : handle_(std::move(handle)) {}

    // Non-blocking use, room for a whole message, wake on every byte, and no active-sensing byte on close
    // (it would reach the device in the middle of an update).
    bool configure(const std::string& label, std::string* why) {
        snd_rawmidi_params_t* rawParams = nullptr;
        if (!alsaOk(snd_rawmidi_params_malloc(&rawParams), label, why)) {
            return false;
        }
        const ParamsHandle params(rawParams);
        snd_rawmidi_status_t* rawStatus = nullptr;
        if (!alsaOk(snd_rawmidi_status_malloc(&rawStatus), label, why)) {
            return false;
        }
        status_.reset(rawStatus);
        snd_rawmidi_t* const h = handle_.get();
        // What was being set when a call failed, said with the port's label.
        const auto at = [&label](const char* english) {
            return i18n::arg(i18n::translate("Drivers", english), {label});
        };
        const bool set = alsaOk(snd_rawmidi_params_current(h, params.get()),
                                at(VELMORA_TEXT("Drivers", "%1: reading parameters")), why) &&
                         alsaOk(snd_rawmidi_params_set_buffer_size(h, params.get(), kBufferBytes),
                                at(VELMORA_TEXT("Drivers", "%1: buffer size")), why) &&
                         alsaOk(snd_rawmidi_params_set_avail_min(h, params.get(), 1),
                                at(VELMORA_TEXT("Drivers", "%1: wake-up threshold")), why) &&
                         alsaOk(snd_rawmidi_params_set_no_active_sensing(h, params.get(), 1),
                                at(VELMORA_TEXT("Drivers", "%1: active sensing")), why) &&
                         alsaOk(snd_rawmidi_params(h, params.get()),
                                at(VELMORA_TEXT("Drivers", "%1: setting parameters")), why) &&
                         alsaOk(snd_rawmidi_params_current(h, params.get()),
                                at(VELMORA_TEXT("Drivers", "%1: reading parameters")), why);
        if (!set) {
            return false;
        }
        bufferBytes_ = snd_rawmidi_params_get_buffer_size(params.get());
        return true;
    }

    std::vector<pollfd> pollDescriptors(Direction) override {
        const int count = snd_rawmidi_poll_descriptors_count(handle_.get());
        std::vector<pollfd> fds(static_cast<std::size_t>(count > 0 ? count : 0));
        const int filled =
            snd_rawmidi_poll_descriptors(handle_.get(), fds.data(), static_cast<unsigned>(fds.size()));
        fds.resize(static_cast<std::size_t>(filled > 0 ? filled : 0));
        return fds;
    }

    short readyEvents(Direction, std::span<pollfd> polled) override {
        unsigned short events = 0;
        if (!alsaOk(snd_rawmidi_poll_descriptors_revents(handle_.get(), polled.data(),
                                                         static_cast<unsigned>(polled.size()), &events),
                    "", nullptr)) {
            return POLLERR;
        }
        return static_cast<short>(events);
    }

    IoResult read(std::span<std::uint8_t> into) override {
        const ssize_t done = snd_rawmidi_read(handle_.get(), into.data(), into.size());
        if (done == 0 && !into.empty()) {
            return {IoStatus::ended, 0, 0};
        }
        return result(done);
    }

    IoResult write(Bytes bytes) override {
        return result(snd_rawmidi_write(handle_.get(), bytes.data(), bytes.size()));
    }

    IoResult queuedOutput() override {
        const int done = snd_rawmidi_status(handle_.get(), status_.get());
        if (done < 0) {
            return {IoStatus::failed, 0, -done};
        }
        const std::size_t room = snd_rawmidi_status_get_avail(status_.get());
        return {IoStatus::ok, room < bufferBytes_ ? bufferBytes_ - room : 0, 0};
    }

    // The buffer is empty by now; what is left is the driver's own hand-over (USB transfers, a UART FIFO).
    bool drain() override { return alsaOk(snd_rawmidi_drain(handle_.get()), "", nullptr); }

    // Closing a rawmidi output waits for what is queued; a message given up on is dropped instead.
    void discardOutput() override { snd_rawmidi_drop(handle_.get()); }

  private:
    static IoResult result(ssize_t done) {
        if (done >= 0) {
            return {IoStatus::ok, static_cast<std::size_t>(done), 0};
        }
        if (done == -EAGAIN) {
            return {IoStatus::wouldBlock, 0, 0};
        }
        return {IoStatus::failed, 0, static_cast<int>(-done)};
    }

    RawMidiHandle handle_;
    StatusHandle status_;
    std::size_t bufferBytes_ = kBufferBytes;
};

bool samePort(const AlsaPort& a, const AlsaPort& b) {
    return a.card == b.card && a.device == b.device && a.subdevice == b.subdevice;
}

std::shared_ptr<CAlsaChannel> openChannel(int index, Direction direction, const CAlsaDriver::Listed& listed,
                                          std::string* why) {
    const snd_rawmidi_stream_t stream = streamOf(direction);
    const std::vector<AlsaPort> ports = listPorts(stream);
    if (listed.done && index >= 0) {
        // Cards are numbered as they come; after a plug or unplug the same index can be another device.
        const auto i = static_cast<std::size_t>(index);
        const bool same = i < ports.size() && i < listed.ports.size() &&
                          samePort(ports[i], listed.ports[i]) && portNames(ports)[i] == listed.names[i];
        if (!same) {
            if (why != nullptr) {
                *why = i18n::translate("Drivers", kPortListChanged);
            }
            return nullptr;
        }
    }
    if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) {
        if (why != nullptr) {
            *why = i18n::arg(stream == SND_RAWMIDI_STREAM_INPUT
                                 ? i18n::translate("Drivers", "no ALSA MIDI input %1 (%2 found)")
                                 : i18n::translate("Drivers", "no ALSA MIDI output %1 (%2 found)"),
                             {std::to_string(index), std::to_string(ports.size())});
        }
        return nullptr;
    }
    const AlsaPort& port = ports[static_cast<std::size_t>(index)];
    const std::string hw = address(port);
    const std::string label = portNames(ports)[static_cast<std::size_t>(index)] + " (" + hw + ")";

    snd_rawmidi_t* raw = nullptr;
    const int opened = stream == SND_RAWMIDI_STREAM_INPUT
                           ? snd_rawmidi_open(&raw, nullptr, hw.c_str(), SND_RAWMIDI_NONBLOCK)
                           : snd_rawmidi_open(nullptr, &raw, hw.c_str(), SND_RAWMIDI_NONBLOCK);
    if (opened == -EBUSY) {
        if (why != nullptr) {
            const std::string node =
                "/dev/snd/midiC" + std::to_string(port.card) + "D" + std::to_string(port.device);
            const std::string holders = describeHolders(node);
            *why =
                i18n::arg(i18n::translate("Drivers", "%1 is in use by %2"),
                          {label, holders.empty() ? i18n::translate("Drivers", "another program") : holders});
        }
        return nullptr;
    }
    if (!alsaOk(opened, i18n::arg(i18n::translate("Drivers", "cannot open %1"), {label}), why)) {
        return nullptr;
    }
    auto channel = std::make_shared<CAlsaChannel>(RawMidiHandle(raw));
    if (!channel->configure(label, why)) {
        return nullptr;
    }
    return channel;
}

}  // namespace

// Every look at the lists is what the user was shown last.
CAlsaDriver::Listed CAlsaDriver::list(Direction direction) {
    std::vector<AlsaPort> found = listPorts(streamOf(direction));
    std::vector<std::string> names = portNames(found);
    std::lock_guard lock(mutex_);
    return listed(direction) = {true, std::move(found), std::move(names)};
}

CAlsaDriver::Listed CAlsaDriver::shown(Direction direction) {
    std::lock_guard lock(mutex_);
    return listed(direction);
}

unsigned CAlsaDriver::portCount(Direction direction) {
    return static_cast<unsigned>(list(direction).ports.size());
}

std::string CAlsaDriver::portName(Direction direction, unsigned index) {
    const std::vector<std::string> names = list(direction).names;
    return index < names.size() ? names[index] : std::string();
}

std::string CAlsaDriver::portAddress(Direction direction, unsigned index) {
    const std::vector<AlsaPort> ports = list(direction).ports;
    return index < ports.size() ? address(ports[index]) : std::string();
}

std::unique_ptr<MidiOutput> CAlsaDriver::openOutput(int index, std::string* why) {
    std::shared_ptr<CAlsaChannel> channel = openChannel(index, Direction::Out, shown(Direction::Out), why);
    if (!channel) {
        return nullptr;
    }
    return CRawOutput::create(std::move(channel), limits_, why);
}

std::unique_ptr<MidiInput> CAlsaDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    std::shared_ptr<CAlsaChannel> channel = openChannel(index, Direction::In, shown(Direction::In), why);
    if (!channel) {
        return nullptr;
    }
    return CRawInput::create(std::move(channel), std::move(onSysEx), why);
}

}  // namespace velmora::midi
