// Converting bit-field pixels: see bit_fields.h.
#include "bit_fields.h"

namespace {

bool ReadField(uint32_t mask, int bits, BitField* field)
{
    if (mask == 0 || (bits < 32 && mask >> bits)) return false;
    int shift = 0;
    while (!(mask >> shift & 1))
        ++shift;
    const uint32_t run = mask >> shift;
    if (run & (run + 1)) return false; // not one run of ones
    int width = 0;
    while (width < 32 && run >> width)
        ++width;
    *field = {mask, shift, width};
    return true;
}

// Fewer than 8 bits are repeated to fill the byte (5 bits abcde make
// abcdeabc), so that all ones give 255; more are cut to their top 8. Either
// way the result is within one of the exact proportion, without a division
// for every pixel.
uint8_t Scale(uint32_t pixel, const BitField& field)
{
    const uint32_t value = (pixel & field.mask) >> field.shift;
    if (field.width >= 8) return uint8_t(value >> (field.width - 8));
    uint32_t scaled = 0;
    for (int at = 8 - field.width; at > -field.width; at -= field.width)
        scaled |= at >= 0 ? value << at : value >> -at;
    return uint8_t(scaled);
}

} // namespace

bool ReadBitFieldFormat(int bits, uint32_t red, uint32_t green, uint32_t blue, BitFieldFormat* format)
{
    if (bits != 16 && bits != 32) return false;
    if ((red & green) || (red & blue) || (green & blue)) return false;
    format->bits = bits;
    return ReadField(red, bits, &format->red) && ReadField(green, bits, &format->green) &&
           ReadField(blue, bits, &format->blue);
}

void ConvertBitFieldRow(const uint8_t* from, uint8_t* to, uint32_t width, const BitFieldFormat& format)
{
    const int bytes = format.bits / 8;
    for (uint32_t i = 0; i < width; ++i, from += bytes, to += 3) {
        uint32_t pixel = from[0] | uint32_t(from[1]) << 8;
        if (bytes == 4) pixel |= uint32_t(from[2]) << 16 | uint32_t(from[3]) << 24;
        to[0] = Scale(pixel, format.blue);
        to[1] = Scale(pixel, format.green);
        to[2] = Scale(pixel, format.red);
    }
}
