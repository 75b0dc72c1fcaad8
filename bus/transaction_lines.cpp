// The stand-in device of a transaction-level backend.
#include "bus/transaction_lines.h"

namespace bus {

void TransactionLines::drive(bool sda, bool scl) {
    const auto step = lines_.write(sda, scl, [this] {
        if (!sending_) return;
        // As a device does: the next bit goes out right after SCL falls, most
        // significant first; after the eighth, SDA is released for the acknowledge.
        lines_.drive(sentBits_ < 8 ? ((readByte_ >> (7 - sentBits_)) & 1) != 0 : true);
        sending_ = sentBits_++ < 8;
    });
    for (const auto& e : decoder_.step(step)) {
        if (const Transaction* ended = assembler_.step(e)) {
            sending_ = false;
            lines_.drive(true);
            // A transaction with no complete byte after its address sends nothing.
            if (!ended->read && ended->byteCount > 0) carrier_.send(*ended);
        }
        // The read address and its acknowledge clock are done: fetch the byte
        // the master is about to clock in.
        const Transaction& t = assembler_.current();
        if (e.kind == Decoder::Kind::Acknowledge && e.index == 0 && t.read) {
            readByte_ = carrier_.fetch(t.address7());
            sending_ = true;
            sentBits_ = 0;
        }
    }
}

}  // namespace bus
