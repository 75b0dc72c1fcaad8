// A Microchip MCP2221A (USB to I2C bridge with 4 GP pins), served from user
// space through /dev/uhid: held by hid-generic, for the mcp2221 backend on its
// hidraw node, or by the kernel's hid-mcp2221, for the i2c and gpio backends
// on the adapter and gpiochip it makes. The simulated potentiometer is on its
// I2C engine at 0x2c and on GP0 (SDA), GP1 (SCL) and GP2 (/SHDN).
//   mcp2221_emulator [LINE_LOG]
#include "uhid_device.h"

int main(int argc, char** argv) {
    std::FILE* log = argc > 1 ? std::fopen(argv[1], "w") : nullptr;
    // Unnumbered 64-byte input and output reports on a vendor page.
    const std::vector<std::uint8_t> descriptor{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                               0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02,
                                               0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02,
                                               0xC0};
    models::Mcp2221Model chip;
    return vm::serveUhid("MCP2221 emulated", "MCP0001", 0x04D8, 0x00DD, descriptor, false, chip, log);
}
