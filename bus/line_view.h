// The bus lines as far as the port can tell: SCL is D1, SDA is D0 pulled low
// wherever a status sample taken since the last SCL fall read 0 (a device's
// acknowledge or read data, which only the status register shows).
#pragma once

#include "bus/decoder.h"
#include "bus/device_lines.h"
#include "bus/lines.h"

#include <cstdint>

namespace bus {

class LineView {
public:
    using Step = LineStep;

    bool scl() const { return lines_.scl(); }
    bool sda() const { return lines_.sda(); }
    bool sampledSda() const { return sampledSda_; }
    std::uint8_t data() const { return data_; }

    // A falling SCL counts before the SDA change and a rising SCL after it; a
    // device's low seen by a sample lasts until SCL falls.
    Step write(std::uint8_t value) {
        data_ = value;
        return lines_.write((value & kSdaLine) != 0, (value & kSclLine) != 0, [this] { lines_.drive(true); });
    }

    // Returns whether the line level changed.
    bool read(std::uint16_t status) {
        const bool before = sda();
        sampledSda_ = sdaFromStatus(status) != 0;
        if (!sampledSda_) lines_.drive(false);
        return before != sda();
    }

private:
    DeviceLines lines_;
    std::uint8_t data_ = 0xFF;  // released until the first write
    bool sampledSda_ = true;
};

}  // namespace bus
