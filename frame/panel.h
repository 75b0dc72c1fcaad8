// The bit panel in both directions: assembling the frame word from the panel,
// keeping the text mirrors current, and spreading a code or frame word over it.
#pragma once

#include "controls/controls.h"
#include "frame/variant.h"

#include <cstdint>

namespace frame {

// Reads the write positions, clears the acknowledge slots in their order (each
// clear of a set slot re-enters vsbBit_Change) and returns the panel's data byte
// and frame word with every acknowledge slot taken as 0.
void Compute_Frame_Word(controls::Controls& c, const Variant& v, int& dataByte, std::uint32_t& frameWord);

// The Change handler of every vsbBit element: mirror the bits into their text
// boxes, reassemble the frame and show its data byte. The index is not used.
void vsbBit_Change(controls::Controls& c, const Variant& v, int index);

// Program A: positions 0..7 from the wiper code; bits above are ignored.
void Set_Data_Bits(controls::Controls& c, int InputCode);

// Program B: positions 0..26 from the frame word; bits above are ignored.
void Set_Frame_Bits(controls::Controls& c, std::uint32_t FrameWord);

// Makes vsbBit_Change the Change handler of every vsbBit element.
void bindPanel(controls::Controls& c, const Variant& v);

}  // namespace frame
