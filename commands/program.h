// The program objects: each owns one window's controls, the two module values
// FrameWord and InputCode, and the port, and carries the operator handlers.
#pragma once

#include "bus/port.h"
#include "bus/transactions.h"
#include "controls/controls.h"
#include "frame/variant.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace commands {

// What reached the port during an operator action that failed.
struct Delivery {
    enum class Kind : std::uint8_t {
        NotSent,         // nothing
        ReadBackFailed,  // every write frame whole; a read-back after them failed
        CutShort,        // a frame, read-back or shutdown code left part-way
        Written,         // every write whole; the device did not take the last byte
    };
    Kind kind = Kind::NotSent;
    int writes = 0;  // CutShort: the writes of the cut transaction that reached the port
    int of = 0;      // CutShort: the writes it has
};

// "not sent", "written; read-back failed", "cut short after 17 of 59 writes",
// "written".
std::string describe(const Delivery& delivery);

// The same in two words, for a title or a field: "not sent", "read-back failed",
// "cut short", "not acknowledged".
std::string_view mark(const Delivery& delivery);

// What the two programs share: the channel buttons, Run, Exit and the wiring of
// the panel. Code entry, presets and read differ in algorithm and live in each
// program's own class.
class Program {
public:
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    virtual ~Program() = default;

    controls::Controls& controls() { return controls_; }
    const controls::Controls& controls() const { return controls_; }
    const frame::Variant& variant() const { return variant_; }
    std::uint32_t frameWord() const { return FrameWord; }
    int inputCode() const { return InputCode; }

    // Called by cmdExit_Click: the owner ends the program.
    void setExitHandler(std::function<void()> handler) { exit_ = std::move(handler); }

    // The acknowledge check (off unless asked for): every frame and read-back
    // releases SDA in the slots where the device acknowledges and samples it,
    // so that a device that is not there fails the action (bus::NoAcknowledge)
    // instead of going unnoticed, and a bus held low fails it as stuck
    // (bus::BusStuck). Program A's frame has no slot after its code, so there
    // the read-back after the frame must read the code written. The frames are
    // otherwise unchanged.
    void setCheckAck(bool on) { checkAck_ = on; }

    // The device's 7-bit address, for a chip strapped to another one than
    // 0x2c: code entry, the presets and the read-back put it in their address
    // bytes; frames are otherwise unchanged.
    static constexpr std::uint8_t kDefaultAddress = bus::kSlaveAddress;
    void setAddress(std::uint8_t address) { address_ = address; }
    std::uint8_t address() const { return address_; }

    // Frees a bus a device holds low: up to nine clocks, then a stop.
    bus::Recovery recover();

    void vsbInputCode1_Change() { enterCode(1); }
    void vsbInputCode2_Change() { enterCode(2); }
    void cmdCh1_Click() { selectChannel(1); }
    void cmdCh2_Click() { selectChannel(2); }
    void cmdZS_Click() { preset(0); }
    void cmdMS_Click() { preset(128); }
    void cmdFS_Click() { preset(255); }
    void cmdRun_Click();
    virtual void cmdRead_Click() = 0;
    void cmdExit_Click();

    // Clocks FrameWord out; program A follows it with a read-back.
    virtual void Read_Write_Bits_to_Parallel_Port() = 0;

    // The read-back transaction alone, filling the read row: program A's Read,
    // and program B's Read without the Run before it.
    virtual void readBack() = 0;

    // Port accesses that completed, so that a view can tell whether an action
    // reached the port.
    std::uint64_t portAccesses() const { return port_.accesses; }

    // An operator action begins; once it has failed with `error`, delivery()
    // says what of it reached the port.
    void beginAction();
    Delivery delivery(const bus::PortError& error) const;

    // How many read-backs have run, and the byte the last one read.
    int readBackCount() const { return readBacks_; }
    int lastRead() const { return lastRead_; }

protected:
    Program(const frame::Variant& variant, bus::Port& port);

    // The controls of one channel: its code scroll bar, its display and its digit.
    struct Channel {
        controls::ScrollBar& code;
        controls::TextBox& display;
        std::string_view digit;
    };
    Channel channel(int number);

    controls::ScrollBar& bit(int k) { return controls_.vsbBit[static_cast<std::size_t>(k)]; }
    controls::TextBox& bitText(int k) { return controls_.txtBit[static_cast<std::size_t>(k)]; }
    void showChannel(std::string_view digit);
    void writeFrame();
    // Program B's shutdown code: one write of its own.
    void writeShutdown();
    // Puts the read-back's address byte and acknowledge slot on the read row.
    void setReadAddress();
    std::uint8_t writeAddressByte() const { return static_cast<std::uint8_t>(address_ << 1); }
    bus::ReadAddress readBackAddress() const { return bus::readAddressOf(static_cast<std::uint8_t>(writeAddressByte() | 1)); }
    // The frame word of a code entry on a channel, before the code: the
    // address byte and the instruction byte.
    std::uint32_t channelWord(int channel) const;
    // Runs the read-back phase on the read row's address bits and counts it.
    int readFromDevice();
    // The nine address-phase bits of the read-back, as the read row holds them now.
    bus::ReadAddress readAddress();

    // The program's port, counting the accesses that complete.
    class CountedPort final : public bus::Port {
    public:
        explicit CountedPort(bus::Port& inner) : inner_(inner) {}
        void OutportW(std::uint16_t port, std::uint16_t value) override {
            inner_.OutportW(port, value);
            ++accesses;
            ++writes;
        }
        std::uint16_t InportW(std::uint16_t port) override {
            const std::uint16_t value = inner_.InportW(port);
            ++accesses;
            return value;
        }
        std::uint64_t accesses = 0;
        std::uint64_t writes = 0;

    private:
        bus::Port& inner_;
    };

    bool checkAck() const { return checkAck_; }

    const frame::Variant& variant_;
    controls::Controls controls_;
    CountedPort port_;
    std::uint32_t FrameWord = 0;
    int InputCode = 0;

private:
    // Where the programs differ in algorithm.
    virtual void enterCode(int channel) = 0;
    virtual void preset(int code) = 0;

    void selectChannel(int number);

    // The transaction under way, for delivery().
    struct Transfer {
        bool readBack = false;
        std::uint64_t firstAccess = 0;  // port_.accesses when it began
        std::uint64_t firstWrite = 0;   // port_.writes when it began
        int writes = 0;                 // the writes it has
    };
    void begin(bool readBack, int writes);

    std::function<void()> exit_;
    bool checkAck_ = false;
    std::uint8_t address_ = kDefaultAddress;
    std::uint64_t actionStart_ = 0;  // port_.accesses when the action began
    bool frameWhole_ = false;        // a write frame of this action went out whole
    Transfer transfer_;
    int readBacks_ = 0;
    int lastRead_ = 0;
};

// Program A, PX7700_02 RevA: 26-bit frames, every frame followed by a read-back.
class ProgramA final : public Program {
public:
    explicit ProgramA(bus::Port& port);

    void Form_Load() {}
    void cmdRead_Click() override { readBack(); }
    void Read_Write_Bits_to_Parallel_Port() override;
    void readBack() override;

private:
    void enterCode(int channel) override;
    void preset(int code) override;
};

// Program B, PX7702_RevA: 27-bit frames, read-back only on Read, and shutdown.
class ProgramB final : public Program {
public:
    explicit ProgramB(bus::Port& port);

    void cmdRead_Click() override;
    void cmdSHDN_Click();
    void Read_Write_Bits_to_Parallel_Port() override;
    void readBack() override;

private:
    void enterCode(int channel) override;
    void preset(int code) override;
};

}  // namespace commands
