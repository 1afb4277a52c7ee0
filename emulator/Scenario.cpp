#include "emulator/Scenario.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <span>

namespace velmora::emulator {

namespace {

// Counts and delays beyond these are typing errors, not tests: a whole update has under a thousand blocks.
constexpr std::uint32_t kMaxOrdinal = 1000000;
constexpr std::uint32_t kMaxCount = 1000000;
constexpr std::uint32_t kMaxDelayMs = 600000;
constexpr std::uint32_t kMaxDataByte = 0x7F;  // everything inside a SysEx message is a 7-bit data byte

constexpr std::array<std::string_view, 11> kValueKeys = {
    "model",      "boot",       "mode",   "refuse-erase", "refuse-block", "drop-block",
    "late-block", "end-status", "unplug", "link",         "lose"};
constexpr std::array<std::string_view, 4> kFlagKeys = {"bad-read", "silent", "chatter", "done-reply"};

std::string knownKeys() {
    std::string all;
    for (const auto list :
         {std::span<const std::string_view>(kValueKeys), std::span<const std::string_view>(kFlagKeys)}) {
        for (const std::string_view key : list) {
            if (!all.empty()) {
                all += ", ";
            }
            all += key;
        }
    }
    return all;
}

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
        return item + ": expected K:" + std::string(secondName) + " (two numbers joined by a colon)";
    }
    const auto k = parseNumber(trim(value.substr(0, colon)), kMaxOrdinal);
    const auto n = parseNumber(trim(value.substr(colon + 1)), maxSecond);
    if (!k) {
        return item + ": K must be a whole number from 1 to " + std::to_string(kMaxOrdinal);
    }
    if (*k == 0) {
        return item + ": K counts from 1, so 0 names no erase or block";
    }
    if (!n || *n == 0) {
        return item + ": " + std::string(secondName) + " must be a whole number from 1 to " +
               std::to_string(maxSecond);
    }
    out = CountedFault{*k, *n};
    return {};
}

// The reason the item was refused, or empty when it was applied to `s`.
std::string applyItem(std::string_view key, std::string_view value, bool hasValue, Scenario& s) {
    const std::string item = quoted(key, value);
    const bool isFlag = std::find(kFlagKeys.begin(), kFlagKeys.end(), key) != kFlagKeys.end();
    const bool isValued = std::find(kValueKeys.begin(), kValueKeys.end(), key) != kValueKeys.end();
    if (!isFlag && !isValued) {
        return "unknown key '" + std::string(key) + "' (known keys: " + knownKeys() + ")";
    }
    if (isFlag && hasValue) {
        return "key '" + std::string(key) + "' takes no value, but got '" + std::string(value) + "'";
    }
    if (isValued && value.empty()) {
        return "key '" + std::string(key) + "' needs a value (" + std::string(key) + "=...)";
    }

    if (key == "model") {
        const auto v = parseNumber(value, kMaxDataByte);
        if (!v) {
            return item + ": the model code must be a number from 0 to 0x7F";
        }
        s.model = static_cast<std::uint8_t>(*v);
    } else if (key == "boot") {
        if (value == "blank") {
            s.blankFlash = true;
            return {};
        }
        if (value.size() != 4) {
            return item + ": expected four characters (as in boot=1.00) or 'blank'";
        }
        for (std::size_t i = 0; i < 4; ++i) {
            const auto c = static_cast<unsigned char>(value[i]);
            if (c < 0x20 || c > 0x7E) {
                return item + ": the version must be printable ASCII";
            }
            s.bootVersion[i] = c;
        }
    } else if (key == "mode") {
        if (value == "off") {
            s.updateMode = false;
        } else if (value == "on") {
            s.updateMode = true;
        } else {
            return item + ": expected on or off";
        }
    } else if (key == "refuse-erase") {
        return parsePair(key, value, "N", kMaxCount, s.refuseErase);
    } else if (key == "refuse-block") {
        return parsePair(key, value, "N", kMaxCount, s.refuseBlock);
    } else if (key == "drop-block") {
        return parsePair(key, value, "N", kMaxCount, s.dropBlock);
    } else if (key == "late-block") {
        return parsePair(key, value, "MS", kMaxDelayMs, s.lateBlock);
    } else if (key == "end-status") {
        const auto v = parseNumber(value, kMaxDataByte);
        if (!v) {
            return item + ": the status must be a number from 0 to 127";
        }
        s.endStatus = static_cast<std::uint8_t>(*v);
    } else if (key == "unplug") {
        const auto v = parseNumber(value, kMaxOrdinal);
        if (!v || *v == 0) {
            return item + ": K must be a whole number from 1 to " + std::to_string(kMaxOrdinal) +
                   " (the first message is 1)";
        }
        s.unplugAt = *v;
    } else if (key == "lose") {
        CountedFault loss;
        if (std::string why = parsePair(key, value, "SEED", kMaxCount, loss); !why.empty()) {
            return why;
        }
        if (loss.k > 100) {
            return item + ": the share of answers lost is a percentage from 1 to 100";
        }
        s.loss = loss;
    } else if (key == "link") {
        if (value == "none") {
            s.link = Link::None;
        } else if (value == "usb") {
            s.link = Link::Usb;
        } else if (value == "din") {
            s.link = Link::Din;
        } else {
            return item + ": expected none, usb or din";
        }
    } else if (key == "bad-read") {
        s.badRead = true;
    } else if (key == "silent") {
        s.silent = true;
    } else if (key == "chatter") {
        s.chatter = true;
    } else {
        s.doneReply = true;
    }
    return {};
}

std::string hexByte(std::uint8_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
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
            return refuse("item " + std::to_string(itemNumber) +
                          " is empty (two commas in a row, or a comma at either end)");
        }
        const std::size_t equals = item.find('=');
        const bool hasValue = equals != std::string_view::npos;
        const std::string_view key = trim(item.substr(0, equals));
        const std::string_view value = hasValue ? trim(item.substr(equals + 1)) : std::string_view{};
        if (key.empty()) {
            return refuse("item '" + std::string(item) + "' has no key before '='");
        }
        const std::string marker = std::string(key) + ",";
        if (seen.find("," + marker) != std::string::npos) {
            return refuse("duplicate key '" + std::string(key) + "': give each key once");
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
    const Scenario d;
    std::string out;
    auto add = [&out](const std::string& item) {
        if (!out.empty()) {
            out += ',';
        }
        out += item;
    };
    auto pair = [&](const char* key, const CountedFault& f) {
        if (f.active()) {
            add(std::string(key) + "=" + std::to_string(f.k) + ":" + std::to_string(f.count));
        }
    };
    if (s.model != d.model) {
        add("model=" + hexByte(s.model));
    }
    if (s.blankFlash) {
        add("boot=blank");
    } else if (s.bootVersion != d.bootVersion) {
        add("boot=" + std::string(s.bootVersion.begin(), s.bootVersion.end()));
    }
    if (!s.updateMode) {
        add("mode=off");
    }
    pair("refuse-erase", s.refuseErase);
    pair("refuse-block", s.refuseBlock);
    pair("drop-block", s.dropBlock);
    pair("late-block", s.lateBlock);
    pair("lose", s.loss);
    if (s.badRead) {
        add("bad-read");
    }
    if (s.silent) {
        add("silent");
    }
    if (s.endStatus != d.endStatus) {
        add("end-status=" + std::to_string(s.endStatus));
    }
    if (s.unplugAt != 0) {
        add("unplug=" + std::to_string(s.unplugAt));
    }
    if (s.chatter) {
        add("chatter");
    }
    if (s.doneReply) {
        add("done-reply");
    }
    if (s.link != d.link) {
        add(s.link == Link::None ? "link=none" : s.link == Link::Din ? "link=din" : "link=usb");
    }
    return out;
}

std::string_view scenarioHelp() {
    return "Device scenario: comma-separated keys, each at most once (erases and blocks count from 1).\n"
           "  model=0x62         model code (0 to 0x7F; default 0x63)\n"
           "  boot=1.00          the earlier firmware's four boot-version bytes (default 0.99)\n"
           "  boot=blank         flash starts blank (all 0xFF)\n"
           "  mode=off           not in version-update mode: Begin, erase and write answered with 11\n"
           "  refuse-erase=K:N   the K-th erase refused (status 1) N times, then done\n"
           "  refuse-block=K:N   block K refused (status 1) N times, then written\n"
           "  drop-block=K:N     block K written but its answer lost N times\n"
           "  late-block=K:MS    the first answer to block K sent MS ms late\n"
           "  lose=P:SEED        each answer lost with a chance of P percent, drawn from SEED\n"
           "  bad-read           every ReadReply carries a wrong checksum\n"
           "  silent             answers nothing and changes nothing\n"
           "  end-status=S       the status that answers EndUpdateRequest (default 0)\n"
           "  unplug=K           unplugged when the K-th message from the host arrives\n"
           "  chatter            sends messages of its own between its answers\n"
           "  done-reply         DoneReply instead of status 0 for erases and writes\n"
           "  link=none|usb|din  wire speed each way (default usb)\n";
}

}  // namespace velmora::emulator
