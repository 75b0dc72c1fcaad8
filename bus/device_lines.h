// The two bus lines as a device on them sees them: SCL as the master drives it,
// and SDA the wired AND of the master's SDA and the device's own open-drain
// output. The simulated board, the i2c backend's stand-in device and the view
// of the lines from the port's side all sit on these.
#pragma once

#include "bus/decoder.h"

namespace bus {

class DeviceLines {
public:
    // One change of the master's lines. A falling SCL counts before the SDA
    // change: onFall runs there, so that the device's next output is on the line
    // when the write's own SDA change is judged.
    template <typename OnFall>
    LineStep write(bool masterSda, bool masterScl, OnFall&& onFall) {
        LineStep step{};
        step.sclFell = scl_ && !masterScl;
        step.sclRose = !scl_ && masterScl;
        if (step.sclFell) {
            scl_ = false;
            onFall();
        }
        step.sdaBefore = sda();
        masterSda_ = masterSda;
        step.sdaAfter = sda();
        step.masterSda = masterSda_;
        scl_ = masterScl;
        step.sclHigh = scl_;
        return step;
    }

    bool scl() const { return scl_; }
    bool sda() const { return masterSda_ && deviceSda_; }
    bool masterSda() const { return masterSda_; }
    bool deviceOutput() const { return deviceSda_; }
    void drive(bool level) { deviceSda_ = level; }  // false pulls SDA low; true releases it

private:
    bool scl_ = true;  // lines released until the first write
    bool masterSda_ = true;
    bool deviceSda_ = true;
};

}  // namespace bus
