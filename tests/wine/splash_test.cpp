// The splash picture as the user sees it: "autorun.bmp" from the disc folder
// fills the client area, unscaled at its origin, under the buttons; without
// the file, or with any broken one, the same menu stands on black.
#include "menu_driver.h"
#include "standins.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>

namespace {

void Put16(std::string& bytes, uint16_t value)
{
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& bytes, uint32_t value)
{
    Put16(bytes, static_cast<uint16_t>(value & 0xFFFF));
    Put16(bytes, static_cast<uint16_t>(value >> 16));
}

// An 8-bit picture in four quadrants: red, green (top), blue, white
// (bottom), with a 16-entry palette; 480 by 360 unless asked for another
// size, and run-length coded on request.
const COLORREF Quadrants[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};

std::string QuadrantPicture(int width = 480, int height = 360, bool runLength = false)
{
    const int paletteSize = 16;
    std::string bits;
    for (int row = height - 1; row >= 0; --row) { // bottom-up
        const int top = row < height / 2 ? 0 : 2;
        if (!runLength) {
            for (int column = 0; column < width; ++column)
                bits.push_back(static_cast<char>(top + (column < width / 2 ? 0 : 1)));
            bits.append((4 - width % 4) % 4, '\0');
            continue;
        }
        for (int column = 0; column < width;) {
            const int half = column < width / 2 ? 0 : 1;
            const int end = half ? width : width / 2;
            const int run = end - column < 255 ? end - column : 255;
            bits.push_back(static_cast<char>(run));
            bits.push_back(static_cast<char>(top + half));
            column += run;
        }
        bits.append(row ? std::string(2, '\0') : std::string("\0\1", 2)); // line end, bitmap end
    }
    std::string bytes = "BM";
    Put32(bytes, static_cast<uint32_t>(14 + 40 + 4 * paletteSize + bits.size()));
    Put32(bytes, 0);
    Put32(bytes, 14 + 40 + 4 * paletteSize);
    Put32(bytes, 40);
    Put32(bytes, width);
    Put32(bytes, height);
    Put16(bytes, 1);
    Put16(bytes, 8);
    Put32(bytes, runLength ? BI_RLE8 : BI_RGB);
    Put32(bytes, runLength ? static_cast<uint32_t>(bits.size()) : 0);
    Put32(bytes, 2835);
    Put32(bytes, 2835);
    Put32(bytes, paletteSize);
    Put32(bytes, 0);
    for (int i = 0; i < paletteSize; ++i) {
        const COLORREF colour = i < 4 ? Quadrants[i] : RGB(0, 0, 0);
        bytes.push_back(static_cast<char>(GetBValue(colour)));
        bytes.push_back(static_cast<char>(GetGValue(colour)));
        bytes.push_back(static_cast<char>(GetRValue(colour)));
        bytes.push_back(0);
    }
    return bytes + bits;
}

COLORREF ScreenPixel(POINT point)
{
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

// A client pixel as the screen shows it. Wine paints into a surface of its
// own and hands it to the X server when the menu's thread goes idle, so the
// screen lags behind the paint, and more so on a busy machine. The picture
// and the buttons go out together: once the Exit button shows its face colour
// on the screen, so does the picture behind it.
COLORREF ClientPixel(HWND window, int x, int y)
{
    const std::vector<ButtonInfo> buttons = VisibleButtons(window);
    const ButtonInfo* exitButton = FindButton(buttons, 1);
    if (exitButton) {
        POINT face = {exitButton->rect.left + 6, (exitButton->rect.top + exitButton->rect.bottom) / 2};
        ClientToScreen(window, &face);
        WaitUntil([&] { return ScreenPixel(face) == GetSysColor(COLOR_BTNFACE); });
    }
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return ScreenPixel(point);
}

struct MenuOnDisc {
    DiscFolder disc;
    MenuProcess process;
    HWND window = nullptr;

    // `planted` files of the build go on the disc beside the menu: pairs of
    // the build's name and the disc's.
    explicit MenuOnDisc(const std::string* picture,
                        const std::vector<std::pair<std::string, std::string>>& planted = {})
    {
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
        for (const auto& [buildName, discName] : planted)
            disc.AddFromBuild(buildName, discName);
        if (picture) WriteFileBytes(disc.File("autorun.bmp"), *picture);
        if (process.Start(disc.Path())) window = process.WaitForMainWindow(60000);
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

TEST(Splash, PictureFillsTheClientAreaUnderTheButtons)
{
    const std::string picture = QuadrantPicture();
    MenuOnDisc menu(&picture);
    ASSERT_NE(menu.window, nullptr);
    for (const Probe& probe : QuadrantProbes)
        EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), probe.expected)
            << "at " << probe.x << "," << probe.y;
    EXPECT_EQ(VisibleButtons(menu.window).size(), 2u);
}

TEST(Splash, MissingOrBrokenPictureLeavesTheMenuOnBlack)
{
    std::string truncated = QuadrantPicture();
    truncated.resize(30); // inside the info header
    std::string hugeHeader = QuadrantPicture();
    hugeHeader[16] = '\x7F'; // biSize of some 8 MB, far more than the file holds
    const struct {
        const char* name;
        const std::string* picture;
    } cases[] = {
        {"no file", nullptr}, {"cut in the header", &truncated}, {"header past the end", &hugeHeader}};

    for (const auto& c : cases) {
        MenuOnDisc menu(c.picture);
        ASSERT_NE(menu.window, nullptr) << c.name;
        for (const Probe& probe : QuadrantProbes)
            EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), RGB(0, 0, 0))
                << c.name << " at " << probe.x << "," << probe.y;
        EXPECT_EQ(VisibleButtons(menu.window).size(), 2u) << c.name;
        EXPECT_TRUE(menu.process.Running()) << c.name;
    }
}

// Windows takes a library that is not on its list of known libraries from the
// program's folder first. Wine takes its own copy instead, unless told
// otherwise: under Wine, this tells it, for the menu's file name alone, to take
// `library` from the program's folder first, and removes what it wrote again.
class PreferLibraryInProgramFolder {
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
    PreferLibraryInProgramFolder(const PreferLibraryInProgramFolder&) = delete;
    PreferLibraryInProgramFolder& operator=(const PreferLibraryInProgramFolder&) = delete;
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

// A library of Video for Windows' name beside a copy of the menu (a disc
// unpacked into a Downloads folder) is not loaded: the menu starts and draws
// as ever.
TEST(Splash, LibraryPlantedBesideTheMenuIsNotLoaded)
{
    PreferLibraryInProgramFolder preferProgramFolder("msvfw32");
    ASSERT_TRUE(preferProgramFolder.Ready()) << "a library override for autorun.exe is already set";
    const std::string picture = QuadrantPicture();
    MenuOnDisc menu(&picture, {{"empty_library.dll", "MSVFW32.DLL"}});
    ASSERT_NE(menu.window, nullptr) << menu.process.Describe();
    for (const Probe& probe : QuadrantProbes)
        EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), probe.expected)
            << "at " << probe.x << "," << probe.y;
    EXPECT_EQ(VisibleButtons(menu.window).size(), 2u);
}

// A picture larger than the window shows its top-left corner, the top rows
// and left columns of the picture, however its pixels are stored.
TEST(Splash, LargePictureShowsItsTopLeftCorner)
{
    for (const bool runLength : {false, true}) {
        const std::string what = runLength ? "run-length coded" : "uncompressed";
        const std::string picture = QuadrantPicture(1000, 800, runLength);
        MenuOnDisc menu(&picture);
        ASSERT_NE(menu.window, nullptr) << what << ": " << menu.process.Describe();
        for (const Probe& probe : QuadrantProbes)
            EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), Quadrants[0])
                << what << " at " << probe.x << "," << probe.y;
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
        MenuOnDisc menu(&normal);
        ASSERT_NE(menu.window, nullptr) << menu.process.Describe();
        normalPeak = PeakMemory(menu.process);
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
        MenuOnDisc menu(&c.picture);
        ASSERT_NE(menu.window, nullptr) << c.name << ": " << menu.process.Describe();
        const SIZE_T bound = normalPeak + (32u << 20) + c.picture.size();
        EXPECT_LE(PeakMemory(menu.process), bound) << c.name << ": a normal start holds " << normalPeak;
        if (c.drawn) {
            for (const Probe& probe : QuadrantProbes)
                EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), probe.expected)
                    << c.name << " at " << probe.x << "," << probe.y;
        }
        EXPECT_EQ(VisibleButtons(menu.window).size(), 2u) << c.name;
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
    const std::string suites = BitmapSuitesFolder();
    ASSERT_FALSE(suites.empty()) << "AUTORUN_BMP_TESTDATA does not name the bitmap test suites' folder";
    std::vector<std::string> files;
    CollectBitmaps(suites, &files);
    ASSERT_GT(files.size(), 100u) << "the bitmap test suites are missing at " << suites;

    for (const std::string& file : files) {
        const std::string picture = ReadFileBytes(file);
        MenuOnDisc menu(&picture);
        ASSERT_NE(menu.window, nullptr) << file << ": " << menu.process.Describe();
        RedrawWindow(menu.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        SendMessageTimeoutA(menu.window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
        ASSERT_TRUE(menu.process.Running()) << file << ": " << menu.process.Describe();
        const std::vector<ButtonInfo> buttons = VisibleButtons(menu.window);
        ASSERT_EQ(buttons.size(), 2u) << file;
        Click(FindButton(buttons, 1)->handle);
        DWORD exitCode = 1;
        ASSERT_TRUE(menu.process.WaitForExit(10000, &exitCode)) << file << ": " << menu.process.Describe();
        EXPECT_EQ(exitCode, 0u) << file;
    }
}

} // namespace
