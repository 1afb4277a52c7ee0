#include "update/Texts.h"

#include <cstdio>
#include <string_view>

namespace velmora::texts {

namespace {

constexpr const char* kContext = "Texts";
constexpr const char* kDataTransmit = VELMORA_TEXT("Texts", "Data transmit  %1 / %2 ");
constexpr std::string_view kDataTransmitLead = "Data transmit  ";

std::string verifyText(const char* pattern, unsigned imageId, unsigned address, i18n::Language in) {
    char where[16];
    std::snprintf(where, sizeof where, "0x%06X", address);
    return i18n::arg(i18n::translate(kContext, pattern, in), {std::to_string(imageId), where});
}

}  // namespace

std::string shown(const char* text) {
    return i18n::translate(kContext, text);
}

std::string dataTransmit(int offset, int total, i18n::Language in) {
    return i18n::arg(i18n::translate(kContext, kDataTransmit, in),
                     {std::to_string(offset), std::to_string(total)});
}

bool isDataTransmit(const std::string& english) {
    return english.rfind(kDataTransmitLead, 0) == 0;
}

std::string shownStatus(const std::string& english) {
    if (english.empty()) {
        return english;
    }
    if (isDataTransmit(english)) {
        int offset = 0;
        int total = 0;
        if (std::sscanf(english.c_str() + kDataTransmitLead.size(), "%d / %d", &offset, &total) == 2) {
            return dataTransmit(offset, total);
        }
    }
    return i18n::translate(kContext, english.c_str());
}

std::string stepCounter(int step, int steps) {
    return std::to_string(step) + "/" + std::to_string(steps);
}

std::string instanceTitle(int instanceNumber) {
    if (instanceNumber == 1) {
        return kProductTitle;
    }
    return std::string(kProductTitle) + " (" + std::to_string(instanceNumber) + ")";
}

std::string instanceLimit(int limit) {
    return i18n::arg(
        shown(VELMORA_TEXT("Texts", "It is forbidden to launch more than %1 instance of this application.")),
        {std::to_string(limit)});
}

std::string verifyFailed(unsigned imageId, unsigned address, i18n::Language in) {
    return verifyText(VELMORA_TEXT("Texts", "Verify failed: image %1 differs at %2"), imageId, address, in);
}

std::string verifyUnreadable(unsigned imageId, unsigned address, i18n::Language in) {
    return verifyText(VELMORA_TEXT("Texts", "Verify failed: image %1 could not be read back at %2"), imageId,
                      address, in);
}

}  // namespace velmora::texts
