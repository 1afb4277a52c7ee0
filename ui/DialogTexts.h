#pragma once
// The fixed texts of the two dialogs' controls. The texts an update shows are in update/Texts.h.

#include <string>

#include "i18n/Translate.h"

namespace velmora::ui::labels {

inline constexpr const char* kExecute = VELMORA_TEXT("Dialog", "Execute");
inline constexpr const char* kExit = VELMORA_TEXT("Dialog", "Exit");
inline constexpr const char* kMidiIn = VELMORA_TEXT("Dialog", "MIDI IN");
inline constexpr const char* kMidiOut = VELMORA_TEXT("Dialog", "MIDI OUT");
inline constexpr const char* kRescan = VELMORA_TEXT("Dialog", "Rescan Device");
// What a screen reader calls the three fields that have no label of their own.
inline constexpr const char* kStep = VELMORA_TEXT("Dialog", "Step");
inline constexpr const char* kStatus = VELMORA_TEXT("Dialog", "Status");
inline constexpr const char* kProgress = VELMORA_TEXT("Dialog", "Progress");

inline constexpr const char* kAboutCaption = VELMORA_TEXT("Dialog", "About Velmora Updater");
inline constexpr const char* kAboutLine =
    VELMORA_TEXT("Dialog", "Firmware updater for Velmora MIDI devices.");
inline constexpr const char* kOk = VELMORA_TEXT("Dialog", "OK");
// Beside the product title in the About box, followed by the program's version.
inline constexpr const char* kAboutVersion = VELMORA_TEXT("Dialog", "Version ");
// Shown in the About box of a build whose firmware images are generated filler.
inline constexpr const char* kAboutStandIns =
    VELMORA_TEXT("Dialog", "Stand-in firmware: updates only the emulated device.");

// The box of a copy that cannot take its instance lock: %1 is why.
inline constexpr const char* kCannotStart = VELMORA_TEXT("Dialog", "Cannot start: %1.");

// One of the labels above in the language chosen at start.
inline std::string shown(const char* label) {
    return i18n::translate("Dialog", label);
}

}  // namespace velmora::ui::labels
