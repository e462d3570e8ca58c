// Reading the drawn corner of a bitmap: see dib_corner.h. The headers and the
// colour table are read by the bitmap reader's first stage; only the pixel
// bits are read here, and only those of the corner.
#include "dib_corner.h"

#include <stdint.h>
#include <string.h>

#include "dib_reader.h"
#include "run_length.h"

namespace {

const DWORD AlphaBitfields = 6;

bool IsUncompressed(DWORD compression)
{
    return compression == BI_RGB || compression == BI_BITFIELDS || compression == AlphaBitfields;
}

uint64_t RowBytes(WORD bits, uint64_t width)
{
    return (bits * width + 31) / 32 * 4;
}

// The file from `start` to its end, as the pixel bits may use it.
struct PixelSource {
    HFILE file;
    LONG start;  // the first pixel byte
    LONG length; // bytes from there to the file's end
};

// Reads `count` bytes from `offset` bytes past the first pixel byte into
// `into`; whatever the file does not hold there stays as it is.
void ReadAt(const PixelSource& source, uint64_t offset, BYTE* into, DWORD count)
{
    if (offset >= uint64_t(source.length)) return;
    const uint64_t held = uint64_t(source.length) - offset;
    const LONG wanted = LONG(held < count ? held : count);
    const LONG position = LONG(source.start + offset);
    if (_llseek(source.file, position, FILE_BEGIN) != position) return;
    _hread(source.file, into, wanted);
}

// Grows the unlocked header block by `bitsSize` zeroed bytes for the pixel
// bits and returns it, or null with the block freed.
HGLOBAL AddPixelRoom(HGLOBAL block, DWORD bitsOffset, DWORD bitsSize)
{
    HGLOBAL grown = GlobalReAlloc(block, bitsOffset + bitsSize, 0);
    if (!grown) {
        GlobalFree(block);
        return nullptr;
    }
    BYTE* dib = static_cast<BYTE*>(GlobalLock(grown));
    if (!dib) {
        GlobalFree(grown);
        return nullptr;
    }
    memset(dib + bitsOffset, 0, bitsSize);
    GlobalUnlock(grown);
    return grown;
}

// The run-length codes of a picture, as many as the file holds, decoded into
// the corner's rows.
bool DecodeCorner(const PixelSource& source, const BITMAPINFOHEADER& picture, const RunLengthCorner& corner)
{
    const DWORD size =
        picture.biSizeImage < DWORD(source.length) ? picture.biSizeImage : DWORD(source.length);
    if (size == 0) return true;
    HGLOBAL codesBlock = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!codesBlock) return false;
    BYTE* codes = static_cast<BYTE*>(GlobalLock(codesBlock));
    if (codes) {
        memset(codes, 0, size);
        ReadAt(source, 0, codes, size);
        DecodeRunLengthCorner(codes, size, corner);
        GlobalUnlock(codesBlock);
    }
    GlobalFree(codesBlock);
    return codes != nullptr;
}

HGLOBAL Refuse(HGLOBAL block)
{
    GlobalFree(block);
    return nullptr;
}

} // namespace

HGLOBAL LoadDibCorner(HFILE file, LONG width, LONG height)
{
    if (width <= 0 || height <= 0) return nullptr;
    const LONG start = _llseek(file, 0, FILE_CURRENT);
    const LONG end = _llseek(file, 0, FILE_END);
    if (start == HFILE_ERROR || end == HFILE_ERROR || _llseek(file, start, FILE_BEGIN) != start)
        return nullptr;

    HGLOBAL block = ReadDibHeader(file);
    if (!block) return nullptr;
    PixelSource source = {file, _llseek(file, 0, FILE_CURRENT), 0};
    if (source.start == HFILE_ERROR) return Refuse(block);
    source.length = end > source.start ? end - source.start : 0;

    BITMAPINFOHEADER* stored = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (!stored) return Refuse(block);
    const BITMAPINFOHEADER picture = *stored;
    GlobalUnlock(block);

    // ReadDibHeader refuses a negative width, and a height whose rows do not
    // fit in 32 bits.
    const uint64_t pictureRows = picture.biHeight < 0 ? -int64_t(picture.biHeight) : picture.biHeight;
    const uint64_t cornerWidth = uint64_t(picture.biWidth) < uint64_t(width) ? picture.biWidth : width;
    const uint64_t cornerRows = pictureRows < uint64_t(height) ? pictureRows : height;
    const bool whole = cornerWidth == uint64_t(picture.biWidth) && cornerRows == pictureRows;
    const bool uncompressed = IsUncompressed(picture.biCompression);
    const bool runLength = (picture.biCompression == BI_RLE8 && picture.biBitCount == 8) ||
                           (picture.biCompression == BI_RLE4 && picture.biBitCount == 4);
    if (!whole && !uncompressed && !(runLength && picture.biHeight > 0)) return Refuse(block);

    BITMAPINFOHEADER corner = picture;
    const uint64_t cornerStride = RowBytes(picture.biBitCount, cornerWidth);
    if (whole && !uncompressed) {
        // Compressed codes are as long as the file holds, whatever is stated.
        if (corner.biSizeImage > DWORD(source.length)) corner.biSizeImage = source.length;
    } else {
        corner.biWidth = LONG(cornerWidth);
        corner.biHeight = picture.biHeight < 0 ? -LONG(cornerRows) : LONG(cornerRows);
        corner.biSizeImage = DWORD(cornerStride * cornerRows);
        if (!uncompressed) corner.biCompression = BI_RGB;
    }

    const DWORD bitsOffset = picture.biSize + 4 * picture.biClrUsed;
    HGLOBAL grown = AddPixelRoom(block, bitsOffset, corner.biSizeImage);
    if (!grown) return nullptr;
    BYTE* dib = static_cast<BYTE*>(GlobalLock(grown));
    if (!dib) return Refuse(grown);
    memcpy(dib, &corner, sizeof corner);
    BYTE* pixels = dib + bitsOffset;

    bool read = true;
    if (whole && !uncompressed) {
        ReadAt(source, 0, pixels, corner.biSizeImage);
    } else if (uncompressed) {
        // The corner's rows are the picture's top rows: the last ones of a
        // bottom-up picture, the first ones of a top-down one.
        const uint64_t stride = RowBytes(picture.biBitCount, uint32_t(picture.biWidth));
        const uint64_t firstRow = picture.biHeight > 0 ? pictureRows - cornerRows : 0;
        if (whole) {
            ReadAt(source, 0, pixels, corner.biSizeImage);
        } else {
            for (uint64_t row = 0; row < cornerRows; ++row)
                ReadAt(source, (firstRow + row) * stride, pixels + row * cornerStride, DWORD(cornerStride));
        }
    } else {
        const RunLengthCorner target = {pixels,
                                        DWORD(cornerStride),
                                        uint32_t(cornerWidth),
                                        uint32_t(cornerRows),
                                        uint32_t(picture.biWidth),
                                        uint32_t(pictureRows),
                                        picture.biBitCount};
        read = DecodeCorner(source, picture, target);
    }
    GlobalUnlock(grown);
    return read ? grown : Refuse(grown);
}

HGLOBAL LoadDibCorner(const char* fileName, LONG width, LONG height)
{
    OFSTRUCT scratch;
    const HFILE file = OpenFile(fileName, &scratch, OF_READ);
    if (file == HFILE_ERROR) return nullptr;
    HGLOBAL block = LoadDibCorner(file, width, height);
    _lclose(file);
    return block;
}
