#include "fakes/winmm/FakeWinMm.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace velmora::fakes {
namespace {

using Clock = std::chrono::steady_clock;

// The system writes a header's flags while the program polls them.
void setFlags(MIDIHDR* h, DWORD flags) {
    std::atomic_ref<DWORD>(h->dwFlags).store(flags, std::memory_order_release);
}
DWORD flagsOf(MIDIHDR* h) {
    return std::atomic_ref<DWORD>(h->dwFlags).load(std::memory_order_acquire);
}

struct Port {
    std::string name;
    bool held = false;
    bool gone = false;
};

struct Handle {
    bool output = false;
    std::shared_ptr<Port> port;
    unsigned index = 0;  // in the list at open time, for the wire
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    // Output: long messages in order, the front one leaving; when it will have left.
    std::deque<MIDIHDR*> queued;
    Clock::time_point frontDone{};
    // Input: buffers lent, bytes arriving, whether started.
    std::deque<MIDIHDR*> lent;
    std::deque<std::uint8_t> arriving;
    Clock::time_point nextPiece{};
    bool started = false;
};

struct Callback {
    Handle* handle;
    UINT message;
    MIDIHDR* header;
};

struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::shared_ptr<Port>> inputs;
    std::vector<std::shared_ptr<Port>> outputs;
    std::set<Handle*> handles;
    std::deque<Callback> callbacks;
    Handle* inCallback = nullptr;
    std::condition_variable callbackDone;
    FakeWinMmOptions options;
    CFakeWinMm::Wire wire;
    std::size_t lost = 0;
    bool stopping = false;
    std::thread system;
    std::thread callbackThread;
};

State* state = nullptr;

std::vector<std::shared_ptr<Port>> present(const std::vector<std::shared_ptr<Port>>& ports) {
    std::vector<std::shared_ptr<Port>> out;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(out), [](const auto& p) { return !p->gone; });
    return out;
}

std::vector<std::shared_ptr<Port>> makePorts(const std::vector<std::string>& names) {
    std::vector<std::shared_ptr<Port>> out;
    for (const std::string& n : names) {
        out.push_back(std::make_shared<Port>(Port{n}));
    }
    return out;
}

// Hands a buffer back to the program: done, out of the queue, and a callback on the system's thread.
void giveBack(Handle* h, MIDIHDR* header, UINT message) {
    setFlags(header, (flagsOf(header) | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE));
    if (h->callback != 0) {
        state->callbacks.push_back({h, message, header});
        state->wake.notify_all();
    }
}

double transmitSeconds(const MIDIHDR* header) {
    const double rate = state->options.bytesPerSecond;
    return rate > 0 ? header->dwBufferLength / rate : 0.0005;
}

// One look at every handle: outputs finish their front message when its time has come, inputs fill the
// front lent buffer with the next piece of what arrived.
void systemTick() {
    std::vector<std::pair<unsigned, std::vector<std::uint8_t>>> leaving;
    std::vector<MIDIHDR*> finished;
    {
        std::lock_guard lock(state->mutex);
        const Clock::time_point now = Clock::now();
        for (Handle* h : state->handles) {
            if (h->port->gone) {
                continue;
            }
            if (h->output && !h->queued.empty() && now >= h->frontDone) {
                MIDIHDR* header = h->queued.front();
                h->queued.pop_front();
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
                leaving.emplace_back(h->index,
                                     std::vector<std::uint8_t>(bytes, bytes + header->dwBufferLength));
                finished.push_back(header);
                if (!h->queued.empty()) {
                    h->frontDone =
                        now + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(transmitSeconds(h->queued.front())));
                }
            }
            if (!h->output && h->started && !h->arriving.empty() && now >= h->nextPiece) {
                h->nextPiece = now + state->options.pieceGap;
                if (h->lent.empty()) {
                    // No buffer to put the piece in: Windows drops it.
                    const std::size_t n = std::min(h->arriving.size(), state->options.inputPiece);
                    h->arriving.erase(h->arriving.begin(),
                                      h->arriving.begin() + static_cast<std::ptrdiff_t>(n));
                    state->lost += n;
                    continue;
                }
                MIDIHDR* header = h->lent.front();
                h->lent.pop_front();
                const std::size_t room =
                    std::min<std::size_t>(header->dwBufferLength, state->options.inputPiece);
                std::size_t n = 0;
                while (n < room && !h->arriving.empty()) {
                    const std::uint8_t b = h->arriving.front();
                    h->arriving.pop_front();
                    header->lpData[n++] = static_cast<char>(b);
                    if (b == 0xF7) {
                        break;
                    }
                }
                header->dwBytesRecorded = static_cast<DWORD>(n);
                giveBack(h, header, MIM_LONGDATA);
            }
        }
    }
    for (const auto& [index, bytes] : leaving) {
        if (state->wire) {
            state->wire(index, bytes);
        }
    }
    // Done only once the bytes have left.
    std::lock_guard lock(state->mutex);
    for (MIDIHDR* header : finished) {
        setFlags(header, (flagsOf(header) | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE));
    }
}

void systemLoop() {
    for (;;) {
        {
            std::lock_guard lock(state->mutex);
            if (state->stopping) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        systemTick();
    }
}

void callbackLoop() {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [] { return state->stopping || !state->callbacks.empty(); });
        if (state->callbacks.empty()) {
            return;
        }
        const Callback c = state->callbacks.front();
        state->callbacks.pop_front();
        state->inCallback = c.handle;
        lock.unlock();
        auto* proc = reinterpret_cast<void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR)>(
            c.handle->callback);
        proc(reinterpret_cast<HMIDIIN>(c.handle), c.message, c.handle->instance,
             reinterpret_cast<DWORD_PTR>(c.header), 0);
        lock.lock();
        state->inCallback = nullptr;
        state->callbackDone.notify_all();
    }
}

Handle* find(void* raw, bool output) {
    auto* h = static_cast<Handle*>(raw);
    return state->handles.count(h) != 0 && h->output == output ? h : nullptr;
}

MMRESULT open(bool output, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags, void** handle) {
    std::lock_guard lock(state->mutex);
    const auto ports = present(output ? state->outputs : state->inputs);
    if (id >= ports.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    const std::shared_ptr<Port>& port = ports[id];
    if (port->held) {
        return MMSYSERR_ALLOCATED;
    }
    for (const Handle* h : state->handles) {
        if (h->port == port) {
            return MMSYSERR_ALLOCATED;  // a MIDI port has one user at a time
        }
    }
    auto* h = new Handle;
    h->output = output;
    h->port = port;
    h->index = id;
    h->callback = (flags & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION ? callback : 0;
    h->instance = instance;
    state->handles.insert(h);
    *handle = h;
    return MMSYSERR_NOERROR;
}

// Closing waits for a callback that is running for the handle, unless it is that callback closing.
MMRESULT close(void* raw, bool output) {
    std::unique_lock lock(state->mutex);
    Handle* h = find(raw, output);
    if (h == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!h->port->gone && (!h->queued.empty() || !h->lent.empty())) {
        return MIDIERR_STILLPLAYING;
    }
    state->handles.erase(h);
    std::erase_if(state->callbacks, [h](const Callback& c) { return c.handle == h; });
    if (std::this_thread::get_id() != state->callbackThread.get_id()) {
        state->callbackDone.wait(lock, [h] { return state->inCallback != h; });
    }
    delete h;
    return MMSYSERR_NOERROR;
}

MMRESULT prepare(void* raw, bool output, MIDIHDR* header) {
    std::lock_guard lock(state->mutex);
    if (find(raw, output) == nullptr || header == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    setFlags(header, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT unprepare(void* raw, bool output, MIDIHDR* header) {
    std::lock_guard lock(state->mutex);
    if (find(raw, output) == nullptr || header == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((flagsOf(header) & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    setFlags(header, flagsOf(header) & ~static_cast<DWORD>(MHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

// Every call on a handle whose device is gone.
MMRESULT usable(Handle* h) {
    if (h == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return h->port->gone ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

MMRESULT caps(bool output, UINT_PTR id, WCHAR* name) {
    std::lock_guard lock(state->mutex);
    const auto ports = present(output ? state->outputs : state->inputs);
    if (id >= ports.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    // szPname holds 31 characters and the terminator; a longer name is cut, as Windows cuts it.
    const std::string& utf8 = ports[id]->name;
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), name, MAXPNAMELEN - 1);
    name[std::max(n, 0)] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT errorText(MMRESULT code, LPWSTR text, UINT chars) {
    if (text == nullptr || chars == 0) {
        return MMSYSERR_INVALPARAM;
    }
    const wchar_t* words = code == MMSYSERR_ALLOCATED     ? L"The specified resource is already allocated."
                           : code == MMSYSERR_NODRIVER    ? L"There is no driver installed on your system."
                           : code == MIDIERR_STILLPLAYING ? L"Buffers are still in the queue."
                           : code == MMSYSERR_BADDEVICEID ? L"The device identifier is out of range."
                                                          : L"Unspecified error.";
    lstrcpynW(text, words, static_cast<int>(chars));
    return MMSYSERR_NOERROR;
}

}  // namespace

CFakeWinMm::CFakeWinMm(std::vector<std::string> inputs, std::vector<std::string> outputs,
                       FakeWinMmOptions options, Wire wire) {
    state = new State;
    state->inputs = makePorts(inputs);
    state->outputs = makePorts(outputs);
    state->options = options;
    state->wire = std::move(wire);
    state->system = std::thread(systemLoop);
    state->callbackThread = std::thread(callbackLoop);
}

CFakeWinMm::~CFakeWinMm() {
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
        state->wake.notify_all();
    }
    state->system.join();
    state->callbackThread.join();
    for (Handle* h : state->handles) {
        delete h;
    }
    delete state;
    state = nullptr;
}

void CFakeWinMm::deliver(unsigned index, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(state->mutex);
    for (Handle* h : state->handles) {
        if (!h->output && h->index == index && h->started && !h->port->gone) {
            h->arriving.insert(h->arriving.end(), bytes.begin(), bytes.end());
        }
    }
}

void CFakeWinMm::hold(bool output, unsigned index, bool held) {
    std::lock_guard lock(state->mutex);
    const auto ports = present(output ? state->outputs : state->inputs);
    if (index < ports.size()) {
        ports[index]->held = held;
    }
}

void CFakeWinMm::unplug(const std::string& name) {
    std::lock_guard lock(state->mutex);
    for (auto* list : {&state->inputs, &state->outputs}) {
        for (const auto& p : *list) {
            p->gone = p->gone || p->name == name;
        }
    }
}

void CFakeWinMm::replug(std::vector<std::string> inputs, std::vector<std::string> outputs) {
    std::lock_guard lock(state->mutex);
    state->inputs = makePorts(inputs);
    state->outputs = makePorts(outputs);
}

int CFakeWinMm::openHandles() const {
    std::lock_guard lock(state->mutex);
    return static_cast<int>(state->handles.size());
}

std::size_t CFakeWinMm::lostBytes() const {
    std::lock_guard lock(state->mutex);
    return state->lost;
}

}  // namespace velmora::fakes

using velmora::fakes::state;
namespace fk = velmora::fakes;

extern "C" {

UINT WINAPI midiInGetNumDevs(void) {
    std::lock_guard lock(state->mutex);
    return static_cast<UINT>(fk::present(state->inputs).size());
}
UINT WINAPI midiOutGetNumDevs(void) {
    std::lock_guard lock(state->mutex);
    return static_cast<UINT>(fk::present(state->outputs).size());
}
MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT size) {
    if (caps == nullptr || size < sizeof *caps) {
        return MMSYSERR_INVALPARAM;
    }
    *caps = {};
    return fk::caps(false, id, caps->szPname);
}
MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size) {
    if (caps == nullptr || size < sizeof *caps) {
        return MMSYSERR_INVALPARAM;
    }
    *caps = {};
    return fk::caps(true, id, caps->szPname);
}
MMRESULT WINAPI midiInGetErrorTextW(MMRESULT code, LPWSTR text, UINT chars) {
    return fk::errorText(code, text, chars);
}
MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT code, LPWSTR text, UINT chars) {
    return fk::errorText(code, text, chars);
}
MMRESULT WINAPI timeBeginPeriod(UINT) {
    return TIMERR_NOERROR;
}
MMRESULT WINAPI timeEndPeriod(UINT) {
    return TIMERR_NOERROR;
}

// ---- input ----

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    void* opened = nullptr;
    const MMRESULT r = fk::open(false, id, callback, instance, flags, &opened);
    *handle = static_cast<HMIDIIN>(opened);
    return r;
}
MMRESULT WINAPI midiInClose(HMIDIIN h) {
    return fk::close(h, false);
}
MMRESULT WINAPI midiInPrepareHeader(HMIDIIN h, LPMIDIHDR header, UINT) {
    return fk::prepare(h, false, header);
}
MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN h, LPMIDIHDR header, UINT) {
    return fk::unprepare(h, false, header);
}
MMRESULT WINAPI midiInAddBuffer(HMIDIIN raw, LPMIDIHDR header, UINT) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, false);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    if ((fk::flagsOf(header) & MHDR_PREPARED) == 0) {
        return MIDIERR_UNPREPARED;
    }
    header->dwBytesRecorded = 0;
    fk::setFlags(header, (fk::flagsOf(header) | MHDR_INQUEUE) & ~static_cast<DWORD>(MHDR_DONE));
    h->lent.push_back(header);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI midiInStart(HMIDIIN raw) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, false);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    h->started = true;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI midiInStop(HMIDIIN raw) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, false);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    h->started = false;
    return MMSYSERR_NOERROR;
}
// Every lent buffer comes back, empty, through the callback.
MMRESULT WINAPI midiInReset(HMIDIIN raw) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, false);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    h->started = false;
    h->arriving.clear();
    for (MIDIHDR* header : h->lent) {
        header->dwBytesRecorded = 0;
        fk::giveBack(h, header, MIM_LONGDATA);
    }
    h->lent.clear();
    return MMSYSERR_NOERROR;
}

// ---- output ----

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    void* opened = nullptr;
    const MMRESULT r = fk::open(true, id, callback, instance, flags, &opened);
    *handle = static_cast<HMIDIOUT>(opened);
    return r;
}
MMRESULT WINAPI midiOutClose(HMIDIOUT h) {
    return fk::close(h, true);
}
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT h, LPMIDIHDR header, UINT) {
    return fk::prepare(h, true, header);
}
MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT h, LPMIDIHDR header, UINT) {
    return fk::unprepare(h, true, header);
}
// Returns at once; the header is done once its bytes have left.
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT raw, LPMIDIHDR header, UINT) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, true);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    if ((fk::flagsOf(header) & MHDR_PREPARED) == 0) {
        return MIDIERR_UNPREPARED;
    }
    fk::setFlags(header, (fk::flagsOf(header) | MHDR_INQUEUE) & ~static_cast<DWORD>(MHDR_DONE));
    if (h->queued.empty()) {
        h->frontDone = fk::Clock::now() + std::chrono::duration_cast<fk::Clock::duration>(
                                              std::chrono::duration<double>(fk::transmitSeconds(header)));
    }
    h->queued.push_back(header);
    return MMSYSERR_NOERROR;
}
// What is queued stops and comes back done, unsent.
MMRESULT WINAPI midiOutReset(HMIDIOUT raw) {
    std::lock_guard lock(state->mutex);
    fk::Handle* h = fk::find(raw, true);
    if (const MMRESULT r = fk::usable(h)) {
        return r;
    }
    for (MIDIHDR* header : h->queued) {
        fk::giveBack(h, header, MOM_DONE);
    }
    h->queued.clear();
    return MMSYSERR_NOERROR;
}

}  // extern "C"
