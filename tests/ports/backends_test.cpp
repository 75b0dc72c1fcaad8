// The hardware backends without hardware: the exact system calls through their
// seams, and their error messages.
#include "ports/factory.h"
#include "ports/io_port.h"
#include "ports/lib_port.h"
#include "ports/ppdev_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <string>
#include <vector>

namespace {

// --- ppdev ---

struct FakePpdev final : ports::DeviceSystem {
    std::vector<std::string>* calls;
    std::map<std::string, int> failures;  // call name -> -errno
    unsigned char status = 0x78;

    explicit FakePpdev(std::vector<std::string>* log) : calls(log) {}
    int result(const std::string& name) {
        auto it = failures.find(name);
        return it == failures.end() ? 0 : it->second;
    }
    int open(const std::string& path) override {
        calls->push_back("open " + path);
        const int r = result("open");
        return r < 0 ? r : 7;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        std::string name = request == PPEXCL      ? "PPEXCL"
                           : request == PPCLAIM   ? "PPCLAIM"
                           : request == PPRELEASE ? "PPRELEASE"
                           : request == PPWDATA   ? "PPWDATA"
                           : request == PPRSTATUS ? "PPRSTATUS"
                                                  : "?";
        const int r = result(name);
        if (request == PPWDATA) name += " " + std::to_string(*static_cast<unsigned char*>(argument));
        if (request == PPRSTATUS && r == 0) *static_cast<unsigned char*>(argument) = status;
        calls->push_back(name + " fd" + std::to_string(fd));
        return r;
    }
    void close(int fd) override { calls->push_back("close fd" + std::to_string(fd)); }
};

TEST(Ppdev, ClaimsAtTheFirstAccessAndReleasesAtTheEnd) {
    std::vector<std::string> calls;
    {
        auto system = std::make_unique<FakePpdev>(&calls);
        ports::PpdevPort port("/dev/parport1", std::move(system));
        EXPECT_TRUE(calls.empty());
        port.OutportW(0x378, 0x13);
        port.OutportW(0x378, 0x0012);
        EXPECT_EQ(port.InportW(0x379), 0x78);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"open /dev/parport1", "PPEXCL fd7", "PPCLAIM fd7", "PPWDATA 19 fd7",
                                               "PPWDATA 18 fd7", "PPRSTATUS fd7", "PPRELEASE fd7", "close fd7"}));
}

struct PpdevFailure {
    std::string name;
    std::string call;
    int error;
    std::string message;
};

class PpdevErrors : public testing::TestWithParam<PpdevFailure> {};

TEST_P(PpdevErrors, NameTheDeviceTheOperationAndAHintThenRetry) {
    std::vector<std::string> calls;
    auto system = std::make_unique<FakePpdev>(&calls);
    auto* fake = system.get();
    fake->failures[GetParam().call] = -GetParam().error;
    ports::PpdevPort port("/dev/parport0", std::move(system));
    try {
        port.OutportW(0x378, 0x13);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
        EXPECT_EQ(e.code(), GetParam().error);  // what Python's OSError.errno carries
    }
    EXPECT_FALSE(port.claimed());
    // A descriptor that was opened is closed again; the next access starts over.
    if (GetParam().call != "open") {
        EXPECT_EQ(calls.back(), "close fd7");
    }
    fake->failures.clear();
    calls.clear();
    port.OutportW(0x378, 0x13);
    EXPECT_EQ(calls.front(), "open /dev/parport0");
    EXPECT_TRUE(port.claimed());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PpdevErrors,
    testing::Values(
        PpdevFailure{"no_node", "open", ENOENT,
                     "ppdev /dev/parport0: open: No such file or directory (load the parport_pc and ppdev modules)"},
        PpdevFailure{"no_port_behind_node", "open", ENXIO,
                     "ppdev /dev/parport0: open: No such device or address (load the parport_pc and ppdev modules)"},
        PpdevFailure{"permission", "open", EACCES,
                     "ppdev /dev/parport0: open: Permission denied (add your user to the lp group, then log in again)"},
        PpdevFailure{"not_a_parallel_port", "PPEXCL", ENOTTY,
                     "ppdev /dev/parport0: PPEXCL: Inappropriate ioctl for device (not a parallel port device)"},
        // What a 6.1 kernel answers when another opener or lp holds the port.
        PpdevFailure{"held_by_another_opener_or_lp", "PPCLAIM", ENXIO,
                     "ppdev /dev/parport0: PPCLAIM: No such device or address (another program or the lp driver "
                     "holds the port)"},
        PpdevFailure{"busy", "PPCLAIM", EBUSY,
                     "ppdev /dev/parport0: PPCLAIM: Device or resource busy (another program or the lp driver holds "
                     "the port)"}),
    [](const testing::TestParamInfo<PpdevFailure>& row) { return row.param.name; });

TEST(Ppdev, RealErrorPathsWithoutHardware) {
    ports::PpdevPort missing("/dev/parport-none-such");
    EXPECT_THROW(
        {
            try {
                missing.InportW(0x379);
            } catch (const bus::PortError& e) {
                EXPECT_STREQ(e.what(),
                             "ppdev /dev/parport-none-such: open: No such file or directory (load the parport_pc and "
                             "ppdev modules)");
                throw;
            }
        },
        bus::PortError);
    ports::PpdevPort notAPort("/dev/null");
    try {
        notAPort.OutportW(0x378, 0x13);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(), "ppdev /dev/null: PPEXCL: Inappropriate ioctl for device (not a parallel port device)");
    }
}

TEST(Ppdev, OtherAddressesAreErrorsAndTouchNothing) {
    std::vector<std::string> calls;
    ports::PpdevPort port("/dev/parport0", std::make_unique<FakePpdev>(&calls));
    try {
        port.OutportW(0x37A, 0x04);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(), "ppdev /dev/parport0: cannot write 0x37a (only 0x378 is written and 0x379 read)");
    }
    EXPECT_THROW(port.InportW(0x378), bus::PortError);
    EXPECT_TRUE(calls.empty());
}

TEST(Ppdev, AFailedWriteIsReportedWithItsIoctl) {
    std::vector<std::string> calls;
    auto system = std::make_unique<FakePpdev>(&calls);
    system->failures["PPWDATA"] = -EIO;
    ports::PpdevPort port("/dev/parport0", std::move(system));
    try {
        port.OutportW(0x378, 0x13);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(), "ppdev /dev/parport0: PPWDATA: Input/output error");
    }
}

// --- io ---

struct FakeIo final : ports::IoSystem {
    std::vector<std::string>* calls;
    int permResult = 0;
    explicit FakeIo(std::vector<std::string>* log) : calls(log) {}
    int ioperm(unsigned long from, unsigned long count, bool enable) override {
        calls->push_back("ioperm " + std::to_string(from) + " " + std::to_string(count) + (enable ? " on" : " off"));
        return permResult;
    }
    void outb(std::uint8_t value, std::uint16_t port) override {
        calls->push_back("outb " + std::to_string(value) + " " + std::to_string(port));
    }
    std::uint8_t inb(std::uint16_t port) override {
        calls->push_back("inb " + std::to_string(port));
        return 0x80;
    }
};

TEST(Io, MapsTheFixedAddressesOntoTheBase) {
    std::vector<std::string> calls;
    {
        ports::IoPort port(0x278, std::make_unique<FakeIo>(&calls));
        EXPECT_TRUE(calls.empty());
        port.OutportW(0x378, 0xF3);
        EXPECT_EQ(port.InportW(0x379), 0x80);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"ioperm 632 2 on", "outb 243 632", "inb 633", "ioperm 632 2 off"}));
}

struct IoFailure {
    std::string name;
    int error;
    std::string message;
};

class IoErrors : public testing::TestWithParam<IoFailure> {};

TEST_P(IoErrors, SayWhatTheSystemRefusedAndWhatToDo) {
    std::vector<std::string> calls;
    auto system = std::make_unique<FakeIo>(&calls);
    system->permResult = -GetParam().error;
    ports::IoPort port(0x378, std::move(system));
    try {
        port.OutportW(0x378, 0x13);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_EQ(e.what(), GetParam().message);
        EXPECT_EQ(e.code(), GetParam().error);
    }
    EXPECT_EQ(calls, std::vector<std::string>{"ioperm 888 2 on"});
    EXPECT_THROW(port.OutportW(0x379, 0), bus::PortError);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, IoErrors,
    testing::Values(
        IoFailure{"not_root", EPERM, "io 0x378: ioperm: Operation not permitted (run as root, or grant CAP_SYS_RAWIO)"},
        IoFailure{"denied", EACCES, "io 0x378: ioperm: Permission denied (run as root, or grant CAP_SYS_RAWIO)"},
        IoFailure{"not_allowed_here", ENOSYS,
                  "io 0x378: ioperm: Function not implemented (this system does not allow direct port I/O here; use "
                  "ppdev)"},
        IoFailure{"other_error_no_hint", EINVAL, "io 0x378: ioperm: Invalid argument"}),
    [](const testing::TestParamInfo<IoFailure>& row) { return row.param.name; });

// --- lib ---

// Counts what the port asks of the real loader.
struct CountingLoader final : ports::Loader {
    std::unique_ptr<ports::Loader> real = platform::systemLoader();
    int* opens;
    std::map<std::string, int>* lookups;
    CountingLoader(int* o, std::map<std::string, int>* l) : opens(o), lookups(l) {}
    void* open(const std::string& path) override {
        ++*opens;
        return real->open(path);
    }
    void* symbol(void* handle, const char* name) override {
        ++(*lookups)[name];
        return real->symbol(handle, name);
    }
    void close(void* handle) override { real->close(handle); }
    std::string lastError() override { return real->lastError(); }
};

template <typename T>
T libraryFunction(const char* path, const char* name) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return nullptr;
    auto function = reinterpret_cast<T>(dlsym(handle, name));
    dlclose(handle);
    return function;
}

TEST(Lib, LoadsAtTheFirstCallAndBindsEachFunctionOnce) {
    int opens = 0;
    std::map<std::string, int> lookups;
    ports::LibPort port(FAKE_PORT_LIBRARY, std::make_unique<CountingLoader>(&opens, &lookups));
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(dlopen(FAKE_PORT_LIBRARY, RTLD_NOW | RTLD_NOLOAD), nullptr);
    for (std::uint16_t v : {std::uint16_t{0x13}, std::uint16_t{0x12}, std::uint16_t{0x10}}) port.OutportW(0x378, v);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(lookups, (std::map<std::string, int>{{"OutportW", 1}}));
    EXPECT_EQ(port.InportW(0x379), 0x7F);
    EXPECT_EQ(port.InportW(0x379), 0x7F);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(lookups, (std::map<std::string, int>{{"OutportW", 1}, {"InportW", 1}}));
    auto outCalls = libraryFunction<int (*)()>(FAKE_PORT_LIBRARY, "fake_out_calls");
    auto lastValue = libraryFunction<int (*)()>(FAKE_PORT_LIBRARY, "fake_last_value");
    auto lastPort = libraryFunction<int (*)()>(FAKE_PORT_LIBRARY, "fake_last_port");
    ASSERT_NE(outCalls, nullptr);
    EXPECT_EQ(outCalls(), 3);
    EXPECT_EQ(lastValue(), 0x10);
    EXPECT_EQ(lastPort(), 0x379);
}

// A card at other addresses: the programs' data and status registers reach
// base and base + 1, and the port is named and locked apart from the default's.
TEST(Lib, BaseMovesBothRegistersToTheCard) {
    const auto opened = ports::openPort(std::string("lib:path=") + FAKE_PORT_LIBRARY + ",base=0xd010");
    EXPECT_EQ(opened.label, std::string("lib ") + FAKE_PORT_LIBRARY + " at 0xd010");
    EXPECT_NE(opened.lockKey, ports::openPort(std::string("lib:path=") + FAKE_PORT_LIBRARY).lockKey);
    opened.port->OutportW(0x378, 0x13);
    auto lastPort = libraryFunction<int (*)()>(FAKE_PORT_LIBRARY, "fake_last_port");
    ASSERT_NE(lastPort, nullptr);
    EXPECT_EQ(static_cast<std::uint16_t>(lastPort()), 0xd010);  // a short, as the interface passes it
    EXPECT_EQ(opened.port->InportW(0x379), 0x7F);
    EXPECT_EQ(static_cast<std::uint16_t>(lastPort()), 0xd011);
}

TEST(Lib, ALibraryWithoutInportWServesWritesAndFailsAtTheFirstRead) {
    ports::LibPort port(FAKE_PORT_LIBRARY_OUT_ONLY);
    port.OutportW(0x378, 0xF3);
    try {
        port.InportW(0x379);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        const std::string prefix = std::string("lib ") + FAKE_PORT_LIBRARY_OUT_ONLY + ": exports neither InportW nor Inp32: ";
        EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
        EXPECT_NE(std::string(e.what()).find("undefined symbol: Inp32"), std::string::npos) << e.what();
    }
    port.OutportW(0x378, 0xF2);  // writes still work
}

TEST(Lib, AMissingLibraryIsReportedAtTheFirstCall) {
    ports::LibPort port("/nonexistent/libntport.so");
    try {
        port.OutportW(0x378, 0x13);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(),
                     "lib /nonexistent/libntport.so: cannot load: /nonexistent/libntport.so: cannot open shared "
                     "object file: No such file or directory");
    }
}

}  // namespace
