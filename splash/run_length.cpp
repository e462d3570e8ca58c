// Run-length decoding into a corner: see run_length.h.
#include "run_length.h"

namespace {

struct Decoder {
    const RunLengthCorner& corner;
    uint32_t firstRow; // the picture's row at the corner's bottom
    uint32_t rowEnd;   // pixels beyond it are neither in the row nor in the corner
    uint64_t x = 0;
    uint64_t y = 0; // from the bottom row up

    explicit Decoder(const RunLengthCorner& c)
        : corner(c), firstRow(c.pictureHeight - c.height),
          rowEnd(c.width < c.pictureWidth ? c.width : c.pictureWidth)
    {
    }

    bool Finished() const
    {
        return y >= corner.pictureHeight;
    }

    void Put(uint64_t column, uint8_t index) const
    {
        if (y < firstRow || column >= rowEnd) return;
        uint8_t* row = corner.rows + (y - firstRow) * corner.stride;
        if (corner.bits == 8) {
            row[column] = index;
        } else {
            uint8_t& pair = row[column / 2];
            pair =
                column % 2 ? uint8_t((pair & 0xF0) | (index & 0x0F)) : uint8_t((pair & 0x0F) | (index << 4));
        }
    }

    // The pixel `i` of a run or stretch whose bytes are `bytes`: a byte a
    // pixel at 8 bits, two pixels a byte (high half first) at 4.
    uint8_t Pixel(const uint8_t* bytes, uint32_t i, bool repeated) const
    {
        if (corner.bits == 8) return repeated ? bytes[0] : bytes[i];
        const uint8_t pair = repeated ? bytes[0] : bytes[i / 2];
        return i % 2 ? pair & 0x0F : pair >> 4;
    }

    // Writes `count` pixels from x on; only those inside the corner cost.
    void Emit(const uint8_t* bytes, uint32_t count, bool repeated)
    {
        if (y >= firstRow && x < rowEnd) {
            const uint64_t visible = rowEnd - x < count ? rowEnd - x : count;
            for (uint32_t i = 0; i < visible; ++i)
                Put(x + i, Pixel(bytes, i, repeated));
        }
        x += count;
    }
};

} // namespace

void DecodeRunLengthCorner(const uint8_t* codes, size_t size, const RunLengthCorner& corner)
{
    if (corner.bits != 8 && corner.bits != 4) return;
    if (corner.height > corner.pictureHeight || corner.width == 0 || corner.height == 0) return;
    Decoder decoder(corner);
    size_t at = 0;
    while (at + 2 <= size && !decoder.Finished()) {
        const uint8_t count = codes[at], value = codes[at + 1];
        at += 2;
        if (count > 0) {
            decoder.Emit(&value, count, true);
        } else if (value == 0) { // end of the line
            decoder.x = 0;
            ++decoder.y;
        } else if (value == 1) { // end of the bitmap
            return;
        } else if (value == 2) { // move right and up
            if (at + 2 > size) return;
            decoder.x += codes[at];
            decoder.y += codes[at + 1];
            at += 2;
        } else { // a stretch of `value` pixels as they are, padded to whole words
            const size_t bytes = corner.bits == 8 ? value : (value + 1u) / 2;
            if (bytes > size - at) return;
            decoder.Emit(&codes[at], value, false);
            at += bytes + bytes % 2;
        }
    }
}
