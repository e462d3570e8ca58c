// The splash picture as the user sees it: "autorun.bmp" from the disc folder
// fills the client area, unscaled at its origin, under the buttons; without
// the file, or with any broken one, the same menu stands on black.
#include "menu_driver.h"

#include <gtest/gtest.h>

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

// A 480 by 360, 8-bit picture in four quadrants: red, green (top), blue,
// white (bottom), with a 16-entry palette.
const COLORREF Quadrants[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};

std::string QuadrantPicture()
{
    const int width = 480, height = 360, paletteSize = 16;
    std::string bytes = "BM";
    Put32(bytes, 14 + 40 + 4 * paletteSize + width * height);
    Put32(bytes, 0);
    Put32(bytes, 14 + 40 + 4 * paletteSize);
    Put32(bytes, 40);
    Put32(bytes, width);
    Put32(bytes, height);
    Put16(bytes, 1);
    Put16(bytes, 8);
    Put32(bytes, BI_RGB);
    Put32(bytes, 0);
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
    for (int row = height - 1; row >= 0; --row) // bottom-up
        for (int column = 0; column < width; ++column)
            bytes.push_back(static_cast<char>((row < height / 2 ? 0 : 2) + (column < width / 2 ? 0 : 1)));
    return bytes;
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

    explicit MenuOnDisc(const std::string* picture)
    {
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
        if (picture) WriteFileBytes(disc.File("autorun.bmp"), *picture);
        // A header that asks for some 2 GiB of pixels makes the x86_64 build
        // allocate and fill that much before its window shows: seconds, and
        // more on a busy machine.
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

// A picture whose header asks for nearly 2 GiB of pixels: the x86_64 build
// finds the room, reads the pixels the file holds and draws them; a 32-bit
// process cannot allocate that much in its 2 GiB of address space, so the
// shipping program refuses the picture and stays black.
TEST(Splash, PictureAskingForNearly2GiBDependsOnTheBuild)
{
    std::string picture = QuadrantPicture();
    const uint32_t hugeSizeImage = 0x7FFF0000;
    for (int i = 0; i < 4; ++i)
        picture[14 + 20 + i] = static_cast<char>(hugeSizeImage >> (8 * i)); // biSizeImage
    MenuOnDisc menu(&picture);
    ASSERT_NE(menu.window, nullptr);
    const bool drawn = !ProgramUnderTestIs32Bit();
    for (const Probe& probe : QuadrantProbes)
        EXPECT_EQ(ClientPixel(menu.window, probe.x, probe.y), drawn ? probe.expected : RGB(0, 0, 0))
            << (drawn ? "x86_64 build" : "i686 build") << " at " << probe.x << "," << probe.y;
    EXPECT_EQ(VisibleButtons(menu.window).size(), 2u);
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
        ASSERT_NE(menu.window, nullptr) << file;
        RedrawWindow(menu.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        SendMessageTimeoutA(menu.window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
        ASSERT_TRUE(menu.process.Running()) << file;
        const std::vector<ButtonInfo> buttons = VisibleButtons(menu.window);
        ASSERT_EQ(buttons.size(), 2u) << file;
        Click(FindButton(buttons, 1)->handle);
        DWORD exitCode = 1;
        ASSERT_TRUE(menu.process.WaitForExit(10000, &exitCode)) << file;
        EXPECT_EQ(exitCode, 0u) << file;
    }
}

} // namespace
