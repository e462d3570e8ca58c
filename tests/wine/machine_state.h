// What the end-to-end tests need the machine to hold before they start: no
// codec in the system folder and no install record. On a tester's machine
// either may be there for real; a test that needs it absent is then skipped
// with the reason, and the file or record is left exactly as it was.
#pragma once

#include <gtest/gtest.h>

#include <string>

// The reason a test needing the codec absent cannot run, or "": the codec's
// file in the system folder the program under test sees.
std::string CodecFileFound();
// The reason a test needing no install record cannot run, or "": the
// publisher's key in the registry view of the program under test.
std::string InstallRecordFound();

// At the top of a test (GTEST_SKIP returns from the test's own function).
#define SKIP_IF_CODEC_FILE()                                                                                 \
    if (const std::string found = CodecFileFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_IF_INSTALL_RECORD()                                                                             \
    if (const std::string found = InstallRecordFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_UNLESS_CLEAN_MACHINE()                                                                          \
    SKIP_IF_CODEC_FILE();                                                                                    \
    SKIP_IF_INSTALL_RECORD()
