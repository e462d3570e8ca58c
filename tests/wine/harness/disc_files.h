// Files and folders a test makes: fresh folders under the temporary
// directory, removed with their contents when they go; a disc folder holding
// the menu; copies of the build's files.
#pragma once

#include "harness/environment.h"
#include "harness/no_copy.h"
#include "tests/kit/file_bytes.h"

#include <string>

void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Both files exist and hold the same bytes.
bool SameBytes(const std::string& path, const std::string& otherPath);
bool CopyFromBuild(const std::string& buildName, const std::string& destination);

class TempFolder : NoCopy {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const
    {
        return path_;
    }
    std::string File(const std::string& name) const
    {
        return path_ + "\\" + name;
    }

  private:
    std::string path_;
};

// A disc folder holding a copy of autorun.exe.
class DiscFolder : public TempFolder {
  public:
    DiscFolder();
    // Copies a file from the build folder (a stand-in) under the given name.
    void AddFromBuild(const std::string& buildName, const std::string& discName) const;
};

// A folder put first on the search path (PATH) while it lives.
class SearchPathFolder : public TempFolder {
    ScopedVariable path_{"PATH", (Path() + ";" + EnvironmentVariable("PATH")).c_str()};
};
