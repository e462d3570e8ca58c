// Starts that need full rights, which Wine grants every program: the menu
// meeting Windows as a standard user does (the rights hook), a start refused
// for want of full rights (the test build's process-start seam), and what the
// menu then asks of the shell.
#pragma once

#include <gtest/gtest.h>

#include "harness/menu_process.h"
#include "harness/program_under_test.h"
#include "harness/standin_records.h"

#include <string>

// The test build's process-start seam refuses the next start of the program
// named in this variable as Windows refuses a program that needs full rights.
const char* const ProcessStartSeam = "AUTORUN_SEAM_ELEVATION_REQUIRED";

// At the top of a test that has a start refused: without the seam nothing
// would refuse it, and the test is skipped with the reason.
#define REQUIRE_PROCESS_START_SEAM() REQUIRE_SEAM(ProcessStartSeam)

// Loads the rights hook into a running menu: from then on it is refused the
// system folder, as a standard user is, and its calls of the shell are
// recorded in the stand-in log.
bool ActAsStandardUser(const MenuProcess& menu);

// A program started through the shell sees a command line that the shell
// built: the program's path in quotes, then the parameters. (A plain start by
// the menu passes the unquoted argument list.)
void ExpectStartedThroughTheShell(const StartRecord& start, const std::string& parameters);

// The menu asked the shell `count` times (once, unless told) to start
// `file` with full rights, with these parameters, in `directory`: on Windows
// an elevated program given no directory starts in the system folder, and
// any verb but "runas" starts it without full rights, which Wine would not
// show.
void ExpectStartsWithFullRights(const StandInLog& log, const std::string& file, const std::string& parameters,
                                const std::string& directory, size_t count = 1);
