// The bitmap reader, natively over the Win32 stand-in, through the function
// the menu calls: block contents for the kinds of header and layout, pictures
// larger than the corner cut to it, run-length codes decoded whatever the
// picture's size, refusals, short files, failed reads and allocations, both
// forms of the source, what a header's claims may cost, and the public bitmap
// test suites. Every block is checked for soundness, and every test also
// checks that no block is leaked and no file left open.
#include "splash/dib_reader.h"

#include "packed_dib_check.h"
#include "win32_shim.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Little-endian values, each `width` bytes.
Bytes Fields(int width, std::initializer_list<uint32_t> values)
{
    Bytes out;
    for (const uint32_t value : values)
        for (int i = 0; i < width; i++)
            out.push_back(uint8_t(value >> (8 * i)));
    return out;
}

// Recognisable bytes: each run differs from the others by its seed.
Bytes Pattern(size_t count, uint8_t seed)
{
    Bytes out(count);
    for (size_t i = 0; i < count; i++)
        out[i] = uint8_t(seed + 7 * i + (i >> 8));
    return out;
}

const auto Pixels = [](size_t count) { return Pattern(count, 0x81); };
const auto Table = [](size_t colours) { return Pattern(4 * colours, 0x11); };
const auto Triples = [](size_t colours) { return Pattern(3 * colours, 0x33); };
const auto ExtraHeader = [](size_t count) { return Pattern(count, 0x5A); };

const Bytes Masks = Fields(4, {0xF800, 0x07E0, 0x001F}); // red, green and blue of 16-bit pixels

// Pixels under those masks, and the blue, green and red that they stand for:
// red, green, blue, and a grey whose 5 and 6 bits fill a byte repeated.
const Bytes Pixels565 = Fields(2, {0xF800, 0x07E0, 0x001F, 0x8410});
const Bytes Colours565 = {0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0x84, 0x82, 0x84};

Bytes FileHeader(uint32_t offBits)
{
    return Fields(2, {0x4D42}) + Fields(4, {0x12345 /* bfSize, never used */, 0, offBits});
}

// The fields that a case sets beyond the picture's size and bit count.
struct Info {
    uint32_t clrUsed = 0, sizeImage = 0, compression = BI_RGB, size = 40;
    uint32_t clrImportant = 7;
    int32_t pelsPerMeter = 2835;
    uint16_t planes = 1;
};

// The first 40 bytes of an info header; longer headers append their own bytes.
Bytes InfoHeader(int32_t width, int32_t height, uint16_t bitCount, const Info& info = {})
{
    return Fields(4, {info.size, uint32_t(width), uint32_t(height)}) + Fields(2, {info.planes, bitCount}) +
           Fields(4, {info.compression, info.sizeImage, uint32_t(info.pelsPerMeter),
                      uint32_t(info.pelsPerMeter), info.clrUsed, info.clrImportant});
}

Bytes CoreHeader(uint16_t width, uint16_t height, uint16_t bitCount)
{
    return Fields(4, {12}) + Fields(2, {width, height, 1, bitCount});
}

// The 4-byte entries that a core header's triples become.
Bytes Widened(const Bytes& triples)
{
    Bytes out;
    for (size_t i = 0; i + 3 <= triples.size(); i += 3)
        out = out + Bytes{triples[i], triples[i + 1], triples[i + 2], 0};
    return out;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

// The block's bytes, or nothing for null; checks the block and frees it.
struct Loaded {
    bool ok;
    Bytes block;
};

Loaded Take(HGLOBAL block)
{
    if (!block) return {false, {}};
    if (const char* fault = PackedDibFault(block)) ADD_FAILURE() << fault;
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(block));
    Loaded loaded{true, Bytes(data, data + GlobalSize(block))};
    GlobalUnlock(block);
    GlobalFree(block);
    return loaded;
}

// Reads through the handle form with the menu's corner unless told another.
Loaded LoadFromMemory(const Bytes& file, LONG width = 480, LONG height = 360)
{
    const HFILE handle = ShimOpenMemoryFile(file.data(), file.size());
    HGLOBAL block = LoadDibFile(handle, width, height);
    _lclose(handle);
    return Take(block);
}

std::string WriteTempFile(const char* name, const Bytes& bytes)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream out(path, std::ios::binary);
    EXPECT_TRUE(out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size()).good()) << path;
    return path;
}

// Each test starts with a fresh stand-in and ends with no block leaked and no
// file left open.
class DibReader : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ShimReset();
    }
    void TearDown() override
    {
        ShimReset();
        EXPECT_EQ(ShimLiveBlockCount(), 0) << "global blocks leaked";
        EXPECT_EQ(ShimOpenFileCount(), 0) << "files left open";
    }
};

uint32_t Stride(uint32_t bits, uint32_t width)
{
    return (bits * width + 31) / 32 * 4;
}

// The top rows of a picture's pixel bits, in the picture's own row order, each
// cut to the corner's stride: `keep` bytes of the row, zeros after them
// (uncompressed rows keep all, pixels beyond the corner included).
Bytes CornerRows(const Bytes& pixels, uint32_t bits, uint32_t pictureWidth, int32_t pictureHeight,
                 uint32_t width, uint32_t height, uint32_t keep = UINT32_MAX)
{
    const uint32_t rows = pictureHeight < 0 ? -pictureHeight : pictureHeight;
    const uint32_t first = pictureHeight > 0 ? rows - height : 0;
    const uint32_t stride = Stride(bits, width);
    keep = std::min(keep, stride);
    Bytes out;
    for (uint32_t row = first; row < first + height; ++row)
        out = out + Slice(pixels, row * Stride(bits, pictureWidth), keep) + Bytes(stride - keep, 0);
    return out;
}

// A bare 8-bit picture 4 by 2 of two colours, and the block it becomes.
const Bytes Plain = InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8);
const Bytes PlainBlock = InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Pixels(8);

// Run-length codes for a picture 5 wide and 4 high, bottom row first: a run,
// a stretch (padded to a whole word), a line end, a move, a 4-pixel run that
// goes past the row's end, and the end mark.
const Bytes Rle8Codes = {3, 0x11, 0, 3, 0x21, 0x22, 0x23, 0, 0, 0, 0, 2, 1, 1, 4, 0x44, 0, 1};
// Its rows from the bottom: 11 11 11 21 22 / (empty) / 00 44 44 44 44 / (empty).
const Bytes Rle8Rows = {0x11, 0x11, 0x11, 0x21, 0x22, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0,    0x44, 0x44, 0x44, 0x44, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// 4 bits a pixel: a run of alternating halves, a stretch of 5 halves in 3
// bytes and a pad, a line end, then a run past the row's end.
const Bytes Rle4Codes = {3, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 7, 0x89, 0, 1};
// 8 wide, rows of 4 bytes from the bottom: 1 2 1 3 4 5 6 7 / 8 9 8 9 8 9 8 0.
const Bytes Rle4Rows = {0x12, 0x13, 0x45, 0x67, 0x89, 0x89, 0x89, 0x80};

Bytes RunLengthFile(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& codes)
{
    return InfoHeader(width, height, bits,
                      {.clrUsed = 2, .sizeImage = uint32_t(codes.size()), .compression = compression}) +
           Table(2) + codes;
}

const Bytes Rle8File = RunLengthFile(5, 4, 8, BI_RLE8, Rle8Codes);

// Pictures within the corner (the menu's, unless a case says) come whole;
// larger ones are cut to its top rows and left columns.
TEST_F(DibReader, BlockContents)
{
    const Bytes pixels8 = Pixels(8 * 5), pixels24 = Pixels(16 * 4), pixels1 = Pixels(8 * 2);
    const Bytes pixels4 = Pixels(16);
    const Bytes triples = Triples(256);
    struct Case {
        const char* name;
        Bytes file, expected;
        LONG width = 480, height = 360;
    } cases[] = {
        {"8-bit 4x2, colour count and size computed: 1072 bytes",
         FileHeader(1078) + InfoHeader(4, 2, 8) + Table(256) + Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 256, .sizeImage = 8}) + Table(256) + Pixels(8)},
        {"24-bit 5 wide: rows of 16 bytes, no colour table", InfoHeader(5, 3, 24) + Pixels(48),
         InfoHeader(5, 3, 24, {.sizeImage = 48}) + Pixels(48)},
        {"1-bit 5 wide: rows of 4 bytes", InfoHeader(5, 3, 1) + Table(2) + Pixels(12),
         InfoHeader(5, 3, 1, {.clrUsed = 2, .sizeImage = 12}) + Table(2) + Pixels(12)},
        {"24-bit with 3 colours: the pixels follow them",
         InfoHeader(2, 2, 24, {.clrUsed = 3}) + Table(3) + Pixels(16),
         InfoHeader(2, 2, 24, {.clrUsed = 3, .sizeImage = 16}) + Table(3) + Pixels(16)},
        {"108-byte header copied whole",
         InfoHeader(4, 2, 8, {.clrUsed = 2, .size = 108}) + ExtraHeader(68) + Table(2) + Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8, .size = 108}) + ExtraHeader(68) + Table(2) +
             Pixels(8)},
        {"124-byte header copied whole",
         InfoHeader(4, 2, 8, {.clrUsed = 2, .size = 124}) + ExtraHeader(84) + Table(2) + Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8, .size = 124}) + ExtraHeader(84) + Table(2) +
             Pixels(8)},
        {"BM with bfOffBits 0: pixels right after the colour table", FileHeader(0) + Plain, PlainBlock},
        {"BM with a gap before the pixels: bfOffBits skips it",
         FileHeader(14 + 40 + 8 + 5) + Slice(Plain, 0, 48) + Pattern(5, 0xEE) + Pixels(8), PlainBlock},
        {"core header, 8-bit: widened header and colour table",
         FileHeader(0) + CoreHeader(4, 2, 8) + triples + Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 256, .sizeImage = 8, .clrImportant = 256, .pelsPerMeter = 0}) +
             Widened(triples) + Pixels(8)},
        {"core header, 24-bit: no colour table", CoreHeader(8, 2, 24) + Pixels(48),
         InfoHeader(8, 2, 24, {.sizeImage = 48, .clrImportant = 16777216, .pelsPerMeter = 0}) + Pixels(48)},
        {"top-down with biSizeImage 0: sized from the row count",
         InfoHeader(4, -3, 8, {.clrUsed = 2}) + Table(2) + Pixels(12),
         InfoHeader(4, -3, 8, {.clrUsed = 2, .sizeImage = 12}) + Table(2) + Pixels(12)},
        {"uncompressed biSizeImage below the rows: enlarged to them",
         InfoHeader(5, 2, 24, {.sizeImage = 30}) + Pixels(32),
         InfoHeader(5, 2, 24, {.sizeImage = 32}) + Pixels(32)},
        {"biSizeImage above the rows: cut to them",
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 20}) + Table(2) + Pixels(20), PlainBlock},
        {"16-bit bit fields after a 40-byte header: 24-bit plain pixels, the masks gone",
         FileHeader(66) + InfoHeader(2, 2, 16, {.compression = BI_BITFIELDS}) + Masks + Pixels565,
         InfoHeader(2, 2, 24, {.sizeImage = 16}) + Slice(Colours565, 0, 6) + Bytes(2, 0) +
             Slice(Colours565, 6, 6) + Bytes(2, 0)},
        {"32-bit bit fields: the colour table moves up to the header, bits beyond the masks ignored",
         InfoHeader(1, 1, 32, {.clrUsed = 2, .compression = BI_BITFIELDS}) + Masks + Table(2) +
             Fields(4, {0xFFFF07E0}),
         InfoHeader(1, 1, 24, {.clrUsed = 2, .sizeImage = 4}) + Table(2) + Bytes{0, 0xFF, 0, 0}},
        {"bit fields in a 56-byte header: the masks go with them",
         InfoHeader(1, 1, 32, {.compression = BI_BITFIELDS, .size = 56}) +
             Fields(4, {0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x80123456}),
         InfoHeader(1, 1, 24, {.sizeImage = 4}) + Bytes{0x56, 0x34, 0x12, 0}},
        {"alpha bit fields after a 40-byte header: the alpha mask ignored",
         InfoHeader(1, 1, 32, {.compression = 6}) +
             Fields(4, {0xFF, 0xFF00, 0xFF0000, 0xFF000000, 0x80123456}),
         InfoHeader(1, 1, 24, {.sizeImage = 4}) + Bytes{0x12, 0x34, 0x56, 0}},
        {"bit fields in a 108-byte header: the header kept whole",
         InfoHeader(2, 1, 16, {.compression = BI_BITFIELDS, .size = 108}) + Masks + ExtraHeader(56) +
             Slice(Pixels565, 4, 4),
         InfoHeader(2, 1, 24, {.sizeImage = 8, .size = 108}) + Masks + ExtraHeader(56) +
             Slice(Colours565, 6, 6) + Bytes(2, 0)},
        {"bit-field rows the file does not hold are black",
         InfoHeader(2, 3, 16, {.compression = BI_BITFIELDS}) + Masks + Slice(Pixels565, 0, 4),
         InfoHeader(2, 3, 24, {.sizeImage = 24}) + Slice(Colours565, 0, 6) + Bytes(18, 0)},
        {"more colours than the bit count needs: all kept",
         InfoHeader(1, 1, 8, {.clrUsed = 300}) + Table(300) + Pixels(4),
         InfoHeader(1, 1, 8, {.clrUsed = 300, .sizeImage = 4}) + Table(300) + Pixels(4)},
        {"65535 colours, the most", InfoHeader(1, 1, 8, {.clrUsed = 65535}) + Table(65535) + Pixels(4),
         InfoHeader(1, 1, 8, {.clrUsed = 65535, .sizeImage = 4}) + Table(65535) + Pixels(4)},
        {"8-bit bottom-up 7x5, corner 4x3: its top three rows",
         FileHeader(0) + InfoHeader(7, 5, 8, {.clrUsed = 2}) + Table(2) + pixels8,
         InfoHeader(4, 3, 8, {.clrUsed = 2, .sizeImage = 12}) + Table(2) + CornerRows(pixels8, 8, 7, 5, 4, 3),
         4, 3},
        {"24-bit top-down 5x4, corner 3x2: its first two rows", InfoHeader(5, -4, 24) + pixels24,
         InfoHeader(3, -2, 24, {.sizeImage = 24}) + CornerRows(pixels24, 24, 5, -4, 3, 2), 3, 2},
        {"1-bit 40x2, corner 9x3: only the width is cut", InfoHeader(40, 2, 1) + Table(2) + pixels1,
         InfoHeader(9, 2, 1, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + CornerRows(pixels1, 1, 40, 2, 9, 2),
         9, 3},
        {"4-bit 10x2, corner 12x1: only the height is cut",
         InfoHeader(10, 2, 4, {.clrUsed = 2}) + Table(2) + pixels4,
         InfoHeader(10, 1, 4, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Slice(pixels4, 8, 8), 12, 1},
        {"16-bit bit fields 6x3, corner 2x2: its top rows converted",
         InfoHeader(6, 3, 16, {.compression = BI_BITFIELDS}) + Masks + Pattern(12, 0x99) +
             Slice(Pixels565, 0, 4) + Pattern(8, 0x99) + Slice(Pixels565, 4, 4) + Pattern(8, 0x99),
         InfoHeader(2, 2, 24, {.sizeImage = 16}) + Slice(Colours565, 0, 6) + Bytes(2, 0) +
             Slice(Colours565, 6, 6) + Bytes(2, 0),
         2, 2},
        {"rows the file does not hold are zero", InfoHeader(4, 6, 8, {.clrUsed = 2}) + Table(2) + Pixels(8),
         InfoHeader(4, 3, 8, {.clrUsed = 2, .sizeImage = 12}) + Table(2) + Bytes(12, 0), 4, 3},
        {"run-length codes at 4 bits, whole", RunLengthFile(8, 2, 4, BI_RLE4, Rle4Codes),
         InfoHeader(8, 2, 4, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Rle4Rows},
        {"run-length codes at 4 bits, corner 3x2: odd pixels cut at their half",
         RunLengthFile(8, 2, 4, BI_RLE4, Rle4Codes),
         InfoHeader(3, 2, 4, {.clrUsed = 2, .sizeImage = 8}) + Table(2) +
             Bytes{0x12, 0x10, 0, 0, 0x89, 0x80, 0, 0},
         3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadFromMemory(c.file, c.width, c.height);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.block.size(), c.expected.size());
        EXPECT_TRUE(loaded.block == c.expected);
    }
}

// Run-length codes come decoded into plain rows whatever the corner, the
// whole picture's included: every corner of a picture is the corner of its
// whole decoded rows. Pixels the codes skip are the first colour. (The 4-bit
// codes are among the block contents.)
TEST_F(DibReader, RunLengthCodesAreAlwaysDecoded)
{
    for (LONG width = 1; width <= 6; ++width) {
        for (LONG height = 1; height <= 5; ++height) {
            SCOPED_TRACE("8 bits, corner " + std::to_string(width) + "x" + std::to_string(height));
            const uint32_t w = std::min<uint32_t>(width, 5), h = std::min<uint32_t>(height, 4);
            const Loaded loaded = LoadFromMemory(Rle8File, width, height);
            ASSERT_TRUE(loaded.ok);
            EXPECT_TRUE(loaded.block == InfoHeader(w, h, 8, {.clrUsed = 2, .sizeImage = Stride(8, w) * h}) +
                                            Table(2) + CornerRows(Rle8Rows, 8, 5, 4, w, h, w));
        }
    }
}

// Bit fields of any position and width become the colours they stand for,
// scaled to 8 bits; masks that describe no colour refuse the picture.
TEST_F(DibReader, BitFieldColours)
{
    const struct {
        const char* name;
        uint16_t bits;
        uint32_t red, green, blue, pixel;
        Bytes colour; // blue, green, red; none where refused
    } cases[] = {
        {"5-6-5, all ones: white", 16, 0xF800, 0x07E0, 0x001F, 0xFFFF, {0xFF, 0xFF, 0xFF}},
        {"5-5-5 of 1, 30, 15; top bit ignored", 16, 0x7C00, 0x03E0, 0x001F, 0x87CF, {0x7B, 0xF7, 0x08}},
        {"1-bit fields", 16, 0x4, 0x2, 0x1, 0x5, {0xFF, 0, 0xFF}},
        {"3-bit fields repeated", 16, 0x1C0, 0x38, 0x7, 3 << 6 | 6 << 3 | 1, {0x24, 0xDB, 0x6D}},
        {"zero blue mask", 16, 0xFF00, 0x00FF, 0, 0xFFFF, {}},
        {"red and green overlapping", 16, 0xF800, 0x0FE0, 0x001F, 0xFFFF, {}},
        {"green and blue overlapping", 32, 0xFF0000, 0xFF00, 0x1FF, 0xFFFF, {}},
        {"a gap in the green mask", 16, 0xF800, 0x06E0, 0x001F, 0xFFFF, {}},
        {"a mask beyond 16 bits", 16, 0x1F800, 0x07E0, 0x001F, 0xFFFF, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadFromMemory(InfoHeader(1, 1, c.bits, {.compression = BI_BITFIELDS}) +
                                             Fields(4, {c.red, c.green, c.blue}) +
                                             Slice(Fields(4, {c.pixel}), 0, c.bits / 8) + Bytes(2, 0));
        ASSERT_EQ(loaded.ok, !c.colour.empty());
        if (loaded.ok)
            EXPECT_TRUE(loaded.block == InfoHeader(1, 1, 24, {.sizeImage = 4}) + c.colour + Bytes{0});
    }
}

TEST_F(DibReader, Refusals)
{
    const Bytes bitmap = FileHeader(0) + Plain;
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty file", {}},
        {"13 bytes", Slice(bitmap, 0, 13)},
        {"BM and 39 header bytes", Slice(bitmap, 0, 14 + 39)},
        {"bare, 39 bytes", Slice(InfoHeader(4, 2, 8), 0, 39)},
        {"core header with less than 40 bytes after the file header",
         FileHeader(0) + CoreHeader(2, 1, 24) + Pixels(8)},
        {"header size 0", InfoHeader(4, 2, 8, {.size = 0}) + Pixels(64)},
        {"header size 11", InfoHeader(4, 2, 8, {.size = 11}) + Pixels(64)},
        {"header size 13", InfoHeader(4, 2, 8, {.size = 13}) + Pixels(64)},
        {"header size 39", InfoHeader(4, 2, 8, {.size = 39}) + Pixels(64)},
        {"108-byte header cut short", InfoHeader(4, 2, 8, {.size = 108}) + ExtraHeader(67)},
        {"bit fields without room for their masks",
         InfoHeader(1, 1, 16, {.compression = BI_BITFIELDS}) + Pixels(11)},
        {"65536 colours", InfoHeader(1, 1, 8, {.clrUsed = 65536}) + Pixels(64)},
        {"colour count 0xFFFFFFFF", InfoHeader(1, 1, 8, {.clrUsed = 0xFFFFFFFF}) + Pixels(64)},
        {"negative width", InfoHeader(-4, 2, 8) + Table(256) + Pixels(8)},
        {"rows beyond 32 bits", InfoHeader(65536, 65536, 32) + Pixels(64)},
        {"one row beyond 32 bits", InfoHeader(0x7FFFFFFF, 1, 32) + Pixels(64)},
        {"most negative height", InfoHeader(1, INT32_MIN, 24) + Pixels(64)},
        {"stated length below rows beyond 32 bits",
         InfoHeader(65536, 65536, 16, {.sizeImage = 153600, .compression = BI_BITFIELDS}) + Masks +
             Pixels(64)},
        {"block beyond 31 bits by its stated length",
         InfoHeader(1, 1, 8, {.clrUsed = 2, .sizeImage = 0x7FFFFFF0, .compression = BI_RLE8}) + Table(2) +
             Pixels(64)},
        {"pixel offset beyond 31 bits", FileHeader(0xFFFFFFFF) + InfoHeader(1, 1, 24) + Pixels(4)},
        {"run-length coded top-down", RunLengthFile(5, -4, 8, BI_RLE8, Rle8Codes)},
        {"run-length codes for the wrong bit count", RunLengthFile(5, 4, 4, BI_RLE8, Rle8Codes)},
        {"4-bit run-length codes at 8 bits", RunLengthFile(8, 2, 8, BI_RLE4, Rle4Codes)},
        {"compressed in a way that needs a decompressor (JPEG)",
         InfoHeader(5, 4, 24, {.sizeImage = 18, .compression = 4}) + Rle8Codes},
        {"compressed by a codec's own code", InfoHeader(5, 4, 24, {.compression = 0x30355649}) + Pixels(64)},
        {"64-byte header, compression 3: Huffman codes, not bit fields",
         InfoHeader(4, 2, 1, {.clrUsed = 2, .compression = BI_BITFIELDS, .size = 64}) + ExtraHeader(24) +
             Table(2) + Pixels(64)},
        {"64-byte header, compression 3 at 16 bits",
         InfoHeader(4, 2, 16, {.compression = BI_BITFIELDS, .size = 64}) + Masks + ExtraHeader(12) +
             Pixels(64)},
        {"64-byte header, compression 4: 24-bit run-length codes",
         InfoHeader(5, 4, 24, {.sizeImage = 18, .compression = 4, .size = 64}) + ExtraHeader(24) + Rle8Codes},
    };
    for (const Case& c : cases) {
        for (const LONG corner : {3, 480}) {
            SCOPED_TRACE(std::string(c.name) + ", corner " + std::to_string(corner));
            EXPECT_FALSE(LoadFromMemory(c.file, corner, corner).ok);
        }
    }
    EXPECT_FALSE(LoadFromMemory(bitmap, 0, 360).ok) << "no width";
    EXPECT_FALSE(LoadFromMemory(bitmap, 480, -1).ok) << "negative height";
    EXPECT_FALSE(
        LoadFromMemory(RunLengthFile(65536, 65536, 8, BI_RLE8, Rle8Codes), 0x7FFFFFFF, 0x7FFFFFFF).ok)
        << "run-length codes for rows beyond 31 bits, all of them in the corner";
}

// Bit counts that no bitmap has are refused in every kind of header, before
// anything is sized from them; the same files with a bit count that their kind
// takes are read (bit fields at 16 and 32 bits only), each block no larger
// than its rows imply.
TEST_F(DibReader, BitCountsNoBitmapHas)
{
    struct Kind {
        const char* name;
        Bytes (*file)(uint16_t bits);
        std::vector<uint16_t> valid;
    } kinds[] = {
        {"core header", [](uint16_t bits) { return CoreHeader(4, 2, bits) + Pixels(1024); }, {1, 4, 8, 24}},
        {"40-byte header",
         [](uint16_t bits) { return FileHeader(0) + InfoHeader(4, 2, bits) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
        {"40-byte header, bit fields",
         [](uint16_t bits) {
             return InfoHeader(4, 2, bits, {.compression = BI_BITFIELDS}) + Masks + Pixels(1024);
         },
         {16, 32}},
        {"40-byte header, run-length coded without a stated length",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.compression = BI_RLE8}) + Pixels(1024); },
         {8}},
        {"108-byte header",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.size = 108}) + ExtraHeader(68) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
        {"124-byte header",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.size = 124}) + ExtraHeader(84) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
    };
    for (const Kind& kind : kinds) {
        for (uint16_t bits : {0, 1, 2, 3, 4, 5, 8, 16, 24, 32, 64, 65535}) {
            SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(bits) + " bits");
            const Loaded loaded = LoadFromMemory(kind.file(bits));
            const bool valid = std::find(kind.valid.begin(), kind.valid.end(), bits) != kind.valid.end();
            ASSERT_EQ(loaded.ok, valid);
            if (!valid) continue;
            BITMAPINFOHEADER header;
            memcpy(&header, loaded.block.data(), sizeof header);
            const size_t table = bits <= 8 ? 4 << bits : 0;
            EXPECT_LE(loaded.block.size(), 124 + table + 2 * Stride(header.biBitCount, 4));
        }
    }

    // The corrupt files of a public suite: 65535 bits would mean a block of
    // some 600 MB for a 9.7 KB file.
    const std::string root = AUTORUN_BMP_TESTDATA_DIR "/bmptestsuite/corrupt/";
    for (const char* name : {"bitdepth-large.bmp", "bitdepth-zero.bmp"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Take(LoadDibFile((root + name).c_str(), 480, 360)).ok);
    }
}

// Every prefix of a file: null while the headers are incomplete, then a block
// whose every byte that the file did not hold is zero (the stand-in fills new
// memory with 0xCD, so a byte left unwritten shows).
TEST_F(DibReader, EveryPrefixOfAFile)
{
    struct Case {
        const char* name;
        Bytes file;
        size_t headers;
        Bytes (*expected)(const Bytes& zeroed);
    } cases[] = {
        {"108-byte header",
         FileHeader(0) + InfoHeader(3, 2, 8, {.clrUsed = 2, .sizeImage = 8, .size = 108}) + ExtraHeader(68) +
             Table(2) + Pixels(8),
         14 + 108, [](const Bytes& zeroed) { return Slice(zeroed, 14, zeroed.size() - 14); }},
        {"core header", CoreHeader(2, 2, 8) + Triples(256) + Pixels(8), 40,
         [](const Bytes& zeroed) {
             return InfoHeader(2, 2, 8,
                               {.clrUsed = 256, .sizeImage = 8, .clrImportant = 256, .pelsPerMeter = 0}) +
                    Widened(Slice(zeroed, 12, 768)) + Slice(zeroed, 780, 8);
         }},
    };
    for (const Case& c : cases) {
        for (size_t length = 0; length <= c.file.size(); length++) {
            SCOPED_TRACE(std::string(c.name) + ", prefix of " + std::to_string(length));
            const Loaded loaded = LoadFromMemory(Slice(c.file, 0, length));
            ASSERT_EQ(loaded.ok, length >= c.headers);
            Bytes zeroed = c.file; // the file's bytes up to `length`, zeros from there on
            std::fill(zeroed.begin() + length, zeroed.end(), 0);
            if (loaded.ok) EXPECT_TRUE(loaded.block == c.expected(zeroed));
        }
    }
}

// The reads in order: file header, info header, further header bytes, colour
// table, pixel bits. A failed read answers HFILE_ERROR, which must never pass
// for a read of the whole count.
TEST_F(DibReader, FailedReads)
{
    const Bytes header = InfoHeader(3, 2, 8, {.clrUsed = 2, .sizeImage = 8, .size = 108}) + ExtraHeader(68);
    // bfOffBits puts the pixels' position right again after a failed read.
    const Bytes file = FileHeader(14 + 108 + 8) + header + Table(2) + Pixels(8);
    struct Case {
        const char* name;
        int failingRead;
        bool ok;
        Bytes expected;
    } cases[] = {
        {"file header", 0, false, {}},
        {"info header", 1, false, {}},
        {"further header bytes", 2, false, {}},
        {"colour table: zero entries", 3, true, header + Bytes(8, 0) + Pixels(8)},
        {"pixel bits: zero pixels", 4, true, header + Table(2) + Bytes(8, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShimFailReadAfter(c.failingRead);
        const Loaded loaded = LoadFromMemory(file);
        ASSERT_EQ(loaded.ok, c.ok);
        EXPECT_TRUE(loaded.block == c.expected);
    }
}

// Both forms: by name, and by a handle that the caller placed at the
// bitmap, 100 bytes into a file, and keeps open. A block only when every
// allocation succeeds, and no block or other file left behind either way.
TEST_F(DibReader, BothFormsAndFailedAllocations)
{
    struct Case {
        const char* name;
        Bytes file;
        int failingAllocation; // -1: none
        bool ok;
    } cases[] = {
        {"bare bitmap", Plain, -1, true},
        {"BM bitmap, pixels at bfOffBits",
         FileHeader(14 + 40 + 8 + 3) + Slice(Plain, 0, 48) + Pattern(3, 0xEE) + Pixels(8), -1, true},
        {"cut in the header", Slice(FileHeader(0) + Plain, 0, 50), -1, false},
        {"failed allocation: header and colour table", FileHeader(0) + Plain, 0, false},
        {"failed allocation: re-size for the pixel bits", FileHeader(0) + Plain, 1, false},
        {"failed allocation: room for the run-length codes", Rle8File, 2, false},
        {"failed allocation: a row of bit fields",
         InfoHeader(2, 2, 16, {.compression = BI_BITFIELDS}) + Masks + Pixels565, 2, false},
    };
    for (const Case& c : cases) {
        const std::string path = WriteTempFile("both_forms.bmp", c.file);
        for (const bool byName : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (byName ? ", name form" : ", handle form"));
            const Bytes file = Pattern(100, 0x42) + c.file + (c.ok ? Pattern(9, 0x24) : Bytes{});
            const HFILE handle = ShimOpenMemoryFile(file.data(), file.size());
            ASSERT_EQ(_llseek(handle, 100, FILE_BEGIN), 100);
            ShimFailAllocationAfter(c.failingAllocation);
            const Loaded loaded =
                Take(byName ? LoadDibFile(path.c_str(), 480, 360) : LoadDibFile(handle, 480, 360));
            EXPECT_EQ(ShimOpenFileCount(), 1) << "not only the caller's file open";
            if (c.ok && !byName)
                EXPECT_EQ(_llseek(handle, 0, FILE_CURRENT), LONG(100 + c.file.size()))
                    << "not right after the pixels";
            _lclose(handle);
            ASSERT_EQ(loaded.ok, c.ok);
            if (c.ok) EXPECT_TRUE(loaded.block == PlainBlock);
        }
        remove(path.c_str());
    }
    const std::string missing = ::testing::TempDir() + "both_forms_missing.bmp";
    remove(missing.c_str());
    EXPECT_EQ(LoadDibFile(missing.c_str(), 480, 360), nullptr) << "missing file";
}

// The menu's corner: whatever a header claims, no allocation asks for more
// than the corner's rows, a colour table and what the file holds.
TEST_F(DibReader, ClaimsCostNoMoreThanTheFileHolds)
{
    const size_t cornerBytes = 480 * 360 * 4;
    struct Case {
        const char* name;
        Bytes file;
        bool drawn;
        size_t pixelBytes;
    } cases[] = {
        {"62 bytes claiming 16384 by 16384 at 32 bits",
         FileHeader(0) + InfoHeader(16384, 16384, 32) + Pixels(8), true, cornerBytes},
        {"8192 by 8192 at 8 bits", FileHeader(0) + InfoHeader(8192, 8192, 8) + Table(256) + Pixels(100), true,
         480 * 360},
        {"run-length coded, 16384 by 16384 and 256 MB of codes claimed",
         InfoHeader(16384, 16384, 8, {.sizeImage = 0x10000000, .compression = BI_RLE8}) + Table(256) +
             Rle8Codes,
         true, 480 * 360},
        {"480 by 360 stating nearly 2 GiB of pixels",
         InfoHeader(480, 360, 8, {.sizeImage = 0x7FFF0000}) + Table(256) + Pixels(1000), true, 480 * 360},
        {"small run-length coded picture stating 1 GiB of codes",
         InfoHeader(100, 100, 8, {.sizeImage = 0x40000000, .compression = BI_RLE8}) + Table(256) + Rle8Codes,
         true, 100 * 100},
        {"16-bit bit fields claiming 16384 by 16384: 24-bit rows for the corner only",
         InfoHeader(16384, 16384, 16, {.compression = BI_BITFIELDS}) + Masks + Pixels(100), true,
         480 * 3 * 360},
        {"a header stating 2 GiB", InfoHeader(4, 2, 8, {.size = 0x7F000000}) + Pixels(64), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShimReset();
        const Loaded loaded = LoadFromMemory(c.file);
        EXPECT_LE(ShimLargestRequest(), 124 + 1024 + cornerBytes + c.file.size());
        ASSERT_EQ(loaded.ok, c.drawn);
        if (!c.drawn) continue;
        const size_t headerAndTable = loaded.block.size() - c.pixelBytes;
        EXPECT_LE(headerAndTable, 124u + 1024u);
    }
}

// What the first stage makes of a file, and the file's bytes from the first
// pixel byte on, `count` of them (zeros where the file ends).
struct FirstStage {
    Bytes headerAndTable, pixels;
};

FirstStage ReadFirstStage(const std::string& path, size_t count)
{
    FirstStage stage;
    OFSTRUCT scratch;
    const HFILE file = OpenFile(path.c_str(), &scratch, OF_READ);
    if (file == HFILE_ERROR) return stage;
    if (HGLOBAL block = ReadDibHeader(file)) {
        const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(block));
        stage.headerAndTable.assign(data, data + GlobalSize(block));
        GlobalUnlock(block);
        GlobalFree(block);
        stage.pixels.resize(count);
        const LONG got = _hread(file, stage.pixels.data(), LONG(count));
        if (got < 0) std::fill(stage.pixels.begin(), stage.pixels.end(), 0);
    }
    _lclose(file);
    return stage;
}

// The public suites of good, questionable and broken files: each is read or
// refused, every block sound and uncompressed, and files meant to be good
// are read. A picture within the corner stored uncompressed comes as its
// headers and pixel bytes stand; one stored run-length coded comes as the
// suite's uncompressed copy of the same picture.
TEST_F(DibReader, BitmapTestSuites)
{
    const std::filesystem::path root = AUTORUN_BMP_TESTDATA_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(root)) << "the bitmap test suites are missing at " << root;

    int read = 0, refused = 0, whole = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const Loaded loaded = Take(LoadDibFile(path.c_str(), 480, 360));
        (loaded.ok ? read : refused)++;
        const bool meantToBeGood = path.find("/bmpsuite/g/") != std::string::npos ||
                                   path.find("/bmptestsuite/valid/") != std::string::npos;
        if (meantToBeGood) EXPECT_TRUE(loaded.ok) << "a good file was refused";
        EXPECT_EQ(ShimLiveBlockCount(), 0);
        EXPECT_EQ(ShimOpenFileCount(), 0);
        if (!loaded.ok) continue;

        BITMAPINFOHEADER header;
        memcpy(&header, loaded.block.data(), sizeof header);
        const FirstStage stage = ReadFirstStage(path, header.biSizeImage);
        ASSERT_GE(stage.headerAndTable.size(), sizeof header);
        BITMAPINFOHEADER picture;
        memcpy(&picture, stage.headerAndTable.data(), sizeof picture);
        if (picture.biWidth > 480 || picture.biHeight > 360 || picture.biHeight < -360) continue;
        EXPECT_EQ(header.biWidth, picture.biWidth);
        EXPECT_EQ(header.biHeight, picture.biHeight);
        if (picture.biCompression != header.biCompression) continue;
        ++whole;
        const size_t fields = offsetof(BITMAPINFOHEADER, biSizeImage);
        EXPECT_TRUE(Slice(loaded.block, 0, fields) == Slice(stage.headerAndTable, 0, fields));
        const size_t rest = stage.headerAndTable.size() - fields - 4;
        EXPECT_TRUE(Slice(loaded.block, fields + 4, rest) == Slice(stage.headerAndTable, fields + 4, rest));
        EXPECT_TRUE(Slice(loaded.block, rest + fields + 4, header.biSizeImage) == stage.pixels);
    }
    EXPECT_GT(read + refused, 100) << "the suites seem incomplete";
    EXPECT_GT(whole, 50) << "few pictures within the corner";
    printf("test bitmaps: %d read, %d refused\n", read, refused);

    for (const char* name : {"pal8", "pal4"}) {
        SCOPED_TRACE(name);
        const std::string folder = AUTORUN_BMP_TESTDATA_DIR "/bmpsuite/g/";
        const Loaded plain = Take(LoadDibFile((folder + name + ".bmp").c_str(), 480, 360));
        const Loaded decoded = Take(LoadDibFile((folder + name + "rle.bmp").c_str(), 480, 360));
        ASSERT_TRUE(plain.ok && decoded.ok);
        EXPECT_TRUE(decoded.block == plain.block);
    }

    // Bit fields come as 24-bit pixels of the colours of the suite's 24-bit
    // picture, as near as their widths allow; OS/2's Huffman and 24-bit
    // run-length codes, and masks without blue, are refused.
    const std::string folder = AUTORUN_BMP_TESTDATA_DIR "/bmpsuite/";
    const Loaded reference = Take(LoadDibFile((folder + "g/rgb24.bmp").c_str(), 480, 360));
    ASSERT_TRUE(reference.ok);
    const struct {
        const char* name;
        int tolerance;
    } twins[] = {
        {"g/rgb16bfdef.bmp", 4},  {"g/rgb16-565.bmp", 4},  {"g/rgb16-565pal.bmp", 4},
        {"q/rgba16-5551.bmp", 4}, {"g/rgb32bf.bmp", 0},    {"g/rgb32bfdef.bmp", 0},
        {"q/rgb32h52.bmp", 0},    {"q/rgb32-xbgr.bmp", 0}, {"q/rgb32-111110.bmp", 1},
        {"q/rgb32-7187.bmp", 1},
    };
    for (const auto& twin : twins) {
        SCOPED_TRACE(twin.name);
        const Loaded loaded = Take(LoadDibFile((folder + twin.name).c_str(), 480, 360));
        ASSERT_TRUE(loaded.ok);
        BITMAPINFOHEADER header;
        memcpy(&header, loaded.block.data(), sizeof header);
        EXPECT_EQ(header.biBitCount, 24);
        const size_t bits = header.biSize + 4 * header.biClrUsed;
        ASSERT_EQ(loaded.block.size() - bits, reference.block.size() - 40);
        int worst = 0; // over the pixels, not the rows' padding
        const uint32_t stride = Stride(24, header.biWidth);
        for (size_t i = 0; i + bits < loaded.block.size(); ++i)
            if (i % stride < 3u * header.biWidth)
                worst = std::max(worst, std::abs(loaded.block[bits + i] - reference.block[40 + i]));
        EXPECT_LE(worst, twin.tolerance);
    }
    for (const char* name : {"q/pal1huffmsb.bmp", "q/rgb24rle24.bmp", "b/rgb16-880.bmp"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Take(LoadDibFile((folder + name).c_str(), 480, 360)).ok);
    }
}

} // namespace
