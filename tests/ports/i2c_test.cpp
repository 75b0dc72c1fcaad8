// The i2c backend through its system-call seam: the kernel calls each action
// makes on an adapter with plain I2C transfers and on an SMBus-only one, and the
// errors an operator sees.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "ports/i2c_port.h"
#include "refusal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <cerrno>
#include <cstdio>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Records each call as text and answers reads with `answer`.
struct FakeAdapter final : ports::DeviceSystem {
    std::vector<std::string>* calls;
    unsigned long functions;
    std::uint8_t answer = 0xC8;
    int openError = 0;
    int transferError = 0;  // returned by the transfer numbered failAt (1-based)
    int failAt = 0;
    int transfers = 0;
    int address = -1;

    FakeAdapter(std::vector<std::string>* c, unsigned long f) : calls(c), functions(f) {}

    static std::string bytes(const std::uint8_t* data, std::size_t n) {
        std::string text;
        char hex[4];
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(hex, sizeof hex, " %02x", data[i]);
            text += hex;
        }
        return text;
    }
    int open(const std::string& path) override {
        calls->push_back("open " + path);
        return openError != 0 ? -openError : 7;
    }
    int ioctl(int, unsigned long request, void* argument) override {
        char text[64];
        if (request == I2C_FUNCS) {
            *static_cast<unsigned long*>(argument) = functions;
            calls->push_back("I2C_FUNCS");
            return 0;
        }
        if (request == I2C_SLAVE) {
            address = static_cast<int>(reinterpret_cast<unsigned long>(argument));
            std::snprintf(text, sizeof text, "I2C_SLAVE 0x%02x", address);
            calls->push_back(text);
            return 0;
        }
        const bool fail = ++transfers == failAt;
        if (request == I2C_RDWR) {
            auto* data = static_cast<i2c_rdwr_ioctl_data*>(argument);
            const i2c_msg& m = data->msgs[0];
            const bool read = (m.flags & I2C_M_RD) != 0;
            std::snprintf(text, sizeof text, "I2C_RDWR %s 0x%02x", read ? "read" : "write", m.addr);
            calls->push_back(text + (read ? " " + std::to_string(m.len) : bytes(m.buf, m.len)));
            if (fail) return -transferError;
            if (read) m.buf[0] = answer;
            return 1;
        }
        if (request == I2C_SMBUS) {
            auto* data = static_cast<i2c_smbus_ioctl_data*>(argument);
            std::string what;
            if (data->read_write == I2C_SMBUS_READ) {
                what = "receive byte";
                if (!fail) data->data->byte = answer;
            } else if (data->size == I2C_SMBUS_BYTE) {
                what = "send byte" + bytes(&data->command, 1);
            } else {
                const std::uint8_t pair[2] = {data->command, data->data->byte};
                what = "write byte data" + bytes(pair, 2);
            }
            std::snprintf(text, sizeof text, "I2C_SMBUS 0x%02x ", address);
            calls->push_back(text + what);
            return fail ? -transferError : 0;
        }
        return -ENOTTY;
    }
    void close(int) override { calls->push_back("close"); }
    std::string deviceName(const std::string&) override { return "Fake Bridge on hidraw3"; }
};

constexpr unsigned long kPlainI2c = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
constexpr unsigned long kSmbusOnly = I2C_FUNC_SMBUS_WRITE_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE |
                                     I2C_FUNC_SMBUS_READ_BYTE;  // as i2c-stub offers

struct Row {
    std::string name;
    const commands::Descriptor* program;
    unsigned long functions;
    std::vector<std::string> actions;
    std::vector<std::string> calls;  // after open and I2C_FUNCS
    std::string read;                // txtSDA_Data afterwards
};

class KernelCalls : public testing::TestWithParam<Row> {};

TEST_P(KernelCalls, AreExactlyTheFramesTheHandlersSend) {
    const Row& row = GetParam();
    std::vector<std::string> calls;
    auto port = ports::i2cPort("/dev/i2c-1", std::make_unique<FakeAdapter>(&calls, row.functions));
    auto program = row.program->make(*port);
    for (const auto& action : script::parseActions(row.actions, *row.program)) script::runAction(action, *program);
    std::vector<std::string> expected{"open /dev/i2c-1", "I2C_FUNCS"};
    expected.insert(expected.end(), row.calls.begin(), row.calls.end());
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(program->controls().txtSDA_Data.Text(), row.read);
}

const commands::Descriptor* const A = &commands::kDescriptorA;
const commands::Descriptor* const B = &commands::kDescriptorB;

INSTANTIATE_TEST_SUITE_P(
    Actions, KernelCalls,
    testing::Values(
        Row{"B_code_entry_channel_1", B, kPlainI2c, {"code1=200"}, {"I2C_RDWR write 0x2c 00 c8"}, ""},
        Row{"B_code_entry_channel_2", B, kPlainI2c, {"code2=200"}, {"I2C_RDWR write 0x2c 80 c8"}, ""},
        Row{"B_code_entry_smbus", B, kSmbusOnly, {"code2=200"},
            {"I2C_SLAVE 0x2c", "I2C_SMBUS 0x2c write byte data 80 c8"}, ""},
        // Program A's frame gives its data byte no ninth clock: the complete byte goes all the same.
        Row{"A_code_entry_reads_back", A, kPlainI2c, {"code1=7"},
            {"I2C_RDWR write 0x2c 00 07", "I2C_RDWR read 0x2c 1"}, "200"},
        Row{"A_code_entry_reads_back_smbus", A, kSmbusOnly, {"code2=255"},
            {"I2C_SLAVE 0x2c", "I2C_SMBUS 0x2c write byte data 80 ff", "I2C_SMBUS 0x2c receive byte"}, "200"},
        Row{"A_preset_writes_twice", A, kPlainI2c, {"code1=5", "full"},
            {"I2C_RDWR write 0x2c 00 05", "I2C_RDWR read 0x2c 1", "I2C_RDWR write 0x2c 00 ff", "I2C_RDWR read 0x2c 1",
             "I2C_RDWR write 0x2c 00 ff", "I2C_RDWR read 0x2c 1"},
            "200"},
        Row{"B_preset_writes_twice_smbus", B, kSmbusOnly, {"code1=5", "mid"},
            {"I2C_SLAVE 0x2c", "I2C_SMBUS 0x2c write byte data 00 05", "I2C_SMBUS 0x2c write byte data 00 80",
             "I2C_SMBUS 0x2c write byte data 00 80"},
            ""},
        // The address is whatever the panel holds.
        Row{"B_hand_set_panel_another_address", B, kPlainI2c, {"bit:22=1", "bit:3=1", "run"},
            {"I2C_RDWR write 0x04 00 04"}, ""},
        Row{"B_hand_set_panel_another_address_smbus", B, kSmbusOnly, {"bit:22=1", "run"},
            {"I2C_SLAVE 0x04", "I2C_SMBUS 0x04 write byte data 00 00"}, ""},
        Row{"B_read_writes_then_reads", B, kPlainI2c, {"ch2", "read"},
            {"I2C_RDWR write 0x00 80 00", "I2C_RDWR read 0x2c 1"}, "200"},
        Row{"B_get_reads_only", B, kSmbusOnly, {"get"}, {"I2C_SLAVE 0x2c", "I2C_SMBUS 0x2c receive byte"}, "200"},
        Row{"A_read", A, kPlainI2c, {"read"}, {"I2C_RDWR read 0x2c 1"}, "200"}),
    [](const testing::TestParamInfo<Row>& row) { return row.param.name; });

struct Failure {
    std::string name;
    unsigned long functions;
    int openError;
    int failAt;  // transfer number
    int error;
    std::vector<std::string> actions;
    std::string message;
};

class I2cErrors : public testing::TestWithParam<Failure> {};

TEST_P(I2cErrors, SayWhatWentWrongAndWhere) {
    const Failure& row = GetParam();
    std::vector<std::string> calls;
    auto adapter = std::make_unique<FakeAdapter>(&calls, row.functions);
    adapter->openError = row.openError;
    adapter->failAt = row.failAt;
    adapter->transferError = row.error;
    auto port = ports::i2cPort("/dev/i2c-1", std::move(adapter));
    auto program = commands::kDescriptorB.make(*port);
    try {
        for (const auto& action : script::parseActions(row.actions, commands::kDescriptorB)) script::runAction(action, *program);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_EQ(e.what(), row.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, I2cErrors,
    testing::Values(
        Failure{"nack_at_the_address", kPlainI2c, 0, 1, ENXIO, {"code1=1"}, "i2c /dev/i2c-1: no device answered at 0x2c"},
        Failure{"nack_in_the_middle", kPlainI2c, 0, 1, EREMOTEIO, {"code1=1"},
                "i2c /dev/i2c-1: no device answered at 0x2c"},
        Failure{"smbus_no_chip_at_the_address", kSmbusOnly, 0, 1, ENODEV, {"code1=1"},
                "i2c /dev/i2c-1: no device answered at 0x2c"},
        // hid-cp2112's word for it (seen on a 6.1 kernel).
        Failure{"nack_as_a_cp2112_says_it", kPlainI2c, 0, 1, ETIMEDOUT, {"code1=1"},
                "i2c /dev/i2c-1: no device answered at 0x2c"},
        Failure{"smbus_nack_on_the_read", kSmbusOnly, 0, 2, EIO, {"code1=1", "get"},
                "i2c /dev/i2c-1: no device answered at 0x2c"},
        Failure{"no_adapter_file", kPlainI2c, ENOENT, 0, 0, {"code1=1"},
                "i2c /dev/i2c-1: open: No such file or directory (load the i2c-dev module; i2cdetect -l lists the "
                "adapters)"},
        Failure{"permission_denied", kPlainI2c, EACCES, 0, 0, {"code1=1"},
                "i2c /dev/i2c-1: open: Permission denied (add your user to the i2c group, then log in again)"},
        Failure{"adapter_without_the_smbus_write", I2C_FUNC_SMBUS_READ_BYTE, 0, 0, 0, {"code1=1"},
                "i2c /dev/i2c-1: cannot write 2 bytes to 0x2c: the adapter offers no plain I2C transfers, and not the "
                "SMBus transfer that would"},
        Failure{"shutdown_has_no_pin", kPlainI2c, 0, 0, 0, {"shdn"},
                "i2c /dev/i2c-1: cannot drive /SHDN: it is D4 of a parallel port, which an I2C adapter does not "
                "have"}),
    [](const testing::TestParamInfo<Failure>& row) { return row.param.name; });

TEST(I2c, AFailedOpenIsTriedAgainAtTheNextAccess) {
    std::vector<std::string> calls;
    auto adapter = std::make_unique<FakeAdapter>(&calls, kPlainI2c);
    FakeAdapter& fake = *adapter;
    fake.openError = ENOENT;
    auto port = ports::i2cPort("/dev/i2c-1", std::move(adapter));
    auto program = commands::kDescriptorB.make(*port);
    EXPECT_THROW(program->controls().vsbInputCode1.setValue(3), bus::PortError);
    fake.openError = 0;
    program->cmdRun_Click();
    EXPECT_EQ(calls, (std::vector<std::string>{"open /dev/i2c-1", "open /dev/i2c-1", "I2C_FUNCS",
                                                "I2C_RDWR write 0x2c 00 03"}));
}

// Bus 0 is often a graphics card's or the chipset's: nothing picks a bus the
// user did not name (before, "i2c" alone opened /dev/i2c-0).
TEST(I2c, TheBusMustBeNamedAndTheAdaptersAreListed) {
    const std::string sys = testing::TempDir() + "px77xx_i2c_sysfs";
    std::filesystem::remove_all(sys);
    for (const auto& [entry, name] : std::vector<std::pair<std::string, std::string>>{
             {"i2c-10", "CP2112 SMBus Bridge on hidraw0"}, {"i2c-2", "SMBus I801 adapter at f000"}, {"2-0050", ""}}) {
        std::filesystem::create_directories(sys + "/" + entry);
        std::ofstream(sys + "/" + entry + "/name") << name << "\n";
    }
    EXPECT_EQ(ports::i2cAdapters(sys),
              (std::vector<std::string>{"i2c-2 (SMBus I801 adapter at f000)", "i2c-10 (CP2112 SMBus Bridge on hidraw0)"}));
    EXPECT_EQ(ports::i2cAdapters(sys + "/none"), std::vector<std::string>{});
    const std::string refusal = testing_support::refusal([] { ports::openPort("i2c"); });
    EXPECT_EQ(refusal.rfind("i2c: name the adapter with bus=N or dev=/dev/i2c-N (as i2cdetect -l lists them); ", 0), 0U)
        << refusal;
}

TEST(I2c, PortStrings) {
    EXPECT_EQ(ports::openPort("i2c:bus=3").label, "i2c /dev/i2c-3");
    EXPECT_EQ(ports::openPort("i2c:dev=/dev/i2c-7").label, "i2c /dev/i2c-7");
    for (const auto& [spec, message] : std::vector<std::pair<std::string, std::string>>{
             {"i2c:delay=20", "i2c: i2c transfers are timed by the adapter; delay= does not apply; i2c accepts dev, "
                              "bus"},
             {"i2c:bus=1,dev=/dev/i2c-1", "i2c: bus=1 goes with dev; bus accepts either dev=/dev/i2c-N or bus=N, not both"},
             {"i2c:bus=x", "i2c: bus=x is not a number; bus accepts an adapter number 0..1023, as i2cdetect -l lists it"},
             {"i2c:speed=1", "i2c: unknown key 'speed'; i2c accepts dev, bus"}}) {
        EXPECT_EQ(testing_support::refusal([&] { ports::openPort(spec); }), message) << spec;
    }
}

}  // namespace

namespace {

// The adapter carries a transaction whole or not at all: a frame whose transfer
// fails was not sent, whatever the port had taken of it. (Found on a real
// kernel: the first cut said "cut short after 58 of 59 writes".)
TEST(I2c, AFailedTransferIsReportedAsNotSentOrAsTheReadBack) {
    struct Case {
        const commands::Descriptor* program;
        std::string action;
        int failAt;
        std::string report;
    };
    for (const Case& row : std::vector<Case>{
             {&commands::kDescriptorB, "code1=1", 1, "not sent"},
             {&commands::kDescriptorA, "code1=1", 1, "not sent"},
             {&commands::kDescriptorA, "code1=1", 2, "written; read-back failed"},
             {&commands::kDescriptorB, "get", 1, "not sent"},
         }) {
        std::vector<std::string> calls;
        auto adapter = std::make_unique<FakeAdapter>(&calls, kPlainI2c);
        adapter->failAt = row.failAt;
        adapter->transferError = ENXIO;
        auto port = ports::i2cPort("/dev/i2c-1", std::move(adapter));
        auto program = row.program->make(*port);
        std::ostringstream out, err;
        script::Runner runner(*program, out, err, false);
        EXPECT_FALSE(runner.run(script::parseActions({row.action}, *row.program).front()));
        EXPECT_EQ(err.str(), "pxctl: " + row.action + ": " + row.report +
                                 ": i2c /dev/i2c-1: no device answered at 0x2c (action 1; 0 ran before it)\n")
            << row.action;
    }
}

}  // namespace

namespace {

// Which adapter, and which path the frames take, once the adapter is open: in
// every JSON object.
TEST(I2c, JsonNamesTheAdapterAndThePath) {
    for (const auto& [functions, path] : std::vector<std::pair<unsigned long, std::string>>{
             {kPlainI2c, "plain I2C"}, {kSmbusOnly, "SMBus"}}) {
        std::vector<std::string> calls;
        ports::I2cLines* lines = nullptr;
        auto port = ports::i2cPort("/dev/i2c-1", std::make_unique<FakeAdapter>(&calls, functions), &lines);
        EXPECT_EQ(lines->details(), std::nullopt);  // nothing is opened before the first access
        auto program = commands::kDescriptorB.make(*port);
        std::ostringstream out, err;
        script::Runner runner(*program, out, err, true);
        runner.setPortDetails([lines] { return lines->details(); });
        EXPECT_TRUE(runner.run(script::parseActions({"get"}, commands::kDescriptorB).front())) << err.str();
        EXPECT_NE(out.str().find(",\"adapter\":\"Fake Bridge on hidraw3\",\"transfers\":\"" + path + "\"}\n"),
                  std::string::npos)
            << out.str();
    }
}

}  // namespace
