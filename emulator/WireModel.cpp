#include "emulator/WireModel.h"

#include <algorithm>
#include <array>
#include <vector>

#include "emulator/DeviceRequest.h"
#include "update/Codec.h"
#include "update/FlashPlan.h"
#include "update/Messages.h"
#include "update/Transfer.h"

namespace velmora::emulator {

ModelTime modelTime(const LinkSpeed& link, const FlashTimes& flash, bool bootSkipped) {
    ModelTime m;
    const std::uint8_t model = AcceptedDeviceCodes[0];
    const std::size_t status = statusAnswer(model, 0).size();
    auto exchange = [&m, status](std::size_t request, std::size_t answer = 0) {
        ++m.messagesToDevice;
        ++m.messagesFromDevice;
        m.bytesToDevice += request;
        m.bytesFromDevice += answer != 0 ? answer : status;
    };

    exchange(kIdentityRequestLength, identityAnswer(model, {'0', '.', '9', '9'}).size());
    exchange(kBeginEndLength);
    const std::vector<std::uint8_t> version(kBootVersionLength);
    exchange(sysex::kReadRequestLength, readAnswer(model, version, false).size());
    for (const FlashStep& row : FlashPlan) {
        if (bootSkipped && inBootRegion(row)) {
            continue;
        }
        if (row.kind == FlashStep::Erase) {
            exchange(sysex::kEraseLength);
            m.sectorsErased += static_cast<int>(row.size / kSectorSize);
            continue;
        }
        const auto size = static_cast<std::uint32_t>(stepBytes(row));
        for (std::uint32_t offset = 0; offset < size; offset += kBlockSize) {
            const std::uint32_t n = std::min(kBlockSize, size - offset);
            exchange(sysex::kWriteOverhead + packedLength(n));
            ++m.blocksWritten;
        }
    }
    exchange(kBeginEndLength);

    const double perMessage = std::chrono::duration<double>(link.perMessage).count();
    const int messages = m.messagesToDevice + m.messagesFromDevice;
    m.wireSeconds = perMessage * messages;
    if (link.bytesPerSecond > 0) {
        m.wireSeconds += static_cast<double>(m.bytesToDevice + m.bytesFromDevice) / link.bytesPerSecond;
    }
    m.flashSeconds = std::chrono::duration<double>(flash.erasePerSector).count() * m.sectorsErased +
                     std::chrono::duration<double>(flash.programPerBlock).count() * m.blocksWritten;
    return m;
}

}  // namespace velmora::emulator
