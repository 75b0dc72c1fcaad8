// Writes the man pages, pxctl's and each window's, from the same tables as
// their --help: manpages DIR VERSION DATE.
#include "frontend/manual.h"
#include "commands/descriptor.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) std::fprintf(stderr, "manpages: %s: cannot write\n", path.c_str());
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "Usage: manpages DIR VERSION DATE\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = write(dir + "/pxctl.1", frontend::manPage(frontend::pxctlManual(), argv[2], argv[3]));
    for (const commands::Descriptor* program : commands::programs()) {
        ok = write(dir + "/" + std::string(program->executable) + ".1",
                   frontend::manPage(frontend::windowManual(*program), argv[2], argv[3])) && ok;
    }
    return ok ? 0 : 1;
}
