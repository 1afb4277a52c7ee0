#include "web/WebView.h"

#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <cstring>
#include <functional>

#include "i18n/Translate.h"
#include "update/Format.h"
#include "update/Texts.h"

namespace velmora::web {

// Texts and progress go to the main thread without waiting for it: two waits per block would cost the run
// time (a round trip to the main thread each). They are queued in order with every other call to the main
// thread, so a call that waits (enableControl, showError, the selections) finds them all applied.
namespace {

constexpr const char* kRate = VELMORA_TEXT("Web", "%1 KiB/s");

// A copy the main thread frees once it has used it.
char* copyOf(const std::string& text) {
    return strdup(text.c_str());
}

}  // namespace

void CWebView::setStatusText(const std::string& text) {
    MAIN_THREAD_ASYNC_EM_ASM(
        {
            Module.velmoraView.status(UTF8ToString($0));
            _free($0);
        },
        copyOf(texts::shownStatus(text)));
}

void CWebView::setStepText(const std::string& text) {
    MAIN_THREAD_ASYNC_EM_ASM(
        {
            Module.velmoraView.step(UTF8ToString($0));
            _free($0);
        },
        copyOf(text));
}

void CWebView::setProgressRange(int low, int high) {
    MAIN_THREAD_ASYNC_EM_ASM({ Module.velmoraView.range($0, $1); }, low, high);
}

void CWebView::setProgressPos(int pos) {
    MAIN_THREAD_ASYNC_EM_ASM({ Module.velmoraView.position($0); }, pos);
    meterChanged(
        [pos](CProgressMeter& m, CProgressMeter::Clock::time_point now) { m.progressPos(pos, now); });
}

void CWebView::bytesProgress(std::int64_t done, std::int64_t total) {
    meterChanged([done, total](CProgressMeter& m, CProgressMeter::Clock::time_point now) {
        m.bytesProgress(done, total, now);
    });
}

void CWebView::meterChanged(
    const std::function<void(CProgressMeter&, CProgressMeter::Clock::time_point)>& change) {
    ProgressSnapshot p;
    {
        std::lock_guard lock(mutex_);
        const CProgressMeter::Clock::time_point now = CProgressMeter::Clock::now();
        change(meter_, now);
        p = meter_.snapshot(now);
    }
    if (p.step == 0) {
        return;
    }
    std::string text;
    if (p.row.kind == FlashStep::Write && p.bytesPerSecond) {
        text = i18n::arg(i18n::translate("Web", kRate), {format("%.1f", *p.bytesPerSecond / 1024)}) + "  ";
    }
    text += timeLeftText(p);
    MAIN_THREAD_ASYNC_EM_ASM(
        {
            Module.velmoraView.rate(UTF8ToString($0));
            _free($0);
        },
        copyOf(text));
}

void CWebView::enableControl(ControlId id, bool enabled) {
    MAIN_THREAD_EM_ASM({ Module.velmoraView.enable($0, $1 != 0); }, static_cast<int>(id), enabled ? 1 : 0);
}

void CWebView::showError(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        if (released_) {
            return;
        }
        errorShown_ = true;
    }
    MAIN_THREAD_EM_ASM({ Module.velmoraView.error(UTF8ToString($0)); }, text.c_str());
    if (emscripten_is_main_runtime_thread()) {
        return;  // Execute's own refusals: the page goes on; the message stays until dismissed
    }
    std::unique_lock lock(mutex_);
    dismissed_.wait(lock, [this] { return !errorShown_ || released_; });
}

int CWebView::selectedInput() {
    return MAIN_THREAD_EM_ASM_INT({ return Module.velmoraView.selected(true); });
}

int CWebView::selectedOutput() {
    return MAIN_THREAD_EM_ASM_INT({ return Module.velmoraView.selected(false); });
}

void CWebView::requestRepeated(std::uint32_t address, bool timedOut, int count) {
    MAIN_THREAD_EM_ASM({ Module.velmoraView.repeated($0 >>> 0, $1 != 0, $2); }, address, timedOut ? 1 : 0,
                       count);
}

void CWebView::stepStarted(int step, const FlashStep& row, bool skipped) {
    meterChanged([&](CProgressMeter& m, CProgressMeter::Clock::time_point now) {
        m.stepStarted(step, row, skipped, now);
    });
}

void CWebView::dismissError() {
    std::lock_guard lock(mutex_);
    errorShown_ = false;
    dismissed_.notify_all();
}

void CWebView::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    dismissed_.notify_all();
}

}  // namespace velmora::web
