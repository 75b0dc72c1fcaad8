// The man pages as man shows them: no warnings from the formatter, every
// section a reader looks for, each example on a line of its own, and every
// form of the command in the synopsis.
#include "frontend/manual.h"
#include "commands/descriptor.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace testing_support;

struct Page {
    std::string name;
    frontend::Manual manual;
};

std::vector<Page> pages() {
    std::vector<Page> all{{"pxctl", frontend::pxctlManual()}};
    for (const commands::Descriptor* d : commands::programs()) {
        all.push_back({std::string(d->executable), frontend::windowManual(*d)});
    }
    return all;
}

// Runs of blanks as one space, so that a wrapped line still matches.
std::string squeezed(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const bool blank = ch == ' ' || ch == '\n';
        if (!blank || (!out.empty() && out.back() != ' ')) out += blank ? ' ' : ch;
    }
    return out;
}

TEST(ManPages, ReadWithoutWarningsAndHoldEverySection) {
    const std::string dir = testing::TempDir();
    ASSERT_EQ(runProgram(dir + " 0.1.0 'December 2026'", MANPAGES).status, 0);
    for (const Page& page : pages()) {
        SCOPED_TRACE(page.name);
        const ProcessResult man = runProgram("--warnings -l " + dir + "/" + page.name + ".1", "man", "",
                                             "MANWIDTH=80 LC_ALL=C.UTF-8 MAN_KEEP_FORMATTING=");
        EXPECT_EQ(man.status, 0);
        EXPECT_EQ(man.err, "");
        std::size_t at = 0;
        for (const std::string section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "PORTS", "TRACES",
                                          "EXAMPLES", "EXIT STATUS", "FILES", "SEE ALSO"}) {
            const auto found = man.out.find("\n" + section + "\n", at);
            EXPECT_NE(found, std::string::npos) << section << " missing or out of order\n" << man.out;
            if (found != std::string::npos) at = found;
        }
        // Each example's command on its own line, never run into the next.
        for (const frontend::Example& example : page.manual.examples) {
            EXPECT_NE(man.out.find("\n           " + example.command + "\n"), std::string::npos)
                << example.command << "\n" << man.out;
        }
        const auto synopsis = man.out.find("\nSYNOPSIS\n");
        const std::string forms =
            squeezed(man.out.substr(synopsis, man.out.find("\nDESCRIPTION\n") - synopsis));
        for (const std::string& form : page.manual.synopsis) {
            EXPECT_NE(forms.find(page.name + " " + form), std::string::npos) << form << "\n" << forms;
        }
    }
}

// The - session's rules are in pxctl --help, where a user looks first.
TEST(ManPages, PxctlHelpSaysHowASessionReadsItsLines) {
    const std::string help = squeezed(frontend::helpText(frontend::pxctlManual()));
    for (const std::string rule : {"# starts a comment anywhere on a line", "help lists the actions and help ACTION tells of one",
                                   "From a terminal it prompts, with line editing and history", "naming its line"}) {
        EXPECT_NE(help.find(rule), std::string::npos) << rule;
    }
}

// Each system's build documents its own system: the Linux pages hold none of
// the words only a Windows user could follow (the Windows build's are checked
// under wine).
TEST(ManPages, TheLinuxPagesSpeakOfLinuxAlone) {
    for (const Page& page : pages()) {
        const std::string help = frontend::helpText(page.manual);
        for (const std::string word : {"%APPDATA%", "Ctrl-Break", ".dll", ".exe", "PowerShell", "cmd.exe", "Windows",
                                       "D2XX", "backslash", "folder", "C:\\", "console"}) {
            EXPECT_EQ(help.find(word), std::string::npos) << page.name << ": " << word;
        }
    }
}

}  // namespace
