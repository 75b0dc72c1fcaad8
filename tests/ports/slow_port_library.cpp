// A slow port library for process tests: every access is appended to the file
// named by PX77XX_PORT_LOG ("out 0x378 0xf3", "in 0x379 0x007f") as it reaches
// the port, and every write takes PX77XX_PORT_WAIT_MS (2 ms unless set), so
// that a run of actions lasts long enough to be interrupted, or to meet a
// second program on the same port. PX77XX_PORT_FAULT=KIND:N makes the Nth write
// fail the way foreign code can: throw (a std::runtime_error), int (throws an
// int) or exit (calls exit(3)). Built with PX_INPOUT_NAMES it exports the
// InpOut32 family's names, Out32 and Inp32, instead.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

std::FILE* log() {
    static std::FILE* file = [] {
        const char* path = std::getenv("PX77XX_PORT_LOG");
        return path != nullptr ? std::fopen(path, "ab") : nullptr;
    }();
    return file;
}

int waitMs() {
    static const int ms = [] {
        const char* text = std::getenv("PX77XX_PORT_WAIT_MS");
        return text != nullptr ? std::atoi(text) : 2;
    }();
    return ms;
}

void fault(int write) {
    const char* spec = std::getenv("PX77XX_PORT_FAULT");
    if (spec == nullptr) return;
    const char* colon = std::strchr(spec, ':');
    if (colon == nullptr || std::atoi(colon + 1) != write) return;
    if (std::strncmp(spec, "read", 4) == 0) return;
    if (std::strncmp(spec, "throw", 5) == 0) throw std::runtime_error("cable unplugged");
    if (std::strncmp(spec, "int", 3) == 0) throw 42;
    if (std::strncmp(spec, "exit", 4) == 0) std::exit(3);
}

int writes = 0;
int reads = 0;

void readFault(int read) {
    const char* spec = std::getenv("PX77XX_PORT_FAULT");
    if (spec != nullptr && std::strncmp(spec, "read:", 5) == 0 && std::atoi(spec + 5) == read) {
        throw std::runtime_error("cable unplugged");
    }
}

}  // namespace

#ifdef _WIN32
#define PX_EXPORT __declspec(dllexport)
#else
#define PX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef PX_INPOUT_NAMES
#define OutportW Out32
#define InportW Inp32
#endif

extern "C" {

PX_EXPORT void OutportW(short port, short value) {
    fault(++writes);
    if (std::FILE* file = log()) {
        std::fprintf(file, "out 0x%x 0x%02x\n", static_cast<unsigned short>(port), static_cast<unsigned short>(value));
        std::fflush(file);
    }
    if (waitMs() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs()));
}

PX_EXPORT short InportW(short port) {
    readFault(++reads);
    if (std::FILE* file = log()) {
        std::fprintf(file, "in 0x%x 0x%04x\n", static_cast<unsigned short>(port), 0x7F);
        std::fflush(file);
    }
    return 0x7F;
}
}
