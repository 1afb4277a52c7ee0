#pragma once
// The Qt programs' language: Qt's translator, loaded from the .qm file that lrelease builds from
// i18n/velmora_ja.ts, carries every text they show, the update's own texts too.

#include <QString>

#include "i18n/Translate.h"

namespace velmora::ui {

// English, or Japanese through the embedded .qm file. Called once at start, before any thread; the tests
// switch back and forth between their cases.
void useLanguage(i18n::Language language);

// A text of the dialogs (ui/DialogTexts.h, update/Texts.h) in that language.
QString shownLabel(const char* text);
QString shownText(const char* text);

}  // namespace velmora::ui
