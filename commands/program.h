// The program objects: each owns one window's controls, the two module values
// FrameWord and InputCode, and the port, and carries the operator handlers.
#pragma once

#include "bus/port.h"
#include "controls/controls.h"
#include "frame/variant.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace commands {

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

    virtual void vsbInputCode1_Change() = 0;
    virtual void vsbInputCode2_Change() = 0;
    void cmdCh1_Click() { selectChannel(1); }
    void cmdCh2_Click() { selectChannel(2); }
    virtual void cmdZS_Click() = 0;
    virtual void cmdMS_Click() = 0;
    virtual void cmdFS_Click() = 0;
    void cmdRun_Click();
    virtual void cmdRead_Click() = 0;
    void cmdExit_Click();

    // Clocks FrameWord out; program A follows it with a read-back.
    virtual void Read_Write_Bits_to_Parallel_Port() = 0;

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
    // The nine address-phase bits of the read-back, as the read row holds them now.
    bus::ReadAddress readAddress();

    const frame::Variant& variant_;
    controls::Controls controls_;
    bus::Port& port_;
    std::uint32_t FrameWord = 0;
    int InputCode = 0;

private:
    void selectChannel(int number);
    std::function<void()> exit_;
};

// Program A, PX7700_02 RevA: 26-bit frames, every frame followed by a read-back.
class ProgramA final : public Program {
public:
    explicit ProgramA(bus::Port& port);

    void Form_Load() {}
    void vsbInputCode1_Change() override { enterCode(1); }
    void vsbInputCode2_Change() override { enterCode(2); }
    void cmdZS_Click() override { preset(0); }
    void cmdMS_Click() override { preset(128); }
    void cmdFS_Click() override { preset(255); }
    void cmdRead_Click() override;
    void Read_Write_Bits_to_Parallel_Port() override;

private:
    void enterCode(int channel);
    void preset(int code);
};

// Program B, PX7702_RevA: 27-bit frames, read-back only on Read, and shutdown.
class ProgramB final : public Program {
public:
    explicit ProgramB(bus::Port& port);

    void vsbInputCode1_Change() override { enterCode(1); }
    void vsbInputCode2_Change() override { enterCode(2); }
    void cmdZS_Click() override { preset(0); }
    void cmdMS_Click() override { preset(128); }
    void cmdFS_Click() override { preset(255); }
    void cmdRead_Click() override;
    void cmdSHDN_Click();
    void Read_Write_Bits_to_Parallel_Port() override;

private:
    void enterCode(int channel);
    void preset(int code);
};

enum class ProgramKind { A, B };

std::unique_ptr<Program> makeProgram(ProgramKind kind, bus::Port& port);

}  // namespace commands
