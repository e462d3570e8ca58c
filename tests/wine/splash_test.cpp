// The splash picture as the user sees it: "autorun.bmp" from the disc folder
// fills the client area, unscaled at its origin, under the buttons; without
// the file, or with any broken one, the same menu stands on black.
#include "harness/environment.h"
#include "harness/menu_picture.h"
#include "scene.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

// An 8-bit picture in four quadrants: red, green (top), blue, white
// (bottom), with a 16-entry palette; 480 by 360 unless asked for another
// size, and run-length coded on request.
const COLORREF Quadrants[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};

std::string QuadrantPicture(int width = 480, int height = 360, bool runLength = false)
{
    std::string bits;
    for (int row = height - 1; row >= 0; --row) { // bottom-up
        const int top = row < height / 2 ? 0 : 2;
        for (int column = 0; column < width && !runLength; ++column)
            bits.push_back(static_cast<char>(top + (column < width / 2 ? 0 : 1)));
        bits.append(runLength ? 0 : (4 - width % 4) % 4, '\0');
        for (int column = 0; column < width && runLength;) {
            const int half = column < width / 2 ? 0 : 1;
            const int run = std::min((half ? width : width / 2) - column, 255);
            bits.push_back(static_cast<char>(run));
            bits.push_back(static_cast<char>(top + half));
            column += run;
        }
        if (runLength)
            bits.append(row ? std::string(2, '\0') : std::string("\0\1", 2)); // line end, bitmap end
    }
    RGBQUAD palette[16] = {};
    for (int i = 0; i < 4; ++i)
        palette[i] = {GetBValue(Quadrants[i]), GetGValue(Quadrants[i]), GetRValue(Quadrants[i]), 0};
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + sizeof palette;
    const BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(offset + bits.size()), 0, 0, offset};
    BITMAPINFOHEADER info = {sizeof info, width, height, 1, 8, BI_RGB, 0, 2835, 2835, 16, 0};
    if (runLength) {
        info.biCompression = BI_RLE8;
        info.biSizeImage = static_cast<DWORD>(bits.size());
    }
    return std::string(reinterpret_cast<const char*>(&file), sizeof file) +
           std::string(reinterpret_cast<const char*>(&info), sizeof info) +
           std::string(reinterpret_cast<const char*>(palette), sizeof palette) + bits;
}

// The same quadrants, 480 by 360, as 16-bit 5-6-5 bit fields, which hold
// their colours exactly.
std::string BitFieldQuadrantPicture()
{
    const int width = 480, height = 360;
    std::string bits;
    for (int row = height - 1; row >= 0; --row) { // bottom-up; rows of 960 bytes need no padding
        for (int column = 0; column < width; ++column) {
            const COLORREF colour = Quadrants[(row < height / 2 ? 0 : 2) + (column < width / 2 ? 0 : 1)];
            const WORD pixel =
                GetRValue(colour) >> 3 << 11 | GetGValue(colour) >> 2 << 5 | GetBValue(colour) >> 3;
            bits.push_back(static_cast<char>(pixel & 0xFF));
            bits.push_back(static_cast<char>(pixel >> 8));
        }
    }
    const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + sizeof masks;
    const BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(offset + bits.size()), 0, 0, offset};
    const BITMAPINFOHEADER info = {sizeof info, width, height, 1, 16, BI_BITFIELDS, 0, 2835, 2835, 0, 0};
    return std::string(reinterpret_cast<const char*>(&file), sizeof file) +
           std::string(reinterpret_cast<const char*>(&info), sizeof info) +
           std::string(reinterpret_cast<const char*>(masks), sizeof masks) + bits;
}

// A scene whose disc holds `picture` as "autorun.bmp", or no picture.
struct SplashScene : Scene {
    explicit SplashScene(const std::string* picture)
    {
        if (picture) WriteFileBytes(disc.File("autorun.bmp"), *picture);
    }
    bool Start()
    {
        return Scene::Start(60000);
    }
};

// Points away from the buttons, which stand over the lower middle.
struct Probe {
    int x, y;
    COLORREF expected;
};
const Probe QuadrantProbes[] = {
    {0, 0, Quadrants[0]},     {239, 179, Quadrants[0]}, {240, 0, Quadrants[1]},   {479, 179, Quadrants[1]},
    {0, 180, Quadrants[2]},   {40, 359, Quadrants[2]},  {479, 180, Quadrants[3]}, {440, 359, Quadrants[3]},
    {100, 100, Quadrants[0]}, {400, 300, Quadrants[3]},
};

// Windows takes a library that is not on its list of known libraries from the
// program's folder first. Wine takes its own copy instead, unless told
// otherwise: under Wine, this tells it, for the menu's file name alone, to take
// `library` from the program's folder first, and removes what it wrote again.
class PreferLibraryInProgramFolder : NoCopy {
  public:
    explicit PreferLibraryInProgramFolder(const char* library) : library_(library)
    {
        if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
            return; // Windows does so anyway
        for (const char* path : Path)
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key_) == ERROR_SUCCESS) {
                RegCloseKey(key_);
                key_ = nullptr;
                ++existing_;
            } else {
                break;
            }
        if (RegCreateKeyExA(HKEY_CURRENT_USER, Path[3], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            return;
        // A value someone else set is theirs: leave it, and the test cannot be made.
        ours_ = RegQueryValueExA(key_, library, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS &&
                RegSetValueExA(key_, library, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"),
                               15) == ERROR_SUCCESS;
    }
    ~PreferLibraryInProgramFolder()
    {
        if (!key_) return;
        if (ours_) RegDeleteValueA(key_, library_);
        RegCloseKey(key_);
        for (int level = 3; level >= existing_; --level)
            RegDeleteKeyA(HKEY_CURRENT_USER, Path[level]); // only while empty
    }
    bool Ready() const
    {
        return !key_ || ours_;
    }

  private:
    static constexpr const char* Path[4] = {"Software\\Wine", "Software\\Wine\\AppDefaults",
                                            "Software\\Wine\\AppDefaults\\autorun.exe",
                                            "Software\\Wine\\AppDefaults\\autorun.exe\\DllOverrides"};
    const char* library_;
    HKEY key_ = nullptr;
    int existing_ = 0; // how many keys of the path were there already
    bool ours_ = false;
};

// Every probe shows the quadrant's colour, or `colour` where one is given,
// in the client area as the menu paints it.
void ExpectPicture(const Scene& scene, const COLORREF* colour = nullptr)
{
    const MenuPicture picture = PrintMenuClientArea(scene.menu);
    ASSERT_EQ(picture.failure, "");
    for (const Probe& probe : QuadrantProbes)
        EXPECT_EQ(picture.At(probe.x, probe.y), colour ? *colour : probe.expected)
            << "at " << probe.x << "," << probe.y;
    EXPECT_EQ(VisibleButtons(scene.window).size(), 2u);
}

// The picture fills the client area unscaled at its origin; a larger one
// shows its top-left corner, however its pixels are stored; bit fields are
// drawn as plain pixels (where Video for Windows looked for a decompressor
// for them, it would find none under Wine and draw nothing); without the
// file, or with a broken one, the menu stands on black. A library of Video for
// Windows' name beside a copy of the menu (a disc unpacked into a Downloads
// folder) is not loaded.
TEST(Splash, WhatTheMenuDraws)
{
    std::string truncated = QuadrantPicture();
    truncated.resize(30); // inside the info header
    std::string hugeHeader = QuadrantPicture();
    hugeHeader[16] = '\x7F'; // biSize of some 8 MB, far more than the file holds
    const std::string picture = QuadrantPicture(), large = QuadrantPicture(1000, 800),
                      largeRunLength = QuadrantPicture(1000, 800, true),
                      bitFields = BitFieldQuadrantPicture();
    const COLORREF black = RGB(0, 0, 0);
    const struct {
        const char* name;
        const std::string* picture;
        const COLORREF* colour; // everywhere, or the quadrants'
        bool plantedLibrary;
    } cases[] = {
        {"480 by 360", &picture, nullptr, false},
        {"no file", nullptr, &black, false},
        {"cut in the header", &truncated, &black, false},
        {"header past the end", &hugeHeader, &black, false},
        {"1000 by 800, uncompressed", &large, &Quadrants[0], false},
        {"1000 by 800, run-length coded", &largeRunLength, &Quadrants[0], false},
        {"480 by 360, 16-bit bit fields", &bitFields, nullptr, false},
        {"MSVFW32.DLL planted beside the menu", &picture, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<PreferLibraryInProgramFolder> preferProgramFolder;
        if (c.plantedLibrary) {
            preferProgramFolder.emplace("msvfw32");
            ASSERT_TRUE(preferProgramFolder->Ready()) << "a library override for autorun.exe is already set";
        }
        SplashScene scene(c.picture);
        if (c.plantedLibrary) scene.disc.AddFromBuild("empty_library.dll", "MSVFW32.DLL");
        ASSERT_TRUE(scene.Start());
        ExpectPicture(scene, c.colour);
        EXPECT_TRUE(scene.menu.Running());
    }
}

// The most memory the menu's process has held, once its window shows.
SIZE_T PeakMemory(const MenuProcess& process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process.Process(), &counters, sizeof counters)) return 0;
    return std::max(counters.PeakWorkingSetSize, counters.PeakPagefileUsage);
}

std::string WithField(std::string picture, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        picture[offset + i] = static_cast<char>(value >> (8 * i));
    return picture;
}

// A header may claim any size. The menu holds no more than the pixels it
// draws and the file itself, so its window comes up as quickly as ever, and
// whatever of the claim the file really holds is drawn.
TEST(Splash, PictureThatClaimsMorePixelsThanItHolds)
{
    const std::string normal = QuadrantPicture();
    SIZE_T normalPeak = 0;
    {
        SplashScene scene(&normal);
        ASSERT_TRUE(scene.Start());
        normalPeak = PeakMemory(scene.menu);
        ASSERT_GT(normalPeak, 0u) << "the menu's memory cannot be read";
    }
    const size_t width = 18, height = 22, sizeImage = 34, headerSize = 14; // offsets in the file
    const struct {
        const char* name;
        std::string picture;
        bool drawn;
    } cases[] = {
        {"62 bytes claiming 16384 by 16384 at 32 bits",
         WithField(WithField(WithField(normal, width, 16384), height, 16384), 28, 32).substr(0, 62), false},
        {"8192 by 8192 at 8 bits, 1 KiB of pixels",
         WithField(WithField(normal, width, 8192), height, 8192).substr(0, 14 + 40 + 64 + 1024), false},
        {"run-length coded, claiming 16384 by 16384 and 256 MiB of codes",
         WithField(WithField(WithField(QuadrantPicture(480, 360, true), width, 16384), height, 16384),
                   sizeImage, 0x10000000),
         false},
        {"480 by 360 stating nearly 2 GiB of pixels", WithField(normal, sizeImage, 0x7FFF0000), true},
        {"a header stating 2 GiB", WithField(normal, headerSize, 0x7F000000), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SplashScene scene(&c.picture);
        ASSERT_TRUE(scene.Start());
        const SIZE_T bound = normalPeak + (32u << 20) + c.picture.size();
        EXPECT_LE(PeakMemory(scene.menu), bound) << "a normal start holds " << normalPeak;
        if (c.drawn)
            ExpectPicture(scene);
        else
            EXPECT_EQ(VisibleButtons(scene.window).size(), 2u);
    }
}

// Every file of the public bitmap test suites, good, questionable or broken,
// as "autorun.bmp": the menu comes up with its buttons, survives a repaint and
// ends normally on Exit.
void CollectBitmaps(const std::string& folder, std::vector<std::string>* files)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectBitmaps(folder + "\\" + name, files);
        else if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".bmp") == 0)
            files->push_back(folder + "\\" + name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

TEST(Splash, MenuSurvivesEveryTestSuiteBitmap)
{
    const std::string suites = EnvironmentVariable("AUTORUN_BMP_TESTDATA");
    ASSERT_FALSE(suites.empty()) << "AUTORUN_BMP_TESTDATA does not name the bitmap test suites' folder";
    std::vector<std::string> files;
    CollectBitmaps(suites, &files);
    ASSERT_GT(files.size(), 100u) << "the bitmap test suites are missing at " << suites;

    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string picture = ReadFileBytes(file);
        SplashScene scene(&picture);
        ASSERT_TRUE(scene.Start());
        RedrawWindow(scene.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        Settle(scene.window);
        ASSERT_TRUE(scene.menu.Running()) << scene.menu.Describe();
        ASSERT_EQ(VisibleButtons(scene.window).size(), 2u);
        ASSERT_TRUE(scene.Press(CommandExit));
        DWORD exitCode = 1;
        ASSERT_TRUE(scene.menu.WaitForExit(10000, &exitCode)) << scene.menu.Describe();
        EXPECT_EQ(exitCode, 0u);
    }
}

} // namespace
