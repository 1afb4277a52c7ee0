#include "emulator/Scenario.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "i18n/Translate.h"

namespace velmora::emulator {

namespace {

// Counts and delays beyond these are typing errors, not tests: a whole update has under a thousand blocks.
constexpr std::uint32_t kMaxOrdinal = 1000000;
constexpr std::uint32_t kMaxCount = 1000000;
constexpr std::uint32_t kMaxDelayMs = 600000;
constexpr std::uint32_t kMaxDataByte = 0x7F;  // everything inside a SysEx message is a 7-bit data byte

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A decimal or 0x-prefixed hexadecimal number no greater than `max`; nothing for anything else.
std::optional<std::uint32_t> parseNumber(std::string_view s, std::uint32_t max) {
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : s) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > max) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::string quoted(std::string_view key, std::string_view value) {
    std::string s(key);
    s += '=';
    s += value;
    return s;
}

// K:N with K from 1 and N from 1 to `maxSecond`; on failure the reason, naming the item.
std::string parsePair(std::string_view key, std::string_view value, std::string_view secondName,
                      std::uint32_t maxSecond, CountedFault& out) {
    const std::size_t colon = value.find(':');
    const std::string item = quoted(key, value);
    if (colon == std::string_view::npos) {
        return i18n::arg(i18n::translate("Emulator", "%1: expected K:%2 (two numbers joined by a colon)"),
                         {item, secondName});
    }
    const auto k = parseNumber(trim(value.substr(0, colon)), kMaxOrdinal);
    const auto n = parseNumber(trim(value.substr(colon + 1)), maxSecond);
    if (!k) {
        return i18n::arg(i18n::translate("Emulator", "%1: K must be a whole number from 1 to %2"),
                         {item, std::to_string(kMaxOrdinal)});
    }
    if (*k == 0) {
        return i18n::arg(i18n::translate("Emulator", "%1: K counts from 1, so 0 names no erase or block"),
                         {item});
    }
    if (!n || *n == 0) {
        return i18n::arg(i18n::translate("Emulator", "%1: %2 must be a whole number from 1 to %3"),
                         {item, secondName, std::to_string(maxSecond)});
    }
    out = CountedFault{*k, *n};
    return {};
}

std::string hexByte(std::uint8_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

std::string pairText(std::string_view key, const CountedFault& f) {
    return std::string(key) + "=" + std::to_string(f.k) + ":" + std::to_string(f.count);
}

// One scenario key: how it is parsed, described and explained. A key is a flag, a K:N pair, an ordinal K, or
// a value with its own parse and description.
struct Key {
    std::string_view name;
    std::string_view usage;  // as the help shows it
    const char* help;        // English, translated when shown
    bool Scenario::*flag = nullptr;
    CountedFault Scenario::*pair = nullptr;
    std::uint32_t Scenario::*ordinal = nullptr;  // 0 when not set
    std::string_view second = {};                // the pair's second number, as its messages name it
    std::uint32_t maxSecond = 0;
    // Other valued keys: the reason the value was refused (empty when applied), and the item describing the
    // scenario's value (empty when it is the default).
    std::string (*apply)(std::string_view item, std::string_view value, Scenario& s) = nullptr;
    std::string (*describe)(const Scenario& s) = nullptr;
};

std::string applyModel(std::string_view item, std::string_view value, Scenario& s) {
    const auto v = parseNumber(value, kMaxDataByte);
    if (!v) {
        return i18n::arg(i18n::translate("Emulator", "%1: the model code must be a number from 0 to 0x7F"),
                         {item});
    }
    s.model = static_cast<std::uint8_t>(*v);
    return {};
}

std::string applyBoot(std::string_view item, std::string_view value, Scenario& s) {
    if (value == "blank") {
        s.blankFlash = true;
        return {};
    }
    if (value.size() != 4) {
        return i18n::arg(
            i18n::translate("Emulator", "%1: expected four characters (as in boot=1.00) or 'blank'"), {item});
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c > 0x7E) {
            return i18n::arg(i18n::translate("Emulator", "%1: the version must be printable ASCII"), {item});
        }
        s.bootVersion[i] = c;
    }
    return {};
}

std::string applyMode(std::string_view item, std::string_view value, Scenario& s) {
    if (value != "on" && value != "off") {
        return i18n::arg(i18n::translate("Emulator", "%1: expected on or off"), {item});
    }
    s.updateMode = value == "on";
    return {};
}

std::string applyEndStatus(std::string_view item, std::string_view value, Scenario& s) {
    const auto v = parseNumber(value, kMaxDataByte);
    if (!v) {
        return i18n::arg(i18n::translate("Emulator", "%1: the status must be a number from 0 to 127"),
                         {item});
    }
    s.endStatus = static_cast<std::uint8_t>(*v);
    return {};
}

// A count from 1, for keys that name the K-th message or block.
std::string applyOrdinal(std::string_view item, std::string_view value, std::uint32_t& out) {
    const auto v = parseNumber(value, kMaxOrdinal);
    if (!v || *v == 0) {
        return i18n::arg(
            i18n::translate("Emulator", "%1: K must be a whole number from 1 to %2 (the first is 1)"),
            {item, std::to_string(kMaxOrdinal)});
    }
    out = *v;
    return {};
}

std::string applyLoss(std::string_view item, std::string_view value, Scenario& s);

std::string applyLink(std::string_view item, std::string_view value, Scenario& s) {
    if (value == "none") {
        s.link = Link::None;
    } else if (value == "usb") {
        s.link = Link::Usb;
    } else if (value == "din") {
        s.link = Link::Din;
    } else {
        return i18n::arg(i18n::translate("Emulator", "%1: expected none, usb or din"), {item});
    }
    return {};
}

// In the order describeScenario writes them.
const Key kKeys[] = {
    {.name = "model",
     .usage = "model=0x62",
     .help = VELMORA_TEXT("Emulator", "model code (0 to 0x7F; default 0x63)"),
     .apply = applyModel,
     .describe =
         [](const Scenario& s) { return s.model == Scenario{}.model ? "" : "model=" + hexByte(s.model); }},
    {.name = "boot",
     .usage = "boot=1.00|blank",
     .help = VELMORA_TEXT("Emulator",
                          "the earlier firmware's boot-version bytes (default 0.99), or a blank flash"),
     .apply = applyBoot,
     .describe =
         [](const Scenario& s) {
             return s.blankFlash ? std::string("boot=blank")
                    : s.bootVersion == Scenario{}.bootVersion
                        ? std::string()
                        : "boot=" + std::string(s.bootVersion.begin(), s.bootVersion.end());
         }},
    {.name = "mode",
     .usage = "mode=off",
     .help = VELMORA_TEXT("Emulator", "not in version-update mode: Begin, erase and write get 11"),
     .apply = applyMode,
     .describe = [](const Scenario& s) { return std::string(s.updateMode ? "" : "mode=off"); }},
    {.name = "refuse-erase",
     .usage = "refuse-erase=K:N",
     .help = VELMORA_TEXT("Emulator", "the K-th erase refused (status 1) N times"),
     .pair = &Scenario::refuseErase,
     .second = "N",
     .maxSecond = kMaxCount},
    {.name = "refuse-block",
     .usage = "refuse-block=K:N",
     .help = VELMORA_TEXT("Emulator", "block K refused (status 1) N times, then written"),
     .pair = &Scenario::refuseBlock,
     .second = "N",
     .maxSecond = kMaxCount},
    {.name = "drop-block",
     .usage = "drop-block=K:N",
     .help = VELMORA_TEXT("Emulator", "block K written but its answer lost N times"),
     .pair = &Scenario::dropBlock,
     .second = "N",
     .maxSecond = kMaxCount},
    {.name = "late-block",
     .usage = "late-block=K:MS",
     .help = VELMORA_TEXT("Emulator", "the first answer to block K sent MS ms late"),
     .pair = &Scenario::lateBlock,
     .second = "MS",
     .maxSecond = kMaxDelayMs},
    {.name = "late-erase",
     .usage = "late-erase=K:MS",
     .help = VELMORA_TEXT("Emulator", "the first answer to the K-th erase sent MS ms late"),
     .pair = &Scenario::lateErase,
     .second = "MS",
     .maxSecond = kMaxDelayMs},
    {.name = "corrupt-block",
     .usage = "corrupt-block=K",
     .help = VELMORA_TEXT("Emulator", "block K acknowledged but stored with one byte wrong"),
     .ordinal = &Scenario::corruptBlock},
    {.name = "lose",
     .usage = "lose=P:SEED",
     .help = VELMORA_TEXT("Emulator", "each answer lost with a chance of P percent, drawn from SEED"),
     .apply = applyLoss,
     .describe =
         [](const Scenario& s) { return s.loss.active() ? pairText("lose", s.loss) : std::string(); }},
    {.name = "bad-read",
     .usage = "bad-read",
     .help = VELMORA_TEXT("Emulator", "every ReadReply carries a wrong checksum"),
     .flag = &Scenario::badRead},
    {.name = "silent",
     .usage = "silent",
     .help = VELMORA_TEXT("Emulator", "answers nothing and changes nothing"),
     .flag = &Scenario::silent},
    {.name = "end-status",
     .usage = "end-status=S",
     .help = VELMORA_TEXT("Emulator", "the status that answers EndUpdateRequest (default 0)"),
     .apply = applyEndStatus,
     .describe =
         [](const Scenario& s) {
             return s.endStatus == 0 ? std::string() : "end-status=" + std::to_string(s.endStatus);
         }},
    {.name = "unplug",
     .usage = "unplug=K",
     .help = VELMORA_TEXT("Emulator", "unplugged when the K-th message from the host arrives"),
     .ordinal = &Scenario::unplugAt},
    {.name = "chatter",
     .usage = "chatter",
     .help = VELMORA_TEXT("Emulator", "sends messages of its own between its answers"),
     .flag = &Scenario::chatter},
    {.name = "done-reply",
     .usage = "done-reply",
     .help = VELMORA_TEXT("Emulator", "DoneReply instead of status 0 for erases and writes"),
     .flag = &Scenario::doneReply},
    {.name = "echo",
     .usage = "echo",
     .help = VELMORA_TEXT("Emulator", "the link also hands every host message back (a MIDI thru or loop)"),
     .flag = &Scenario::echo},
    {.name = "link",
     .usage = "link=none|usb|din",
     .help = VELMORA_TEXT("Emulator", "wire speed each way (default usb)"),
     .apply = applyLink,
     .describe =
         [](const Scenario& s) {
             return std::string(s.link == Link::None ? "link=none" : s.link == Link::Din ? "link=din" : "");
         }},
};

const Key* findKey(std::string_view name) {
    for (const Key& key : kKeys) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

std::string knownKeys() {
    std::string all;
    for (const Key& key : kKeys) {
        all += all.empty() ? "" : ", ";
        all += key.name;
    }
    return all;
}

std::string applyLoss(std::string_view item, std::string_view value, Scenario& s) {
    CountedFault loss;
    if (std::string why = parsePair("lose", value, "SEED", kMaxCount, loss); !why.empty()) {
        return why;
    }
    if (loss.k > 100) {
        return i18n::arg(
            i18n::translate("Emulator", "%1: the share of answers lost is a percentage from 1 to 100"),
            {item});
    }
    s.loss = loss;
    return {};
}

// The reason the item was refused, or empty when it was applied to `s`.
std::string applyItem(std::string_view name, std::string_view value, bool hasValue, Scenario& s) {
    const Key* key = findKey(name);
    if (key == nullptr) {
        return i18n::arg(i18n::translate("Emulator", "unknown key '%1' (known keys: %2)"),
                         {name, knownKeys()});
    }
    if (key->flag != nullptr) {
        if (hasValue) {
            return i18n::arg(i18n::translate("Emulator", "key '%1' takes no value, but got '%2'"),
                             {name, value});
        }
        s.*(key->flag) = true;
        return {};
    }
    if (value.empty()) {
        return i18n::arg(i18n::translate("Emulator", "key '%1' needs a value (%1=...)"), {name});
    }
    if (key->pair != nullptr) {
        return parsePair(name, value, key->second, key->maxSecond, s.*(key->pair));
    }
    if (key->ordinal != nullptr) {
        return applyOrdinal(quoted(name, value), value, s.*(key->ordinal));
    }
    return key->apply(quoted(name, value), value, s);
}

}  // namespace

ScenarioParse parseScenario(std::string_view text) {
    ScenarioParse result;
    if (trim(text).empty()) {
        return result;
    }
    // Every refusal hands back the default scenario: a caller who ignores the error must not run the keys
    // that came before the bad item.
    const auto refuse = [&result](std::string why) {
        result.error = std::move(why);
        result.scenario = Scenario{};
        return result;
    };
    std::string seen = ",";  // keys applied so far, each followed by a comma
    std::size_t position = 0;
    int itemNumber = 0;
    while (position <= text.size()) {
        const std::size_t comma = text.find(',', position);
        const std::size_t end = comma == std::string_view::npos ? text.size() : comma;
        const std::string_view item = trim(text.substr(position, end - position));
        ++itemNumber;
        if (item.empty()) {
            return refuse(
                i18n::arg(i18n::translate("Emulator",
                                          "item %1 is empty (two commas in a row, or a comma at either end)"),
                          {std::to_string(itemNumber)}));
        }
        const std::size_t equals = item.find('=');
        const bool hasValue = equals != std::string_view::npos;
        const std::string_view key = trim(item.substr(0, equals));
        const std::string_view value = hasValue ? trim(item.substr(equals + 1)) : std::string_view{};
        if (key.empty()) {
            return refuse(i18n::arg(i18n::translate("Emulator", "item '%1' has no key before '='"), {item}));
        }
        const std::string marker = std::string(key) + ",";
        if (seen.find("," + marker) != std::string::npos) {
            return refuse(
                i18n::arg(i18n::translate("Emulator", "duplicate key '%1': give each key once"), {key}));
        }
        if (std::string why = applyItem(key, value, hasValue, result.scenario); !why.empty()) {
            return refuse(std::move(why));
        }
        seen += marker;
        if (comma == std::string_view::npos) {
            break;
        }
        position = comma + 1;
    }
    return result;
}

std::string describeScenario(const Scenario& s) {
    std::string out;
    for (const Key& key : kKeys) {
        std::string item;
        if (key.flag != nullptr) {
            item = s.*(key.flag) ? std::string(key.name) : std::string();
        } else if (key.pair != nullptr) {
            item = (s.*(key.pair)).active() ? pairText(key.name, s.*(key.pair)) : std::string();
        } else if (key.ordinal != nullptr) {
            item = s.*(key.ordinal) == 0 ? std::string() : quoted(key.name, std::to_string(s.*(key.ordinal)));
        } else {
            item = key.describe(s);
        }
        if (!item.empty()) {
            out += out.empty() ? "" : ",";
            out += item;
        }
    }
    return out;
}

std::string scenarioHelp() {
    std::string help = i18n::translate(
        "Emulator",
        "Device scenario: comma-separated keys, each at most once (erases and blocks count from 1).\n");
    for (const Key& key : kKeys) {
        std::string line = "  " + std::string(key.usage);
        line.resize(std::max<std::size_t>(line.size() + 1, 21), ' ');
        help += line + i18n::translate("Emulator", key.help) + "\n";
    }
    return help;
}

std::optional<Scenario> demoScenario(const std::vector<std::string>& args, const std::string& program,
                                     std::string& usage) {
    if (args.size() > 1) {
        usage = i18n::arg(i18n::translate("Emulator", "usage: %1 [scenario]"), {program}) + "\n\n" +
                scenarioHelp();
        return std::nullopt;
    }
    const std::string text = args.empty() ? std::string() : args.front();
    ScenarioParse parsed = parseScenario(text);
    if (!parsed.ok()) {
        usage = i18n::arg(i18n::translate("Emulator", "%1: the scenario \"%2\" is not valid: %3"),
                          {program, text, parsed.error}) +
                "\n\n" + scenarioHelp();
        return std::nullopt;
    }
    return parsed.scenario;
}

}  // namespace velmora::emulator
