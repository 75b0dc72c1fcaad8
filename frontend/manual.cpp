// The documentation's words, and its two renderings.
#include "frontend/manual.h"

#include "script/actions.h"
#include "script/executor.h"
#include "script/scpi.h"
#include "frontend/serve.h"
#include "frontend/command_line.h"
#include "ports/factory.h"
#include "ports/trace_port.h"

#include <algorithm>
#include <cctype>

namespace frontend {
namespace {

// Each system's build documents what is true on it: its paths, its ports, its
// console events or signals.
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

constexpr std::size_t kWidth = 79;
constexpr std::size_t kTextColumn = 22;  // where a definition's text starts in --help

// "PX7702_RevA: 27-bit frames, ..." -> "27-bit frames, ...", as a sentence.
std::string afterColon(std::string_view summary) {
    std::string text(summary.substr(summary.find(": ") == std::string_view::npos ? 0 : summary.find(": ") + 2));
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::vector<Entry> portEntries() {
    std::vector<Entry> entries;
    for (const ports::Backend* backend : ports::backends()) {
        entries.push_back({std::string(backend->usage), std::string(backend->description)});
    }
    entries.push_back({"delay=US", std::string(kWindows ? "on every backend but sim" : "on every backend but sim and i2c") +
                                       ": at least US microseconds after each write, "
                                   "for slow targets and long cables (the programs have no timing of their own)"});
    return entries;
}

std::vector<Entry> traceEntries() {
    std::vector<Entry> entries;
    for (const ports::TraceFormatEntry* format : ports::traceFormats()) {
        entries.push_back({"FILE" + std::string(format->extension), std::string(format->help)});
    }
    return entries;
}

Entry portOption() {
    return {"--port PORT", "where the bus is, as a port string name[:key=value,...] (see PORTS); without it, "
                           "PX77XX_PORT, then the user's settings file (" +
                               std::string(kWindows ? "%APPDATA%\\px77xx\\settings" : "~/.config/px77xx/settings") +
                               ", written by pxctl config), then " + ports::defaultPort() +
                               "; nothing touches it before the first action"};
}
Entry traceOption() {
    return {"--trace FILE", "record every port access in the format FILE's extension names (see TRACES); the file "
                            "is complete on every way out"};
}
Entry checkAckOption() {
    return {"--check-ack, --no-check-ack", "check that the device acknowledges (--no-check-ack: do not, whatever "
                                           "the settings file says): its acknowledge slots are released and sampled, and "
                           "a missing answer fails the action; SDA held low on the idle bus is reported as a stuck bus, not "
                           "taken for an answer, and program A's read-back must read the code written (off: the frames "
                           "as the programs always wrote them" +
                               std::string(kWindows ? ")" : "; an I2C adapter's kernel checks anyway)")};
}

Entry addressOption() {
    return {"--address 0xNN", "the device's 7-bit address, for a chip strapped to another one (0x08..0x77; default "
                              "0x2c, which makes the address bytes 0x58 and 0x59): every frame and read-back carries "
                              "it and is otherwise unchanged; the title, the decoded trace and the JSON name it"};
}

constexpr std::string_view kJsonSchema =
    kWindows ? "pxctl-json.schema.json in pxctl's folder" : "/usr/share/px77xx-cli/pxctl-json.schema.json (in px77xx-cli)";

const std::vector<Entry> kWindowsFiles{
    {"%APPDATA%\\px77xx\\settings", "the user's defaults: port, address and check-ack, one key = value a line, "
                                    "written by pxctl config; the command line and PX77XX_PORT (the port) come first"},
    {"inpoutx64.dll, ntport.dll", "port libraries for a parallel port, in the current folder or the program's "
                                  "(lib:path=NAME takes the current folder's; give the whole path for another)"},
    {"ftd2xx.dll", "FTDI's D2XX library, which FTDI's driver installs, for FTDI chips"},
    {"pxctl-json.schema.json", "the schema of pxctl's JSON objects, beside pxctl.exe"},
};

const std::vector<Entry> kLinuxFiles{
    {"~/.config/px77xx/settings", "the user's defaults ($XDG_CONFIG_HOME/px77xx/settings where that is set): "
                                  "port, address and check-ack, one key = value a line, written by pxctl config; the "
                                  "command line and PX77XX_PORT (the port) come first"},
    {"/dev/parport*", "parallel ports, through ppdev (the lp group)"},
    {"/dev/i2c-*", "I2C adapters, through i2c-dev (the i2c group)"},
    {"/dev/gpiochip*", "GPIO chips (the group that owns them)"},
    {"/dev/bus/usb/*/*", "USB devices, FTDI chips among them, through libusb"},
    {"/lib/udev/rules.d/60-px77xx-ftdi.rules", "gives the user logged in at the seat the FT232H, FT2232H and "
                                               "FT4232H (px77xx-cli)"},
    {"/run/px77xx/*.lock", "the locks that keep a second program off an io or lib port, for root; another user's "
                           "are in /run/lock/px77xx-UID, a directory of that user's own"},
};

const std::vector<Entry>& kFiles = kWindows ? kWindowsFiles : kLinuxFiles;

// Plain text wrapped at kWidth, every line after the first indented by hang.
std::string wrap(std::string_view text, std::size_t first, std::size_t hang) {
    std::string out;
    std::size_t column = first;
    bool lineStart = true;
    while (!text.empty()) {
        const auto space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
        if (!lineStart && column + 1 + word.size() > kWidth) {
            out += "\n" + std::string(hang, ' ');
            column = hang;
            lineStart = true;
        }
        if (!lineStart) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineStart = false;
    }
    return out;
}

void entriesText(std::string& out, const std::string& title, const std::vector<Entry>& entries,
                 const std::string& intro = "") {
    if (entries.empty()) return;
    out += title + ":\n";
    if (!intro.empty()) out += "  " + wrap(intro, 2, 2) + "\n";
    for (const Entry& e : entries) {
        std::string line = "  " + e.term;
        if (line.size() + 2 > kTextColumn) {
            out += line + "\n" + std::string(kTextColumn, ' ');
        } else {
            line.resize(kTextColumn, ' ');
            out += line;
        }
        out += wrap(e.text, kTextColumn, kTextColumn) + "\n";
    }
    out += "\n";
}

// Text safe in roff: a backslash and a minus as the man macros want them, and
// nothing at the start of a line that reads as a request.
std::string roff(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        if (ch == '\\') {
            out += "\\e";
        } else if (ch == '-') {
            out += "\\-";
        } else {
            out += ch;
        }
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

void entriesRoff(std::string& out, const std::string& title, const std::vector<Entry>& entries,
                 const std::string& intro = "") {
    if (entries.empty()) return;
    out += ".SH " + title + "\n";
    if (!intro.empty()) out += ".PP\n" + roff(intro) + "\n";
    for (const Entry& e : entries) out += ".TP\n\\fB" + roff(e.term) + "\\fR\n" + roff(e.text) + "\n";
}

std::string upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

// Every key of pxctl's JSON objects; the displays' from their table.
Section jsonSection() {
    std::string displays;
    for (const script::Display& display : script::kDisplays) {
        displays += std::string(displays.empty() ? "" : "; ") + std::string(display.name) + ": " + std::string(display.help);
    }
    return {"JSON output",
            "Each object is one line. The schema of every object is " + std::string(kJsonSchema) +
                ". The Python module px77xx names the displays as the keys below.",
            {
                {"index", "the action's place in the run, from 1, across the lines of a session"},
                {"action", "the action as typed: \"set 1 200\", \"mid\", \"bit:3=1\""},
                {"ok", "true where the action did all it should; false for a failure, a refused line or an "
                       "interruption"},
                {"read", "the byte the action's read-back read, or null where it read none"},
                {"frame_word", "the frame word of the last frame assembled"},
                {"displays", "the window's displays after the action, each a number, or null until the program first "
                             "shows one: " + displays},
                {"cause", "why an action failed: \"port failed\", \"no device answered\" (--check-ack) or \"bus "
                          "stuck\""},
                {"delivery", "what of a failed action reached the port: \"not sent\", \"read-back failed\" (every "
                             "frame whole), \"cut short\" or \"not acknowledged\" (every write whole)"},
                {"writes, of", "with \"cut short\": the writes of the cut transaction that reached the port, and how "
                               "many it has"},
                {"error", "the report pxctl prints on standard error, without \"pxctl: \""},
                {"free, clocks", "recover: whether SDA was high at the end, and the clocks given"},
                {"note", "recover on an I2C adapter: why nothing was sent"},
                {"line", "a refused line: its number in the session, 0 for the command line; error says why"},
                {"interrupted, after, of", std::string("the last object of a run ") +
                                               (kWindows ? "a console event" : "a signal") + " ended: the " +
                                               (kWindows ? "event" : "signal") + ", the actions that ran whole, and "
                                               "(actions on the command line) how many were given"},
                {"adapter, transfers", "ports that can tell (i2c, lib): the adapter as it names itself, and how "
                                       "frames travel"},
                {"address", "with --address other than 0x2c: the device's address, \"0x2d\""},
            }};
}

// pxctl serve's command tree, errors and limits.
// The instrument's tree and the common commands, from the table it parses by.
std::vector<Entry> scpiEntries() {
    std::vector<Entry> entries;
    for (const script::ScpiCommand& c : script::scpiCommands()) {
        if (!c.help.empty()) entries.push_back({c.form(), std::string(c.help)});
    }
    for (const auto& [form, help] : script::scpiCommonCommands()) entries.push_back({std::string(form), std::string(help)});
    return entries;
}

Section scpiSection() {
    std::string errors;
    for (const script::ScpiError& e : script::scpiErrors()) {
        errors += (errors.empty() ? "" : ", ") + std::to_string(e.code) + " " + std::string(e.text);
    }
    return {"SCPI server",
            "pxctl serve answers SCPI (SCPI-1999, IEEE 488.2) on a raw TCP socket: lines end in LF or CRLF, "
            "answers in LF; mnemonics in their short (upper case) or long form, in any case; [optional] nodes; "
            "several commands on a line with ;, a header after ; going on from the last one's node; MINimum, "
            "MAXimum and DEFault (128) where a code is taken. Every query is answered, a failed one with 9.91E37, so "
            "that no client waits for its timeout. Errors are queued (15 and then -350) with the standard "
            "numbers: " + errors + ". A port failure is -240, or -241 where no device answered, with the same "
            "report as pxctl prints; a line over " + std::to_string(script::ScpiInstrument::kMaxLine) +
            " bytes is dropped (-363), and so is a line with a byte that is not text (-101) or a string left open "
            "(-102): each query of a dropped line is still answered with 9.91E37. Answers are never cut or thrown "
            "away: each reaches the client whole and in order, however many lines it sends ahead (its next lines "
            "wait while 64 KiB of answers wait unread). Up to --clients clients (4) are served at once, each with its "
            "own lines and answers; their commands take turns, so frames never interleave, and they share the error "
            "queue and status registers, as an instrument's interfaces do. One more is closed at once, with nothing "
            "sent. A client that reads no answer for 5 s while one waits, or sends nothing for --idle-timeout "
            "seconds (300; 0 for ever), is closed; TCP keepalive finds a host that vanished. " +
            std::string(kWindows ? "Ctrl-C, Ctrl-Break and the console closing stop" : "SIGTERM and SIGINT stop") +
            " the server between two commands, after the frame under way, even within a line. Nothing a client sends "
            "reaches a shell or a file. "
            "The same instrument answers VXI-11's core channel (ONC RPC program 0x0607AF), which VISA opens for "
            "TCPIP::host::INSTR (TCPIP0::host::inst0::INSTR): each link has its own input and answers; a write "
            "with END ends a line as LF does; device_read returns an answer up to its END, or error 15 (I/O "
            "timeout) at once where none waits, since every answer is made as its query is written; device_readstb "
            "reads the status byte with MAV; device_clear drops the link's input and unread answers; device_lock "
            "holds the device for one link, and the others' calls wait up to their lock_timeout and then fail with "
            "error 11 (the raw socket is not held). " +
            std::string(kWindows ? "Windows has no portmapper, so a VXI-11 client must be given the channel's port "
                                   "(--vxi11)."
                                 : "The channel is registered with the portmapper (rpcbind) where one runs, which "
                                   "is how VISA and lxi-tools find it; without one, VXI-11 clients must be given "
                                   "its port (--vxi11). Where the Avahi daemon runs, the instrument is announced over "
                                   "DNS-SD (_scpi-raw._tcp, _lxi._tcp and _vxi-11._tcp, as \"px77xx PROGRAM on "
                                   "PORT\") until it stops, unless --no-announce is given: on loopback alone for a "
                                   "loopback address, on the interface holding any other address, everywhere for "
                                   "0.0.0.0; lxi discover -m lists it."),
            scpiEntries()};
}

}  // namespace

Manual pxctlManual() {
    const std::string keys = commands::programKeys("|", "|");
    const std::string common =
        "[--program " + keys + "] [--port PORT] [--address 0xNN] [--trace FILE] [--json] [--check-ack]";
    const std::string session = "[--program " + keys + "] [--port PORT] [--address 0xNN] [--trace FILE] [--json] "
                                "[--check-ack] [--keep-going]";
    Manual m;
    m.name = "pxctl";
    m.summary = "run the PX7700/PX7702 programs' actions from the command line";
    m.synopsis = {common + " ACTION...", session + " -",
                  "[--program " + keys + "] [--port PORT] [--address 0xNN] [--trace FILE] [--check-ack] [--listen ADDR:PORT] "
                  "[--vxi11 ADDR:PORT|off] [--no-announce] [--clients N] [--idle-timeout SECONDS] serve",
                  "[--json] detect", "[--program " + keys + "] [--address 0xNN] [--json] --probe detect PORT...",
                  "[--program " + keys + "] [--json] --scan detect PORT",
                  "[--port PORT] [--address 0xNN] [--check-ack] config [KEY [VALUE]]",
                  "--help | --version"};
    m.description = {
        "pxctl runs the operator actions of the PX7700/PX7702 windows in order on one program, as the same clicks "
        "would: the same handlers, frames, port strings and backends, without a display. Every "
        "action that reads back prints the byte read, one number a line.",
        "With - it reads actions from standard input, a line at a time (65536 bytes at most), the port held "
        "between lines. # starts a "
        "comment anywhere on a line; help lists the actions and help ACTION tells of one; quit or exit ends the "
        "session, as the end of input does. From a " + std::string(kWindows ? "console" : "terminal") +
            " it prompts, with line editing and history, and a bad "
        "line is reported and the session goes on; from a pipe the first bad line ends the session with status 2, "
        "naming its line, unless --keep-going is given.",
        "Numbers are decimal, or hexadecimal after 0x (code1=0xc8); a leading zero changes nothing (set 1 010 is "
        "code ten).",
        std::string(kWindows
            ? "detect lists what this computer offers as ports, one line each: the port libraries for a parallel port "
              "found in the current folder and in pxctl's (with the pair of functions each exports), FTDI chips "
              "through FTDI's D2XX driver (description and serial) and the simulated board; each with the port "
              "string to give --port and whether it can be opened, and if not why and the fix. "
            : "detect lists what this machine offers as ports, one line each: parallel ports (with the kernel's base "
              "address and modes, and direct I/O at that address), I2C adapters (as i2cdetect -l names them), GPIO "
              "chips (label and lines, as gpiodetect lists them), FTDI chips (description and serial) and the "
              "simulated board; each with the port string to give --port and whether this user may open it, and if "
              "not why and the fix. ") +
            "It touches no bus. With --probe it checks the ports named after it instead: a read-back with the "
            "acknowledge check at the address (--address), which changes neither wiper nor the selected channel; "
            "/SHDN stays at the level the port's data register reads back (" +
            (kWindows ? "sim, lib), while ftdi, which cannot read it back, has"
                      : "sim, io, lib), while a port that cannot read it back (ppdev, i2c, gpio, ftdi) has") +
            " /SHDN high after the probe; the exit status is 0 where a device answered on every one. With --scan it "
            "asks every address from 0x08 to 0x77 on the one port named and lists those that "
            "acknowledge: a read-back at each, which some other device on the same bus may take for a command, so "
            "it runs only when asked; /SHDN is never touched.",
        "config shows the user's defaults in force (port, address, check-ack), each with where it comes from: the "
        "command line, PX77XX_PORT (the port alone), the settings file or the built-in default. config KEY VALUE sets "
        "one in the settings file, a port checked as --port is; config KEY clears it. The windows, pxctl, serve and "
        "the Python module all take them.",
        std::string("serve makes the program a SCPI instrument on a raw TCP socket, as power supplies and meters are, "
                    "for PyVISA, LabVIEW or MATLAB: see SCPI SERVER. ") +
            (kWindows ? "It holds the port until Ctrl-C, Ctrl-Break or the console closing, which it acts on between "
                        "commands; Windows' firewall asks before it lets other computers reach a --listen address "
                        "other than loopback."
                      : "It holds the port (and its lock) until SIGTERM or SIGINT, which it acts on between commands. "
                        "The px77xx-scpi service runs it from /etc/default/px77xx-scpi as a user of its own in the "
                        "groups lp and plugdev: ppdev, i2c, gpio, ftdi, lib and sim ports work there, while io needs "
                        "root's raw I/O, which the service does not give."),
    };
    std::string programs;
    for (const commands::Descriptor* d : commands::programs()) {
        programs += (programs.empty() ? "" : "; ") + std::string(d->key) + ": " + std::string(d->summary);
    }
    m.options = {
        {"--program " + keys, "which program's handlers run (default " + std::string(CommandLine{}.program) + "): " +
                                  programs},
        portOption(),
        traceOption(),
        {"--json", "one JSON object a line (JSON Lines) for each action, and for a line refused; see JSON OUTPUT"},
        {"--listen ADDR:PORT", "serve: where to listen (default " + std::string(kDefaultListen) +
                                   ", loopback only, since the socket has no authentication); [::1]:5025 for IPv6, "
                                   "0.0.0.0:5025 for every interface, port 0 for any free one"},
        {"--vxi11 ADDR:PORT|off", "serve: where the VXI-11 channel listens (default: --listen's host, on a port the "
                                  "system picks, which VISA learns from the portmapper); off for none"},
        {"--no-announce", std::string("serve: do not announce the instrument over DNS-SD") +
                              (kWindows ? " (this Windows build never does)" : "")},
        {"--clients N", "serve: how many clients are served at once, 1..64 (default 4); one more is closed at once"},
        {"--idle-timeout SECONDS", "serve: close a client that sends nothing for this long, 0..86400 (default 300; "
                                   "0 keeps it for ever)"},
        {"--keep-going", "with -: a bad line is reported (with --json as an object on standard output too) and the "
                         "session goes on; the exit status is 2 if any line was bad"},
        checkAckOption(),
        addressOption(),
        {"--probe", "detect: probe the ports named after detect for a device at the address, instead of listing"},
        {"--scan", "detect: list every address 0x08..0x77 that acknowledges on the one port named after detect"},
        {"--", "the end of the options: every word after it is an action"},
        {"--help, -h", "print this help and exit"},
        {"--version, -V", "print the version and exit"},
    };
    m.listTitle = "ACTIONS";
    for (const script::ActionHelp& action : script::actionHelpEntries()) m.list.push_back({action.form, action.help});
    if (kWindows) {
        m.examples = {
            {"Set channel 1 to 200 on the simulated board and read it back:", "pxctl --port sim set 1 200 get"},
            {"Which ports this computer has, and which can be opened:", "pxctl detect"},
            {"Use InpOut32's port library from now on, without --port each time:",
             "pxctl config port lib:path=inpoutx64.dll"},
            {"Or the one FT232H attached, with /SHDN on its pin 3:", "pxctl config port ftdi:shdn=3"},
            {"A parallel port card whose registers are at 0xD010 (Device Manager, Resources):",
             "pxctl --port lib:path=inpoutx64.dll,base=0xd010 set 1 200"},
            {"Is the chip there? Probe the FT232H for it:", "pxctl detect --probe ftdi"},
            {"A chip strapped to address 0x2d:", "pxctl --address 0x2d set 1 200"},
            {"Sweep channel 1 in PowerShell; the first failure stops the sweep:",
             "for ($c = 0; $c -le 255; $c += 16) { pxctl set 1 $c; if ($LASTEXITCODE) { break } }"},
            {"Program A, one JSON object a line, read in PowerShell:",
             "pxctl --program a --port sim --json set 2 200 | ConvertFrom-Json | Select-Object read"},
            {"A session through a pipe in PowerShell, the port held between lines:",
             "'set 2 10', 'read' | pxctl --port sim -"},
            {"Free a bus a device holds low:", "pxctl recover"},
            {"The board as a SCPI instrument; then, in Python, pyvisa.ResourceManager(\"@py\").open_resource("
             "\"TCPIP::127.0.0.1::5025::SOCKET\", read_termination=\"\\n\").query(\"*IDN?\"):",
             "pxctl serve"},
        };
    } else {
        m.examples = {
            {"Set channel 1 to 200 on the simulated board and read it back:", "pxctl --port sim set 1 200 get"},
            {"Which ports this machine has, and which this user may open:", "pxctl detect"},
            {"Use the FT232H from now on, without --port each time:", "pxctl config port ftdi:dev=i:0403:6014,shdn=3"},
            {"Is the chip there? Probe an I2C adapter and GPIO lines for it:",
             "pxctl detect --probe i2c:bus=1 gpio:chip=gpiochip0,sda=17,scl=27"},
            {"A chip strapped to address 0x2d:", "pxctl --port ppdev --address 0x2d set 1 200"},
            {"Sweep channel 1 on the parallel port; the first failure stops the sweep with its status:",
             "for c in $(seq 0 16 255); do pxctl --port ppdev set 1 $c || exit; done"},
            {"Program A, one JSON object a line, read with jq:",
             "pxctl --program a --port sim --json set 2 200 | jq .read"},
            {"A session through a pipe, the port held between lines:",
             "printf 'set 2 10\\nread\\n' | pxctl --port ppdev:dev=/dev/parport1 -"},
            {"Check that the chip answers, on a Raspberry Pi's GPIO lines (with pull-ups on both):",
             "pxctl --port gpio:chip=gpiochip0,sda=17,scl=27 --check-ack set 1 5"},
            {"Free a bus a device holds low:", "pxctl --port ppdev recover"},
            {"The board as a SCPI instrument; then, in Python, pyvisa.ResourceManager(\"@py\").open_resource("
             "\"TCPIP::127.0.0.1::5025::SOCKET\", read_termination=\"\\n\").query(\"*IDN?\"):",
             "pxctl --port ppdev serve"},
            {"The same instrument as VISA finds it over VXI-11 (with rpcbind running): "
             "open_resource(\"TCPIP::127.0.0.1::INSTR\"), or from a shell:",
             "lxi scpi -a 127.0.0.1 \"WIP1?\""},
            {"A session with the instrument (answers after ->): *IDN? -> px77xx,PX7702_RevA,sim,VERSION; WIP1 200; "
             "WIP2 MAX; WIP1?;WIP2? -> 200;255; READ? -> 255; WIP1 300; SYST:ERR? -> -222,\"Data out of range;300 "
             "(0..255)\"; SYST:ERR? -> 0,\"No error\". The simulated board as the instrument, for trying a client:",
             "pxctl --port sim serve"},
        };
    }
    m.exitStatus = {
        {"0", std::string("every action ran; serve: ") + (kWindows ? "a console event" : "a signal") + " ended it"},
        {"1", "the port failed (one line on standard error names the action, what of it reached the port and how "
              "many ran before it; nothing after it runs), the output could not be written (a reader that went away "
              "is told nothing), or recover found the bus stuck"},
        {"2", "a bad option, port string or action, before the port is touched; with --keep-going, a bad line in the "
              "session; serve: an address it cannot read"},
    };
    if (kWindows) {
        m.exitStatus.push_back({"129, 130, 143", "the console closing, Ctrl-C or Ctrl-Break stopped it, after the action "
                                                 "under way had finished, even while its output waited on a reader; "
                                                 "with --json a last object says so ({\"ok\":false,\"interrupted\":"
                                                 "\"Ctrl-C\",\"after\":11,\"of\":40})"});
    } else {
        m.exitStatus.push_back({"128+N", "signal N (SIGINT, SIGTERM, SIGHUP) stopped it, after the action under way had "
                                         "finished, even while its output waited on a reader; with --json a last "
                                         "object says so ({\"ok\":false,\"interrupted\":\"SIGTERM\",\"after\":11,"
                                         "\"of\":40})"});
    }
    m.sections.push_back(jsonSection());
    m.sections.push_back(scpiSection());
    m.files = kFiles;
    std::vector<std::string> windows;
    for (const commands::Descriptor* d : commands::programs()) windows.push_back(std::string(d->executable) + "(1)");
    m.seeAlso = windows;
    m.seeAlso.insert(m.seeAlso.end(), {"i2cdetect(8)", "gpiodetect(1)", "sigrok-cli(1)", "lsusb(8)"});
    return m;
}

Manual windowManual(const commands::Descriptor& program) {
    // On Windows the window is a Win32 one: no Qt options, and the ports Windows has.
    constexpr bool kWin32 = kWindows;
    Manual m;
    m.name = std::string(program.executable);
    m.summary = std::string(program.purpose);
    m.synopsis = {std::string("[--port BACKEND[:key=value,...]] [--address 0xNN] [--trace FILE] [--check-ack]") +
                      (kWin32 ? "" : " [Qt options]"),
                  "--choose-port [--address 0xNN]",
                  "--help | --version"};
    m.description = {
        "The window " + std::string(program.caption) + " sets the wipers of a two-channel digital potentiometer "
            "by bit-banging its two-wire bus: " +
            (kWin32 ? "through a parallel port by way of a port library, an FTDI chip, or on a simulated board. "
                    : "through a parallel port, GPIO lines, any Linux I2C adapter, an FTDI chip, or on a simulated "
                      "board. ") +
            afterColon(program.summary) + ".",
        "It holds a code scroll bar for each channel, whose every change writes the frame at once; the presets for "
        "the selected channel; a bit panel showing every bit of the write frame, which can be set by hand and sent "
        "with Run; and a read row showing the byte read back.",
        "Nothing touches the port before the first action. A failing port stops the action at the failing access: "
        "the title says whether nothing, the frame without its read-back, or part of a transaction reached the port, "
        "and one dialog names the device, the operation, the reason and what to do; the next action tries the port "
        "again.",
        "Every action works from the keyboard: Tab goes from the code bars to the buttons and on to the bit bars; "
        "on a scroll bar the arrows move a step, Page Up and Page Down the large change, Home and End to the ends; "
        "Enter and Space press a focused button. A screen reader reads each control by name.",
        kWin32 ? "Ctrl+Q, the close box and the end of the session close the window as Exit does, once the frame "
                 "under way is whole."
               : "Ctrl+Q and the close box close the window as Exit does. SIGINT, SIGTERM or SIGHUP closes it so too, "
                 "once the frame "
                 "under way is whole. Without a display the program says so and exits; pxctl(1) does the same work "
                 "without one.",
    };
    m.options = {
        portOption(),
        traceOption(),
        checkAckOption(),
        addressOption(),
        {"--choose-port", std::string("first the port chooser: the ports this computer offers, each with its state; "
                                      "Test asks the chip at the address through the one selected, and Use this port "
                                      "saves it as the user's default (as pxctl config port does), then the window "
                                      "opens on it. The ") +
                              (kWin32 ? "Start menu's \"Choose the port…\" entry" : "desktop entry's \"Choose the port…\" action") +
                              " and the failure dialog's button open it too"},
        {"--help", "print this help and exit"},
        {"--version", "print the version and exit"},
    };
    if (!kWin32) m.options.push_back({"Qt options", "-platform offscreen, -display :1, -style ... go to Qt"});
    m.listTitle = "THE WINDOW";
    for (const commands::Command& command : program.commands) {
        auto [caption, text] = commands::helpParts(command.help);
        if (command.help.empty()) continue;  // Exit, last
        if (caption.empty()) {
            caption = text.substr(0, text.find(" moved to"));  // "the channel 1 code scroll bar"
            text = "0..255; every change writes the channel's frame at once";
        }
        // "(program b sends ...)": this program's own note reads "(sends ...)"; another's goes.
        if (const auto note = text.find(" (program "); note != std::string::npos) {
            const std::string own = " (program " + std::string(program.key) + " ";
            const bool mine = text.compare(note, own.size(), own) == 0;
            text = mine ? text.substr(0, note) + " (" + text.substr(note + own.size()) : text.substr(0, note);
        }
        m.list.push_back({caption, text});
    }
    m.list.push_back({"the bit panel", "every bit of the write frame, a one-bit scroll bar each, to be set by hand "
                                       "and sent with Run"});
    m.list.push_back({"the read row", "the byte the last read-back read, bit by bit"});
    m.list.push_back({"Exit", "closes the window; nothing is sent, and the wipers keep the codes last written"});
    if (kWin32) {
        m.examples = {
            {"Open on the simulated board:", m.name + " --port sim"},
            {"Through InpOut32's free port library, recording a waveform for PulseView:",
             m.name + " --port lib:path=inpoutx64.dll --trace bus.vcd"},
        };
        m.exitStatus = {
            {"0", "the window was closed"},
            {"1", "an internal error"},
            {"2", "a bad option or port string, before any window opens"},
        };
    } else {
        m.examples = {
            {"Open on the simulated board:", m.name + " --port sim"},
            {"On the first parallel port, at least 20 microseconds after each write:",
             m.name + " --port ppdev:delay=20"},
            {"On an I2C adapter, recording a waveform for PulseView:", m.name + " --port i2c:bus=1 --trace bus.vcd"},
            {"On a Raspberry Pi's GPIO lines, checking that the chip answers:",
             m.name + " --port gpio:chip=gpiochip0,sda=17,scl=27,shdn=22 --check-ack"},
        };
        m.exitStatus = {
            {"0", "the window was closed"},
            {"1", "no display, or an internal error"},
            {"2", "a bad option or port string, before any window opens"},
            {"128+N", "signal N (SIGINT, SIGTERM, SIGHUP) closed it, once the frame under way was whole"},
        };
    }
    m.files = kFiles;
    m.seeAlso = {"pxctl(1)", "sigrok-cli(1)"};
    for (const commands::Descriptor* d : commands::programs()) {
        if (d != &program) m.seeAlso.push_back(std::string(d->executable) + "(1)");
    }
    return m;
}

std::string helpText(const Manual& m) {
    std::string out;
    for (std::size_t i = 0; i < m.synopsis.size(); ++i) {
        out += (i == 0 ? "Usage: " : "       ") + m.name + " " + m.synopsis[i] + "\n";
    }
    out += "\n";
    for (const std::string& paragraph : m.description) out += wrap(paragraph, 0, 0) + "\n\n";
    entriesText(out, "Options", m.options);
    std::string title = m.listTitle;
    std::transform(title.begin() + 1, title.end(), title.begin() + 1,
                   [](char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); });
    entriesText(out, title, m.list);
    for (const Section& section : m.sections) entriesText(out, section.title, section.entries, section.intro);
    entriesText(out, "Ports", portEntries());
    entriesText(out, "Traces", traceEntries());
    out += "Examples:\n";
    for (const Example& e : m.examples) out += "  " + wrap(e.what, 2, 2) + "\n    " + e.command + "\n";
    out += "\n";
    entriesText(out, "Exit status", m.exitStatus);
    out.pop_back();
    return out;
}

std::string sessionHelp() {
    std::string out;
    entriesText(out, "Actions, any number a line (# starts a comment; help ACTION tells of one; quit, exit or the "
                     "end of input ends the session)",
                pxctlManual().list);
    out.pop_back();
    return out;
}

std::string sessionHelp(std::string_view action) {
    std::vector<Entry> found;
    for (const Entry& entry : pxctlManual().list) {
        const std::string_view form = entry.term;
        const bool named = form.rfind(action, 0) == 0 &&
                           (form.size() == action.size() || std::string_view(" =:").find(form[action.size()]) !=
                                                                 std::string_view::npos);
        if (named) found.push_back(entry);
    }
    std::string out;
    for (const Entry& e : found) out += e.term + "\n  " + wrap(e.text, 2, 2) + "\n";
    return out;
}

std::string manPage(const Manual& m, std::string_view version, std::string_view date) {
    std::string out = ".TH " + upper(m.name) + " 1 \"" + std::string(date) + "\" \"" + m.name + " " +
                      std::string(version) + "\" \"User Commands\"\n";
    // The synopsis left-aligned and unhyphenated, its forms one to a line.
    out += ".SH NAME\n" + roff(m.name) + " \\- " + roff(m.summary) + "\n.SH SYNOPSIS\n.nh\n.ad l\n";
    for (std::size_t i = 0; i < m.synopsis.size(); ++i) {
        out += std::string(i == 0 ? "" : ".br\n") + ".B " + roff(m.name) + "\n" + roff(m.synopsis[i]) + "\n";
    }
    out += ".ad\n.hy\n.SH DESCRIPTION\n";
    for (const std::string& paragraph : m.description) out += ".PP\n" + roff(paragraph) + "\n";
    entriesRoff(out, "OPTIONS", m.options);
    entriesRoff(out, m.listTitle, m.list);
    for (const Section& section : m.sections) entriesRoff(out, upper(section.title), section.entries, section.intro);
    entriesRoff(out, "PORTS", portEntries());
    entriesRoff(out, "TRACES", traceEntries());
    out += ".SH EXAMPLES\n";
    // Each command a block of its own, unfilled, so that no two run together.
    for (const Example& e : m.examples) {
        out += ".PP\n" + roff(e.what) + "\n.PP\n.RS 4\n.EX\n" + roff(e.command) + "\n.EE\n.RE\n";
    }
    entriesRoff(out, "EXIT STATUS", m.exitStatus);
    entriesRoff(out, "FILES", m.files);
    out += ".SH SEE ALSO\n";
    for (std::size_t i = 0; i < m.seeAlso.size(); ++i) {
        const std::string& ref = m.seeAlso[i];
        const auto paren = ref.find('(');
        const std::string comma = i + 1 < m.seeAlso.size() ? "," : "";
        out += ".BR " + roff(ref.substr(0, paren)) + " " + ref.substr(paren) + comma + "\n";
    }
    return out;
}

}  // namespace frontend
