#pragma once
// A platform driver over a test's fake of its platform library: every port it lists leads to an emulated
// device, so a build with stand-in images may update through it.

namespace velmora::testing {

template <typename Driver>
class COnlyEmulated : public Driver {
  public:
    bool reachesOnlyEmulatedDevices() const override { return true; }
};

}  // namespace velmora::testing
