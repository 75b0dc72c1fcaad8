// GPIO lines as the bus: SDA and SCL on two lines of a chip of the kernel's GPIO
// character device (a Raspberry Pi's header, a USB GPIO expander), bit-banged
// exactly as the programs write them, and /SHDN on a third where one is given.
#pragma once

#include "bus/line_port.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ports {

struct GpioChip {
    std::string name;   // "gpiochip0"
    std::string label;  // "cp2112_gpio"
    unsigned lines = 0;
};

// The calls the backend makes of libgpiod, so that tests can stand in for the
// kernel. Results are 0 (or a handle >= 0), or -errno.
class GpioSystem {
public:
    virtual ~GpioSystem() = default;
    // A chip by name, path, label or number, as gpiod's tools take it.
    virtual int open(const std::string& chip, GpioChip& info) = 0;
    // The chips there are, for a message about one that is not.
    virtual std::vector<GpioChip> chips() = 0;
    // Lines of the open chip requested together as outputs, starting at values;
    // open-drain, or pushed both ways. Returns a handle.
    virtual int request(std::span<const unsigned> offsets, bool openDrain, std::span<const int> values) = 0;
    // Every line of a handle at once, in the order they were requested.
    virtual int set(int handle, std::span<const int> values) = 0;
    virtual int get(int handle, std::span<int> values) = 0;
    // Who holds a line ("" where nobody does).
    virtual std::string consumer(unsigned offset) = 0;
    // Releases every line and the chip.
    virtual void close() = 0;
};

std::unique_ptr<GpioSystem> libgpiodSystem();

struct GpioWiring {
    std::string chip = "gpiochip0";
    unsigned sda = 0;
    unsigned scl = 0;
    std::optional<unsigned> shdn;
};

class GpioLines final : public bus::LineBackend {
public:
    explicit GpioLines(GpioWiring wiring, std::unique_ptr<GpioSystem> system = libgpiodSystem());
    ~GpioLines() override;

    void drive(bus::LineLevels levels) override;
    bool sampleSda() override;

    std::string label() const { return "gpio " + wiring_.chip; }

private:
    void claim();
    void set(bool scl, bool sda);
    [[noreturn]] void fail(const std::string& what, int code = 0) const;

    GpioWiring wiring_;
    std::unique_ptr<GpioSystem> system_;
    bool claimed_ = false;
    int bus_ = -1;   // SCL and SDA, in that order
    int shdn_ = -1;  // /SHDN, where there is a line for it
    bool scl_ = true;
    bool sda_ = true;
    bool shdnLevel_ = true;
};

}  // namespace ports
