#pragma once
// The fixed texts of the two dialogs' controls. The texts an update shows are in update/Texts.h.

namespace velmora::ui::labels {

inline constexpr const char* kExecute = "Execute";
inline constexpr const char* kExit = "Exit";
inline constexpr const char* kMidiIn = "MIDI IN";
inline constexpr const char* kMidiOut = "MIDI OUT";
inline constexpr const char* kRescan = "Rescan Device";

inline constexpr const char* kAboutCaption = "About Velmora Updater";
inline constexpr const char* kAboutLine = "Firmware updater for Velmora MIDI devices.";
inline constexpr const char* kOk = "OK";
// Beside the product title in the About box, followed by the program's version.
inline constexpr const char* kAboutVersion = "Version ";
// Shown in the About box of a build whose firmware images are generated filler.
inline constexpr const char* kAboutStandIns = "Stand-in firmware: updates only the emulated device.";

}  // namespace velmora::ui::labels
