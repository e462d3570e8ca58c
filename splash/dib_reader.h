// Reads a Windows bitmap file into one movable global memory block holding a
// packed DIB: the info header, the colour table as 4-byte entries and the pixel
// bits, one after the other, as DrawDib and GDI take them. The 14-byte file
// header is optional, and an old 12-byte core header is widened to the 40-byte
// info header on the way in. Only the bit counts that bitmaps have (1, 4, 8,
// 16, 24 and 32) are read. The caller owns the block and frees it with
// GlobalFree; null means the file could not be read or was refused.
#pragma once

#include <windows.h>

// Opens the named file, reads the bitmap from its start and closes it again.
HGLOBAL LoadDibFile(const char* fileName);

// Reads a bitmap that begins at the current position of an open file, which
// stays open; after a success it stands right after the last pixel byte.
HGLOBAL LoadDibFile(HFILE file);

// The first stage of LoadDibFile: reads the file header (if any), the bitmap
// header and the colour table into a new unlocked block of exactly header plus
// colour table, and leaves the file at the first pixel byte. The stored header
// carries the final biSizeImage and the colour count in biClrUsed.
HGLOBAL ReadDibHeader(HFILE file);
