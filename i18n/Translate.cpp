#include "i18n/Translate.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::i18n {

namespace {

struct State {
    Language language = Language::English;
    Lookup lookup;
    std::mutex missingLock;
    std::set<std::string> missing;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

Language languageFromEnvironment() {
#ifdef _WIN32
    return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese
                                                                        : Language::English;
#else
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            const std::string_view locale(value);
            const bool japanese = locale.substr(0, 2) == "ja" && (locale.size() == 2 || locale[2] == '_' ||
                                                                  locale[2] == '.' || locale[2] == '@');
            return japanese ? Language::Japanese : Language::English;
        }
    }
    return Language::English;
#endif
}

void use(Language language, Lookup lookup) {
    State& s = state();
    s.language = language;
    s.lookup = std::move(lookup);
}

Language language() {
    return state().language;
}

std::string translate(const char* context, const char* source) {
    return translate(context, source, state().language);
}

std::string translate(const char* context, const char* source, Language in) {
    State& s = state();
    if (in == Language::English) {
        return source;
    }
    if (s.lookup) {
        if (std::optional<std::string> found = s.lookup(context, source)) {
            return *found;
        }
    }
    const std::lock_guard<std::mutex> hold(s.missingLock);
    s.missing.insert(std::string(context) + ": " + source);
    return source;
}

std::string arg(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string text;
    text.reserve(pattern.size() + 16);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        const auto n = static_cast<std::size_t>(next - '1');
        if (pattern[i] == '%' && next >= '1' && next <= '9' && n < values.size()) {
            text += *(values.begin() + n);
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::vector<std::string> untranslated() {
    State& s = state();
    const std::lock_guard<std::mutex> hold(s.missingLock);
    return {s.missing.begin(), s.missing.end()};
}

}  // namespace velmora::i18n
