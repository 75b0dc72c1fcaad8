// The port chooser, a small window of its own beside the programs' windows:
// the ports this computer offers, each with its state; a test of the one
// selected (a read-back at the device's address, which changes nothing on the
// chip); and the choice saved as the user's default port. Its controls as
// data, which both toolkits' views build from, and a model that decides
// everything the view shows, so that the views only draw and forward events.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace view {

struct ChooserControl {
    enum class Kind { List, Text, Button };
    std::string name;
    Kind kind;
    std::string caption;  // a button's, with & before its access key; a text's first words
    std::string toolTip;  // also what a screen reader says of it
    int left, top, width, height;  // pixels at 96 DPI from the client area's top-left
};

struct ChooserSpec {
    std::string caption;
    int width, height;  // client area, pixels at 96 DPI
    std::vector<ChooserControl> controls;
    const ChooserControl* find(const std::string& name) const;
};

const ChooserSpec& chooserSpec();

// One port as detect lists it.
struct PortRow {
    std::string port;
    std::string description;
    bool usable = false;
    std::string why;  // where it is not usable: why, and the fix
};

// What the chooser asks of the rest of the program.
struct ChooserServices {
    std::function<std::vector<PortRow>()> detect;
    // A sentence on what a read-back at the device's address found.
    std::function<std::string(const std::string& port)> test;
    // Saves port as the user's default; a sentence saying where. Throws
    // std::exception with the reason where it cannot.
    std::function<std::string(const std::string& port)> save;
    std::string current;  // the user's default port now; "" where none is set
};

class PortChooser {
public:
    explicit PortChooser(ChooserServices services);

    // Lists the ports again, keeping the selection where that port is still
    // listed; at first, the user's default where listed, else the first usable.
    void refresh();

    // One line a port, as the list shows them.
    std::vector<std::string> rows() const;
    int selected() const { return selected_; }
    void select(int row);

    // The selected port at length: its port string, what it is, its state.
    std::string detail() const;
    // What the last test or save said, or how to go on.
    std::string status() const { return status_; }

    bool canTest() const { return selectedRow() != nullptr && selectedRow()->usable; }
    bool canUse() const { return canTest(); }
    void test();
    void use();

    // The port saved, once Use has saved one.
    const std::optional<std::string>& chosen() const { return chosen_; }

private:
    const PortRow* selectedRow() const;

    ChooserServices services_;
    std::vector<PortRow> rows_;
    int selected_ = -1;
    std::string status_;
    std::optional<std::string> chosen_;
};

}  // namespace view
