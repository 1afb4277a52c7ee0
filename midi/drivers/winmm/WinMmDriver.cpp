#include "midi/drivers/winmm/WinMmDriver.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mmsystem.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "i18n/Translate.h"
#include "i18n/WideText.h"
#include "midi/SysExFramer.h"

namespace velmora::midi {

namespace {

using namespace std::chrono_literals;

constexpr UINT kHeaderSize = static_cast<UINT>(sizeof(MIDIHDR));
constexpr DWORD kInputBufferBytes = static_cast<DWORD>(kMaxSysExEntry);
// Buffers lent at once. Windows may hand a long SysEx back in pieces, one buffer each, and drops what arrives
// while no buffer is lent: one buffer, lent again only from the callback, loses the pieces that come before.
constexpr std::size_t kInputBuffers = 16;

// How long a header may stay with the system after a reset before it is taken as lost.
constexpr auto kReturnLimit = 2000ms;

std::string toUtf8(const wchar_t* text, std::size_t maxChars) {
    return i18n::narrow(std::wstring_view(text, wcsnlen(text, maxChars)));
}

// Every multimedia call goes through here: true on MMSYSERR_NOERROR, otherwise the system's reason in *why.
bool mmOk(MMRESULT result, Direction side, const char* what, std::string* why) {
    if (result == MMSYSERR_NOERROR) {
        return true;
    }
    if (why != nullptr) {
        wchar_t text[MAXERRORLENGTH] = {};
        const MMRESULT described = side == Direction::In ? midiInGetErrorTextW(result, text, MAXERRORLENGTH)
                                                         : midiOutGetErrorTextW(result, text, MAXERRORLENGTH);
        *why = i18n::arg(i18n::translate("Drivers", "%1: %2 (error %3)"),
                         {what,
                          described == MMSYSERR_NOERROR ? toUtf8(text, MAXERRORLENGTH)
                                                        : i18n::translate("Drivers", "failed"),
                          std::to_string(result)});
    }
    return false;
}

// The system writes a header's flags from its own thread while we poll them.
DWORD flagsOf(MIDIHDR& header) {
    return std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire);
}

UINT deviceCount(Direction side) {
    return side == Direction::In ? midiInGetNumDevs() : midiOutGetNumDevs();
}

bool checkIndex(int index, Direction side, std::string* why) {
    const UINT count = deviceCount(side);
    if (index >= 0 && static_cast<UINT>(index) < count) {
        return true;
    }
    if (why != nullptr) {
        *why = i18n::arg(side == Direction::In ? i18n::translate("Drivers", "no MIDI input %1 (%2 found)")
                                               : i18n::translate("Drivers", "no MIDI output %1 (%2 found)"),
                         {std::to_string(index), std::to_string(count)});
    }
    return false;
}

// Sleeps of one millisecond, as the output's completion polling needs, rather than the default 15.6 ms.
class CTimerResolution {
  public:
    CTimerResolution() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~CTimerResolution() {
        if (raised_) {
            timeEndPeriod(1);
        }
    }
    CTimerResolution(const CTimerResolution&) = delete;
    CTimerResolution& operator=(const CTimerResolution&) = delete;

  private:
    const bool raised_;
};

// ---- input ----

// A receive buffer with its header. Heap-allocated on its own so that it can be left to the system if the
// system never hands it back.
struct InputBuffer {
    MIDIHDR header{};
    char bytes[kInputBufferBytes] = {};
    bool prepared = false;
};

class CWinMmInput final : public MidiInput {
  public:
    explicit CWinMmInput(SysExHandler onSysEx) : framer_(std::move(onSysEx)) {
        for (auto& buffer : buffers_) {
            buffer = std::make_unique<InputBuffer>();
            buffer->header.lpData = buffer->bytes;
            buffer->header.dwBufferLength = kInputBufferBytes;
        }
    }

    // Open, prepare, lend, start; each step only after the one before it worked.
    bool start(UINT id, std::string* why) {
        HMIDIIN opened = nullptr;
        if (!mmOk(midiInOpen(&opened, id, reinterpret_cast<DWORD_PTR>(&CWinMmInput::onEvent),
                             reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION),
                  Direction::In, "midiInOpen", why)) {
            return false;
        }
        handle_ = opened;
        for (auto& buffer : buffers_) {
            if (!mmOk(midiInPrepareHeader(handle_, &buffer->header, kHeaderSize), Direction::In,
                      "midiInPrepareHeader", why)) {
                return false;
            }
            buffer->prepared = true;
            if (!mmOk(midiInAddBuffer(handle_, &buffer->header, kHeaderSize), Direction::In,
                      "midiInAddBuffer", why)) {
                return false;
            }
        }
        if (!mmOk(midiInStart(handle_), Direction::In, "midiInStart", why)) {
            return false;
        }
        started_ = true;
        return true;
    }

    ~CWinMmInput() override {
        {
            // From here on nothing is delivered and the buffer is not lent again; a delivery under way
            // finishes first.
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        if (started_) {
            midiInStop(handle_);
        }
        if (handle_ == nullptr) {
            return;
        }
        // Hands the buffers back through the callback.
        midiInReset(handle_);
        const auto limit = std::chrono::steady_clock::now() + kReturnLimit;
        for (auto& buffer : buffers_) {
            if (!buffer->prepared) {
                continue;
            }
            while ((flagsOf(buffer->header) & MHDR_INQUEUE) != 0 &&
                   std::chrono::steady_clock::now() < limit) {
                Sleep(1);
            }
            if (!mmOk(midiInUnprepareHeader(handle_, &buffer->header, kHeaderSize), Direction::In, "",
                      nullptr)) {
                // The system still holds the buffer: leaving it allocated is better than letting it write
                // into freed memory.
                static_cast<void>(buffer.release());
            }
        }
        midiInClose(handle_);
    }

  private:
    static void CALLBACK onEvent(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                 DWORD_PTR /*param2*/) {
        if (message != MIM_LONGDATA && message != MIM_LONGERROR) {
            return;  // short messages, open, close, errors
        }
        reinterpret_cast<CWinMmInput*>(instance)->onBuffer(handle, reinterpret_cast<MIDIHDR*>(param1),
                                                           message == MIM_LONGDATA);
    }

    void onBuffer(HMIDIIN handle, MIDIHDR* header, bool valid) {
        std::lock_guard lock(mutex_);
        if (closing_ || header == nullptr) {
            return;
        }
        const DWORD recorded = header->dwBytesRecorded;
        // A buffer that comes back without data is the system letting go of it: it is not lent again.
        if ((header->dwFlags & MHDR_DONE) == 0 || recorded == 0) {
            return;
        }
        if (valid) {
            const DWORD length = recorded < header->dwBufferLength ? recorded : header->dwBufferLength;
            framer_.feed(Bytes(reinterpret_cast<const std::uint8_t*>(header->lpData), length));
        } else {
            framer_.reset();  // a malformed SysEx: whatever was collected of it is dropped
        }
        midiInAddBuffer(handle, header, kHeaderSize);
    }

    HMIDIIN handle_ = nullptr;
    std::array<std::unique_ptr<InputBuffer>, kInputBuffers> buffers_;
    bool started_ = false;
    std::mutex mutex_;  // held by the callback while it delivers
    bool closing_ = false;
    SysExFramer framer_;
};

// ---- output ----

// One message on its way: the bytes and the header the system reads them through, alive until the system
// has finished with them, however long the sender waits.
struct OutputJob {
    std::vector<char> bytes;
    MIDIHDR header{};
    std::shared_ptr<SendCompletion> done;
    bool abandoned = false;  // still pending when the output was closed
};

class CWinMmOutput final : public MidiOutput {
  public:
    bool start(UINT id, std::string* why) {
        HMIDIOUT opened = nullptr;
        if (!mmOk(midiOutOpen(&opened, id, 0, 0, CALLBACK_NULL), Direction::Out, "midiOutOpen", why)) {
            return false;
        }
        handle_ = opened;
        resolution_ = std::make_unique<CTimerResolution>();
        try {
            waiter_ = std::thread([this] { watch(); });
        } catch (const std::system_error& e) {
            // The destructor closes the handle.
            if (why != nullptr) {
                *why =
                    i18n::arg(i18n::translate("Drivers", "cannot start the output's completion thread: %1"),
                              {e.what()});
            }
            return false;
        }
        return true;
    }

    ~CWinMmOutput() override {
        close();
        if (waiter_.joinable()) {
            waiter_.join();
        }
        resolution_.reset();
        if (handle_ != nullptr) {
            midiOutClose(handle_);
        }
    }

    bool send(Bytes message, std::shared_ptr<SendCompletion> done) override {
        if (!done) {
            return false;
        }
        auto job = std::make_shared<OutputJob>();
        job->bytes.assign(message.begin(), message.end());
        job->header.lpData = job->bytes.data();
        job->header.dwBufferLength = static_cast<DWORD>(job->bytes.size());
        job->done = std::move(done);
        // Held while queuing: the system sends long messages in the order they were queued, each whole.
        std::lock_guard lock(mutex_);
        if (closed_ || handle_ == nullptr) {
            return false;
        }
        if (!mmOk(midiOutPrepareHeader(handle_, &job->header, kHeaderSize), Direction::Out, "", nullptr)) {
            return false;
        }
        if (!mmOk(midiOutLongMsg(handle_, &job->header, kHeaderSize), Direction::Out, "", nullptr)) {
            midiOutUnprepareHeader(handle_, &job->header, kHeaderSize);
            return false;
        }
        jobs_.push_back(std::move(job));
        changed_.notify_all();
        return true;
    }

    void close() override {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        for (const std::shared_ptr<OutputJob>& job : jobs_) {
            job->abandoned = (flagsOf(job->header) & MHDR_DONE) == 0;
        }
        if (handle_ != nullptr && !jobs_.empty()) {
            // Stops what is being sent and hands every queued header back marked done.
            midiOutReset(handle_);
        }
        changed_.notify_all();
    }

  private:
    // Polls the oldest message's done flag every millisecond and finishes it.
    void watch() {
        std::unique_lock lock(mutex_);
        std::chrono::steady_clock::time_point giveUpAt{};
        for (;;) {
            if (jobs_.empty()) {
                if (closed_) {
                    return;
                }
                changed_.wait(lock);
                continue;
            }
            const std::shared_ptr<OutputJob> job = jobs_.front();
            if ((flagsOf(job->header) & MHDR_DONE) != 0) {
                jobs_.pop_front();
                const bool sent = !job->abandoned;
                lock.unlock();
                midiOutUnprepareHeader(handle_, &job->header, kHeaderSize);
                job->done->finish(sent);
                lock.lock();
                continue;
            }
            if (closed_) {
                if (giveUpAt == std::chrono::steady_clock::time_point{}) {
                    giveUpAt = std::chrono::steady_clock::now() + kReturnLimit;
                } else if (std::chrono::steady_clock::now() >= giveUpAt) {
                    // The system kept the header after a reset: its memory stays with the system for good.
                    jobs_.pop_front();
                    static_cast<void>(new std::shared_ptr<OutputJob>(job));
                    lock.unlock();
                    job->done->finish(false);
                    lock.lock();
                    continue;
                }
            }
            changed_.wait_for(lock, 1ms);
        }
    }

    HMIDIOUT handle_ = nullptr;
    std::unique_ptr<CTimerResolution> resolution_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<OutputJob>> jobs_;
    bool closed_ = false;
    std::thread waiter_;
};

std::string currentName(Direction side, unsigned index) {
    if (side == Direction::In) {
        MIDIINCAPSW caps{};
        return mmOk(midiInGetDevCapsW(index, &caps, static_cast<UINT>(sizeof caps)), side, "", nullptr)
                   ? toUtf8(caps.szPname, MAXPNAMELEN)
                   : std::string();
    }
    MIDIOUTCAPSW caps{};
    return mmOk(midiOutGetDevCapsW(index, &caps, static_cast<UINT>(sizeof caps)), side, "", nullptr)
               ? toUtf8(caps.szPname, MAXPNAMELEN)
               : std::string();
}

}  // namespace

unsigned CWinMmDriver::portCount(Direction direction) {
    return deviceCount(direction);
}

std::string CWinMmDriver::portName(Direction direction, unsigned index) {
    std::string name = currentName(direction, index);
    std::lock_guard lock(mutex_);
    listed(direction)[index] = name;
    return name;
}

// Device numbers shift when a device is plugged in or out: an index must still hold the port it was listed
// with.
bool CWinMmDriver::stillListed(Direction direction, int index, std::string* why) {
    std::string shown;
    {
        std::lock_guard lock(mutex_);
        const std::map<unsigned, std::string>& names = listed(direction);
        const auto at = index >= 0 ? names.find(static_cast<unsigned>(index)) : names.end();
        if (at == names.end()) {
            return true;  // never listed: nothing to compare with
        }
        shown = at->second;
    }
    if (currentName(direction, static_cast<unsigned>(index)) == shown) {
        return true;
    }
    if (why != nullptr) {
        *why = i18n::translate("Drivers", kPortListChanged);
    }
    return false;
}

std::unique_ptr<MidiOutput> CWinMmDriver::openOutput(int index, std::string* why) {
    if (!stillListed(Direction::Out, index, why) || !checkIndex(index, Direction::Out, why)) {
        return nullptr;
    }
    auto output = std::make_unique<CWinMmOutput>();
    if (!output->start(static_cast<UINT>(index), why)) {
        return nullptr;
    }
    return output;
}

std::unique_ptr<MidiInput> CWinMmDriver::openInput(int index, SysExHandler onSysEx, std::string* why) {
    if (!stillListed(Direction::In, index, why) || !checkIndex(index, Direction::In, why)) {
        return nullptr;
    }
    auto input = std::make_unique<CWinMmInput>(std::move(onSysEx));
    if (!input->start(static_cast<UINT>(index), why)) {
        return nullptr;  // the destructor undoes the steps that worked
    }
    return input;
}

}  // namespace velmora::midi
