// Line editing through libedit: its wide interface, so that a line is whole
// whatever the locale, with our own character reader, which waits on the
// terminal and the signal watch at once, so that SIGINT, SIGTERM and SIGHUP end
// the session at its prompt as they do a piped one.
#include "platform/line_editor.h"

#ifdef PX_HAVE_LIBEDIT
#include <histedit.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace platform {

#ifndef PX_HAVE_LIBEDIT

std::unique_ptr<LineEditor> openLineEditor(const SignalWatch&, const char*) { return nullptr; }

#else

namespace {

constexpr int kHistorySize = 500;

std::string utf8(std::wstring_view text) {
    std::string out;
    for (const wchar_t wide : text) {
        const auto c = static_cast<std::uint32_t>(wide);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class EditLineEditor final : public LineEditor {
public:
    EditLineEditor(const SignalWatch& signals, const char* program)
        : signals_(signals), el_(::el_init(program, stdin, stderr, stderr)), history_(::history_winit()) {
        if (!valid()) return;
        HistEventW event;
        ::history_w(history_, &event, H_SETSIZE, kHistorySize);
        ::history_w(history_, &event, H_SETUNIQUE, 1);
        ::el_wset(el_, EL_HIST, ::history_w, history_);
        ::el_wset(el_, EL_EDITOR, L"emacs");
        ::el_wset(el_, EL_CLIENTDATA, this);
        ::el_wset(el_, EL_PROMPT, &EditLineEditor::promptOf);
        ::el_wset(el_, EL_GETCFN, &EditLineEditor::readCharacter);
        ::el_source(el_, nullptr);  // the user's ~/.editrc, where there is one
    }
    ~EditLineEditor() override {
        if (history_ != nullptr) ::history_wend(history_);
        if (el_ != nullptr) ::el_end(el_);
    }
    EditLineEditor(const EditLineEditor&) = delete;
    EditLineEditor& operator=(const EditLineEditor&) = delete;

    bool valid() const { return el_ != nullptr && history_ != nullptr; }

    bool next(const std::string& prompt, std::string& line) override {
        prompt_.assign(prompt.begin(), prompt.end());
        int count = 0;
        // The terminal in the editor's mode before the prompt shows: a Ctrl-D
        // typed at the prompt while the terminal is still cooked would be kept
        // as a NUL, and the end of input lost.
        ::el_wset(el_, EL_PREP_TERM, 1);
        const wchar_t* got = ::el_wgets(el_, &count);
        ::el_wset(el_, EL_PREP_TERM, 0);
        if (got == nullptr || count <= 0 || signals_.pending() != 0) return false;
        std::wstring text(got, static_cast<std::size_t>(count));
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
        if (text.find_first_not_of(L" \t") != std::wstring::npos) {
            HistEventW event;
            ::history_w(history_, &event, H_ENTER, text.c_str());
        }
        line = utf8(text);
        return true;
    }

private:
    static EditLineEditor& self(EditLine* el) {
        void* data = nullptr;
        ::el_wget(el, EL_CLIENTDATA, &data);
        return *static_cast<EditLineEditor*>(data);
    }

    static wchar_t* promptOf(EditLine* el) { return self(el).prompt_.data(); }

    // One byte from the terminal, or false at its end or once a signal is noted.
    bool readByte(unsigned char& byte) {
        for (;;) {
            pollfd fds[2] = {{0, POLLIN, 0}, {signals_.fd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
            if (signals_.pending() != 0) return false;
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t got = ::read(0, &byte, 1);
            if (got == 1) return true;
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return false;
        }
    }

    // A character decoded from UTF-8; 1 where one came, 0 at the end.
    static int readCharacter(EditLine* el, wchar_t* out) {
        EditLineEditor& editor = self(el);
        unsigned char byte = 0;
        if (!editor.readByte(byte)) return 0;
        const int more = byte < 0x80 ? 0 : (byte & 0xE0) == 0xC0 ? 1 : (byte & 0xF0) == 0xE0 ? 2 : (byte & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0) {
            *out = L'\uFFFD';
            return 1;
        }
        auto code = static_cast<std::uint32_t>(more == 0 ? byte : (byte & (0x3F >> more)));
        for (int i = 0; i < more; ++i) {
            if (!editor.readByte(byte)) return 0;
            if ((byte & 0xC0) != 0x80) {
                code = 0xFFFD;
                break;
            }
            code = (code << 6) | (byte & 0x3F);
        }
        *out = static_cast<wchar_t>(code);
        return 1;
    }

    const SignalWatch& signals_;
    EditLine* el_;
    HistoryW* history_;
    std::wstring prompt_;
};

}  // namespace

std::unique_ptr<LineEditor> openLineEditor(const SignalWatch& signals, const char* program) {
    if (!standardInputIsTerminal()) return nullptr;
    auto editor = std::make_unique<EditLineEditor>(signals, program);
    if (!editor->valid()) return nullptr;
    return editor;
}

#endif

}  // namespace platform
