#include "emulator/CEmulatedDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "update/FlashPlan.h"
#include "update/Format.h"
#include "update/Messages.h"

namespace velmora::emulator {

namespace {

using namespace std::chrono_literals;

// How often the device thread looks up from an empty inbox to see whether it is being stopped.
constexpr auto kInboxPoll = 10ms;
constexpr std::size_t kPreviewBytes = 12;
constexpr std::uint8_t kTimingClock = 0xF8;

// The first bytes in hex and the length: whole 4700-byte blocks would swamp the transcript.
std::string preview(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    const std::size_t shown = std::min(bytes.size(), kPreviewBytes);
    for (std::size_t i = 0; i < shown; ++i) {
        out += format(i == 0 ? "%02X" : " %02X", bytes[i]);
    }
    if (shown < bytes.size()) {
        out += format(" ... (%zu bytes)", bytes.size());
    }
    return out;
}

// What the device sends on its own in a chattering scenario, in turn: things a real device or a shared MIDI
// line may put between answers, none of which may be taken for an answer.
std::vector<std::uint8_t> chatterItem(std::size_t index, std::uint8_t model) {
    using namespace sysex;
    constexpr std::uint8_t kUnknownCode = 0x07;  // no code the host knows: it answers with status 1
    switch (index % 8) {
        case 0:
            return {kStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityRequestSubId, kEnd};
        case 1:
            return {kStart, kManufacturer, 0x00, model, kNoticeCode1, kEnd};
        case 2:
            return {kStart, kManufacturer, 0x00, model, kNoticeCode4, kEnd};
        case 3:
            return {kStart, kManufacturer, 0x00, model, kNoticeCode5, kEnd};
        case 4:
            return {kStart, kManufacturer, 0x00, model, kUnknownCode, kEnd};
        case 5:
            return {kStart, 0x7D, 0x01, 0x02, 0x03, kEnd};  // the MIDI 1.0 non-commercial manufacturer ID
        case 6:
            return {0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00};  // note on, note off
        default:
            return {kTimingClock, kTimingClock};
    }
}

// An erase and a write are handled alike but for these: the transcript's line after the name (address, size,
// number, ", again"), when a request repeats the last one, their counters and the scenario's faults.
struct FlashRequestKind {
    const char* heading;
    bool resendKeepsSize;  // a resend repeats the size as well as the address
    int EmulatorCounters::*received;
    int EmulatorCounters::*resends;
    int EmulatorCounters::*highest;  // the number so far, where it is counted
    CountedFault Scenario::*refuse;
    const char* refuseKey;
    CountedFault Scenario::*late;
    const char* lateKey;
};

constexpr FlashRequestKind kEraseKind = {
    .heading = " 0x%06X, 0x%X bytes (erase %u%s): ",
    .resendKeepsSize = true,
    .received = &EmulatorCounters::erase,
    .resends = &EmulatorCounters::eraseResends,
    .highest = nullptr,
    .refuse = &Scenario::refuseErase,
    .refuseKey = "refuse-erase",
    .late = &Scenario::lateErase,
    .lateKey = "late-erase",
};

constexpr FlashRequestKind kWriteKind = {
    .heading = " 0x%06X, %u bytes (block %u%s): ",
    .resendKeepsSize = false,
    .received = &EmulatorCounters::write,
    .resends = &EmulatorCounters::blockResends,
    .highest = &EmulatorCounters::blocks,
    .refuse = &Scenario::refuseBlock,
    .refuseKey = "refuse-block",
    .late = &Scenario::lateBlock,
    .lateKey = "late-block",
};

// Clears one set bit of one byte (NOR flash can only clear bits), from the middle of the block on; the offset
// of that byte, or nothing when every byte is already 0.
std::optional<std::uint32_t> corruptOneByte(std::vector<std::uint8_t>::iterator cell, std::uint32_t size) {
    for (std::uint32_t n = 0; n < size; ++n) {
        const std::uint32_t i = (size / 2 + n) % size;
        if (cell[i] != 0) {
            cell[i] = static_cast<std::uint8_t>(cell[i] & (cell[i] - 1));
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

LinkSpeed linkSpeed(Link link) {
    switch (link) {
        case Link::Usb:
            return {1000us, 250000.0};
        case Link::Din:
            return {0us, 3125.0};
        case Link::None:
            break;
    }
    return {};
}

// `config` is copied, not moved: the order in which arguments are evaluated is unspecified, and a move could
// empty the names before the ports are added.
CEmulatedDevice::CEmulatedDevice(midi::CLoopbackDriver& driver, const EmulatorConfig& config)
    : CEmulatedDevice(driver.addInput(config.inputName), driver.addOutput(config.outputName), config) {}

CEmulatedDevice::CEmulatedDevice(std::shared_ptr<midi::LoopbackInputEnd> toHost,
                                 std::shared_ptr<midi::LoopbackOutputEnd> fromHost, EmulatorConfig config)
    : config_(std::move(config)),
      toHost_(std::move(toHost)),
      fromHost_(std::move(fromHost)),
      initial_(config_.startFlash.size() == kFlashSize ? config_.startFlash
                                                       : emulator::initialFlash(config_.scenario)),
      link_(linkSpeed(config_.scenario.link)),
      flash_(initial_),
      erases_{.refusalsLeft = config_.scenario.refuseErase.count},
      blocks_{.refusalsLeft = config_.scenario.refuseBlock.count},
      answersToDrop_(config_.scenario.dropBlock.count),
      lossState_(config_.scenario.loss.count) {
    // The host's send completes only once the bytes would have crossed the wire.
    const double rate = config_.timeScale > 0 ? link_.bytesPerSecond / config_.timeScale : 0.0;
    fromHost_->setSendTime(scaled(link_.perMessage), rate);
    note(TranscriptLine::Kind::Note, "device started: " + describeScenario(config_.scenario));
    thread_ = std::thread([this] { run(); });
}

CEmulatedDevice::~CEmulatedDevice() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopping_.notify_all();
    thread_.join();
}

// ---- what callers see ----

EmulatorCounters CEmulatedDevice::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::vector<TranscriptLine> CEmulatedDevice::transcript() const {
    std::lock_guard lock(mutex_);
    return {transcript_.begin(), transcript_.end()};
}

std::size_t CEmulatedDevice::transcriptDropped() const {
    std::lock_guard lock(mutex_);
    return transcriptDropped_;
}

std::string CEmulatedDevice::transcriptText() const {
    std::lock_guard lock(mutex_);
    std::string out;
    if (transcriptDropped_ > 0) {
        out += format("(%zu earlier lines dropped)\n", transcriptDropped_);
    }
    for (const TranscriptLine& line : transcript_) {
        const char* arrow = line.kind == TranscriptLine::Kind::Received ? "<-"
                            : line.kind == TranscriptLine::Kind::Sent   ? "->"
                                                                        : "  ";
        out += format("%11.3f ms %s ", static_cast<double>(line.at.count()) / 1000.0, arrow);
        out += line.text;
        out += '\n';
    }
    return out;
}

std::vector<std::uint8_t> CEmulatedDevice::flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

std::vector<std::uint8_t> CEmulatedDevice::readFlash(std::uint32_t address, std::uint32_t count) const {
    std::lock_guard lock(mutex_);
    if (address >= flash_.size()) {
        return {};
    }
    const std::size_t n = std::min<std::size_t>(count, flash_.size() - address);
    return {flash_.begin() + address, flash_.begin() + address + static_cast<std::ptrdiff_t>(n)};
}

FlashVerdict CEmulatedDevice::verdict(const ImageSource& images) const {
    return judgeFlash(flash(), initial_, images);
}

bool CEmulatedDevice::waitUntil(const std::function<bool(const EmulatorCounters&)>& done,
                                std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(counters_); });
}

bool CEmulatedDevice::waitForEnd(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return ended_; });
}

bool CEmulatedDevice::waitForIdle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Clock::now();
        if (!busy_ && fromHost_->pending() == 0 && now - lastActivity_ >= quiet) {
            return true;
        }
        if (now >= deadline) {
            return false;
        }
        // Woken by the next message handled, or when the quiet time would be complete.
        const auto quietEnds = std::max(lastActivity_ + quiet, now + 1ms);
        changed_.wait_until(lock, std::min(deadline, quietEnds));
    }
}

// ---- the device thread ----

void CEmulatedDevice::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) {
                return;
            }
        }
        const auto message = fromHost_->receive(kInboxPoll);
        if (message) {
            handle(*message);
        }
    }
}

void CEmulatedDevice::handle(const std::vector<std::uint8_t>& message) {
    int number = 0;
    {
        std::lock_guard lock(mutex_);
        busy_ = true;
        number = ++counters_.messagesReceived;
    }
    const Scenario& s = config_.scenario;
    if (s.echo && !unplugged_) {
        // A MIDI thru or a loop cable: the host hears its own message back, whole, before any answer.
        toHost_->write(midi::Bytes(message.data(), message.size()));
    }

    if (unplugged_) {
        note(TranscriptLine::Kind::Received, "after unplugging, not read: " + preview(message));
    } else if (s.unplugAt != 0 && static_cast<std::uint32_t>(number) >= s.unplugAt) {
        note(TranscriptLine::Kind::Received, "not read: " + preview(message));
        unplug();
    } else if (s.silent) {
        note(TranscriptLine::Kind::Received, "not answered (silent): " + preview(message));
    } else {
        dispatch(parseRequest(message, s.model), preview(message));
    }
    {
        std::lock_guard lock(mutex_);
        busy_ = false;
        lastActivity_ = Clock::now();
    }
    changed_.notify_all();
}

void CEmulatedDevice::dispatch(const DeviceRequest& r, const std::string& raw) {
    const Scenario& s = config_.scenario;
    const std::string name(requestKindName(r.kind));
    switch (r.kind) {
        case RequestKind::Ignored:
            count(&EmulatorCounters::ignored);
            note(TranscriptLine::Kind::Received, name + ", " + std::string(r.why) + ": " + raw);
            break;
        case RequestKind::HostAnswer:
            count(&EmulatorCounters::hostAnswers);
            note(TranscriptLine::Kind::Received, name + " " + raw);
            break;
        case RequestKind::Refused:
            count(&EmulatorCounters::refused);
            note(TranscriptLine::Kind::Received, name + ", " + std::string(r.why) + ": " + raw);
            answer(statusAnswer(s.model, 1), "status 1");
            break;
        case RequestKind::Identity:
            count(&EmulatorCounters::identity);
            note(TranscriptLine::Kind::Received, name);
            answer(identityAnswer(s.model, flashCopy<4>(kBootVersionAddress)), "Identity Reply");
            break;
        case RequestKind::Begin:
            count(&EmulatorCounters::begin);
            note(TranscriptLine::Kind::Received, name);
            last_ = {};  // a new update: its first erase and block are new ones even at the same address
            answer(statusAnswer(s.model, s.updateMode ? 0 : 11),
                   s.updateMode ? "status 0" : "status 11 (not in version-update mode)");
            break;
        case RequestKind::Erase:
        case RequestKind::Write:
            handleFlashRequest(r, raw);
            break;
        case RequestKind::Read:
            count(&EmulatorCounters::read);
            note(TranscriptLine::Kind::Received, name + format(" 0x%06X, %u bytes", r.address, r.size));
            answer(readAnswer(s.model, readFlash(r.address, r.size), s.badRead),
                   format("ReadReply, %u bytes%s", r.size, s.badRead ? ", wrong checksum (bad-read)" : ""));
            break;
        case RequestKind::End:
            count(&EmulatorCounters::end);
            note(TranscriptLine::Kind::Received, name);
            {
                std::lock_guard lock(mutex_);
                ended_ = true;  // before the answer, which the host may already hold when write() returns
            }
            answer(statusAnswer(s.model, s.endStatus), format("status %u", s.endStatus));
            break;
    }
}

void CEmulatedDevice::handleFlashRequest(const DeviceRequest& r, const std::string& raw) {
    const Scenario& s = config_.scenario;
    const bool isErase = r.kind == RequestKind::Erase;
    const FlashRequestKind& kind = isErase ? kEraseKind : kWriteKind;
    FlashSequence& seq = isErase ? erases_ : blocks_;
    const bool resend =
        last_.kind == r.kind && last_.address == r.address && (!kind.resendKeepsSize || last_.size == r.size);
    if (!resend) {
        ++seq.number;
    }
    last_ = {r.kind, r.address, r.size};
    {
        std::lock_guard lock(mutex_);
        ++(counters_.*kind.received);
        counters_.*kind.resends += resend ? 1 : 0;
        if (kind.highest != nullptr) {
            counters_.*kind.highest = static_cast<int>(seq.number);
        }
    }
    note(TranscriptLine::Kind::Received,
         std::string(requestKindName(r.kind)) +
             format(kind.heading, r.address, r.size, seq.number, resend ? ", again" : "") + raw);
    if (!s.updateMode) {
        answer(statusAnswer(s.model, 11), "status 11 (not in version-update mode)");
        return;
    }
    if ((s.*kind.refuse).k == seq.number && seq.refusalsLeft > 0) {
        --seq.refusalsLeft;
        count(&EmulatorCounters::faultsApplied);
        answer(statusAnswer(s.model, 1), format("status 1 (%s)", kind.refuseKey));
        return;
    }
    if (!(isErase ? eraseSectors(r) : writeBlock(r))) {
        return;
    }
    if (!holdBack((s.*kind.late).k == seq.number, seq.lateUsed, (s.*kind.late).count, kind.lateKey)) {
        return;
    }
    answer(s.doneReply ? doneAnswer(s.model) : statusAnswer(s.model, 0),
           s.doneReply ? "DoneReply" : "status 0");
}

bool CEmulatedDevice::eraseSectors(const DeviceRequest& r) {
    if (!pause(scaled(config_.flashTimes.erasePerSector * (r.size / kSectorSize)))) {
        return false;
    }
    std::lock_guard lock(mutex_);
    std::fill_n(flash_.begin() + r.address, r.size, std::uint8_t{0xFF});
    ++counters_.erasesDone;
    return true;
}

CEmulatedDevice::Programmed CEmulatedDevice::program(const DeviceRequest& r) {
    Programmed result;
    std::lock_guard lock(mutex_);
    auto cell = flash_.begin() + r.address;
    // Programming can only clear bits; checked for the whole block first so a refusal changes nothing.
    for (std::uint32_t i = 0; i < r.size && !result.conflict; ++i) {
        if ((cell[i] & r.data[i]) != r.data[i]) {
            result.conflict = r.address + i;
        }
    }
    if (result.conflict) {
        ++counters_.norRefusals;
        return result;
    }
    for (std::uint32_t i = 0; i < r.size; ++i) {
        cell[i] &= r.data[i];
    }
    ++counters_.blocksWritten;
    if (config_.scenario.corruptBlock == blocks_.number && !corruptUsed_) {
        corruptUsed_ = true;
        ++counters_.faultsApplied;
        result.corrupted = corruptOneByte(cell, r.size);
    }
    return result;
}

bool CEmulatedDevice::writeBlock(const DeviceRequest& r) {
    const Scenario& s = config_.scenario;
    if (!r.checksumOk) {
        count(&EmulatorCounters::checksumFailures);
        answer(statusAnswer(s.model, 1), "status 1 (checksum mismatch)");
        return false;
    }
    if (!pause(scaled(config_.flashTimes.programPerBlock))) {
        return false;
    }
    const auto [conflict, corrupted] = program(r);
    if (corrupted) {
        note(TranscriptLine::Kind::Note,
             format("stored with 0x%06X wrong (corrupt-block)", r.address + *corrupted));
    }
    if (conflict) {
        answer(statusAnswer(s.model, 1), format("status 1 (0x%06X not erased)", *conflict));
        return false;
    }
    if (s.dropBlock.k == blocks_.number && answersToDrop_ > 0) {
        --answersToDrop_;
        {
            std::lock_guard lock(mutex_);
            ++counters_.faultsApplied;
            ++counters_.answersLost;
        }
        note(TranscriptLine::Kind::Note, "written, answer lost (drop-block)");
        return false;
    }
    return true;
}

void CEmulatedDevice::answer(std::vector<std::uint8_t> bytes, const std::string& what) {
    if (config_.scenario.loss.active() && lostAtRandom()) {
        {
            std::lock_guard lock(mutex_);
            ++counters_.faultsApplied;
            ++counters_.answersLost;
        }
        note(TranscriptLine::Kind::Note, what + " lost (lose)");
        return;
    }
    if (config_.scenario.chatter) {
        sendChatter();
        // MIDI 1.0 lets real-time bytes appear anywhere, even inside a SysEx; a receiver must not end the
        // message there.
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), kTimingClock);
    }
    if (!wireTime(bytes.size())) {
        return;
    }
    // Recorded before the bytes leave: the host may act on the answer before write() returns, and whoever
    // watches the counters must never see an answer the device has not counted.
    count(&EmulatorCounters::answersSent);
    note(TranscriptLine::Kind::Sent, what + ": " + preview(bytes));
    if (!toHost_->write(midi::Bytes(bytes.data(), bytes.size()))) {
        count(&EmulatorCounters::answersLost);
        note(TranscriptLine::Kind::Note, "not delivered: the host's input is not open");
    }
}

bool CEmulatedDevice::holdBack(bool aimed, bool& used, std::uint32_t ms, const char* key) {
    if (!aimed || used) {
        return true;
    }
    used = true;
    count(&EmulatorCounters::faultsApplied);
    note(TranscriptLine::Kind::Note, format("done, answer held back %u ms (%s)", ms, key));
    return pause(scaled(std::chrono::milliseconds(ms)));
}

bool CEmulatedDevice::lostAtRandom() {
    // A 64-bit linear congruential step: the same seed loses the same answers on every machine.
    lossState_ = lossState_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return (lossState_ >> 33) % 100 < config_.scenario.loss.k;
}

void CEmulatedDevice::sendChatter() {
    const std::vector<std::uint8_t> item = chatterItem(chatterNext_++, config_.scenario.model);
    if (!wireTime(item.size())) {
        return;
    }
    count(&EmulatorCounters::chatterSent);
    note(TranscriptLine::Kind::Sent, "chatter: " + preview(item));
    toHost_->write(midi::Bytes(item.data(), item.size()));
}

bool CEmulatedDevice::wireTime(std::size_t bytes) {
    auto wire = link_.perMessage;
    if (link_.bytesPerSecond > 0) {
        wire += std::chrono::microseconds(
            static_cast<std::int64_t>(static_cast<double>(bytes) * 1e6 / link_.bytesPerSecond));
    }
    return pause(scaled(wire));
}

void CEmulatedDevice::unplug() {
    unplugged_ = true;
    fromHost_->setUnplugged(true);
    toHost_->setUnplugged(true);
    note(TranscriptLine::Kind::Note, "unplugged (unplug)");
}

bool CEmulatedDevice::pause(std::chrono::microseconds length) {
    std::unique_lock lock(mutex_);
    if (length.count() > 0) {
        stopping_.wait_for(lock, length, [this] { return stop_; });
    }
    return !stop_;
}

std::chrono::microseconds CEmulatedDevice::scaled(std::chrono::microseconds length) const {
    if (config_.timeScale <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(std::llround(static_cast<double>(length.count()) * config_.timeScale));
}

void CEmulatedDevice::note(TranscriptLine::Kind kind, std::string text) {
    const auto at = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started_);
    std::lock_guard lock(mutex_);
    if (config_.transcriptLines == 0) {
        ++transcriptDropped_;
        return;
    }
    if (transcript_.size() == config_.transcriptLines) {
        transcript_.pop_front();
        ++transcriptDropped_;
    }
    transcript_.push_back({at, kind, std::move(text)});
}

void CEmulatedDevice::count(int EmulatorCounters::*field, int by) {
    std::lock_guard lock(mutex_);
    counters_.*field += by;
}

}  // namespace velmora::emulator
