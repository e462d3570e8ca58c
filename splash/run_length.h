// Decoding a run-length coded bitmap (8 or 4 bits a pixel) into the
// uncompressed rows of its top-left corner only. Plain arithmetic over bytes,
// so that a picture that claims a vast size costs no more than its corner.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct RunLengthCorner {
    uint8_t* rows;   // the corner's rows, bottom-up like the picture, zero-filled by the caller
    uint32_t stride; // bytes a row, whole 4-byte words
    uint32_t width;  // the corner's width and height in pixels
    uint32_t height;
    uint32_t pictureWidth; // the picture's own size; its height is above 0
    uint32_t pictureHeight;
    int bits; // 8 or 4
};

// Reads `size` bytes of codes from the bottom-left pixel on: runs, absolute
// stretches, line ends, moves and the bitmap's end. Pixels that no code
// reaches keep the caller's zero (the first colour); pixels beyond a row's
// end are dropped, and decoding ends at the bitmap's end mark, at the top
// row, or where the codes run out.
void DecodeRunLengthCorner(const uint8_t* codes, size_t size, const RunLengthCorner& corner);
