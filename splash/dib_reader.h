// Reads the part of a Windows bitmap file that is drawn into one movable
// global memory block holding a packed DIB: the info header, the colour table
// as 4-byte entries and the pixel bits, one after the other, as DrawDib and
// GDI take them. The part drawn is the picture's top-left corner of at most
// `width` by `height` pixels: a picture within it comes whole, a larger one is
// cut to it. The pixels are always plain (BI_RGB): run-length codes are
// decoded, bit fields (16 or 32 bits a pixel) become 24-bit pixels, and a
// picture compressed any other way is refused, so that nothing that draws the
// block ever looks for a decompressor.
//
// The 14-byte file header is optional, and an old 12-byte core header is
// widened to the 40-byte info header on the way in. Only the bit counts that
// bitmaps have (1, 4, 8, 16, 24 and 32) are read. Whatever a header claims, a
// file costs no more memory than the corner plus what the file itself holds:
// pixels the file does not hold, or that run-length codes skip, are zero. The
// caller owns the block and frees it with GlobalFree; null means the file
// could not be read or was refused.
#pragma once

#include <windows.h>

// Opens the named file, reads the drawn corner and closes the file again.
HGLOBAL LoadDibFile(const char* fileName, LONG width, LONG height);

// Reads the corner of a bitmap that begins at the current position of an open
// file, which stays open. After a picture read whole and uncompressed, the
// file stands right after its last pixel byte; otherwise where it stands is
// not said.
HGLOBAL LoadDibFile(HFILE file, LONG width, LONG height);

// The first stage of LoadDibFile: reads the file header (if any), the bitmap
// header and the colour table into a new unlocked block of exactly header plus
// colour table, and leaves the file at the first pixel byte. The stored header
// carries the picture's whole size, the final biSizeImage (the stated length
// of compressed codes) and the colour count in biClrUsed.
HGLOBAL ReadDibHeader(HFILE file);
