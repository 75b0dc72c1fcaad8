// The window's controls as plain values: scroll bars, text boxes and the named
// controls of one window. The logic reads and sets them; a view only observes.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace controls {

inline constexpr int kBitCount = 45;  // vsbBit and txtBit have the indexes 0 to 44
inline constexpr int kWriteRowBits = 27;  // 0..26 the write row; the rest the read row

enum class Name : std::uint8_t {
    vsbBit,
    txtBit,
    vsbInputCode1,
    vsbInputCode2,
    txtDisplay1,
    txtDisplay2,
    txtCh_Write_Display,
    txtCh_Read_Display,
    txtSDA_Write,
    txtSDA_Data,
};

std::string_view nameOf(Name name);

// A control and, for the control arrays, its index (0 elsewhere).
struct ControlId {
    Name name;
    int index = 0;
    friend bool operator==(ControlId, ControlId) = default;
};

std::string describe(ControlId id);  // "vsbBit(3)", "txtSDA_Data"

// The model control of a window control's name and array index, if it has one.
std::optional<ControlId> controlNamed(std::string_view name, int index);

// Whatever draws the controls. It hears of every real change, after the model
// holds the new state and before any Change handler runs.
class ControlObserver {
public:
    virtual void valueChanged(ControlId id, int value) = 0;
    virtual void textChanged(ControlId id, std::string_view text) = 0;

protected:
    ~ControlObserver() = default;
};

// A vertical scroll bar: an integer Value between Min and Max. Assigning a value
// that differs from the current one runs the Change handler before the assignment
// returns; assigning the current value does nothing at all.
class ScrollBar {
public:
    ScrollBar() = default;
    ScrollBar(const ScrollBar&) = delete;
    ScrollBar& operator=(const ScrollBar&) = delete;

    int Value() const { return value_; }
    int Min() const { return min_; }
    int Max() const { return max_; }
    ControlId id() const { return id_; }

    // Throws std::out_of_range for a value outside Min..Max: the handlers never
    // produce one, so it is a programming error, not a state to clamp into.
    void setValue(int value);

    void setChangeHandler(std::function<void()> handler) { change_ = std::move(handler); }

private:
    friend class Controls;
    ControlId id_{Name::vsbBit, 0};
    int min_ = 0;
    int max_ = 1;
    int value_ = 0;
    std::function<void()> change_;
    ControlObserver* observer_ = nullptr;
};

// Decimal text of an integer, without leading blank or zeros, formatted in place.
class DecimalText {
public:
    explicit DecimalText(long long value) {
        length_ = static_cast<std::size_t>(std::to_chars(buffer_.data(), buffer_.data() + buffer_.size(), value).ptr -
                                           buffer_.data());
    }
    // Only a named value converts: a view of a temporary would dangle.
    operator std::string_view() const& { return {buffer_.data(), length_}; }
    operator std::string_view() const&& = delete;
    std::string str() const { return std::string(buffer_.data(), length_); }

private:
    std::array<char, 24> buffer_{};
    std::size_t length_ = 0;
};

// A single-line text box. Empty at start; written() tells a box that was never
// written from one that was set to "".
class TextBox {
public:
    TextBox() = default;
    TextBox(const TextBox&) = delete;
    TextBox& operator=(const TextBox&) = delete;

    std::string_view Text() const { return text_; }
    bool written() const { return written_; }
    ControlId id() const { return id_; }

    void setText(std::string_view text);
    void setText(const DecimalText& text) { setText(std::string_view(text)); }

    // The operator typed into the box: the next write redraws it even when the
    // program writes the text it wrote before.
    void operatorEdited() { edited_ = true; }

private:
    friend class Controls;
    ControlId id_{Name::txtBit, 0};
    std::string text_;  // at most a few characters: fits the string's own buffer
    bool written_ = false;
    bool edited_ = false;
    ControlObserver* observer_ = nullptr;
};

// The named controls of one operator window, all at their start values.
class Controls {
public:
    Controls();
    Controls(const Controls&) = delete;
    Controls& operator=(const Controls&) = delete;

    std::array<ScrollBar, kBitCount> vsbBit;  // Max 1
    std::array<TextBox, kBitCount> txtBit;
    ScrollBar vsbInputCode1;  // Max 255
    ScrollBar vsbInputCode2;  // Max 255
    TextBox txtDisplay1;
    TextBox txtDisplay2;
    TextBox txtCh_Write_Display;
    TextBox txtCh_Read_Display;
    TextBox txtSDA_Write;
    TextBox txtSDA_Data;

    ScrollBar& scrollBar(ControlId id);
    TextBox& textBox(ControlId id);

    // Every scroll bar and text box, in a fixed order, for views and checks.
    template <typename F>
    void forEachScrollBar(F&& f) {
        for (auto& bar : vsbBit) f(bar);
        f(vsbInputCode1);
        f(vsbInputCode2);
    }
    template <typename F>
    void forEachTextBox(F&& f) {
        for (auto& box : txtBit) f(box);
        for (TextBox* box : {&txtDisplay1, &txtDisplay2, &txtCh_Write_Display, &txtCh_Read_Display, &txtSDA_Write,
                             &txtSDA_Data}) {
            f(*box);
        }
    }

    // One observer at a time; nullptr detaches it.
    void setObserver(ControlObserver* observer);
};

}  // namespace controls
