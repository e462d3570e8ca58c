// What every block that the bitmap reader hands out must satisfy, whatever
// file it came from: the sizes add up, the colour count is stored, the pixels
// are plain RGB, and drawing finds every row it reads inside the block.
// Shared by the reader's tests and its fuzz target.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

// Null when the block is sound, else what is wrong with it.
inline const char* PackedDibFault(HGLOBAL block)
{
    if (GlobalFlags(block) & GMEM_LOCKCOUNT) return "block handed out locked";
    const uint64_t size = GlobalSize(block);
    if (size < sizeof(BITMAPINFOHEADER)) return "block smaller than an info header";

    BITMAPINFOHEADER header;
    memcpy(&header, GlobalLock(block), sizeof header);
    GlobalUnlock(block);

    if (header.biSize < sizeof header) return "biSize below 40";
    if (size != header.biSize + 4 * uint64_t(header.biClrUsed) + header.biSizeImage)
        return "block size is not biSize + 4 * biClrUsed + biSizeImage";
    if (header.biClrUsed > 0xFFFF) return "colour count above 65535";
    const WORD bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "a bit count that no bitmap has";
    if (header.biBitCount <= 8 && header.biClrUsed == 0) return "colour count not stored";

    // Anything but plain RGB, bit fields included, has Video for Windows look
    // for a decompressor.
    if (header.biCompression != BI_RGB) return "pixels that are not plain RGB";
    if (header.biWidth < 0) return "negative width";
    const uint64_t rows = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    const uint64_t rowBytes = (uint64_t(header.biBitCount) * uint32_t(header.biWidth) + 31) / 32 * 4;
    if (rows && rowBytes > header.biSizeImage / rows) return "rows do not fit in the pixel bits";
    return nullptr;
}
