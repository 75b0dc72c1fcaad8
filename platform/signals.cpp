// What reading lines and checked output do on every system; posix/signals.cpp
// and windows/signals.cpp wait for input and write.
#include "platform/signals.h"

namespace platform {

bool LineReader::next(std::string& line) {
    tooLong_ = false;
    for (;;) {
        if (signals_.pending() != 0) return false;
        if (const auto newline = buffer_.find('\n', scanned_); newline != std::string::npos) {
            tooLong_ = dropping_ || newline > kMaxLine;
            line = tooLong_ ? std::string() : buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            scanned_ = 0;
            dropping_ = false;
            return true;
        }
        scanned_ = buffer_.size();
        if (buffer_.size() > kMaxLine) {
            dropping_ = true;
            buffer_.clear();
            scanned_ = 0;
        }
        if (ended_) {
            if (buffer_.empty() && !dropping_) return false;
            tooLong_ = dropping_;
            line = tooLong_ ? std::string() : buffer_;  // a last line without its newline
            buffer_.clear();
            scanned_ = 0;
            dropping_ = false;
            return true;
        }
        if (!fill()) return false;
    }
}

CheckedOutput::int_type CheckedOutput::overflow(int_type ch) {
    if (error_ != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) pending_ += traits_type::to_char_type(ch);
    return traits_type::not_eof(ch);
}

std::streamsize CheckedOutput::xsputn(const char* text, std::streamsize count) {
    if (error_ != 0) return 0;
    pending_.append(text, static_cast<std::size_t>(count));
    return count;
}

}  // namespace platform
