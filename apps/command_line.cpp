#include "apps/command_line.h"

#include "ports/factory.h"
#include "ports/options.h"

namespace apps {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string* target = nullptr;
        std::string option = argument;
        std::string value;
        bool hasValue = false;
        if (const auto equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            option = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        if (option == "--port") {
            target = &line.port;
        } else if (option == "--trace") {
            target = &line.trace;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
            continue;
        } else if (argument == "--version") {
            line.version = true;
            continue;
        } else if (argument == "--exit-when-shown") {
            line.exitWhenShown = true;
            continue;
        } else if (argument.rfind("-", 0) == 0) {
            throw UsageError("unknown option '" + ports::printable(argument) + "'; see --help");
        } else {
            throw UsageError("unexpected argument '" + ports::printable(argument) + "'; see --help");
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) throw UsageError(ports::printable(option) + " needs a value; see --help");
            value = arguments[++i];
        }
        if (value.empty()) throw UsageError(ports::printable(option) + " needs a value; see --help");
        *target = value;
    }
    return line;
}

std::string usage(const std::string& program) {
    std::string text = "Usage: " + program + " [--port BACKEND[:key=value,...]] [--trace FILE]\n\n" +
                       "  --port PORT    where the bus is (default " + kDefaultPort + ")\n" +
                       "  --trace FILE   record every port access: FILE.vcd as a waveform for\n" +
                       "                 PulseView or GTKWave, any other name as a text log\n" +
                       "  --exit-when-shown  quit as soon as the window is drawn (start-up checks)\n" +
                       "  --help         this text\n  --version      the version\n\nPorts:\n";
    for (const auto& backend : ports::backends()) {
        std::string form(backend.usage);
        form.resize(form.size() < 38 ? 38 : form.size() + 1, ' ');
        text += "  " + form + std::string(backend.description) + "\n";
    }
    return text;
}

}  // namespace apps
