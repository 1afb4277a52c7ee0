#include "update/Texts.h"

#include <cstdio>

namespace velmora::texts {

std::string dataTransmit(int offset, int total) {
    return "Data transmit  " + std::to_string(offset) + " / " + std::to_string(total) + " ";
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
    return "It is forbidden to launch more than " + std::to_string(limit) + " instance of this application.";
}

namespace {

std::string verifyText(const char* what, unsigned imageId, unsigned address) {
    char text[96];
    std::snprintf(text, sizeof text, "Verify failed: image %u %s 0x%06X", imageId, what, address);
    return text;
}

}  // namespace

std::string verifyFailed(unsigned imageId, unsigned address) {
    return verifyText("differs at", imageId, address);
}

std::string verifyUnreadable(unsigned imageId, unsigned address) {
    return verifyText("could not be read back at", imageId, address);
}

}  // namespace velmora::texts
