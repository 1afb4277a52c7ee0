#include "update/Texts.h"

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

}  // namespace velmora::texts
