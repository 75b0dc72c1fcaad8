#include "view/chooser.h"

#include <exception>

namespace view {

const ChooserControl* ChooserSpec::find(const std::string& name) const {
    for (const ChooserControl& c : controls) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

const ChooserSpec& chooserSpec() {
    using K = ChooserControl::Kind;
    static const ChooserSpec spec{
        "Choose the port",
        520,
        380,
        {
            {"lblPorts", K::Text, "&Ports this computer offers:", "", 12, 10, 496, 18},
            {"lstPorts", K::List, "", "Each port detect finds, and whether it can be opened", 12, 30, 496, 150},
            {"lblDetail", K::Text, "", "The selected port: its port string, what it is, and its state", 12, 188, 496,
             74},
            {"lblStatus", K::Text, "", "What the last test found, or where the choice was saved", 12, 268, 496, 60},
            {"cmdTest", K::Button, "&Test", "Ask the chip at its address through the selected port; nothing changes "
                                           "on the chip", 12, 340, 116, 28},
            {"cmdUse", K::Button, "&Use this port", "Save the selected port as the one the windows, pxctl and the "
                                                    "Python module open", 136, 340, 132, 28},
            {"cmdRefresh", K::Button, "&Refresh", "Look for ports again, after plugging an adapter in", 276, 340, 112,
             28},
            {"cmdClose", K::Button, "&Close", "Close without changing the port", 396, 340, 112, 28},
        }};
    return spec;
}

PortChooser::PortChooser(ChooserServices services) : services_(std::move(services)) {
    status_ = services_.current.empty()
                  ? "No port is chosen yet. Select one, test it, then press Use this port."
                  : "The port now is " + services_.current + ". Select another to change it.";
    refresh();
}

void PortChooser::refresh() {
    const std::string keep = selectedRow() != nullptr ? selectedRow()->port : services_.current;
    rows_ = services_.detect();
    selected_ = -1;
    for (std::size_t i = 0; i < rows_.size() && selected_ < 0; ++i) {
        if (rows_[i].port == keep) selected_ = static_cast<int>(i);
    }
    for (std::size_t i = 0; i < rows_.size() && selected_ < 0; ++i) {
        if (rows_[i].usable) selected_ = static_cast<int>(i);
    }
}

std::vector<std::string> PortChooser::rows() const {
    std::vector<std::string> out;
    for (const PortRow& row : rows_) {
        out.push_back(row.port + "  \u2014  " + row.description + (row.usable ? "" : " (not usable)") +
                      (row.port == services_.current ? " (chosen)" : ""));
    }
    return out;
}

void PortChooser::select(int row) {
    if (row >= 0 && static_cast<std::size_t>(row) < rows_.size()) selected_ = row;
}

const PortRow* PortChooser::selectedRow() const {
    return selected_ >= 0 && static_cast<std::size_t>(selected_) < rows_.size() ? &rows_[static_cast<std::size_t>(selected_)]
                                                                               : nullptr;
}

std::string PortChooser::detail() const {
    const PortRow* row = selectedRow();
    if (row == nullptr) return rows_.empty() ? "No port was found." : "Select a port.";
    return row->port + "\n" + row->description + "\n" + (row->usable ? "Usable." : "Not usable: " + row->why);
}

void PortChooser::test() {
    if (!canTest()) return;
    status_ = services_.test(selectedRow()->port);
}

void PortChooser::use() {
    if (!canUse()) return;
    const std::string port = selectedRow()->port;
    try {
        status_ = services_.save(port);
        chosen_ = port;
        services_.current = port;
    } catch (const std::exception& e) {
        status_ = std::string("Not saved: ") + e.what();
    }
}

}  // namespace view
