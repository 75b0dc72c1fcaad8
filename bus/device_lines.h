// The two bus lines as a device on them sees them: SCL and SDA from the master's
// D1 and D0, and SDA the wired AND of the master's D0 and the device's own
// open-drain output. The simulated board and the i2c backend's stand-in device
// both sit on these.
#pragma once

#include "bus/decoder.h"
#include "bus/lines.h"

#include <cstdint>

namespace bus {

class DeviceLines {
public:
    // One write of the data register. A falling SCL counts before the SDA change:
    // onFall runs there, so that the device's next output is on the line when
    // the write's own SDA change is judged.
    template <typename OnFall>
    LineStep write(std::uint8_t data, OnFall&& onFall) {
        const bool newScl = (data & 0x02) != 0;
        LineStep step{};
        step.sclFell = scl_ && !newScl;
        step.sclRose = !scl_ && newScl;
        if (step.sclFell) {
            scl_ = false;
            onFall();
        }
        step.sdaBefore = sda();
        masterSda_ = (data & 0x01) != 0;
        step.sdaAfter = sda();
        scl_ = newScl;
        step.sclHigh = scl_;
        return step;
    }

    bool scl() const { return scl_; }
    bool sda() const { return masterSda_ && deviceSda_; }
    bool deviceOutput() const { return deviceSda_; }
    void drive(bool level) { deviceSda_ = level; }  // false pulls SDA low; true releases it

    // The status register: SDA on bit 3, the other bits a fixed idle pattern.
    std::uint16_t status(std::uint8_t idleBits) const {
        return static_cast<std::uint16_t>(idleBits | (sda() ? kSdaStatusMask : 0));
    }

private:
    bool scl_ = true;  // lines released until the first write
    bool masterSda_ = true;
    bool deviceSda_ = true;
};

}  // namespace bus
