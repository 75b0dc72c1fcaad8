// A slow port library for process tests: every access is appended to the file
// named by PX77XX_PORT_LOG ("out 0x378 0xf3", "in 0x379 0x007f") as it reaches
// the port, and every write takes 2 ms, so that a run of actions lasts long
// enough to be interrupted, or to meet a second program on the same port.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::FILE* log() {
    static std::FILE* file = [] {
        const char* path = std::getenv("PX77XX_PORT_LOG");
        return path != nullptr ? std::fopen(path, "a") : nullptr;
    }();
    return file;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void OutportW(short port, short value) {
    if (std::FILE* file = log()) {
        std::fprintf(file, "out 0x%x 0x%02x\n", static_cast<unsigned short>(port), static_cast<unsigned short>(value));
        std::fflush(file);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

__attribute__((visibility("default"))) short InportW(short port) {
    if (std::FILE* file = log()) {
        std::fprintf(file, "in 0x%x 0x%04x\n", static_cast<unsigned short>(port), 0x7F);
        std::fflush(file);
    }
    return 0x7F;
}
}
