#include "script/runner.h"

#include "script/json.h"

#include <cerrno>

namespace script {

bool Runner::run(const Action& action) {
    const Result result = executor_.execute(action);
    if (json_) {
        out_ << withDetails(jsonResult(result, executor_.program())) << '\n';
    } else if (!result.note.empty()) {
        out_ << result.note << '\n';
    } else if (result.recovery && result.recovery->free) {
        out_ << "bus free\n";
    } else if (result.read) {
        out_ << *result.read << '\n';
    }
    if (!result.ok) {
        err_ << "pxctl: " << where_ << result.error;
        if (!result.recovery) err_ << " (action " << ran_ + 1 << "; " << ran_ << " ran before it)";
        err_ << std::endl;
        flushOutput();
        return false;
    }
    ++ran_;
    return flushOutput();
}

bool Runner::refused(std::size_t line, const std::string& error) {
    err_ << "pxctl: " << where_ << error << std::endl;
    if (!json_) return true;
    out_ << jsonBadLine(line, where_ + error) << '\n';
    return flushOutput();
}

std::string Runner::withDetails(std::string line) const {
    if (!address_.empty()) {
        line.pop_back();  // the closing brace
        line += ",\"address\":" + jsonQuoted(address_) + "}";
    }
    if (!details_) return line;
    const auto details = details_();
    if (!details) return line;
    line.pop_back();
    return line + ",\"adapter\":" + jsonQuoted(details->adapter) + ",\"transfers\":" + jsonQuoted(details->transfers) + "}";
}

bool Runner::flushOutput() {
    errno = 0;
    out_.flush();
    if (out_.good()) return true;
    if (outputError_ == 0) outputError_ = errno != 0 ? errno : EIO;
    return false;
}

}  // namespace script
