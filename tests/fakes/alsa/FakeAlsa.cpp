#include "fakes/alsa/FakeAlsa.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

using velmora::fakes::FakeCard;

// The library's opaque objects, as this fake keeps them.
struct _snd_rawmidi {
    int card = 0;
    int device = 0;
    int subdevice = 0;
    snd_rawmidi_stream_t stream = SND_RAWMIDI_STREAM_OUTPUT;
    std::string hw;
    int eventFd = -1;  // readable while the handle is ready: level-triggered, like the kernel's poll
    bool signalled = false;
    std::size_t bufferSize = 4096;
    std::deque<std::uint8_t> queued;  // output: waiting to drain; input: waiting to be read
    double budget = 0;                // bytes the drain may move, accumulated between ticks
    int eagainLeft = 0;
};
struct _snd_rawmidi_params {
    std::size_t bufferSize = 4096;
};
struct _snd_rawmidi_status {
    std::size_t avail = 0;
};
struct _snd_rawmidi_info {
    unsigned device = 0;
    unsigned subdevice = 0;
    snd_rawmidi_stream_t stream = SND_RAWMIDI_STREAM_OUTPUT;
    std::string name;
    std::string subdeviceName;
    unsigned subdevices = 0;
};
struct _snd_ctl {
    int card = 0;
};

namespace velmora::fakes {
namespace {

using Clock = std::chrono::steady_clock;

struct State {
    std::mutex mutex;
    std::condition_variable drained;
    std::vector<FakeCard> cards;
    std::set<int> unplugged;
    std::set<std::string> held;
    std::set<snd_rawmidi_t*> handles;
    FakeAlsaOptions options;
    CFakeAlsa::Wire wire;
    std::size_t wireBytes = 0;
    bool stopping = false;
    std::thread kernel;
};

State* state = nullptr;  // the one CFakeAlsa alive

bool gone(const snd_rawmidi_t* h) {
    return state->unplugged.count(h->card) != 0;
}

bool ready(const snd_rawmidi_t* h) {
    if (gone(h)) {
        return true;
    }
    return h->stream == SND_RAWMIDI_STREAM_INPUT ? !h->queued.empty() : h->queued.size() < h->bufferSize;
}

// Keeps the eventfd readable exactly while the handle is ready. Called under the lock after every change.
void refresh(snd_rawmidi_t* h) {
    const bool want = ready(h) || h->eagainLeft > 0;  // a storm wakes the poller only to refuse it again
    if (want == h->signalled) {
        return;
    }
    std::uint64_t value = 1;
    const ssize_t done =
        want ? ::write(h->eventFd, &value, sizeof value) : ::read(h->eventFd, &value, sizeof value);
    if (done == static_cast<ssize_t>(sizeof value)) {
        h->signalled = want;
    }
}

const FakeRawmidiDevice* findDevice(int card, int device) {
    if (card < 0 || static_cast<std::size_t>(card) >= state->cards.size() ||
        state->unplugged.count(card) != 0) {
        return nullptr;
    }
    const auto& devices = state->cards[static_cast<std::size_t>(card)].devices;
    return device >= 0 && static_cast<std::size_t>(device) < devices.size()
               ? &devices[static_cast<std::size_t>(device)]
               : nullptr;
}

const std::vector<std::string>& subdevices(const FakeRawmidiDevice& d, snd_rawmidi_stream_t stream) {
    return stream == SND_RAWMIDI_STREAM_INPUT ? d.inputs : d.outputs;
}

// One tick of the drain: each output moves what its byte rate allows since the last tick onto the wire.
void drainTick(double seconds) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> leaving;
    {
        std::lock_guard lock(state->mutex);
        for (snd_rawmidi_t* h : state->handles) {
            if (h->stream != SND_RAWMIDI_STREAM_OUTPUT || gone(h) || h->queued.empty()) {
                continue;
            }
            std::size_t n = h->queued.size();
            if (state->options.bytesPerSecond > 0) {
                h->budget = std::min(h->budget + seconds * state->options.bytesPerSecond, 65536.0);
                n = std::min(n, static_cast<std::size_t>(h->budget));
                h->budget -= static_cast<double>(n);
            }
            if (n == 0) {
                continue;
            }
            leaving.emplace_back(h->hw, std::vector<std::uint8_t>(h->queued.begin(), h->queued.begin() + n));
            h->queued.erase(h->queued.begin(), h->queued.begin() + static_cast<std::ptrdiff_t>(n));
            state->wireBytes += n;
            refresh(h);
        }
    }
    state->drained.notify_all();
    for (const auto& [hw, bytes] : leaving) {
        if (state->wire) {
            state->wire(hw, bytes);
        }
    }
}

void kernelLoop() {
    Clock::time_point last = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(state->mutex);
            if (state->stopping) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        const Clock::time_point now = Clock::now();
        drainTick(std::chrono::duration<double>(now - last).count());
        last = now;
    }
}

// EAGAIN while a storm lasts; otherwise 0.
int storm(snd_rawmidi_t* h) {
    if (h->eagainLeft > 0) {
        --h->eagainLeft;
        refresh(h);
        return -EAGAIN;
    }
    return 0;
}

}  // namespace

CFakeAlsa::CFakeAlsa(std::vector<FakeCard> cards, FakeAlsaOptions options, Wire wire) {
    state = new State;
    state->cards = std::move(cards);
    state->options = options;
    state->wire = std::move(wire);
    state->kernel = std::thread(kernelLoop);
}

CFakeAlsa::~CFakeAlsa() {
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
    }
    state->kernel.join();
    delete state;
    state = nullptr;
}

void CFakeAlsa::deliver(const std::string& hw, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(state->mutex);
    for (snd_rawmidi_t* h : state->handles) {
        if (h->stream == SND_RAWMIDI_STREAM_INPUT && h->hw == hw && !gone(h)) {
            const std::size_t room = h->bufferSize - std::min(h->bufferSize, h->queued.size());
            h->queued.insert(h->queued.end(), bytes.begin(), bytes.begin() + std::min(room, bytes.size()));
            refresh(h);
        }
    }
}

void CFakeAlsa::hold(const std::string& hw, bool held) {
    std::lock_guard lock(state->mutex);
    if (held) {
        state->held.insert(hw);
    } else {
        state->held.erase(hw);
    }
}

void CFakeAlsa::unplug(int card) {
    {
        std::lock_guard lock(state->mutex);
        state->unplugged.insert(card);
        for (snd_rawmidi_t* h : state->handles) {
            refresh(h);
        }
    }
    state->drained.notify_all();
}

void CFakeAlsa::replug(std::vector<FakeCard> cards) {
    std::lock_guard lock(state->mutex);
    state->cards = std::move(cards);
    state->unplugged.clear();
}

int CFakeAlsa::openHandles() const {
    std::lock_guard lock(state->mutex);
    return static_cast<int>(state->handles.size());
}

std::size_t CFakeAlsa::wireBytes() const {
    std::lock_guard lock(state->mutex);
    return state->wireBytes;
}

}  // namespace velmora::fakes

using velmora::fakes::state;
namespace fk = velmora::fakes;

extern "C" {

// ---- enumeration ----

int snd_card_next(int* card) {
    std::lock_guard lock(state->mutex);
    for (int next = *card + 1; static_cast<std::size_t>(next) < state->cards.size(); ++next) {
        if (state->unplugged.count(next) == 0) {
            *card = next;
            return 0;
        }
    }
    *card = -1;
    return 0;
}

int snd_ctl_open(snd_ctl_t** ctl, const char* name, int) {
    int card = -1;
    if (std::sscanf(name, "hw:%d", &card) != 1) {
        return -ENOENT;
    }
    std::lock_guard lock(state->mutex);
    if (card < 0 || static_cast<std::size_t>(card) >= state->cards.size() ||
        state->unplugged.count(card) != 0) {
        return -ENODEV;
    }
    *ctl = new _snd_ctl{card};
    return 0;
}

int snd_ctl_close(snd_ctl_t* ctl) {
    delete ctl;
    return 0;
}

int snd_ctl_rawmidi_next_device(snd_ctl_t* ctl, int* device) {
    std::lock_guard lock(state->mutex);
    if (state->unplugged.count(ctl->card) != 0) {
        return -ENODEV;
    }
    const auto& devices = state->cards[static_cast<std::size_t>(ctl->card)].devices;
    *device = static_cast<std::size_t>(*device + 1) < devices.size() ? *device + 1 : -1;
    return 0;
}

int snd_ctl_rawmidi_info(snd_ctl_t* ctl, snd_rawmidi_info_t* info) {
    std::lock_guard lock(state->mutex);
    const fk::FakeRawmidiDevice* d = fk::findDevice(ctl->card, static_cast<int>(info->device));
    if (d == nullptr) {
        return -ENODEV;
    }
    const auto& subs = fk::subdevices(*d, info->stream);
    if (info->subdevice >= subs.size()) {
        return -ENOENT;
    }
    info->name = d->name;
    info->subdeviceName = subs[info->subdevice];
    info->subdevices = static_cast<unsigned>(subs.size());
    return 0;
}

int snd_rawmidi_info_malloc(snd_rawmidi_info_t** ptr) {
    *ptr = new _snd_rawmidi_info;
    return 0;
}
void snd_rawmidi_info_free(snd_rawmidi_info_t* obj) {
    delete obj;
}
void snd_rawmidi_info_set_device(snd_rawmidi_info_t* obj, unsigned int val) {
    obj->device = val;
}
void snd_rawmidi_info_set_subdevice(snd_rawmidi_info_t* obj, unsigned int val) {
    obj->subdevice = val;
}
void snd_rawmidi_info_set_stream(snd_rawmidi_info_t* obj, snd_rawmidi_stream_t val) {
    obj->stream = val;
}
const char* snd_rawmidi_info_get_name(const snd_rawmidi_info_t* obj) {
    return obj->name.c_str();
}
const char* snd_rawmidi_info_get_subdevice_name(const snd_rawmidi_info_t* obj) {
    return obj->subdeviceName.c_str();
}
unsigned int snd_rawmidi_info_get_subdevices_count(const snd_rawmidi_info_t* obj) {
    return obj->subdevices;
}

const char* snd_strerror(int errnum) {
    return std::strerror(errnum < 0 ? -errnum : errnum);
}

// ---- open and close ----

int snd_rawmidi_open(snd_rawmidi_t** in, snd_rawmidi_t** out, const char* name, int) {
    int card = -1;
    int device = -1;
    int sub = -1;
    if (std::sscanf(name, "hw:%d,%d,%d", &card, &device, &sub) != 3 || (in == nullptr) == (out == nullptr)) {
        return -EINVAL;
    }
    const snd_rawmidi_stream_t stream = in != nullptr ? SND_RAWMIDI_STREAM_INPUT : SND_RAWMIDI_STREAM_OUTPUT;
    std::lock_guard lock(state->mutex);
    const fk::FakeRawmidiDevice* d = fk::findDevice(card, device);
    if (d == nullptr || sub < 0 || static_cast<std::size_t>(sub) >= fk::subdevices(*d, stream).size()) {
        return -ENODEV;
    }
    if (state->held.count(name) != 0) {
        return -EBUSY;
    }
    for (const snd_rawmidi_t* h : state->handles) {
        if (h->hw == name && h->stream == stream) {
            return -EBUSY;
        }
    }
    auto* h = new _snd_rawmidi;
    h->card = card;
    h->device = device;
    h->subdevice = sub;
    h->stream = stream;
    h->hw = name;
    h->eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    h->bufferSize = std::min<std::size_t>(4096, state->options.bufferLimit);
    state->handles.insert(h);
    fk::refresh(h);
    *(in != nullptr ? in : out) = h;
    return 0;
}

int snd_rawmidi_close(snd_rawmidi_t* h) {
    {
        std::lock_guard lock(state->mutex);
        state->handles.erase(h);
    }
    ::close(h->eventFd);
    delete h;
    return 0;
}

// ---- parameters and status ----

int snd_rawmidi_params_malloc(snd_rawmidi_params_t** ptr) {
    *ptr = new _snd_rawmidi_params;
    return 0;
}
void snd_rawmidi_params_free(snd_rawmidi_params_t* obj) {
    delete obj;
}
int snd_rawmidi_params_current(snd_rawmidi_t* h, snd_rawmidi_params_t* params) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    params->bufferSize = h->bufferSize;
    return 0;
}
int snd_rawmidi_params_set_buffer_size(snd_rawmidi_t*, snd_rawmidi_params_t* params, size_t val) {
    params->bufferSize = val;
    return 0;
}
size_t snd_rawmidi_params_get_buffer_size(const snd_rawmidi_params_t* params) {
    return params->bufferSize;
}
int snd_rawmidi_params_set_avail_min(snd_rawmidi_t*, snd_rawmidi_params_t*, size_t) {
    return 0;
}
int snd_rawmidi_params_set_no_active_sensing(snd_rawmidi_t*, snd_rawmidi_params_t*, int) {
    return 0;
}
// The kernel grants at most its own bound.
int snd_rawmidi_params(snd_rawmidi_t* h, snd_rawmidi_params_t* params) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    if (params->bufferSize < 32) {
        return -EINVAL;
    }
    h->bufferSize = std::max(std::min(params->bufferSize, state->options.bufferLimit), h->queued.size());
    fk::refresh(h);
    return 0;
}

int snd_rawmidi_status_malloc(snd_rawmidi_status_t** ptr) {
    *ptr = new _snd_rawmidi_status;
    return 0;
}
void snd_rawmidi_status_free(snd_rawmidi_status_t* obj) {
    delete obj;
}
size_t snd_rawmidi_status_get_avail(const snd_rawmidi_status_t* obj) {
    return obj->avail;
}
int snd_rawmidi_status(snd_rawmidi_t* h, snd_rawmidi_status_t* status) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    status->avail =
        h->stream == SND_RAWMIDI_STREAM_INPUT ? h->queued.size() : h->bufferSize - h->queued.size();
    return 0;
}

// ---- polling ----

int snd_rawmidi_poll_descriptors_count(snd_rawmidi_t*) {
    return 1;
}

int snd_rawmidi_poll_descriptors(snd_rawmidi_t* h, struct pollfd* pfds, unsigned int space) {
    if (space < 1) {
        return 0;
    }
    pfds[0] = {h->eventFd, POLLIN, 0};
    return 1;
}

int snd_rawmidi_poll_descriptors_revents(snd_rawmidi_t* h, struct pollfd* pfds, unsigned int nfds,
                                         unsigned short* revents) {
    if (nfds != 1 || pfds[0].fd != h->eventFd) {
        return -EINVAL;
    }
    std::lock_guard lock(state->mutex);
    unsigned short events = 0;
    if (fk::gone(h)) {
        events = POLLERR | POLLHUP;
    } else if (fk::ready(h) && (pfds[0].revents & POLLIN) != 0) {
        events = h->stream == SND_RAWMIDI_STREAM_INPUT ? POLLIN : POLLOUT;
    }
    *revents = events;
    return 0;
}

// ---- moving bytes ----

ssize_t snd_rawmidi_write(snd_rawmidi_t* h, const void* buffer, size_t size) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    if (h->stream != SND_RAWMIDI_STREAM_OUTPUT) {
        return -EINVAL;
    }
    if (const int refused = fk::storm(h)) {
        return refused;
    }
    const std::size_t n = std::min(size, h->bufferSize - h->queued.size());
    if (n == 0) {
        return -EAGAIN;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    h->queued.insert(h->queued.end(), bytes, bytes + n);
    h->eagainLeft = state->options.eagainStorm;
    fk::refresh(h);
    return static_cast<ssize_t>(n);
}

ssize_t snd_rawmidi_read(snd_rawmidi_t* h, void* buffer, size_t size) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    if (h->stream != SND_RAWMIDI_STREAM_INPUT) {
        return -EINVAL;
    }
    if (const int refused = fk::storm(h)) {
        return refused;
    }
    std::size_t n = std::min(size, h->queued.size());
    if (state->options.readPiece > 0) {
        n = std::min(n, state->options.readPiece);
    }
    if (n == 0) {
        return -EAGAIN;
    }
    std::copy_n(h->queued.begin(), n, static_cast<std::uint8_t*>(buffer));
    h->queued.erase(h->queued.begin(), h->queued.begin() + static_cast<std::ptrdiff_t>(n));
    h->eagainLeft = state->options.eagainStorm;
    fk::refresh(h);
    return static_cast<ssize_t>(n);
}

// Blocks until the output buffer has drained, as the kernel does.
int snd_rawmidi_drain(snd_rawmidi_t* h) {
    std::unique_lock lock(state->mutex);
    state->drained.wait(lock, [h] { return fk::gone(h) || h->queued.empty(); });
    return fk::gone(h) ? -ENODEV : 0;
}

int snd_rawmidi_drop(snd_rawmidi_t* h) {
    std::lock_guard lock(state->mutex);
    if (fk::gone(h)) {
        return -ENODEV;
    }
    h->queued.clear();
    fk::refresh(h);
    return 0;
}

}  // extern "C"
