// The bitmap reader, natively over the Win32 stand-in: block contents for the
// kinds of header and layout, refusals, short files, failed reads and
// allocations, both forms of the source, and the public bitmap test suites.
// Every test also checks that no block is leaked and no file left open.
#include "bitmap_files.h"

#include <filesystem>

namespace {

class DibReader : public ShimTest {};

TEST_F(DibReader, BlockContents)
{
    const Bytes masks = Masks();
    const Bytes triples = Triples(256);
    struct Case {
        const char* name;
        Bytes file, expected;
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
        {"BM with bfOffBits 0: pixels right after the colour table",
         FileHeader(0) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Pixels(8)},
        {"BM with a gap before the pixels: bfOffBits skips it",
         FileHeader(14 + 40 + 8 + 5) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pattern(5, 0xEE) +
             Pixels(8),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Pixels(8)},
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
        {"biSizeImage above the rows: kept",
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 20}) + Table(2) + Pixels(20),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 20}) + Table(2) + Pixels(20)},
        {"compressed: stored length kept even below the rows",
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 5, .compression = BI_RLE8}) + Table(2) + Pixels(5),
         InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 5, .compression = BI_RLE8}) + Table(2) + Pixels(5)},
        {"16-bit bit fields after a 40-byte header: masks kept in a 52-byte header",
         FileHeader(66) + InfoHeader(2, 2, 16, {.compression = BI_BITFIELDS}) + masks + Pixels(8),
         InfoHeader(2, 2, 16, {.sizeImage = 8, .compression = BI_BITFIELDS, .size = 52}) + masks + Pixels(8)},
        {"32-bit bit fields: the colour table follows the masks",
         InfoHeader(1, 1, 32, {.clrUsed = 2, .compression = BI_BITFIELDS}) + masks + Table(2) + Pixels(4),
         InfoHeader(1, 1, 32, {.clrUsed = 2, .sizeImage = 4, .compression = BI_BITFIELDS, .size = 52}) +
             masks + Table(2) + Pixels(4)},
        {"bit fields in a 56-byte header: unchanged",
         InfoHeader(1, 1, 32, {.compression = BI_BITFIELDS, .size = 56}) + ExtraHeader(16) + Pixels(4),
         InfoHeader(1, 1, 32, {.sizeImage = 4, .compression = BI_BITFIELDS, .size = 56}) + ExtraHeader(16) +
             Pixels(4)},
        {"alpha bit fields after a 40-byte header: four masks kept in a 56-byte header",
         InfoHeader(1, 1, 32, {.compression = 6}) + ExtraHeader(16) + Pixels(4),
         InfoHeader(1, 1, 32, {.sizeImage = 4, .compression = 6, .size = 56}) + ExtraHeader(16) + Pixels(4)},
        {"more colours than the bit count needs: all kept",
         InfoHeader(1, 1, 8, {.clrUsed = 300}) + Table(300) + Pixels(4),
         InfoHeader(1, 1, 8, {.clrUsed = 300, .sizeImage = 4}) + Table(300) + Pixels(4)},
        {"65535 colours, the most", InfoHeader(1, 1, 8, {.clrUsed = 65535}) + Table(65535) + Pixels(4),
         InfoHeader(1, 1, 8, {.clrUsed = 65535, .sizeImage = 4}) + Table(65535) + Pixels(4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadFromMemory(c.file);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.block.size(), c.expected.size());
        EXPECT_TRUE(loaded.block == c.expected);
    }
}

TEST_F(DibReader, Refusals)
{
    const Bytes bitmap = FileHeader(0) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8);
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
        {"core header with 2 bits", CoreHeader(4, 2, 2) + Pixels(64)},
        {"core header with 16 bits", CoreHeader(4, 2, 16) + Pixels(64)},
        {"core header with 32 bits", CoreHeader(4, 2, 32) + Pixels(64)},
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
         InfoHeader(65536, 65536, 16, {.sizeImage = 153600, .compression = BI_BITFIELDS}) + Masks() +
             Pixels(64)},
        {"block beyond 31 bits by its stated length",
         InfoHeader(1, 1, 8, {.clrUsed = 2, .sizeImage = 0x7FFFFFF0, .compression = BI_RLE8}) + Table(2) +
             Pixels(64)},
        {"pixel offset beyond 31 bits", FileHeader(0xFFFFFFFF) + InfoHeader(1, 1, 24) + Pixels(4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(LoadFromMemory(c.file).ok);
    }
}

// Bit counts that no bitmap has are refused in every kind of header, before
// anything is sized from them; the same files with a bit count that bitmaps
// have are read, each block no larger than its rows imply.
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
             return InfoHeader(4, 2, bits, {.compression = BI_BITFIELDS}) + Masks() + Pixels(1024);
         },
         {1, 4, 8, 16, 24, 32}},
        {"40-byte header, run-length coded without a stated length",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.compression = BI_RLE8}) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
        {"108-byte header",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.size = 108}) + ExtraHeader(68) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
        {"124-byte header",
         [](uint16_t bits) { return InfoHeader(4, 2, bits, {.size = 124}) + ExtraHeader(84) + Pixels(1024); },
         {1, 4, 8, 16, 24, 32}},
    };
    for (const Kind& kind : kinds) {
        for (uint16_t bits : {0, 2, 3, 5, 64, 65535}) {
            SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(bits) + " bits");
            EXPECT_FALSE(LoadFromMemory(kind.file(bits)).ok);
        }
        for (uint16_t bits : kind.valid) {
            SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(bits) + " bits");
            const Loaded loaded = LoadFromMemory(kind.file(bits));
            ASSERT_TRUE(loaded.ok);
            const size_t table = bits <= 8 ? 4 << bits : 0;
            EXPECT_LE(loaded.block.size(), 124 + table + 2 * ((4 * bits + 31) / 32 * 4));
        }
    }

    // The corrupt files of a public suite: 65535 bits would mean a block of
    // some 600 MB for a 9.7 KB file.
    const std::string root = AUTORUN_BMP_TESTDATA_DIR "/bmptestsuite/corrupt/";
    for (const char* name : {"bitdepth-large.bmp", "bitdepth-zero.bmp"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Take(LoadDibFile((root + name).c_str())).ok);
    }
}

TEST_F(DibReader, HandleFormReadsFromTheCurrentPosition)
{
    const Bytes bare = InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8);
    const Bytes withGap = FileHeader(14 + 40 + 8 + 3) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) +
                          Pattern(3, 0xEE) + Pixels(8);
    const Bytes expected = InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Pixels(8);
    struct Case {
        const char* name;
        Bytes bitmap;
    } cases[] = {
        {"bare bitmap, re-read from position 100", bare},
        {"BM bitmap, pixels at 100 + bfOffBits", withGap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = Pattern(100, 0x42) + c.bitmap + Pattern(9, 0x24);
        const HFILE handle = ShimOpenMemoryFile(file.data(), file.size());
        ASSERT_EQ(_llseek(handle, 100, FILE_BEGIN), 100);
        const Loaded loaded = Take(LoadDibFile(handle));
        EXPECT_EQ(ShimOpenFileCount(), 1) << "the caller's file must stay open";
        EXPECT_EQ(_llseek(handle, 0, FILE_CURRENT), LONG(100 + c.bitmap.size()))
            << "not right after the pixels";
        _lclose(handle);
        ASSERT_TRUE(loaded.ok);
        EXPECT_TRUE(loaded.block == expected);
    }
}

// Every prefix of a file: null while the headers are incomplete, then a block
// whose every byte that the file did not hold is zero (the stand-in fills new
// memory with 0xCD, so a byte left unwritten shows).
TEST_F(DibReader, EveryPrefixOfAFile)
{
    const Bytes info = FileHeader(0) + InfoHeader(3, 2, 8, {.clrUsed = 2, .sizeImage = 8, .size = 108}) +
                       ExtraHeader(68) + Table(2) + Pixels(8);
    for (size_t length = 0; length <= info.size(); length++) {
        SCOPED_TRACE("108-byte header, prefix of " + std::to_string(length));
        const Loaded loaded = LoadFromMemory(Slice(info, 0, length));
        if (length < 14 + 108) {
            EXPECT_FALSE(loaded.ok);
        } else {
            ASSERT_TRUE(loaded.ok);
            EXPECT_TRUE(loaded.block == Slice(CutAndZeroed(info, length), 14, info.size() - 14));
        }
    }

    const Bytes core = CoreHeader(2, 2, 8) + Triples(256) + Pixels(8);
    const Bytes coreHeader =
        InfoHeader(2, 2, 8, {.clrUsed = 256, .sizeImage = 8, .clrImportant = 256, .pelsPerMeter = 0});
    for (size_t length = 0; length <= core.size(); length++) {
        SCOPED_TRACE("core header, prefix of " + std::to_string(length));
        const Loaded loaded = LoadFromMemory(Slice(core, 0, length));
        if (length < 40) {
            EXPECT_FALSE(loaded.ok);
        } else {
            ASSERT_TRUE(loaded.ok);
            const Bytes zeroed = CutAndZeroed(core, length);
            EXPECT_TRUE(loaded.block == coreHeader + Widened(Slice(zeroed, 12, 768)) + Slice(zeroed, 780, 8));
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

TEST_F(DibReader, FailedAllocationsReleaseEverything)
{
    const Bytes file = FileHeader(0) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8);
    const std::string path = WriteTempFile("alloc_failure.bmp", file);
    struct Case {
        const char* name;
        int failingAllocation;
    } cases[] = {
        {"header and colour table", 0},
        {"re-size for the pixel bits", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShimFailAllocationAfter(c.failingAllocation);
        EXPECT_FALSE(LoadFromMemory(file).ok) << "handle form";
        ShimFailAllocationAfter(c.failingAllocation);
        EXPECT_EQ(LoadDibFile(path.c_str()), nullptr) << "name form";
        EXPECT_EQ(ShimLiveBlockCount(), 0);
        EXPECT_EQ(ShimOpenFileCount(), 0);
    }
    remove(path.c_str());
}

TEST_F(DibReader, NameForm)
{
    const Bytes good = FileHeader(0) + InfoHeader(4, 2, 8, {.clrUsed = 2}) + Table(2) + Pixels(8);
    const Bytes expected = InfoHeader(4, 2, 8, {.clrUsed = 2, .sizeImage = 8}) + Table(2) + Pixels(8);
    const std::string goodPath = WriteTempFile("name_form_good.bmp", good);
    const std::string cutPath = WriteTempFile("name_form_cut.bmp", Slice(good, 0, 50));
    const std::string missingPath = ::testing::TempDir() + "name_form_missing.bmp";
    remove(missingPath.c_str());

    const Loaded loaded = Take(LoadDibFile(goodPath.c_str()));
    ASSERT_TRUE(loaded.ok);
    EXPECT_TRUE(loaded.block == expected);
    EXPECT_EQ(ShimOpenFileCount(), 0) << "the file must be closed after a success";

    EXPECT_EQ(LoadDibFile(cutPath.c_str()), nullptr) << "cut in the header";
    EXPECT_EQ(ShimOpenFileCount(), 0) << "the file must be closed after a refusal";
    EXPECT_EQ(LoadDibFile(missingPath.c_str()), nullptr) << "missing file";

    remove(goodPath.c_str());
    remove(cutPath.c_str());
}

// The public suites of good, questionable and broken files: each is read or
// refused, every block sound. Files meant to be good must be read.
TEST_F(DibReader, BitmapTestSuites)
{
    const std::filesystem::path root = AUTORUN_BMP_TESTDATA_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(root)) << "the bitmap test suites are missing at " << root;

    int read = 0, refused = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const Loaded loaded = Take(LoadDibFile(path.c_str()));
        (loaded.ok ? read : refused)++;
        const bool meantToBeGood = path.find("/bmpsuite/g/") != std::string::npos ||
                                   path.find("/bmptestsuite/valid/") != std::string::npos;
        if (meantToBeGood) EXPECT_TRUE(loaded.ok) << "a good file was refused";
        EXPECT_EQ(ShimLiveBlockCount(), 0);
        EXPECT_EQ(ShimOpenFileCount(), 0);
    }
    EXPECT_GT(read + refused, 100) << "the suites seem incomplete";
    printf("test bitmaps: %d read, %d refused\n", read, refused);
}

} // namespace
