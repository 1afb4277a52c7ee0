#include "midi/drivers/webmidi/WebMidiDriver.h"

#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <algorithm>

#include "midi/SysExFramer.h"

namespace velmora::midi {

namespace {

constexpr const char* kPortGone = VELMORA_TEXT("Drivers", "the port is not there any more");
constexpr const char* kOpenFailed = VELMORA_TEXT("Drivers", "the browser could not open the port");

// Web MIDI lives on the page's main thread: these run there, the calling thread waiting (at once when it is
// the main thread). The glue answers 1 for done, 0 for failed, -1 for a port it does not know.
int glueOpen(int input, const std::string& id) {
    return MAIN_THREAD_EM_ASM_INT({ return Module.velmoraMidi.open($0 != 0, UTF8ToString($1)); }, input,
                                  id.c_str());
}

void glueClose(int input, const std::string& id) {
    MAIN_THREAD_EM_ASM({ Module.velmoraMidi.close($0 != 0, UTF8ToString($1)); }, input, id.c_str());
}

int glueSend(const std::string& id, const std::uint8_t* data, std::size_t size) {
    return MAIN_THREAD_EM_ASM_INT({ return Module.velmoraMidi.send(UTF8ToString($0), $1, $2); }, id.c_str(),
                                  data, size);
}

class WebMidiOutput : public MidiOutput {
  public:
    explicit WebMidiOutput(std::string id) : id_(std::move(id)) {}
    ~WebMidiOutput() override { close(); }

    bool send(Bytes message, std::shared_ptr<SendCompletion> done) override {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return false;
            }
        }
        // MIDIOutput.send() takes the whole message at once (the browser queues it) or throws: the answer is
        // known on return, so completion is reported here.
        const int result = glueSend(id_, message.data(), message.size());
        if (result < 0) {
            return false;
        }
        done->finish(result == 1);
        return true;
    }

    void close() override {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                return;
            }
            closed_ = true;
        }
        glueClose(0, id_);
    }

  private:
    const std::string id_;
    std::mutex mutex_;
    bool closed_ = false;
};

}  // namespace

struct CWebMidiDriver::OpenInput {
    OpenInput(std::string portId, SysExHandler handler) : id(std::move(portId)), framer(std::move(handler)) {}
    const std::string id;
    std::mutex mutex;  // held while the framer delivers, so that closing waits out a delivery under way
    SysExFramer framer;
    bool open = true;
};

namespace {

class WebMidiInput : public MidiInput {
  public:
    WebMidiInput(std::shared_ptr<CWebMidiDriver::OpenInput> state, std::function<void()> forget)
        : state_(std::move(state)), forget_(std::move(forget)) {}
    ~WebMidiInput() override {
        glueClose(1, state_->id);
        {
            std::lock_guard lock(state_->mutex);
            state_->open = false;
        }
        forget_();
    }

  private:
    const std::shared_ptr<CWebMidiDriver::OpenInput> state_;
    const std::function<void()> forget_;
};

}  // namespace

void CWebMidiDriver::setPorts(std::vector<WebMidiPort> inputs, std::vector<WebMidiPort> outputs) {
    std::lock_guard lock(mutex_);
    inputs_ = std::move(inputs);
    outputs_ = std::move(outputs);
}

void CWebMidiDriver::receive(const std::string& id, Bytes data) {
    std::shared_ptr<OpenInput> target;
    {
        std::lock_guard lock(mutex_);
        const auto found =
            std::find_if(open_.begin(), open_.end(), [&id](const auto& in) { return in->id == id; });
        if (found == open_.end()) {
            return;
        }
        target = *found;
    }
    std::lock_guard lock(target->mutex);
    if (target->open) {
        target->framer.feed(data);
    }
}

unsigned CWebMidiDriver::portCount(Direction direction) {
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(ports(direction).size());
}

WebMidiPort CWebMidiDriver::portAt(Direction direction, int index) {
    std::lock_guard lock(mutex_);
    const std::vector<WebMidiPort>& list = ports(direction);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
        return {};
    }
    return list[static_cast<std::size_t>(index)];
}

std::string CWebMidiDriver::portName(Direction direction, unsigned index) {
    return portAt(direction, static_cast<int>(index)).name;
}

std::string CWebMidiDriver::portAddress(Direction direction, unsigned index) {
    return portAt(direction, static_cast<int>(index)).id;
}

std::unique_ptr<MidiOutput> CWebMidiDriver::openOutput(int index, std::string* why) {
    const std::string id = portAt(Direction::Out, index).id;
    const int opened = id.empty() ? -1 : glueOpen(0, id);
    if (opened != 1) {
        if (why != nullptr) {
            *why = i18n::translate("Drivers", opened < 0 ? kPortGone : kOpenFailed);
        }
        return nullptr;
    }
    return std::make_unique<WebMidiOutput>(id);
}

std::unique_ptr<MidiInput> CWebMidiDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    const std::string id = portAt(Direction::In, index).id;
    auto state = std::make_shared<OpenInput>(id, std::move(onSysEx));
    {
        // Registered before the port opens, so that nothing the device says right away is lost.
        std::lock_guard lock(mutex_);
        open_.push_back(state);
    }
    auto forget = [this, state] {
        std::lock_guard lock(mutex_);
        std::erase(open_, state);
    };
    const int opened = id.empty() ? -1 : glueOpen(1, id);
    if (opened != 1) {
        forget();
        if (why != nullptr) {
            *why = i18n::translate("Drivers", opened < 0 ? kPortGone : kOpenFailed);
        }
        return nullptr;
    }
    return std::make_unique<WebMidiInput>(state, forget);
}

}  // namespace velmora::midi
