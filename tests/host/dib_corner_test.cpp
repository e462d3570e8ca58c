// Reading the drawn corner of a bitmap, natively over the Win32 stand-in: a
// picture within the corner comes as the reader gives it, a larger one is cut
// to its top rows and left columns (run-length codes decoded into them), and
// whatever a header claims, no allocation asks for more than the corner and
// the file itself.
#include "splash/dib_corner.h"

#include "bitmap_files.h"

#include <filesystem>

namespace {

class DibCorner : public ShimTest {};

Loaded LoadCorner(const Bytes& file, LONG width, LONG height)
{
    const HFILE handle = ShimOpenMemoryFile(file.data(), file.size());
    HGLOBAL block = LoadDibCorner(handle, width, height);
    _lclose(handle);
    return Take(block);
}

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

TEST_F(DibCorner, LargerPicturesAreCutToTheCorner)
{
    const Bytes pixels8 = Pixels(8 * 5), pixels24 = Pixels(16 * 4), pixels1 = Pixels(8 * 2);
    const Bytes pixels4 = Pixels(16), pixels16 = Pixels(12 * 3);
    struct Case {
        const char* name;
        Bytes file;
        LONG width, height;
        Bytes expected;
    } cases[] = {
        {"8-bit bottom-up 7x5, corner 4x3: its top three rows",
         FileHeader(0) + InfoHeader(7, 5, 8, {.clrUsed = 2}) + Table(2) + pixels8, 4, 3,
         InfoHeader(4, 3, 8, {.clrUsed = 2, .sizeImage = 12}) + Table(2) +
             CornerRows(pixels8, 8, 7, 5, 4, 3)},
        {"24-bit top-down 5x4, corner 3x2: its first two rows", InfoHeader(5, -4, 24) + pixels24, 3, 2,
         InfoHeader(3, -2, 24, {.sizeImage = 24}) + CornerRows(pixels24, 24, 5, -4, 3, 2)},
        {"1-bit 40x2, corner 9x3: only the width is cut", InfoHeader(40, 2, 1) + Table(2) + pixels1, 9, 3,
         InfoHeader(9, 2, 1, {.clrUsed = 2, .sizeImage = 8}) + Table(2) +
             CornerRows(pixels1, 1, 40, 2, 9, 2)},
        {"4-bit 10x2, corner 12x1: only the height is cut",
         InfoHeader(10, 2, 4, {.clrUsed = 2}) + Table(2) + pixels4, 12, 1,
         InfoHeader(10, 1, 4, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Slice(pixels4, 8, 8)},
        {"16-bit bit fields 6x3, corner 2x2: the masks stay",
         InfoHeader(6, 3, 16, {.compression = BI_BITFIELDS}) + Masks() + pixels16, 2, 2,
         InfoHeader(2, 2, 16, {.sizeImage = 8, .compression = BI_BITFIELDS, .size = 52}) + Masks() +
             CornerRows(pixels16, 16, 6, 3, 2, 2)},
        {"rows the file does not hold are zero", InfoHeader(4, 6, 8, {.clrUsed = 2}) + Table(2) + Pixels(8),
         4, 3, InfoHeader(4, 3, 8, {.clrUsed = 2, .sizeImage = 12}) + Table(2) + Bytes(12, 0)},
        {"run-length coded 8-bit 5x4, corner 3x2: decoded",
         InfoHeader(5, 4, 8,
                    {.clrUsed = 2, .sizeImage = uint32_t(Rle8Codes.size()), .compression = BI_RLE8}) +
             Table(2) + Rle8Codes,
         3, 2,
         InfoHeader(3, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) +
             CornerRows(Rle8Rows, 8, 5, 4, 3, 2, 3)},
        {"run-length coded 4-bit 8x2, corner 3x2: decoded",
         InfoHeader(8, 2, 4,
                    {.clrUsed = 2, .sizeImage = uint32_t(Rle4Codes.size()), .compression = BI_RLE4}) +
             Table(2) + Rle4Codes,
         3, 2,
         InfoHeader(3, 2, 4, {.clrUsed = 2, .sizeImage = 8}) + Table(2) +
             Bytes{0x12, 0x10, 0, 0, 0x89, 0x80, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadCorner(c.file, c.width, c.height);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.block.size(), c.expected.size());
        EXPECT_TRUE(loaded.block == c.expected);
    }
}

// Decoding the whole picture and decoding a corner agree on the corner.
TEST_F(DibCorner, RunLengthCornerIsTheCornerOfTheWholePicture)
{
    const Bytes rle8 =
        InfoHeader(5, 4, 8, {.clrUsed = 2, .sizeImage = uint32_t(Rle8Codes.size()), .compression = BI_RLE8}) +
        Table(2) + Rle8Codes;
    const Loaded whole = LoadCorner(rle8, 6, 5); // within the corner: the codes as they are
    ASSERT_TRUE(whole.ok);
    EXPECT_TRUE(whole.block == rle8) << "a picture within the corner comes as stored";
    for (LONG width = 1; width <= 5; ++width) {
        for (LONG height = 1; height <= 4; ++height) {
            if (width == 5 && height == 4) continue;
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            const Loaded corner = LoadCorner(rle8, width, height);
            ASSERT_TRUE(corner.ok);
            EXPECT_TRUE(Slice(corner.block, 48, corner.block.size() - 48) ==
                        CornerRows(Rle8Rows, 8, 5, 4, width, height, width));
        }
    }
}

TEST_F(DibCorner, RefusedWhenALargerPictureCannotBeCut)
{
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"run-length coded top-down",
         InfoHeader(5, -4, 8, {.clrUsed = 2, .sizeImage = 18, .compression = BI_RLE8}) + Table(2) +
             Rle8Codes},
        {"compressed in another way", InfoHeader(5, 4, 24, {.sizeImage = 18, .compression = 4}) + Rle8Codes},
        {"run-length codes for the wrong bit count",
         InfoHeader(5, 4, 4, {.clrUsed = 2, .sizeImage = 18, .compression = BI_RLE8}) + Table(2) + Rle8Codes},
        {"what the reader refuses", InfoHeader(5, 4, 8, {.size = 39}) + Pixels(64)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(LoadCorner(c.file, 3, 2).ok);
    }
}

// The menu's corner: whatever a header claims, no allocation asks for more
// than the corner's rows, a colour table and what the file holds.
TEST_F(DibCorner, ClaimsCostNoMoreThanTheFileHolds)
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
         true, Rle8Codes.size()},
        {"a header stating 2 GiB", InfoHeader(4, 2, 8, {.size = 0x7F000000}) + Pixels(64), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShimReset();
        const Loaded loaded = LoadCorner(c.file, 480, 360);
        EXPECT_LE(ShimLargestRequest(), 124 + 1024 + cornerBytes + c.file.size());
        ASSERT_EQ(loaded.ok, c.drawn);
        if (!c.drawn) continue;
        const size_t headerAndTable = loaded.block.size() - c.pixelBytes;
        EXPECT_LE(headerAndTable, 124u + 1024u);
    }
}

// The public suites: every picture within the corner comes exactly as the
// reader reads it, but for a stated length beyond what drawing uses.
TEST_F(DibCorner, BitmapTestSuitesComeAsTheReaderReadsThem)
{
    const std::filesystem::path root = AUTORUN_BMP_TESTDATA_DIR;
    int compared = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const Loaded read = Take(LoadDibFile(path.c_str()));
        const Loaded corner = Take(LoadDibCorner(path.c_str(), 480, 360));
        if (!read.ok) continue; // the corner may be read where the whole is too large
        ASSERT_TRUE(corner.ok);
        BITMAPINFOHEADER header;
        memcpy(&header, read.block.data(), sizeof header);
        if (header.biWidth > 480 || header.biHeight > 360 || header.biHeight < -360) continue;
        BITMAPINFOHEADER cornerHeader;
        memcpy(&cornerHeader, corner.block.data(), sizeof cornerHeader);
        const size_t common = std::min(read.block.size(), corner.block.size());
        EXPECT_LE(cornerHeader.biSizeImage, header.biSizeImage);
        EXPECT_TRUE(Slice(read.block, 0, 20) == Slice(corner.block, 0, 20));
        EXPECT_TRUE(Slice(read.block, 24, common - 24) == Slice(corner.block, 24, common - 24));
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

} // namespace
