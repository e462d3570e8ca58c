// Path buffer rules: the install folder's trailing backslash, the game's
// executable path and the codec's destination, with their room checks.
#include "services/path_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(EnsureTrailingBackslash, InstallFolderValues)
{
    struct Case {
        const char* name;
        std::string value;
        int expectedResult;
        std::string expected; // the buffer's string afterwards, all of it when it has no terminator
    } cases[] = {
        {"no trailing backslash gets one", "C:\\Games\\Zantoria", 1, "C:\\Games\\Zantoria\\"},
        {"trailing backslash left alone", "C:\\Games\\Zantoria\\", 1, "C:\\Games\\Zantoria\\"},
        {"two trailing backslashes both kept", "C:\\Games\\\\", 1, "C:\\Games\\\\"},
        {"empty value becomes a single backslash", "", 1, "\\"},
        {"forward slash is not a backslash", "C:/Games/", 1, "C:/Games/\\"},
        {"254 characters: room for backslash and terminator", std::string(254, 'a'), 1,
         std::string(254, 'a') + "\\"},
        {"255 characters ending in a backslash fit as they are", std::string(254, 'a') + "\\", 1,
         std::string(254, 'a') + "\\"},
        {"255 characters without a backslash: no room", std::string(255, 'a'), 0, std::string(255, 'a')},
        {"no terminator inside the buffer", std::string(256, 'a'), 0, std::string(256, 'a')},
        {"no terminator, a backslash last", std::string(255, 'a') + "\\", 0, std::string(255, 'a') + "\\"},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(256 + 16, '\x5A'); // exactly its size: AddressSanitizer sees a read past it
        std::fill(std::copy(c.value.begin(), c.value.end(), buffer.begin()), buffer.begin() + 256, '\0');
        EXPECT_EQ(EnsureTrailingBackslash(buffer.data(), 256), c.expectedResult) << c.name;
        EXPECT_EQ(std::string(buffer.begin(), std::find(buffer.begin(), buffer.begin() + 256, '\0')),
                  c.expected)
            << c.name;
        EXPECT_EQ(std::string(buffer.begin() + 256, buffer.end()), std::string(16, '\x5A'))
            << c.name << ": wrote past the buffer";
    }
}

TEST(BuildFilePath, GameAndCodecPaths)
{
    struct Case {
        const char* name;
        size_t size;
        std::string folder;
        const char* file;
        int expectedResult;
        std::string expected;
    } cases[] = {
        {"game in install folder", 256, "C:\\Games\\Zantoria\\", "Zantoria.exe", 1,
         "C:\\Games\\Zantoria\\Zantoria.exe"},
        {"single backslash folder: root of the current drive", 256, "\\", "Zantoria.exe", 1,
         "\\Zantoria.exe"},
        {"243-character folder just fits", 256, std::string(242, 'd') + "\\", "Zantoria.exe", 1,
         std::string(242, 'd') + "\\Zantoria.exe"},
        {"244-character folder does not fit", 256, std::string(243, 'd') + "\\", "Zantoria.exe", 0, ""},
        {"255-character folder does not fit", 256, std::string(254, 'd') + "\\", "Zantoria.exe", 0, ""},
        {"system folder gets one backslash", 260, "C:\\WINDOWS\\system32", "IR50_32.DLL", 1,
         "C:\\WINDOWS\\system32\\IR50_32.DLL"},
        {"drive root gets none added", 260, "C:\\", "IR50_32.DLL", 1, "C:\\IR50_32.DLL"},
        {"247-character system folder just fits", 260, std::string(247, 's'), "IR50_32.DLL", 1,
         std::string(247, 's') + "\\IR50_32.DLL"},
        {"248-character system folder: no room", 260, std::string(248, 's'), "IR50_32.DLL", 0, ""},
        {"248 characters ending in a backslash fit", 260, std::string(247, 's') + "\\", "IR50_32.DLL", 1,
         std::string(247, 's') + "\\IR50_32.DLL"},
        {"259-character system folder: no room", 260, std::string(259, 's'), "IR50_32.DLL", 0, ""},
        {"folder longer than the buffer", 260, std::string(400, 's'), "IR50_32.DLL", 0, ""},
    };
    for (const Case& c : cases) {
        std::string out(c.size + 16, '\x5A');
        out[0] = 'x';
        EXPECT_EQ(BuildFilePath(&out[0], c.size, c.folder.c_str(), c.file), c.expectedResult) << c.name;
        EXPECT_EQ(std::string(out.c_str()), c.expected) << c.name;
        EXPECT_EQ(out.substr(c.size), std::string(16, '\x5A')) << c.name << ": wrote past the buffer";
    }
}

// The folder of the program's own file, where the codec job takes its files.
TEST(CutToFolder, ProgramPaths)
{
    const struct {
        const char* path;
        int expectedResult;
        const char* expected;
    } cases[] = {
        {"C:\\Disc copy\\autorun.exe", 1, "C:\\Disc copy"},
        {"D:\\autorun.exe", 1, "D:\\"}, // the drive's root, not its current folder
        {"\\\\server\\share\\autorun.exe", 1, "\\\\server\\share"},
        {"\\autorun.exe", 1, "\\"},
        {"C:\\folder\\", 1, "C:\\folder"},
        {"autorun.exe", 0, "autorun.exe"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        std::string path = c.path;
        EXPECT_EQ(CutToFolder(&path[0]), c.expectedResult) << c.path;
        EXPECT_STREQ(path.c_str(), c.expected) << c.path;
    }
}

} // namespace
