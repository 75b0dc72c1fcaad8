// A stand-in for FTDI's ftd2xx.dll, for the Windows build under wine: an
// FT232H whose MPSSE engine runs in process, read by the same interpreter as
// the VM tier's FT232H model (support::MpsseEngine), with the simulated device
// on its pins (SCL AD0, SDA AD1 tied to AD2, /SHDN AD3). It exports what the
// ftdi backend binds, as FTDI's D2XX Programmer's Guide declares them.
//   PX77XX_FTD2XX_LOG     every change of the pins, "SCL SDA /SHDN" a line
//   PX77XX_FTD2XX_WRITES  a line per FT_Write: the bytes it carried
//   PX77XX_FTD2XX         what is attached: "" one FT232H; "none"; "two" (two
//                         FT232H); "busy" (another program has it open);
//                         "noecho" (the chip answers nothing); "unplug=N" (the
//                         Nth FT_Write fails and the chip is gone)
#include "mpsse_engine.h"
#include "sim/board.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Status = std::uint32_t;
constexpr Status kOk = 0, kInvalidHandle = 1, kDeviceNotFound = 2, kDeviceNotOpened = 3, kIoError = 4;

struct Node {
    std::uint32_t flags, type, id, location;
    char serial[16];
    char description[64];
    void* handle;
};

std::string setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void append(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fputs(line.c_str(), f);
        std::fclose(f);
    }
}

struct Chip {
    sim::Device device;
    support::MpsseEngine engine;
    std::deque<std::uint8_t> answers;
    bool mpsse = false;
    bool open = false;
    bool gone = false;
    int writes = 0;

    Chip()
        : device(true), engine(device, {0, 1, 2, 3}, [](bool scl, bool sda, bool shdn) {
              append(setting("PX77XX_FTD2XX_LOG"), std::to_string(scl) + " " + std::to_string(sda) + " " +
                                                        std::to_string(shdn) + "\n");
          }) {}
};

Chip& chip() {
    static Chip one;
    return one;
}

std::vector<Node> attached() {
    const std::string mode = setting("PX77XX_FTD2XX");
    if (mode == "none" || chip().gone) return {};
    Node n{2, 8, 0x04036014, 0x1011, "PX000001", "FT232H model", nullptr};  // high speed, FT232H
    if (mode == "busy") {
        n.flags |= 1;  // opened elsewhere: D2XX shows no serial or description then
        n.serial[0] = n.description[0] = '\0';
    }
    std::vector<Node> nodes{n};
    if (mode == "two") {
        Node second{2, 8, 0x04036014, 0x1012, "PX000002", "FT232H model", nullptr};
        nodes.push_back(second);
    }
    return nodes;
}

Status checked(void* handle) { return handle == &chip() && chip().open ? kOk : kInvalidHandle; }

}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT Status FT_CreateDeviceInfoList(std::uint32_t* count) {
    *count = static_cast<std::uint32_t>(attached().size());
    return kOk;
}

EXPORT Status FT_GetDeviceInfoList(Node* nodes, std::uint32_t* count) {
    const auto list = attached();
    const std::size_t n = list.size() < *count ? list.size() : *count;
    for (std::size_t i = 0; i < n; ++i) nodes[i] = list[i];
    *count = static_cast<std::uint32_t>(n);
    return kOk;
}

EXPORT Status FT_OpenEx(void* argument, std::uint32_t flags, void** handle) {
    const std::string mode = setting("PX77XX_FTD2XX");
    if (mode == "busy") return kDeviceNotOpened;
    for (const Node& n : attached()) {
        const bool match = flags == 1   ? std::strcmp(static_cast<const char*>(argument), n.serial) == 0
                           : flags == 4 ? reinterpret_cast<std::uintptr_t>(argument) == n.location
                                        : false;
        if (match && n.location == 0x1011) {
            chip().open = true;
            *handle = &chip();
            return kOk;
        }
        if (match) return kDeviceNotOpened;  // the second chip is only for listing
    }
    return kDeviceNotFound;
}

EXPORT Status FT_ResetDevice(void* handle) { return checked(handle); }
EXPORT Status FT_SetUSBParameters(void* handle, std::uint32_t, std::uint32_t) { return checked(handle); }
EXPORT Status FT_SetLatencyTimer(void* handle, std::uint8_t) { return checked(handle); }
EXPORT Status FT_SetTimeouts(void* handle, std::uint32_t, std::uint32_t) { return checked(handle); }

EXPORT Status FT_SetBitMode(void* handle, std::uint8_t, std::uint8_t mode) {
    if (checked(handle) != kOk) return kInvalidHandle;
    chip().mpsse = mode == 0x02;
    if (!chip().mpsse) chip().engine.reset();
    return kOk;
}

EXPORT Status FT_Purge(void* handle, std::uint32_t) {
    if (checked(handle) != kOk) return kInvalidHandle;
    chip().answers.clear();
    return kOk;
}

EXPORT Status FT_Write(void* handle, void* data, std::uint32_t size, std::uint32_t* written) {
    if (checked(handle) != kOk) return kInvalidHandle;
    const std::string mode = setting("PX77XX_FTD2XX");
    if (mode.rfind("unplug=", 0) == 0 && ++chip().writes == std::atoi(mode.c_str() + 7)) chip().gone = true;
    if (chip().gone) return kIoError;
    append(setting("PX77XX_FTD2XX_WRITES"), std::to_string(size) + "\n");
    if (chip().mpsse && mode != "noecho") {
        std::vector<std::uint8_t> answer;
        chip().engine.run(static_cast<const std::uint8_t*>(data), size, answer);
        chip().answers.insert(chip().answers.end(), answer.begin(), answer.end());
    }
    *written = size;
    return kOk;
}

// What the engine has answered, up to size; a chip with nothing more to say
// lets the read time out, which here is at once.
EXPORT Status FT_Read(void* handle, void* data, std::uint32_t size, std::uint32_t* got) {
    if (checked(handle) != kOk) return kInvalidHandle;
    if (chip().gone) return kIoError;
    std::uint32_t n = 0;
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (n < size && !chip().answers.empty()) {
        bytes[n++] = chip().answers.front();
        chip().answers.pop_front();
    }
    *got = n;
    return kOk;
}

EXPORT Status FT_Close(void* handle) {
    if (checked(handle) != kOk) return kInvalidHandle;
    chip().open = false;  // the pins stay where they are
    return kOk;
}
