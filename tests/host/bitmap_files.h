// Bitmap files built byte by byte for the native tests of the bitmap
// reader: headers of every kind, colour tables and recognisable pixel bytes,
// and the reader's blocks taken apart again (each checked for soundness,
// then freed).
#pragma once

#include "splash/dib_reader.h"

#include "packed_dib_check.h"
#include "win32_shim/win32_shim.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline void Put(Bytes& out, uint32_t value, int width)
{
    for (int i = 0; i < width; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

// Recognisable bytes: each run differs from the others by its seed.
inline Bytes Pattern(size_t count, uint8_t seed)
{
    Bytes out(count);
    for (size_t i = 0; i < count; i++)
        out[i] = uint8_t(seed + 7 * i + (i >> 8));
    return out;
}

inline Bytes Pixels(size_t count)
{
    return Pattern(count, 0x81);
}

inline Bytes Table(size_t colours)
{
    return Pattern(4 * colours, 0x11);
}

inline Bytes Triples(size_t colours)
{
    return Pattern(3 * colours, 0x33);
}

inline Bytes ExtraHeader(size_t count)
{
    return Pattern(count, 0x5A);
}

inline Bytes Masks()
{
    Bytes out;
    Put(out, 0xF800, 4);
    Put(out, 0x07E0, 4);
    Put(out, 0x001F, 4);
    return out;
}

inline Bytes FileHeader(uint32_t offBits)
{
    Bytes out;
    Put(out, 0x4D42, 2);
    Put(out, 0x12345, 4); // bfSize, never used
    Put(out, 0, 4);
    Put(out, offBits, 4);
    return out;
}

// The fields that a case sets beyond the picture's size and bit count.
struct Fields {
    uint32_t clrUsed = 0, sizeImage = 0, compression = BI_RGB, size = 40;
    uint32_t clrImportant = 7;
    int32_t pelsPerMeter = 2835;
    uint16_t planes = 1;
};

// The first 40 bytes of an info header; longer headers append their own bytes.
inline Bytes InfoHeader(int32_t width, int32_t height, uint16_t bitCount, const Fields& info = {})
{
    Bytes out;
    Put(out, info.size, 4);
    Put(out, uint32_t(width), 4);
    Put(out, uint32_t(height), 4);
    Put(out, info.planes, 2);
    Put(out, bitCount, 2);
    Put(out, info.compression, 4);
    Put(out, info.sizeImage, 4);
    Put(out, uint32_t(info.pelsPerMeter), 4);
    Put(out, uint32_t(info.pelsPerMeter), 4);
    Put(out, info.clrUsed, 4);
    Put(out, info.clrImportant, 4);
    return out;
}

inline Bytes CoreHeader(uint16_t width, uint16_t height, uint16_t bitCount)
{
    Bytes out;
    Put(out, 12, 4);
    Put(out, width, 2);
    Put(out, height, 2);
    Put(out, 1, 2);
    Put(out, bitCount, 2);
    return out;
}

// The 4-byte entries that a core header's triples become.
inline Bytes Widened(const Bytes& triples)
{
    Bytes out;
    for (size_t i = 0; i + 3 <= triples.size(); i += 3)
        out = out + Bytes{triples[i], triples[i + 1], triples[i + 2], 0};
    return out;
}

inline Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

// The file's bytes up to `length`, zeros from there on, at the full size.
inline Bytes CutAndZeroed(const Bytes& file, size_t length)
{
    Bytes out = file;
    std::fill(out.begin() + length, out.end(), 0);
    return out;
}

// The block's bytes, or nothing for null; checks the block and frees it.
struct Loaded {
    bool ok;
    Bytes block;
};

inline Loaded Take(HGLOBAL block)
{
    if (!block) return {false, {}};
    if (const char* fault = PackedDibFault(block)) ADD_FAILURE() << fault;
    const uint8_t* data = static_cast<const uint8_t*>(GlobalLock(block));
    Loaded loaded{true, Bytes(data, data + GlobalSize(block))};
    GlobalUnlock(block);
    GlobalFree(block);
    return loaded;
}

inline Loaded LoadFromMemory(const Bytes& file)
{
    const HFILE handle = ShimOpenMemoryFile(file.data(), file.size());
    HGLOBAL block = LoadDibFile(handle);
    _lclose(handle);
    return Take(block);
}

inline std::string WriteTempFile(const char* name, const Bytes& bytes)
{
    const std::string path = ::testing::TempDir() + name;
    FILE* out = fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr) << path;
    if (out) {
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
    }
    return path;
}

// Each test starts with a fresh stand-in and ends with no block leaked and no
// file left open.
class ShimTest : public ::testing::Test {
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
