// Bit-field pixels made plain: a 16- or 32-bit pixel whose red, green and
// blue are runs of bits named by three masks becomes a 24-bit blue, green,
// red triple, which every drawing routine takes without a decompressor.
// Plain arithmetic over bytes.
#pragma once

#include <stdint.h>

struct BitField {
    uint32_t mask;
    int shift; // of the mask's lowest bit
    int width; // bits in the mask, 1 to 30
};

struct BitFieldFormat {
    int bits; // a pixel's: 16 or 32
    BitField red, green, blue;
};

// False where the masks describe no colour: a mask that is zero, has a gap,
// reaches beyond the pixel's bits or shares a bit with another, or a bit
// count other than 16 or 32.
bool ReadBitFieldFormat(int bits, uint32_t red, uint32_t green, uint32_t blue, BitFieldFormat* format);

// Converts `width` pixels at `from` into blue, green, red triples at `to`;
// the two must not overlap. Each colour is scaled to 8 bits so that its
// lowest value gives 0 and its highest 255.
void ConvertBitFieldRow(const uint8_t* from, uint8_t* to, uint32_t width, const BitFieldFormat& format);
