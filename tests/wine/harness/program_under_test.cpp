// The program under test, its build folder, and its file read as data.
#include "harness/program_under_test.h"

#include "tests/kit/file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "harness/environment.h"

std::string TestProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string BuildFolder()
{
    std::string path = EnvironmentVariable("AUTORUN_TEST_BUILD");
    if (path.empty()) return TestProgramFolder();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string BuildFile(const std::string& name)
{
    return BuildFolder() + "\\" + name;
}

// Read from the file's own PE header: the machine field of an i386 program.
bool ProgramUnderTestIs32Bit()
{
    static const bool is32Bit = [] {
        const std::string program = ReadFileBytes(BuildFolder() + "\\autorun.exe");
        if (program.size() < 0x40) return false;
        const uint32_t peHeader = *reinterpret_cast<const uint32_t*>(program.data() + 0x3C);
        if (peHeader > program.size() - 6) return false;
        return *reinterpret_cast<const uint16_t*>(program.data() + peHeader + 4) == IMAGE_FILE_MACHINE_I386;
    }();
    return is32Bit;
}

HMODULE ProgramFile()
{
    static HMODULE program =
        LoadLibraryExA(BuildFile("autorun.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return program;
}

std::string Text(int id)
{
    char text[512] = "";
    const int length = LoadStringA(ProgramFile(), id, text, sizeof text);
    if (length <= 0) ADD_FAILURE() << "the menu's file holds no text " << id << " in this language";
    return std::string(text, length > 0 ? length : 0);
}

// A seam reads its variable by name: the program's file holds the name
// exactly when it carries the seam.
std::string SeamMissing(const char* variable)
{
    if (ReadFileBytes(BuildFile("autorun.exe")).find(variable) != std::string::npos) return "";
    return BuildFile("autorun.exe") + " carries no seam reading " + variable +
           " (the shipping file carries none): what the test needs cannot be made to happen";
}
