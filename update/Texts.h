#pragma once
// The program's user-visible texts, by their string-table numbers, and the fixed texts beside them.

#include <string>

#include "i18n/Translate.h"

namespace velmora::texts {

inline constexpr const char* kAboutMenu = VELMORA_TEXT("Texts", "About Velmora Updater(&A)...");   // 101
inline constexpr const char* kTimeOut1 = VELMORA_TEXT("Texts", "Time out error(1)");               // 102
inline constexpr const char* kTimeOut2 = VELMORA_TEXT("Texts", "Time out error(2)");               // 103
inline constexpr const char* kTimeOut3 = VELMORA_TEXT("Texts", "Time out error(3)");               // 104
inline constexpr const char* kIllegalDevice = VELMORA_TEXT("Texts", "Illegal device connected.");  // 105
inline constexpr const char* kSetUpdateMode =
    VELMORA_TEXT("Texts", "Please set the Version update mode.");                                  // 106
inline constexpr const char* kTransferError = VELMORA_TEXT("Texts", "Transfer error occurred.");   // 107
inline constexpr const char* kCompleted = VELMORA_TEXT("Texts", "Version update completed.");      // 108
inline constexpr const char* kInProgress = VELMORA_TEXT("Texts", "In Progress.");                  // 109
inline constexpr const char* kCantOpenIn = VELMORA_TEXT("Texts", "Can't open MIDI In device.");    // 110
inline constexpr const char* kErrorCaption = VELMORA_TEXT("Texts", "Error");                       // 111
inline constexpr const char* kCantOpenOut = VELMORA_TEXT("Texts", "Can't open MIDI Out device.");  // 113
inline constexpr const char* kErasing = VELMORA_TEXT("Texts", "Erasing Flash memory.");            // 114

// Our own: a build with generated filler images must never write them onto hardware.
inline constexpr const char* kStandInRefused = VELMORA_TEXT(
    "Texts", "This build carries stand-in firmware images: it can update only the emulated device.");

inline constexpr const char* kProductTitle = "Kivo R3ex System v1.21 Updater";
inline constexpr int kMaxInstances = 20;

// One of the texts above as the user reads it: in the language chosen at start.
std::string shown(const char* text);

// The texts below come in that language too; the verify texts also in English, which the run report keeps.

// 115: "Data transmit  %d / %d " (two blanks after "transmit", one at the end).
std::string dataTransmit(int offset, int total, i18n::Language in = i18n::language());
// Whether a status text is one of those, in English.
bool isDataTransmit(const std::string& english);
// A status text as the core gives it (English: one of the texts above or dataTransmit's) in the language
// chosen at start. Views that show people text call it; the JSON events keep the English.
std::string shownStatus(const std::string& english);
// "%d/%d", and "0/%d" before the first step.
std::string stepCounter(int step, int steps);
// The window title and instance lock name of copy n: the product title, then " (n)" from copy 2 on.
std::string instanceTitle(int instanceNumber);
// "It is forbidden to launch more than %d instance of this application."
std::string instanceLimit(int limit);

// The command line's read-back after the last write: "Verify failed: image 136 differs at 0x0A6000", and the
// same for a region the device did not read back.
std::string verifyFailed(unsigned imageId, unsigned address, i18n::Language in = i18n::language());
std::string verifyUnreadable(unsigned imageId, unsigned address, i18n::Language in = i18n::language());

}  // namespace velmora::texts
