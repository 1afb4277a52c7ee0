// The page's texts in the language chosen at start, as one JSON object for the page's script: the dialog's
// labels and the update's texts from the same catalogue, and the few a web page says that a dialog does not.

#include <emscripten/emscripten.h>

#include <string>
#include <utility>

#include "i18n/Translate.h"
#include "ui/DialogTexts.h"
#include "update/Texts.h"
#include "velmora/Version.h"
#include "web/JsonText.h"

namespace {

using velmora::i18n::translate;
using velmora::web::jsonString;

// What only the page says: what to do when the browser cannot give MIDI with SysEx.
constexpr const char* kNoWebMidi = VELMORA_TEXT(
    "Web", "This browser has no Web MIDI. Use Chrome, Edge, Opera or Firefox; Safari does not have it.");
constexpr const char* kRefused = VELMORA_TEXT(
    "Web",
    "MIDI access was refused. Allow this site to use MIDI devices (with system exclusive messages) in "
    "the browser's site settings, then press Rescan Device.");
constexpr const char* kInsecure = VELMORA_TEXT(
    "Web", "Web MIDI works only in a secure context: open this page from https:// or http://localhost.");
constexpr const char* kNoMidiSystem =
    VELMORA_TEXT("Web", "The browser could not reach the computer's MIDI system: %1");
constexpr const char* kAskFirst =
    VELMORA_TEXT("Web", "Connect the device and press Rescan Device: the browser asks to allow MIDI.");
constexpr const char* kDemo = VELMORA_TEXT("Web", "Demo: an emulated device, running in this page.");
constexpr const char* kTryDemo = VELMORA_TEXT("Web", "Try the demo");
constexpr const char* kProgress = VELMORA_TEXT("Web", "Progress");

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE const char* velmora_page_texts() {
    namespace labels = velmora::ui::labels;
    namespace texts = velmora::texts;
    static std::string json;
    const std::pair<const char*, std::string> entries[] = {
        {"title", texts::kProductTitle},
        {"version", velmora::kVersion},
        {"execute", labels::shown(labels::kExecute)},
        {"midiIn", labels::shown(labels::kMidiIn)},
        {"midiOut", labels::shown(labels::kMidiOut)},
        {"rescan", labels::shown(labels::kRescan)},
        {"ok", labels::shown(labels::kOk)},
        {"aboutCaption", labels::shown(labels::kAboutCaption)},
        {"aboutLine", labels::shown(labels::kAboutLine)},
        {"aboutVersion", labels::shown(labels::kAboutVersion)},
        {"aboutStandIns", labels::shown(labels::kAboutStandIns)},
        {"errorCaption", texts::shown(texts::kErrorCaption)},
        {"standInRefused", texts::shown(texts::kStandInRefused)},
        {"noWebMidi", translate("Web", kNoWebMidi)},
        {"refused", translate("Web", kRefused)},
        {"insecure", translate("Web", kInsecure)},
        {"noMidiSystem", translate("Web", kNoMidiSystem)},
        {"askFirst", translate("Web", kAskFirst)},
        {"demo", translate("Web", kDemo)},
        {"tryDemo", translate("Web", kTryDemo)},
        {"progress", translate("Web", kProgress)},
    };
    json = "{";
    for (const auto& [key, text] : entries) {
        json += (json.size() > 1 ? "," : "") + velmora::web::jsonString(key) + ":" +
                velmora::web::jsonString(text);
    }
    json += "}";
    return json.c_str();
}
