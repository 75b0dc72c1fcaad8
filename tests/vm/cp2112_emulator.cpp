// A Silicon Labs CP2112 (USB HID to SMBus bridge with 8 GPIO lines), served
// from user space through /dev/uhid, for the real hid-cp2112 driver to bind
// to in the test VM, and for the cp2112 backend beside it on its hidraw node.
// Its SMBus side has the simulated potentiometer at 0x2c; its GPIO lines 0
// (SDA), 1 (SCL) and 2 (/SHDN) have another, wired as the programs' bus would
// be, with pull-ups (tests/support/hid_models.h).
//   cp2112_emulator [LINE_LOG [ADDRESS [SERIAL]]]
#include "uhid_device.h"

#include <cstdlib>

namespace {

// A vendor-page HID report descriptor declaring each report and its size, so
// that the HID core knows the input reports the driver waits for.
std::vector<std::uint8_t> reportDescriptor() {
    using M = models::Cp2112Model;
    std::vector<std::uint8_t> d{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};  // vendor page, application
    auto report = [&d](std::uint8_t id, std::uint8_t count, std::uint8_t kind) {
        d.insert(d.end(), {0x85, id, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, count, kind, 0x02});
    };
    constexpr std::uint8_t kFeature = 0xB1, kOutput = 0x91, kInput = 0x81;
    report(M::kGpioConfig, 4, kFeature);
    report(M::kGpioGet, 1, kFeature);
    report(M::kGpioSet, 2, kFeature);
    report(M::kVersion, 2, kFeature);
    report(M::kSmbusConfig, 13, kFeature);
    report(M::kReadRequest, 3, kOutput);
    report(M::kWriteReadRequest, 20, kOutput);
    report(M::kReadForceSend, 2, kOutput);
    report(M::kReadResponse, 63, kInput);
    report(M::kWriteRequest, 63, kOutput);
    report(M::kStatusRequest, 1, kOutput);
    report(M::kStatusResponse, 63, kInput);
    report(M::kCancel, 1, kOutput);
    report(M::kLockByte, 1, kFeature);
    report(M::kUsbConfig, 9, kFeature);
    for (std::uint8_t id : {M::kManufacturer, M::kProduct, M::kSerial}) report(id, 63, kFeature);
    d.push_back(0xC0);
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* log = argc > 1 ? std::fopen(argv[1], "w") : nullptr;
    // The devices' address: 0x2c unless a chip strapped to another is wanted.
    const auto address = static_cast<std::uint8_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0x2c);
    const char* serial = argc > 3 ? argv[3] : "0001";
    models::Cp2112Model chip(address, serial);
    return vm::serveUhid("CP2112 emulated", serial, 0x10C4, 0xEA90, reportDescriptor(), true, chip, log);
}
