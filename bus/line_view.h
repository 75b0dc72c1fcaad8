// The bus lines as far as the port can tell: SCL is D1, SDA is D0 pulled low
// wherever a status sample taken since the last SCL fall read 0 (a device's
// acknowledge or read data, which only the status register shows).
#pragma once

#include "bus/decoder.h"
#include "bus/lines.h"

#include <cstdint>

namespace bus {

class LineView {
public:
    using Step = LineStep;

    bool scl() const { return (data_ & 0x02) != 0; }
    bool sda() const { return (data_ & 0x01) != 0 && !sampledLow_; }
    bool sampledSda() const { return sampledSda_; }
    std::uint8_t data() const { return data_; }

    // A falling SCL counts before the SDA change and a rising SCL after it.
    Step write(std::uint8_t value) {
        Step step{};
        const bool newScl = (value & 0x02) != 0;
        step.sclFell = scl() && !newScl;
        step.sclRose = !scl() && newScl;
        if (step.sclFell) sampledLow_ = false;
        step.sdaBefore = sda();
        data_ = value;
        step.sdaAfter = sda();
        step.sclHigh = scl();
        return step;
    }

    // Returns whether the line level changed.
    bool read(std::uint16_t status) {
        const bool before = sda();
        sampledSda_ = sdaFromStatus(status) != 0;
        if (!sampledSda_) sampledLow_ = true;
        return before != sda();
    }

private:
    std::uint8_t data_ = 0xFF;  // released until the first write
    bool sampledLow_ = false;
    bool sampledSda_ = true;
};

}  // namespace bus
