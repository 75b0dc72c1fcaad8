// Bit panel synchronisation. Every assignment that changes a bit raises the
// cascade before the next step, so the order of assignments here is observable.
#include "frame/panel.h"

#include <cstddef>
#include <string_view>

namespace frame {
namespace {

std::string_view bitText(int value) { return value != 0 ? "1" : "0"; }

controls::ScrollBar& bit(controls::Controls& c, int k) { return c.vsbBit[static_cast<std::size_t>(k)]; }

// Clears positions 0..n-1 in ascending order, then sets those whose bit in the
// source is 1, again ascending: the two passes of the spreading procedures.
void spreadBits(controls::Controls& c, std::uint32_t source, int n) {
    for (int i = 0; i < n; ++i) bit(c, i).setValue(0);
    for (int k = 0; k < n; ++k) {
        if (((source >> k) & 1U) != 0) bit(c, k).setValue(1);
    }
}

}  // namespace

void Compute_Frame_Word(controls::Controls& c, const Variant& v, int& dataByte, std::uint32_t& frameWord) {
    // Terms are read before the slots are cleared; the slots never reach the result,
    // so a nested run (raised by a clear below) gives the same outputs.
    std::uint32_t terms = 0;
    for (int k = v.frame.length - 1; k >= 0; --k) {
        terms |= static_cast<std::uint32_t>(bit(c, k).Value()) << k;
    }
    for (int slot : v.ackSlots) bit(c, slot).setValue(0);
    if (v.assemblyWritesAckTexts) {
        for (int slot : v.ackSlots) c.txtBit[static_cast<std::size_t>(slot)].setText("0");
    }
    terms &= ~v.ackMask();
    dataByte = static_cast<int>((terms >> v.dataShift) & 0xFFU);
    frameWord = terms;
}

void vsbBit_Change(controls::Controls& c, const Variant& v, int /*index*/) {
    for (int i = 0; i <= v.lastMirrored; ++i) {
        c.txtBit[static_cast<std::size_t>(i)].setText(bitText(bit(c, i).Value()));
    }
    int dataByte = 0;
    std::uint32_t discarded = 0;
    Compute_Frame_Word(c, v, dataByte, discarded);
    c.txtSDA_Write.setText(controls::DecimalText(dataByte));
}

void Set_Data_Bits(controls::Controls& c, int InputCode) {
    spreadBits(c, static_cast<std::uint32_t>(InputCode), 8);
}

void Set_Frame_Bits(controls::Controls& c, std::uint32_t FrameWord) { spreadBits(c, FrameWord, 27); }

void bindPanel(controls::Controls& c, const Variant& v) {
    for (int k = 0; k < controls::kBitCount; ++k) {
        bit(c, k).setChangeHandler([&c, &v, k] { vsbBit_Change(c, v, k); });
    }
}

}  // namespace frame
