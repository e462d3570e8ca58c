// What the tests need the machine to hold before they start, and what they
// change there: no codec in the system folder and no install record. On a
// tester's machine either may be there for real; a test that needs it absent
// is then skipped with the reason, and the file or record is left exactly as
// it was. What a test creates there goes when its object goes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "harness/no_copy.h"
#include "machine_changes.h"

#include <string>

// The install record in HKLM, in the registry view of the program under
// test: sets "Path" under the given key path, removes everything under
// "SOFTWARE\KORU Media" when the object goes, unless that key was already
// there when it was made: a record this test did not create is never
// touched (the test is skipped, see SKIP_IF_INSTALL_RECORD).
class InstallRecords : NoCopy {
  public:
    InstallRecords();
    ~InstallRecords();
    void SetPath(const std::string& keyPath, const std::string& value) const;
    // A value of any type and bytes; without bytes, the key alone.
    void SetRawPath(const std::string& keyPath, const std::string* bytes, DWORD type = REG_SZ) const;
    // Whether "SOFTWARE\KORU Media" exists in the view of the program under test.
    static bool Present();

  private:
    bool foreign_;
};

// The install record's first key.
const char* const PlainKey = kInstallRecord;

// The codec's place in the system folder, "IR50_32.DLL". A test that lets the
// menu copy there, or puts a file there itself, holds one of these, declared
// before the menu's process so that it goes after the menu has ended: it
// removes what was created there during the test, so that no other test
// finds a codec there. A file that was there before is never touched: the
// test is skipped (see SKIP_IF_CODEC_FILE).
class SystemCodecFile : NoCopy {
  public:
    SystemCodecFile();
    ~SystemCodecFile();
    const std::string& Path() const
    {
        return path_;
    }

  private:
    std::string path_;
    bool foreign_ = false;
};

// Why a test that needs the codec file, or the install record, absent cannot
// run here, or "".
std::string CodecFileFound();
std::string InstallRecordFound();

// At the top of a test (GTEST_SKIP returns from the test's own function).
#define SKIP_IF_CODEC_FILE()                                                                                 \
    if (const std::string found = CodecFileFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_IF_INSTALL_RECORD()                                                                             \
    if (const std::string found = InstallRecordFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_UNLESS_CLEAN_MACHINE()                                                                          \
    SKIP_IF_CODEC_FILE();                                                                                    \
    SKIP_IF_INSTALL_RECORD()
