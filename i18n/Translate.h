#pragma once
// The language every user-visible text is shown in, and the one lookup each text goes through.
//
// The English texts are the program's own and live in the code beside their use; a translation is found by
// (context, English text), as in Qt's translation files. The language is chosen once, at start, before any
// thread runs; after that every call here may come from any thread.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Marks an English text kept in a constant, for Qt's lupdate (-tr-function-alias
// QT_TRANSLATE_NOOP+=VELMORA_TEXT), which collects every text of the sources into the TS files; calls of
// translate() it finds on its own.
#define VELMORA_TEXT(context, text) text

namespace velmora::i18n {

enum class Language { English, Japanese };

// From the locale a program inherits: the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty,
// as setlocale() reads them; "ja" and "ja_JP.UTF-8" choose Japanese. On Windows, the user's UI language.
Language languageFromEnvironment();

// A translation of `source` in `context`, or nothing when the catalogue has none.
using Lookup = std::function<std::optional<std::string>(const char* context, const char* source)>;

// Shows texts in `language`, translated by `lookup` (English needs none).
void use(Language language, Lookup lookup);
Language language();

// `source` in the chosen language; English when it is chosen, or when the text has no translation (the test
// builds then find it in untranslated()).
std::string translate(const char* context, const char* source);
// The same, in the language given.
std::string translate(const char* context, const char* source, Language in);

// `pattern` with %1 to %9 replaced by the values, in order; any other '%' stays as it is.
std::string arg(std::string_view pattern, std::initializer_list<std::string_view> values);

// "context: source" of each text that was asked for in Japanese without a translation, sorted, once each.
std::vector<std::string> untranslated();

}  // namespace velmora::i18n
