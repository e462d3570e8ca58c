// Temporary folders, the disc folder, and files copied from the build.
#include "harness/disc_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "harness/program_under_test.h"

namespace {

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameBytes(const std::string& path, const std::string& otherPath)
{
    return FileExists(path) && FileExists(otherPath) && ReadFileBytes(path) == ReadFileBytes(otherPath);
}

bool CopyFromBuild(const std::string& buildName, const std::string& destination)
{
    return CopyFileA(BuildFile(buildName).c_str(), destination.c_str(), FALSE) != FALSE;
}

TempFolder::TempFolder()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned serial;
    for (;;) {
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%sautorun-test-%lu-%u", base, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            break;
        }
    }
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

DiscFolder::DiscFolder()
{
    AddFromBuild("autorun.exe", "autorun.exe");
}

void DiscFolder::AddFromBuild(const std::string& buildName, const std::string& discName) const
{
    const std::string source = BuildFolder() + "\\" + buildName;
    EXPECT_TRUE(CopyFileA(source.c_str(), File(discName).c_str(), FALSE)) << "copy " << source;
}
