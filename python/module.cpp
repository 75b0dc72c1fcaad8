// px77xx._px77xx: the device object of the Python module. Every method is an
// action as pxctl words it, parsed and run by the same code, so the frames,
// the trace and the messages are pxctl's. The exceptions are the package's own
// (px77xx/__init__.py), raised from here with what reached the port.
#include "commands/descriptor.h"
#include "frontend/settings.h"
#include "platform/process.h"
#include "ports/factory.h"
#include "ports/options.h"
#include "ports/trace_port.h"
#include "script/actions.h"
#include "script/executor.h"
#include "script/session.h"
#include "sim/board.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// Raises the package's exception class `name`, made with message and the keyword arguments.
[[noreturn]] void raise(const char* name, const std::string& message, const py::dict& fields = py::dict()) {
    const py::object type = py::module_::import("px77xx").attr(name);
    const py::object error = type(message, **fields);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

// An int argument as pxctl's words write it, for the parser to check the range
// of in its own words. A bool is refused: True is not channel 1.
std::string intWord(py::handle value, const char* what) {
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
        throw py::type_error(std::string(what) + " must be an int, not " +
                             std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    }
    return py::str(py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr())));
}

class Device {
public:
    Device(const std::string& program, const std::optional<std::string>& port, const std::optional<std::string>& trace,
           std::optional<bool> checkAckGiven, std::optional<int> addressGiven)
        : owner_(platform::processId()) {
        descriptor_ = commands::findProgram(program);
        if (descriptor_ == nullptr) {
            throw py::value_error((program.empty() ? std::string("program is empty")
                                                   : "program " + bus::printable(program) + " is not known") +
                                  "; use " + commands::programKeys(", ", " or "));
        }
        if (addressGiven && (*addressGiven < 0x08 || *addressGiven > 0x77)) {
            throw py::value_error("address " + std::to_string(*addressGiven) +
                                  " is not a 7-bit device address; give 0x08..0x77 (0x2c, the default)");
        }
        // What the call leaves out is the user's default, as pxctl takes it:
        // the port from PX77XX_PORT or the settings file, the address and the
        // acknowledge check from the file. With no port set, opening the
        // simulated board or a parallel port the script never named would
        // report success while nothing reached the hardware it meant: it is an
        // error instead.
        frontend::CommandLine line;
        line.portGiven = port.has_value();
        line.port = port.value_or("");
        line.addressGiven = addressGiven.has_value();
        line.address = static_cast<std::uint8_t>(addressGiven.value_or(commands::Program::kDefaultAddress));
        line.checkAckGiven = checkAckGiven.has_value();
        line.checkAck = checkAckGiven.value_or(false);
        if (!port || !addressGiven || !checkAckGiven) {
            try {
                frontend::applySettings(line, frontend::readUserSettings());
            } catch (const frontend::UsageError& e) {
                raise("ConfigError", bus::displayable(e.what()));
            }
        }
        const std::string where = line.port;
        const bool checkAck = line.checkAck;
        const int address = line.address;
        if (!port) {
            if (line.portFrom.empty()) {
                raise("ConfigError", "no port given: pass port=, a port string as pxctl takes it (\"sim\" for the "
                                     "simulated board; `pxctl detect` lists this computer's ports), or set your "
                                     "default once with `pxctl config port PORT` or PX77XX_PORT" +
                                         (line.notice.empty() ? std::string() : " (" + line.notice + ")"));
            }
            portFrom_ = line.portFrom;
        }
        try {
            script::Session session = script::openSession(
                *descriptor_, {where, trace.value_or(""), checkAck, static_cast<std::uint8_t>(address)});
            executor_ = std::make_unique<script::Executor>(*session.program);
            session.attach(*executor_);
            port_ = std::move(session.port);
            program_ = std::move(session.program);
        } catch (const ports::ConfigError& e) {
            raise("ConfigError", bus::displayable(e.what()) +
                                     (portFrom_.empty() ? "" : " (the port " + portFrom_ + " gives)"));
        }
        simulated_ = port_.board != nullptr;
        checkAck_ = checkAck;
        address_ = address;
    }

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        if (forked()) {
            forget();
            return;
        }
        const std::lock_guard lock(mutex_);
        closeLocked();
    }

    // Runs the actions of one line of words, in order; raises at the first
    // that fails, after the rest of its frame has been left as the port left it.
    std::vector<script::Result> run(const std::string& line) {
        std::vector<script::Action> parsed;
        try {
            // A newline separates actions, as in a pxctl - session; a # ends its own line only.
            std::vector<std::string> words;
            std::size_t start = 0;
            while (start <= line.size()) {
                const std::size_t end = std::min(line.find('\n', start), line.size());
                for (auto& word : script::splitWords(std::string_view(line).substr(start, end - start))) {
                    words.push_back(std::move(word));
                }
                start = end + 1;
            }
            parsed = script::parseActions(words, *descriptor_);
        } catch (const script::UsageError& e) {
            throw py::value_error(bus::displayable(e.what()));
        }
        std::vector<script::Result> results;
        for (const auto& action : parsed) results.push_back(execute(action));
        return results;
    }

    // What each action of a line read; None where it did not read back.
    std::vector<std::optional<int>> actions(const std::string& line) {
        std::vector<std::optional<int>> reads;
        for (const auto& result : run(line)) reads.push_back(result.read);
        return reads;
    }

    std::optional<int> one(const std::string& line) { return run(line).back().read; }

    // An action that reads back: a read-back that fails raises, so one that
    // returns has its byte.
    int byte(const std::string& line) {
        const auto read = one(line);
        if (!read) throw std::logic_error("'" + line + "' read nothing back");
        return *read;
    }

    std::string repr() const {
        char address[8];
        std::snprintf(address, sizeof address, "0x%02x", address_);
        return "<px77xx.Device program='" + program() + "' (" + std::string(descriptor_->caption) + ") port=" +
               std::string(py::repr(py::str(port_.label))) + " address=" + address + (closed() ? " closed>" : ">");
    }

    int recover() {
        const auto result = run(std::string(commands::kRecoverWord)).back();
        return result.recovery ? result.recovery->clocks : 0;
    }

    void close() {
        if (forked()) {
            forget();
            return;
        }
        py::gil_scoped_release release;
        const std::lock_guard lock(mutex_);
        closeLocked();
    }
    bool closed() const { return program_ == nullptr; }

    // Waits for an action under way on another thread, without holding up the rest.
    std::optional<int> display(const script::Display& display) {
        checkProcess();
        py::gil_scoped_release release;
        const std::lock_guard lock(mutex_);
        if (closed()) return std::nullopt;
        return script::displayValue(*program_, display);
    }
    std::uint32_t frameWord() {
        checkProcess();
        py::gil_scoped_release release;
        const std::lock_guard lock(mutex_);
        return closed() ? 0 : program_->frameWord();
    }
    const std::string& port() const { return port_.label; }
    std::string program() const { return std::string(descriptor_->key); }
    bool checkAck() const { return checkAck_; }
    int address() const { return address_; }
    bool onSimulatedBoard() const { return simulated_; }

    // What the simulated board holds, read under the device's lock: never
    // after close() has freed it, nor while an action changes it.
    template <typename Read>
    auto readBoard(Read read) -> decltype(read(std::declval<const sim::Board&>())) {
        checkProcess();
        std::optional<decltype(read(std::declval<const sim::Board&>()))> value;
        {
            py::gil_scoped_release release;
            const std::lock_guard lock(mutex_);
            if (port_.board != nullptr) value = read(*port_.board);
        }
        if (!value) throw py::value_error("the device is closed");
        return *value;
    }

private:
    // A forked child has the parent's port, its lock and its trace, and maybe
    // a lock on this device held by a thread it does not have: it uses none.
    bool forked() const { return platform::processId() != owner_; }
    void checkProcess() const {
        if (forked()) {
            throw py::value_error("this device was opened by process " + std::to_string(owner_) +
                                  "; a process forked from it cannot use it: open the port again in process " +
                                  std::to_string(platform::processId()));
        }
    }
    // Lets go of everything without touching it: the parent still uses it.
    void forget() {
        (void)executor_.release();
        (void)program_.release();
        (void)port_.port.release();
        port_.trace = nullptr;
        port_.lock = nullptr;
        port_.board = nullptr;
    }

    script::Result execute(const script::Action& action) {
        checkProcess();
        script::Result result;
        std::vector<std::string> notices;
        bool wasClosed = false;
        {
            // Another thread runs Python meanwhile; a second action on this
            // device waits here for the whole of the first.
            py::gil_scoped_release release;
            const std::lock_guard lock(mutex_);
            wasClosed = closed();
            if (!wasClosed) {
                result = executor_->execute(action);
                while (auto notice = port_.takeNotice()) notices.push_back(bus::displayable(*notice));
            }
        }
        if (wasClosed) throw py::value_error("the device is closed");
        for (const auto& notice : notices) {
            // With warnings as errors the warning is raised: it says what the action did.
            if (PyErr_WarnEx(PyExc_RuntimeWarning, notice.c_str(), 1) != 0) {
                py::error_already_set raised;
                if (py::hasattr(raised.value(), "add_note")) {
                    raised.value().attr("add_note")(
                        result.ok ? "the action '" + result.action + "' had run whole: its frames reached the port"
                                  : "the action '" + result.action + "' failed too: " + result.error);
                }
                throw raised;
            }
        }
        // Ctrl-C during the action: it has finished, whole; now it interrupts.
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!result.ok) fail(result);
        return result;
    }

    [[noreturn]] void fail(const script::Result& result) {
        py::dict fields;
        fields["action"] = result.action;
        fields["port"] = port_.label;
        fields["delivery"] =
            result.recovery ? py::object(py::none()) : py::object(py::str(std::string(commands::mark(result.delivery))));
        const bool cut = result.delivery.kind == commands::Delivery::Kind::CutShort;
        fields["writes"] = cut ? py::object(py::int_(result.delivery.writes)) : py::none();
        fields["of"] = cut ? py::object(py::int_(result.delivery.of)) : py::none();
        fields["errno"] = result.code != 0 ? py::object(py::int_(result.code)) : py::none();
        const char* type = result.cause == script::Result::Cause::NoAnswer ? "NoDeviceAnswered"
                           : result.cause == script::Result::Cause::Stuck  ? "BusStuck"
                                                                           : "PortError";
        raise(type, result.error, fields);
    }

    void closeLocked() {
        if (program_ == nullptr) return;
        if (port_.trace != nullptr) port_.trace->close();
        executor_.reset();
        program_.reset();
        port_.port.reset();  // and with it the lock
        port_.trace = nullptr;
        port_.lock = nullptr;
        port_.board = nullptr;
    }

    const commands::Descriptor* descriptor_ = nullptr;
    ports::ProgramPort port_;
    std::unique_ptr<commands::Program> program_;
    std::unique_ptr<script::Executor> executor_;
    bool checkAck_ = false;
    std::string portFrom_;  // where the default port came from, where port= was not given
    int address_ = commands::Program::kDefaultAddress;
    bool simulated_ = false;
    long owner_;  // the process that opened the port
    std::mutex mutex_;
};

// The simulated board of a device, for tests: each read goes through the
// device, which it keeps alive.
struct Board {
    py::object owner;
    Device* device;
};

}  // namespace

PYBIND11_MODULE(_px77xx, m) {
    m.doc() = "The device object of px77xx; see help(px77xx).";
    m.attr("__version__") = PX_VERSION;

    py::class_<Board>(m, "Board", "The simulated board's own state, for tests: what the device on it holds.")
        .def("wiper",
             [](const Board& b, py::handle channel) {
                 const std::string word = intWord(channel, "the channel");
                 if (word != "1" && word != "2") throw py::value_error("the channel must be 1..2, not " + word);
                 return b.device->readBoard([&](const sim::Board& board) { return board.wiper(word == "2" ? 2 : 1); });
             },
             py::arg("channel"), "The code the device holds for channel 1 or 2.")
        .def_property_readonly(
            "wipers",
            [](const Board& b) {
                const auto both = b.device->readBoard(
                    [](const sim::Board& board) { return std::make_pair(board.wiper(1), board.wiper(2)); });
                return py::make_tuple(both.first, both.second);
            },
            "Both wipers' codes, (channel 1, channel 2).")
        .def_property_readonly(
            "selected_channel",
            [](const Board& b) { return b.device->readBoard([](const sim::Board& board) { return board.selectedChannel(); }); },
            "The channel the device last selected, 1 or 2.")
        .def_property_readonly(
            "shutdown",
            [](const Board& b) { return b.device->readBoard([](const sim::Board& board) { return board.shutdown(); }); },
            "Whether the device is shut down (/SHDN).");

    auto device = py::class_<Device>(m, "Device", "A program of the family on an open port; see px77xx.open().");
    device.def(py::init<const std::string&, const std::optional<std::string>&, const std::optional<std::string>&,
                        std::optional<bool>, std::optional<int>>(),
               py::arg("program") = "b", py::arg("port") = py::none(), py::arg("trace") = py::none(),
               py::arg("check_ack") = py::none(), py::arg("address") = py::none())
        .def("set",
             [](Device& d, py::handle channel, py::handle code) {
                 d.one("set " + intWord(channel, "the channel") + " " + intWord(code, "the code"));
             },
             py::arg("channel"), py::arg("code"),
             "Channel 1 or 2 to code 0..255: one frame, even where the bar holds the code already (pxctl: set CH N).")
        .def("code", [](Device& d, py::handle channel, py::handle code) {
                 const std::string ch = intWord(channel, "the channel");
                 if (ch != "1" && ch != "2") throw py::value_error("the channel must be 1..2");
                 d.one("code" + ch + "=" + intWord(code, "the code"));
             },
             py::arg("channel"), py::arg("code"),
             "The channel's code scroll bar moved to code 0..255: a frame only if that changes it "
             "(pxctl: code1=N, code2=N).")
        .def("zero", [](Device& d) { d.one("zero"); }, "\"Zero Scale\": code 0 on the selected channel.")
        .def("mid", [](Device& d) { d.one("mid"); }, "\"Mid Scale\": code 128 on the selected channel.")
        .def("full", [](Device& d) { d.one("full"); }, "\"Full Scale\": code 255 on the selected channel.")
        .def("ch1", [](Device& d) { d.one("ch1"); }, "\"Ch1\": select channel 1 (nothing is sent).")
        .def("ch2", [](Device& d) { d.one("ch2"); }, "\"Ch2\": select channel 2 (nothing is sent).")
        .def("bit", [](Device& d, py::handle index, py::handle value) {
                 d.one("bit:" + intWord(index, "the index") + "=" + intWord(value, "the value"));
             },
             py::arg("index"), py::arg("value"), "Bit panel position 0..44 set to 0 or 1 (pxctl: bit:K=V).")
        .def("run", [](Device& d) { d.one("run"); }, "\"Run\": send the bit panel's frame.")
        .def("read", [](Device& d) { return d.byte("read"); },
             "\"Read\": read the wiper back and return the byte (program b sends the panel's frame first).")
        .def("get", [](Device& d) { return d.byte("get"); },
             "The read-back alone, without writing a frame first; returns the byte.")
        .def("shdn", [](Device& d) { d.one("shdn"); }, "\"/SHDN\": shut the device down (program b only).")
        .def("recover", &Device::recover,
             "Free a bus a device holds low: up to nine clocks, then a stop; returns the clocks given. "
             "Raises BusStuck if SDA is still low.")
        .def("actions",
             [](Device& d, py::handle line) {
                 // bytes would be taken as text; the line is words, as typed.
                 if (!PyUnicode_Check(line.ptr())) {
                     throw py::type_error("line must be a str, not " +
                                          std::string(py::str(py::type::handle_of(line).attr("__name__"))));
                 }
                 return d.actions(line.cast<std::string>());
             },
             py::arg("line"),
             "Runs a line of pxctl's actions (\"set 1 200 get\"; a newline separates them too); returns what each "
             "read, None where it did not.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Device& d, const py::object&, const py::object&, const py::object&) { d.close(); },
             py::arg("exc_type"), py::arg("exc"), py::arg("traceback"))
        .def("__repr__", &Device::repr)
        .def("close", &Device::close, "Closes the port, its trace and its lock; later actions raise ValueError.")
        .def_property_readonly("closed", &Device::closed, "Whether close() has run.")
        .def_property_readonly("program", &Device::program, "The program's key, \"a\" or \"b\".")
        .def_property_readonly("port", &Device::port, "The port in a few words, as the window's title names it.")
        .def_property_readonly("check_ack", &Device::checkAck, "Whether the acknowledge check is on.")
        .def_property_readonly("address", &Device::address, "The device's 7-bit address (0x2c unless told).")
        .def_property_readonly("frame_word", &Device::frameWord, "The frame word of the last frame assembled.")
        .def_property_readonly(
            "board",
            [](py::object self) -> py::object {
                Device& d = self.cast<Device&>();
                if (!d.onSimulatedBoard()) return py::none();
                return py::cast(Board{self, &d});
            },
            "The simulated board's state (Board); None on any other port. Reading it after close() raises "
            "ValueError.");
    for (const script::Display& display : script::kDisplays) {
        device.def_property_readonly(
            std::string(display.name).c_str(), [&display](Device& d) { return d.display(display); },
            (std::string(display.help) + "; None until the program first shows it.").c_str());
    }
}
