// The install record and the system folder's codec file: made by a test,
// removed again, and never touched where they were there before.
#include "harness/machine_state.h"

#include "harness/disc_files.h"
#include "harness/program_under_test.h"
#include "harness/windows_found.h"

#include <string.h>

namespace {

// The install records' root below HKLM\SOFTWARE, where it is opened in the
// view of the program under test.
const char* const InstallRecordRoot = kInstallRoot + strlen("SOFTWARE\\");

REGSAM View()
{
    return ProgramUnderTestIs32Bit() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// In the system folder as the program under test sees it: a 32-bit
// program's "system32" is the 64-bit system's syswow64 (a 32-bit test program
// sees it so already).
std::string CodecPath()
{
    char path[MAX_PATH] = "";
    if (ProgramUnderTestIs32Bit() && sizeof(void*) == 8)
        GetSystemWow64DirectoryA(path, sizeof path);
    else
        GetSystemDirectoryA(path, sizeof path);
    return path + std::string("\\") + kCodecFile;
}

} // namespace

InstallRecords::InstallRecords() : foreign_(Present()) {}

InstallRecords::~InstallRecords()
{
    HKEY software;
    if (foreign_ ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | View(), &software) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(software, InstallRecordRoot);
    RegCloseKey(software);
}

bool InstallRecords::Present()
{
    HKEY key;
    const std::string path = kInstallRoot;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | View(), &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void InstallRecords::SetRawPath(const std::string& keyPath, const std::string* bytes, DWORD type) const
{
    ASSERT_FALSE(foreign_) << "an install record was already there: the test must be skipped";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(),
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << keyPath;
    if (bytes) {
        EXPECT_EQ(RegSetValueExA(key, kInstallValue, 0, type, reinterpret_cast<const BYTE*>(bytes->data()),
                                 static_cast<DWORD>(bytes->size())),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

void InstallRecords::SetPath(const std::string& keyPath, const std::string& value) const
{
    const std::string terminated(value.c_str(), value.size() + 1);
    SetRawPath(keyPath, &terminated);
}

SystemCodecFile::SystemCodecFile() : path_(CodecPath())
{
    foreign_ = FileExists(path_);
}

SystemCodecFile::~SystemCodecFile()
{
    if (foreign_) return;
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    WaitUntil([&] { return DeleteFileA(path_.c_str()) || !FileExists(path_); }, 5000);
}

std::string CodecFileFound()
{
    const std::string path = CodecPath();
    if (!FileExists(path)) return "";
    return path +
           " was already on this machine: this test needs the codec absent, and leaves the file as it is";
}

std::string InstallRecordFound()
{
    if (!InstallRecords::Present()) return "";
    return std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\") + InstallRecordRoot +
           (ProgramUnderTestIs32Bit() ? " (32-bit view)" : "") +
           " was already on this machine: this test needs no install record, and leaves it as it is";
}
