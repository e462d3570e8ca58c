// The program a run of the suite drives and the build it comes from, with
// the stand-ins built beside it: the test program's own (x86_64) build unless
// AUTORUN_TEST_BUILD names another, the shipping i686 build's. Its texts are
// read from its file, as the menu itself loads them in this locale.
#pragma once

#include <windows.h>

#include <string>

std::string BuildFolder();
std::string BuildFile(const std::string& name);
std::string TestProgramFolder();
// Whether the program under test is a 32-bit one: it then reads the 32-bit
// registry view and sees the 32-bit system folder.
bool ProgramUnderTestIs32Bit();

// "" when the program under test carries the test build's seam that reads the
// environment variable `variable`; otherwise why a test that needs the seam
// cannot run. The shipping file carries none.
std::string SeamMissing(const char* variable);
// At the top of a test that needs a seam (GTEST_SKIP returns from the test's
// own function): without it the test is skipped, with the reason.
#define REQUIRE_SEAM(variable)                                                                               \
    if (const std::string missing = SeamMissing(variable); !missing.empty()) GTEST_SKIP() << missing

// The menu's file, loaded once as data: nothing of it runs.
HMODULE ProgramFile();
// A text of the menu's string catalogue as the menu itself loads it in this
// locale, read from its file; a failure when the variant lacks it.
std::string Text(int id);

// The stand-ins' names in the build.
const char* const LoadingCodec = "codec_loads.dll";
const char* const RefusingCodec = "codec_refuses.dll";
const char* const Recorder = "recorder.exe";
