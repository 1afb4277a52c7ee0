#include "i18n/Catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "i18n/EmbeddedTs.h"

namespace velmora::i18n {

namespace {

// The text between <tag ...> and </tag> from `from` on, its attributes, and where it ends; nothing when the
// element is not there. A self-closing <tag/> has empty text.
struct Element {
    std::string_view attributes;
    std::string_view text;
    std::size_t end = std::string_view::npos;
};

Element element(std::string_view xml, std::string_view tag, std::size_t from, std::size_t limit) {
    // Built by appending: mingw's g++ 12 takes "<" + std::string(...) for an overlapping copy (-Wrestrict).
    std::string open(1, '<');
    open.append(tag);
    for (std::size_t at = xml.find(open, from); at < limit; at = xml.find(open, at + 1)) {
        const std::size_t nameEnd = at + open.size();
        if (nameEnd >= xml.size() || (xml[nameEnd] != '>' && xml[nameEnd] != ' ' && xml[nameEnd] != '/')) {
            continue;  // <translation> is not <translatorcomment>
        }
        const std::size_t close = xml.find('>', nameEnd);
        if (close >= limit) {
            return {};
        }
        Element e;
        if (xml[close - 1] == '/') {
            e.attributes = xml.substr(nameEnd, close - 1 - nameEnd);
            e.end = close + 1;
            return e;
        }
        e.attributes = xml.substr(nameEnd, close - nameEnd);
        std::string closing("</");
        closing.append(tag).append(1, '>');
        const std::size_t stop = xml.find(closing, close + 1);
        if (stop >= limit) {
            return {};
        }
        e.text = xml.substr(close + 1, stop - close - 1);
        e.end = stop + closing.size();
        return e;
    }
    return {};
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// XML's five named entities and character references; false on any other '&'.
bool decode(std::string_view text, std::string& out) {
    static const std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t semi = text.find(';', i);
        if (semi == std::string_view::npos) {
            return false;
        }
        const std::string name(text.substr(i + 1, semi - i - 1));
        bool known = false;
        for (const auto& [entity, ch] : kNamed) {
            if (name == entity) {
                out += ch;
                known = true;
            }
        }
        if (!known && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            char* end = nullptr;
            const unsigned long code = std::strtoul(name.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
            known = end == name.c_str() + name.size() && code > 0 && code <= 0x10FFFF;
            if (known) {
                appendUtf8(out, code);
            }
        }
        if (!known) {
            return false;
        }
        i = semi;
    }
    return true;
}

bool marked(std::string_view attributes) {
    for (std::string_view type : {"type=\"unfinished\"", "type=\"vanished\"", "type=\"obsolete\""}) {
        if (attributes.find(type) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

std::string lineOf(std::string_view xml, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at && i < xml.size(); ++i) {
        line += xml[i] == '\n' ? 1 : 0;
    }
    return "line " + std::to_string(line);
}

}  // namespace

bool parseTs(std::string_view xml, std::vector<Message>& messages, std::string& error) {
    if (xml.find("<TS") == std::string_view::npos) {
        error = "not a TS file";
        return false;
    }
    std::size_t parsed = 0;  // where the last whole context ended
    for (Element context = element(xml, "context", 0, xml.size()); context.end != std::string_view::npos;
         parsed = context.end, context = element(xml, "context", context.end, xml.size())) {
        const std::size_t base = static_cast<std::size_t>(context.text.data() - xml.data());
        const std::size_t limit = base + context.text.size();
        const Element name = element(xml, "name", base, limit);
        std::string contextName;
        if (name.end == std::string_view::npos || !decode(name.text, contextName)) {
            error = lineOf(xml, base) + ": a context without a readable name";
            return false;
        }
        std::size_t messagesEnd = base;
        for (Element message = element(xml, "message", base, limit); message.end != std::string_view::npos;
             messagesEnd = message.end, message = element(xml, "message", message.end, limit)) {
            const std::size_t at = static_cast<std::size_t>(message.text.data() - xml.data());
            const std::size_t stop = at + message.text.size();
            if (message.attributes.find("numerus=\"yes\"") != std::string_view::npos) {
                error = lineOf(xml, at) + ": plural forms are not supported";
                return false;
            }
            const Element source = element(xml, "source", at, stop);
            const Element translation = element(xml, "translation", at, stop);
            Message m{contextName, {}, {}};
            if (source.end == std::string_view::npos || translation.end == std::string_view::npos ||
                !decode(source.text, m.source) || !decode(translation.text, m.translation)) {
                error = lineOf(xml, at) + ": a message without a readable source and translation";
                return false;
            }
            if (!marked(translation.attributes) && !m.translation.empty()) {
                messages.push_back(std::move(m));
            }
        }
        if (xml.substr(messagesEnd, limit - messagesEnd).find("<message") != std::string_view::npos) {
            error = lineOf(xml, messagesEnd) + ": a message that does not end";
            return false;
        }
    }
    // A file cut short must not pass for one with fewer texts.
    if (xml.find("<context", parsed) != std::string_view::npos ||
        xml.find("</TS>", parsed) == std::string_view::npos) {
        error = lineOf(xml, parsed) + ": the file ends inside a context";
        return false;
    }
    return true;
}

const std::vector<Message>& builtInJapanese() {
    static const std::vector<Message> all = [] {
        std::vector<Message> messages;
        for (const EmbeddedTs& file : embeddedTsFiles()) {
            std::string error;
            if (!parseTs(file.text, messages, error)) {
                // Checked by the tests on every build; a program must never show half a language.
                std::fprintf(stderr, "velmora: the built-in translation %s is damaged (%s)\n", file.name,
                             error.c_str());
                return std::vector<Message>();
            }
        }
        return messages;
    }();
    return all;
}

void useLanguageOfEnvironment() {
    useBuiltIn(languageFromEnvironment());
}

void useBuiltIn(Language language) {
    if (language == Language::English) {
        use(language, nullptr);
        return;
    }
    auto table = std::make_shared<std::map<std::pair<std::string, std::string>, std::string>>();
    for (const Message& m : builtInJapanese()) {
        table->emplace(std::pair(m.context, m.source), m.translation);
    }
    use(language, [table](const char* context, const char* source) -> std::optional<std::string> {
        const auto found = table->find(std::pair(std::string(context), std::string(source)));
        return found == table->end() ? std::nullopt : std::optional<std::string>(found->second);
    });
}

}  // namespace velmora::i18n
