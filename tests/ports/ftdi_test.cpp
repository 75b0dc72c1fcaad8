// The ftdi backend through its libftdi seam, with an MPSSE engine and the
// simulated device on its pins: the pin changes each session makes against
// those the gpio backend's split rule gives, the USB transfers each frame
// costs, what a failure says reached the pins, and the messages.
#include "commands/descriptor.h"
#include "line_sessions.h"
#include "mpsse_engine.h"
#include "ports/factory.h"
#include "ports/ftdi_port.h"
#include "refusal.h"
#include "script/actions.h"
#include "script/executor.h"
#include "sim/board.h"
#include "table.h"

#include <gtest/gtest.h>

#include <functional>

#include <string>
#include <vector>

namespace {

using testing_support::portFailure;
using testing_support::run;
using testing_support::Session;
using testing_support::SplitLines;
using testing_support::state;
using testing_support::States;

// A chip as libftdi would reach it: each write runs through the engine, each
// read hands out what the engine answered, a byte at a time at most `chunk`.
struct FakeFtdi final : ports::FtdiSystem {
    sim::Device device;
    support::MpsseEngine engine;
    States* states;
    ports::FtdiOpen opened;
    std::vector<ports::FtdiDevice> attached;
    std::vector<std::uint8_t> answer;
    int writes = 0;
    int reads = 0;
    int failWrite = 0;  // the nth write fails (1-based); 0: none
    bool emptyReads = true;  // the first poll of every read comes back empty, as a chip's may
    std::vector<std::uint8_t> echo;  // what answers the echo check instead of the engine

    FakeFtdi(States* s, std::string chip, support::MpsseEngine::Pins pins, bool withDevice = true)
        : device(withDevice), engine(device, pins, [s](bool scl, bool sda, bool shdn) { s->push_back(state(scl, sda, shdn)); }),
          states(s) {
        opened.kind = ports::FtdiOpen::Kind::Opened;
        opened.device = {"d:001/002", "/dev/bus/usb/001/002", 0x0403, 0x6014, std::move(chip), "FT1ABC", "C232HM-DDHSL-0"};
        attached = {opened.device};
    }
    ports::FtdiOpen open(const std::string&, char) override { return opened; }
    std::vector<ports::FtdiDevice> devices() override { return attached; }
    int write(const std::uint8_t* data, int size) override {
        if (++writes == failWrite) return -1;
        if (size == 1 && data[0] == 0xAA && !echo.empty()) {
            answer = echo;
            return size;
        }
        engine.run(data, static_cast<std::size_t>(size), answer);
        return size;
    }
    int read(std::uint8_t* data, int size) override {
        ++reads;
        if (emptyReads && reads % 2 == 1) return 0;
        const int n = std::min(size, static_cast<int>(answer.size()));
        std::copy_n(answer.begin(), n, data);
        answer.erase(answer.begin(), answer.begin() + n);
        return n;
    }
    std::string error() override { return "usb bulk write failed"; }
    void close() override {}
    bool validSelector(const std::string&) const override { return true; }
    std::string sought(const std::string& selector) const override { return ports::ftdiSystem()->sought(selector); }
};

struct Wired {
    States states;
    FakeFtdi* fake = nullptr;
    std::unique_ptr<bus::Port> port;
    Wired(std::string chip, support::MpsseEngine::Pins pins = {0, 1, 2, 3}, bool withDevice = true) {
        ports::FtdiWiring wiring{"i:0x0403:0x6014", 'A', {pins.scl, pins.sda, pins.sdaIn, pins.shdn, false}};
        auto system = std::make_unique<FakeFtdi>(&states, std::move(chip), pins, withDevice);
        fake = system.get();
        port = std::make_unique<bus::LinePort>("ftdi", std::make_unique<ports::FtdiLines>(wiring, std::move(system)));
    }
};

struct SessionRow {
    std::string name;
    const commands::Descriptor* program;
    std::string chip;
    support::MpsseEngine::Pins pins;
    std::string words;
};

class Sessions : public testing::TestWithParam<SessionRow> {};

TEST_P(Sessions, PinsFollowTheSplitRuleAndReadsMatchTheBoard) {
    const SessionRow& row = GetParam();
    Wired ftdi(row.chip, row.pins);
    States expected;
    bus::LinePort reference("split", std::make_unique<SplitLines>(&expected));
    const Session got = run(*ftdi.port, *row.program, row.words);
    const Session want = run(reference, *row.program, row.words);
    EXPECT_EQ(got.reads, want.reads);
    EXPECT_TRUE(got.errors.empty()) << got.errors.front();
    EXPECT_EQ(ftdi.states, expected);
    EXPECT_EQ(ftdi.fake->engine.badCommands(), 1);  // the echo check at open, and no other
    EXPECT_EQ(ftdi.fake->engine.drivenHigh(), 0) << "a pin drove SCL or SDA high";
}

const support::MpsseEngine::Pins kCommon{0, 1, 2, 3};
const support::MpsseEngine::Pins kOnePin{4, 5, 5, 7};

INSTANTIATE_TEST_SUITE_P(
    Ftdi, Sessions,
    testing::Values(
        SessionRow{"b_ft232h", &commands::kDescriptorB, "FT232H", kCommon, "set 1 77 set 2 200 read shdn code1=5 mid"},
        SessionRow{"b_ft2232h_open_drain_by_direction", &commands::kDescriptorB, "FT2232H", kCommon,
                   "set 1 77 set 2 200 read shdn code1=5 mid"},
        SessionRow{"a_ft232h", &commands::kDescriptorA, "FT232H", kCommon, "set 1 77 mid ch2 full get"},
        SessionRow{"a_ft4232h_one_pin_sda", &commands::kDescriptorA, "FT4232H", kOnePin, "set 1 77 mid ch2 full get"},
        SessionRow{"b_bits_and_recover", &commands::kDescriptorB, "FT232H", kCommon, "bit:3=1 run recover get"}),
    testing_support::RowName());

// One USB write per write frame; a read-back, one round trip per bit it samples.
TEST(Ftdi, TransfersPerFrame) {
    struct Row {
        const commands::Descriptor* program;
        std::string words;
        bool checkAck;
        int writes;
        int answers;
    };
    for (const Row& row : {Row{&commands::kDescriptorB, "set 2 200", false, 1, 0},
                           // the frame, then the read-back: 8 samples, then the stop
                           Row{&commands::kDescriptorB, "read", false, 1 + 9, 8},
                           Row{&commands::kDescriptorA, "set 1 5", false, 1 + 9, 8},
                           // the idle bus and three acknowledge slots checked
                           Row{&commands::kDescriptorB, "set 2 200", true, 4 + 1, 4}}) {
        Wired ftdi("FT232H");
        ftdi.port->OutportW(0x378, 0x13);  // opens: the echo check and the setup
        const int openWrites = ftdi.fake->writes;
        const int openReads = ftdi.fake->reads;
        ftdi.fake->emptyReads = false;
        run(*ftdi.port, *row.program, row.words, row.checkAck);
        EXPECT_EQ(ftdi.fake->writes - openWrites, row.writes) << row.words;
        EXPECT_EQ(ftdi.fake->reads - openReads, row.answers) << row.words;
    }
}

TEST(Ftdi, WriteFrameIsOneBatchOf0x80Commands) {
    Wired ftdi("FT232H");
    run(*ftdi.port, commands::kDescriptorB, "set 2 200");
    // The FT232H opens with drive-zero on SCL and SDA: nothing drives them high.
    Wired plain("FT2232H");
    run(*plain.port, commands::kDescriptorB, "set 2 200");
    EXPECT_EQ(ftdi.states, plain.states);
}

// What a failed USB write says reached the pins, by which write of the
// session fails.
TEST(Ftdi, FailuresSayWhatReachedThePins) {
    struct Row {
        const commands::Descriptor* program;
        std::string words;
        int failAt;
        std::string error;
        bool checkAck = false;
    };
    const std::string unplugged = "ftdi i:0x0403:0x6014: USB write of ";
    for (const Row& row : {
             Row{&commands::kDescriptorB, "set 2 200", 1, "set 2 200: not sent: " + unplugged + "204 bytes failed: usb bulk write failed (was the FT232H unplugged?)"},
             Row{&commands::kDescriptorB, "set 2 200 set 2 9", 2, "set 2 9: not sent: " + unplugged},
             Row{&commands::kDescriptorA, "set 1 5", 2, "set 1 5: written; read-back failed: " + unplugged},
             Row{&commands::kDescriptorB, "read", 1, "read: not sent: " + unplugged},
             Row{&commands::kDescriptorB, "read", 3, "read: written; read-back failed: " + unplugged},
             // with the acknowledge check, a frame goes in batches: what the first two carried reached the pins
             Row{&commands::kDescriptorB, "set 2 200", 3, "set 2 200: cut short after 20 of 59 writes: " + unplugged, true},
         }) {
        Wired ftdi("FT232H");
        ftdi.port->OutportW(0x378, 0x13);  // opens
        ftdi.fake->failWrite = ftdi.fake->writes + row.failAt;
        const Session s = run(*ftdi.port, *row.program, row.words, row.checkAck);
        ASSERT_EQ(s.errors.size(), 1U) << row.words;
        EXPECT_EQ(s.errors[0].substr(0, row.error.size()), row.error) << row.words;
    }
}

TEST(Ftdi, NoDeviceAnsweredWithTheAcknowledgeCheck) {
    Wired ftdi("FT232H", kCommon, false);
    const Session s = run(*ftdi.port, commands::kDescriptorB, "set 1 5", true);
    ASSERT_EQ(s.errors.size(), 1U);
    EXPECT_EQ(s.errors[0], "set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c");
}

struct OpenRow {
    std::string name;
    std::function<void(FakeFtdi&)> arrange;
    std::string message;
};

class OpenErrors : public testing::TestWithParam<OpenRow> {};

TEST_P(OpenErrors, SayWhatIsWrong) {
    Wired ftdi("FT232H");
    GetParam().arrange(*ftdi.fake);
    EXPECT_EQ(portFailure([&] { ftdi.port->OutportW(0x378, 0x12); }), GetParam().message);
}

using Kind = ports::FtdiOpen::Kind;
INSTANTIATE_TEST_SUITE_P(
    Ftdi, OpenErrors,
    testing::Values(
        OpenRow{"no_match_lists_what_is_here", [](FakeFtdi& f) { f.opened.kind = Kind::NoMatch; f.attached[0].product = 0x6010; f.attached[0].chip = "FT2232H"; },
                "ftdi i:0x0403:0x6014: no FT232H matches i:0x0403:0x6014; `lsusb` lists USB devices; FTDI devices here: "
                "d:001/002 0403:6010 FT2232H \"C232HM-DDHSL-0\" serial FT1ABC"},
        OpenRow{"none_attached", [](FakeFtdi& f) { f.opened.kind = Kind::NoMatch; f.attached.clear(); },
                "ftdi i:0x0403:0x6014: no FT232H matches i:0x0403:0x6014; `lsusb` lists USB devices; no FTDI device is attached"},
        OpenRow{"permission", [](FakeFtdi& f) { f.opened.kind = Kind::NoPermission; f.opened.text = "/dev/bus/usb/001/002"; },
                "ftdi i:0x0403:0x6014: open /dev/bus/usb/001/002 (FT232H at d:001/002): Permission denied (install "
                "px77xx-cli, whose udev rule gives the logged-in user FTDI devices, then unplug and replug it; or run as root)"},
        OpenRow{"kernel_driver", [](FakeFtdi& f) { f.opened.kind = Kind::Busy; f.opened.holder = "ftdi_sio"; },
                "ftdi i:0x0403:0x6014: interface A of the FT232H at d:001/002 is held by the kernel's ftdi_sio driver "
                "(unbind it, or rmmod ftdi_sio)"},
        OpenRow{"another_program", [](FakeFtdi& f) { f.opened.kind = Kind::Busy; },
                "ftdi i:0x0403:0x6014: interface A of the FT232H at d:001/002 is held by another program"},
        OpenRow{"no_mpsse_there", [](FakeFtdi& f) { f.opened.kind = Kind::BadInterface; },
                "ftdi i:0x0403:0x6014: the FT232H at d:001/002 has no MPSSE engine on interface A (it has A)"},
        OpenRow{"not_an_engine", [](FakeFtdi& f) { f.echo = {0x00, 0x00}; },
                "ftdi i:0x0403:0x6014: the FT232H at d:001/002 did not answer as an MPSSE engine on interface A"}),
    testing_support::RowName());

TEST(Ftdi, PortStrings) {
    const std::string forms = ports::kFtdiSelectorForms;
    EXPECT_EQ(ports::openPort("ftdi:dev=i:0403:6014,iface=A,scl=0,sda=1,sda_in=2,shdn=3").label,
              "ftdi i:0403:6014");
    for (const auto& [spec, message] : std::vector<std::pair<std::string, std::string>>{
             {"ftdi:dev=i:0403", "ftdi: dev=i:0403 is not a device libftdi can name; dev accepts " + forms},
             {"ftdi:dev=d:1/200", "ftdi: dev=d:1/200 is not a device libftdi can name; dev accepts " + forms},
             {"ftdi:dev=s:0403:6014", "ftdi: dev=s:0403:6014 is not a device libftdi can name; dev accepts " + forms},
             // A serial alone or an index, as detect lists them, is looked for among what is attached.
             {"ftdi:dev=s:FT1ABC", "ftdi: no FTDI device has serial FT1ABC; no FTDI device is attached (`lsusb` lists USB devices)"},
             {"ftdi:dev=1", "ftdi: no FTDI device is number 1; no FTDI device is attached (`lsusb` lists USB devices)"},
             {"ftdi:dev=i:0403:6014,iface=E", "ftdi: iface=E is not an interface; iface accepts A, B, C or D"},
             {"ftdi:dev=i:0403:6014,scl=8", "ftdi: scl=8 is out of range; scl accepts an ADBUS pin 0..7"},
             {"ftdi:dev=i:0403:6014,scl=1", "ftdi: scl=1 is the pin sda has; scl accepts a pin of its own"},
             {"ftdi:dev=i:0403:6014,sda_in=0", "ftdi: sda_in=0 is the pin scl has; sda_in accepts sda's pin or one tied to it"},
             {"ftdi:dev=i:0403:6014,shdn=2", "ftdi: shdn=2 is a pin scl, sda or sda_in has; shdn accepts a pin of its own"},
             {"ftdi:dev=i:0403:6014,delay=5", "ftdi: the FTDI chip sets the pins from each USB write at its own "
                                              "pace; delay= does not apply; ftdi accepts dev, iface, scl, sda, sda_in, "
                                              "shdn"}}) {
        EXPECT_EQ(testing_support::refusal([&] { ports::openPort(spec); }), message) << spec;
    }
}

TEST(Ftdi, ShutdownWithoutAPinForIt) {
    Wired ftdi("FT232H", {0, 1, 2, std::nullopt});
    EXPECT_EQ(portFailure([&] { ftdi.port->OutportW(0x378, 0xAF); }),
              "ftdi i:0x0403:0x6014: cannot drive /SHDN: no pin was given for it (shdn=N)");
    EXPECT_EQ(ftdi.fake->writes, 0);
}

}  // namespace
