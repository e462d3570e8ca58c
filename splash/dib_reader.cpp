// The bitmap reader: see dib_reader.h. The headers and the colour table come
// first, into a block of their own (ReadDibHeader); one re-size then adds room
// for the corner's pixels, which are read straight into place, row by row
// where the picture is wider or taller than the corner, or decoded there from
// run-length codes or converted there from bit fields. Whatever a file
// holds, nothing is read or written outside the block, the block is always
// large enough for what GDI will read from it when drawn, and parts that a
// short file leaves unread are zero-filled.
#include "dib_reader.h"

#include <stdint.h>
#include <string.h>

#include "bit_fields.h"
#include "run_length.h"

static_assert(sizeof(BITMAPFILEHEADER) == 14 && sizeof(BITMAPINFOHEADER) == 40 &&
                  sizeof(BITMAPCOREHEADER) == 12 && sizeof(RGBTRIPLE) == 3 && sizeof(RGBQUAD) == 4,
              "the file's layouts");

namespace {

const WORD FileHeaderMark = 0x4D42; // "BM"

// Four masks instead of three; not every SDK header names it.
const DWORD AlphaBitfields = 6;

// The largest block, and so every count and offset, that fits the signed
// 32-bit sizes and positions of the file calls.
const uint64_t MaxBlockSize = 0x7FFFFFFF;

// The 64-byte header of OS/2 bitmaps gives 3 and 4 other meanings: Huffman
// codes and 24-bit run-length codes, which no drawing routine takes.
const DWORD Os2HeaderSize = 64;

bool IsUncompressed(DWORD compression)
{
    return compression == BI_RGB || compression == BI_BITFIELDS || compression == AlphaBitfields;
}

enum class Pixels { Plain, BitFields, RunLength, Refused };

// How the stored pixels become plain ones. Run-length codes are stored
// bottom-up only, each kind for its own bit count; bit fields come in 16 or
// 32 bits a pixel. Any other compression would need a decompressor, which
// Windows looks for by name.
Pixels PixelsOf(const BITMAPINFOHEADER& picture)
{
    const WORD bits = picture.biBitCount;
    switch (picture.biCompression) {
    case BI_RGB: return Pixels::Plain;
    case BI_BITFIELDS:
        if (picture.biSize == Os2HeaderSize) return Pixels::Refused;
        return bits == 16 || bits == 32 ? Pixels::BitFields : Pixels::Refused;
    case AlphaBitfields: return bits == 16 || bits == 32 ? Pixels::BitFields : Pixels::Refused;
    case BI_RLE8:
    case BI_RLE4: {
        const WORD codeBits = picture.biCompression == BI_RLE8 ? 8 : 4;
        return bits == codeBits && picture.biHeight > 0 ? Pixels::RunLength : Pixels::Refused;
    }
    default: return Pixels::Refused;
    }
}

// The bit counts that a bitmap's pixels can have. Any other count is refused
// whatever the compression: no drawing routine takes it, and the rows it
// implies could ask for far more memory than any real picture of that size.
bool IsBitmapBitCount(WORD bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Core headers only ever carried these bit counts; the rest are refused.
bool WidenCoreHeader(BITMAPINFOHEADER* header)
{
    BITMAPCOREHEADER core;
    memcpy(&core, header, sizeof core);
    const WORD bits = core.bcBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;

    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = core.bcWidth;
    header->biHeight = core.bcHeight;
    header->biPlanes = core.bcPlanes;
    header->biBitCount = bits;
    header->biCompression = BI_RGB;
    header->biSizeImage = 0;
    header->biXPelsPerMeter = 0;
    header->biYPelsPerMeter = 0;
    header->biClrUsed = bits == 24 ? 0 : 1u << bits;
    header->biClrImportant = 1u << bits;
    return true;
}

// Settles the header's final sizes: the pixel bits' length in biSizeImage, the
// colour count in biClrUsed. Returns false for a picture that no block can
// safely hold.
bool CompleteHeader(BITMAPINFOHEADER* header)
{
    if (header->biSize < sizeof(BITMAPINFOHEADER) || header->biWidth < 0) return false;
    if (!IsBitmapBitCount(header->biBitCount)) return false;

    // GDI takes the colour masks from offset 40 whatever the header's size.
    // After a 40-byte header they follow it in the file, so they are read as
    // part of a longer header: otherwise they would be neither in the block
    // nor counted, and drawing would take them from the pixel bits.
    const DWORD withMasks = header->biCompression == BI_BITFIELDS     ? 52
                            : header->biCompression == AlphaBitfields ? 56
                                                                      : 0;
    if (header->biSize < withMasks) header->biSize = withMasks;

    // Rows of whole 4-byte words; a negative height is a top-down picture.
    const uint64_t rows = header->biHeight < 0 ? -int64_t(header->biHeight) : header->biHeight;
    const uint64_t rowBytes = (uint64_t(header->biBitCount) * uint32_t(header->biWidth) + 31) / 32 * 4;
    const uint64_t pixelBytes = rowBytes <= MaxBlockSize ? rowBytes * rows : UINT64_MAX;

    // A compressed picture states its compressed length; an uncompressed one
    // must hold every row that drawing reads, whatever it states.
    if (header->biSizeImage == 0 ||
        (IsUncompressed(header->biCompression) && header->biSizeImage < pixelBytes)) {
        if (pixelBytes > MaxBlockSize) return false;
        header->biSizeImage = DWORD(pixelBytes);
    }

    if (header->biClrUsed == 0 && header->biBitCount <= 8) header->biClrUsed = 1u << header->biBitCount;
    if (header->biClrUsed > 0xFFFF) return false;

    return header->biSize + 4 * uint64_t(header->biClrUsed) + header->biSizeImage <= MaxBlockSize;
}

// Reads up to count bytes and zero-fills whatever the file did not deliver.
// A failed read answers HFILE_ERROR, which counts as nothing read.
void ReadZeroFilled(HFILE file, BYTE* buffer, UINT count)
{
    UINT got = _lread(file, buffer, count);
    if (got > count) got = 0;
    memset(buffer + got, 0, count - got);
}

// The colour table of a core header arrives as 3-byte triples at the start of
// the table's room. Going from the last entry to the first, each 4-byte entry
// lands at or beyond the triple it comes from, so no triple is overwritten
// before it has been moved.
void WidenColourTable(BYTE* table, DWORD colours)
{
    for (DWORD i = colours; i-- > 0;) {
        const BYTE* triple = table + 3 * i;
        const BYTE blue = triple[0], green = triple[1], red = triple[2];
        BYTE* quad = table + 4 * i;
        quad[0] = blue;
        quad[1] = green;
        quad[2] = red;
        quad[3] = 0;
    }
}

// The bytes from the current position to the file's end; the position stays.
DWORD BytesLeft(HFILE file)
{
    const LONG here = _llseek(file, 0, FILE_CURRENT);
    const LONG end = _llseek(file, 0, FILE_END);
    if (here == HFILE_ERROR || end == HFILE_ERROR || _llseek(file, here, FILE_BEGIN) != here || end < here)
        return 0;
    return DWORD(end - here);
}

HGLOBAL Discard(HGLOBAL block)
{
    GlobalUnlock(block);
    GlobalFree(block);
    return nullptr;
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

// Fills `count` bytes at `into` with the file's bytes from `offset` bytes past
// the first pixel byte, and with zeros where the file holds none. A read that
// fails may have delivered some bytes before it did: none of them is kept.
void ReadAt(const PixelSource& source, uint64_t offset, BYTE* into, DWORD count)
{
    const uint64_t held = offset < uint64_t(source.length) ? uint64_t(source.length) - offset : 0;
    LONG got = 0;
    if (held) {
        const LONG wanted = LONG(held < count ? held : count);
        const LONG position = LONG(source.start + offset);
        if (_llseek(source.file, position, FILE_BEGIN) == position) got = _hread(source.file, into, wanted);
        if (got < 0 || got > wanted) got = 0;
    }
    memset(into + got, 0, count - DWORD(got));
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
        ReadAt(source, 0, codes, size);
        DecodeRunLengthCorner(codes, size, corner);
        GlobalUnlock(codesBlock);
    }
    GlobalFree(codesBlock);
    return codes != nullptr;
}

// The corner's rows of a bit-field picture, each read into a row of its own
// and converted from there into its place in the corner.
struct BitFieldCorner {
    BYTE* rows; // bottom-up or top-down like the picture
    DWORD stride;
    DWORD width, height;
    uint64_t firstRow; // the picture's row that the corner's first row is
    uint64_t pictureStride;
};

bool ConvertCorner(const PixelSource& source, const BitFieldFormat& format, const BitFieldCorner& corner)
{
    const DWORD rowBytes = DWORD(RowBytes(WORD(format.bits), corner.width));
    if (rowBytes == 0 || corner.height == 0) return true;
    HGLOBAL rowBlock = GlobalAlloc(GMEM_MOVEABLE, rowBytes);
    if (!rowBlock) return false;
    BYTE* row = static_cast<BYTE*>(GlobalLock(rowBlock));
    if (row) {
        for (DWORD y = 0; y < corner.height; ++y) {
            BYTE* into = corner.rows + uint64_t(y) * corner.stride;
            ReadAt(source, (corner.firstRow + y) * corner.pictureStride, row, rowBytes);
            ConvertBitFieldRow(row, into, corner.width, format);
            memset(into + 3 * corner.width, 0, corner.stride - 3 * corner.width);
        }
        GlobalUnlock(rowBlock);
    }
    GlobalFree(rowBlock);
    return row != nullptr;
}

HGLOBAL Refuse(HGLOBAL block)
{
    GlobalFree(block);
    return nullptr;
}

} // namespace

HGLOBAL ReadDibHeader(HFILE file)
{
    const LONG start = _llseek(file, 0, FILE_CURRENT);
    if (start == HFILE_ERROR) return nullptr;

    // Every short read is a failure here, and a failed read answers
    // HFILE_ERROR, which is never the count asked for either.
    BITMAPFILEHEADER fileHeader;
    if (_lread(file, &fileHeader, sizeof fileHeader) != sizeof fileHeader) return nullptr;
    DWORD offBits = fileHeader.bfOffBits;
    if (fileHeader.bfType != FileHeaderMark) {
        // A bare bitmap: the same bytes are read again as its header.
        offBits = 0;
        if (_llseek(file, start, FILE_BEGIN) != start) return nullptr;
    }

    // Read before the header's kind is known, so a core header needs 40 bytes too.
    BITMAPINFOHEADER header;
    if (_lread(file, &header, sizeof header) != sizeof header) return nullptr;
    const bool core = header.biSize == sizeof(BITMAPCOREHEADER);
    if (core) {
        if (!WidenCoreHeader(&header)) return nullptr;
        // Back to the end of the 12-byte header, where its colour table starts.
        if (_llseek(file, -LONG(sizeof header - sizeof(BITMAPCOREHEADER)), FILE_CURRENT) == HFILE_ERROR)
            return nullptr;
    }
    if (!CompleteHeader(&header)) return nullptr;

    // A stated header size may be anything up to 2 GiB: one longer than the
    // file could hold is refused before any room is taken for it.
    const UINT moreHeader = header.biSize - sizeof header;
    if (moreHeader && moreHeader > BytesLeft(file)) return nullptr;

    const DWORD colours = header.biClrUsed;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, header.biSize + 4 * colours);
    if (!block) return nullptr;
    BYTE* dib = static_cast<BYTE*>(GlobalLock(block));
    if (!dib) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(dib, &header, sizeof header);

    if (moreHeader && _lread(file, dib + sizeof header, moreHeader) != moreHeader) return Discard(block);

    if (colours) {
        BYTE* table = dib + header.biSize;
        ReadZeroFilled(file, table, colours * (core ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD)));
        if (core) WidenColourTable(table, colours);
    }

    // The pixel offset counts from where reading began, not from the start of
    // the file. A seek that fails would leave the bits to come from the wrong
    // place, so it refuses the picture.
    if (offBits) {
        const int64_t bits = int64_t(start) + offBits;
        if (uint64_t(bits) > MaxBlockSize || _llseek(file, LONG(bits), FILE_BEGIN) != bits)
            return Discard(block);
    }

    GlobalUnlock(block);
    return block;
}

HGLOBAL LoadDibFile(HFILE file, LONG width, LONG height)
{
    if (width <= 0 || height <= 0) return nullptr;
    HGLOBAL block = ReadDibHeader(file);
    if (!block) return nullptr;
    // Every read of pixel bits seeks to its place first.
    PixelSource source = {file, _llseek(file, 0, FILE_CURRENT), 0};
    const LONG end = _llseek(file, 0, FILE_END);
    if (source.start == HFILE_ERROR || end == HFILE_ERROR) return Refuse(block);
    source.length = end > source.start ? end - source.start : 0;

    BYTE* stored = static_cast<BYTE*>(GlobalLock(block));
    if (!stored) return Refuse(block);
    BITMAPINFOHEADER picture;
    memcpy(&picture, stored, sizeof picture);
    const Pixels pixelKind = PixelsOf(picture);
    BitFieldFormat format = {};
    DWORD headerSize = picture.biSize;
    if (pixelKind == Pixels::BitFields) {
        // ReadDibHeader keeps the masks at offset 40, as part of the header.
        DWORD masks[3];
        memcpy(masks, stored + sizeof picture, sizeof masks);
        if (!ReadBitFieldFormat(picture.biBitCount, masks[0], masks[1], masks[2], &format)) {
            GlobalUnlock(block);
            return Refuse(block);
        }
        // A header that was no more than the info header and its masks loses
        // the masks with the bit fields, and the colour table moves up to it.
        if (headerSize <= 56) {
            headerSize = sizeof picture;
            memmove(stored + headerSize, stored + picture.biSize, 4 * picture.biClrUsed);
        }
    }
    GlobalUnlock(block);
    if (pixelKind == Pixels::Refused) return Refuse(block);

    // ReadDibHeader refuses a negative width, and a height whose rows do not
    // fit in 32 bits.
    const uint64_t pictureRows = picture.biHeight < 0 ? -int64_t(picture.biHeight) : picture.biHeight;
    const uint64_t cornerWidth = uint64_t(picture.biWidth) < uint64_t(width) ? picture.biWidth : width;
    const uint64_t cornerRows = pictureRows < uint64_t(height) ? pictureRows : height;
    const bool whole = cornerWidth == uint64_t(picture.biWidth) && cornerRows == pictureRows;
    // The corner's rows are the picture's top rows: the last ones of a
    // bottom-up picture, the first ones of a top-down one.
    const uint64_t firstRow = picture.biHeight > 0 ? pictureRows - cornerRows : 0;
    const uint64_t stride = RowBytes(picture.biBitCount, uint32_t(picture.biWidth));

    // Decoded and converted pixels are plain: run-length codes keep their bit
    // count, bit fields become 24-bit blue, green, red.
    BITMAPINFOHEADER corner = picture;
    if (pixelKind != Pixels::Plain) corner.biCompression = BI_RGB;
    if (pixelKind == Pixels::BitFields) {
        corner.biSize = headerSize;
        corner.biBitCount = 24;
    }

    // The rows of an uncompressed picture fit in the block's 31 bits, but
    // run-length codes, or bit fields widened to 24 bits, may stand for more.
    const DWORD bitsOffset = headerSize + 4 * picture.biClrUsed;
    const uint64_t cornerStride = RowBytes(corner.biBitCount, cornerWidth);
    if (bitsOffset + cornerStride * cornerRows > MaxBlockSize) return Refuse(block);
    corner.biWidth = LONG(cornerWidth);
    corner.biHeight = picture.biHeight < 0 ? -LONG(cornerRows) : LONG(cornerRows);
    corner.biSizeImage = DWORD(cornerStride * cornerRows);

    // The block is unlocked, so the re-size may move it; only the handle that
    // comes back is valid afterwards.
    HGLOBAL grown = GlobalReAlloc(block, bitsOffset + corner.biSizeImage, 0);
    if (!grown) return Refuse(block);
    BYTE* dib = static_cast<BYTE*>(GlobalLock(grown));
    if (!dib) return Refuse(grown);
    memcpy(dib, &corner, sizeof corner);
    BYTE* pixels = dib + bitsOffset;

    bool read = true;
    if (pixelKind == Pixels::Plain) {
        if (whole) {
            ReadAt(source, 0, pixels, corner.biSizeImage);
        } else {
            for (uint64_t row = 0; row < cornerRows; ++row)
                ReadAt(source, (firstRow + row) * stride, pixels + row * cornerStride, DWORD(cornerStride));
        }
    } else if (pixelKind == Pixels::BitFields) {
        const BitFieldCorner target = {
            pixels, DWORD(cornerStride), DWORD(cornerWidth), DWORD(cornerRows), firstRow, stride};
        read = ConvertCorner(source, format, target);
    } else {
        memset(pixels, 0, corner.biSizeImage);
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

HGLOBAL LoadDibFile(const char* fileName, LONG width, LONG height)
{
    OFSTRUCT scratch;
    const HFILE file = OpenFile(fileName, &scratch, OF_READ);
    if (file == HFILE_ERROR) return nullptr;
    HGLOBAL block = LoadDibFile(file, width, height);
    _lclose(file);
    return block;
}
