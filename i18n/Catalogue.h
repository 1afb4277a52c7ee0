#pragma once
// The Japanese translations carried inside the programs without Qt: the repository's Qt Linguist files
// (i18n/*.ts), embedded as they are and read at start. The Qt dialog reads the same files, compiled by
// lrelease.

#include <string>
#include <string_view>
#include <vector>

#include "i18n/Translate.h"

namespace velmora::i18n {

struct Message {
    std::string context;
    std::string source;
    std::string translation;
};

// Reads a TS file: <context><name/>, then <message> with <source> and <translation>. A translation that is
// empty or marked unfinished, vanished or obsolete is left out, as lrelease leaves it out. On a file it
// cannot read, returns false and says where.
bool parseTs(std::string_view xml, std::vector<Message>& messages, std::string& error);

// Every message of every embedded TS file (all Japanese).
const std::vector<Message>& builtInJapanese();

// Shows texts in `language`, with builtInJapanese() for Japanese.
void useBuiltIn(Language language);
// The language the environment asks for (languageFromEnvironment()).
void useLanguageOfEnvironment();

}  // namespace velmora::i18n
