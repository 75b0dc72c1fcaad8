// A fixed amount of work for an instruction count of the simulated board:
// program B's frame and read-back, 100000 times (107 accesses each). Counted
// with valgrind (bench/board_instructions.sh), which repeats to the instruction
// whatever else the machine is doing; timings on a shared virtual machine do not.
#include "bus/transactions.h"
#include "sim/board.h"

#include <cstdio>

int main() {
    sim::Board board;
    constexpr int kRounds = 100000;
    int sum = 0;
    for (int i = 0; i < kRounds; ++i) {
        bus::writeFrame(board, bus::kFrameB, 0x2C00190);
        sum += bus::readBack(board, bus::kCodesB, bus::kReadBackAddress);
    }
    std::printf("%d accesses, read %d\n", kRounds * 107, sum / kRounds);
}
