// A bare libftdi loop, the yardstick for the ftdi backend: opens the first
// FT232H as the backend does (MPSSE, latency timer 1 ms, the echo check), then
// sends the bulk OUT transfers a recorded session made, one write each, from
// the second line of the record on (the first is the recorded echo check).
// Each line is the transfer in hex; what follows a space is left alone.
//   ftdi_loop RECORD
#include <ftdi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ftdi_loop RECORD\n");
        return 2;
    }
    std::ifstream record(argv[1]);
    std::vector<std::vector<unsigned char>> writes;
    for (std::string line; std::getline(record, line);) {
        std::vector<unsigned char> bytes;
        const std::size_t end = line.find(' ') == std::string::npos ? line.size() : line.find(' ');
        for (std::size_t i = 0; i + 1 < end; i += 2) bytes.push_back(static_cast<unsigned char>(std::stoul(line.substr(i, 2), nullptr, 16)));
        writes.push_back(bytes);
    }
    ftdi_context* ftdi = ftdi_new();
    unsigned char sync = 0xAA, echo[2] = {};
    int got = 0;
    if (ftdi == nullptr || ftdi_usb_open(ftdi, 0x0403, 0x6014) < 0 || ftdi_tcioflush(ftdi) < 0 ||
        ftdi_set_latency_timer(ftdi, 1) < 0 || ftdi_set_bitmode(ftdi, 0, BITMODE_RESET) < 0 ||
        ftdi_set_bitmode(ftdi, 0, BITMODE_MPSSE) < 0 || ftdi_write_data(ftdi, &sync, 1) != 1) {
        std::fprintf(stderr, "ftdi_loop: %s\n", ftdi != nullptr ? ftdi_get_error_string(ftdi) : "no memory");
        return 1;
    }
    while (got < 2) {
        const int n = ftdi_read_data(ftdi, echo + got, 2 - got);
        if (n < 0) return 1;
        got += n;
    }
    for (std::size_t i = 1; i < writes.size(); ++i) {
        if (ftdi_write_data(ftdi, writes[i].data(), static_cast<int>(writes[i].size())) != static_cast<int>(writes[i].size())) {
            std::fprintf(stderr, "ftdi_loop: %s\n", ftdi_get_error_string(ftdi));
            return 1;
        }
    }
    ftdi_usb_close(ftdi);
    ftdi_free(ftdi);
    std::printf("%zu writes\n", writes.size() - 1);
    return 0;
}
