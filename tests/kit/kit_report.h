// Plain rules of the Windows test kit's checker, apart from the calls that
// look at the machine: counting a run's results from its JUnit XML file,
// writing what the checker reads into state lines, comparing the machine's
// state after the runs with the state before, the rights verdict and the
// desktop verdict.
#pragma once

#include <string>
#include <vector>

struct RunCounts {
    int passed = 0;
    int skipped = 0; // skipped with a reason, or not run
    int failed = 0;
    std::vector<std::string> failedTests; // "Suite.Name" of each failed case, in the file's order
};

// Counts the test cases of a GoogleTest XML report: a case with a <failure>
// failed, one marked skipped (or not run) was skipped, every other passed.
RunCounts CountResults(const std::string& xml);

// One run as the summary page shows it: its counts, or why it was not run.
struct RunOutcome {
    std::string run;
    std::string notRun; // empty: the run was made
    RunCounts counts;
};
// The verdict and each run's counts as a short Markdown page, with the names
// of the failed tests: what a job shows on its run's page.
std::string SummaryPage(const std::string& verdict, const std::vector<RunOutcome>& runs);

// The machine's state is a list of lines "KIND NAME=VALUE" (see kit_check.cpp):
//   codec PATH=absent | N bytes, hash H
//   record KEY (VIEW)=absent | key           the install record and each subkey
//   record KEY [NAME] (VIEW)=TYPE DATA       each of its values
//   tempfolder PATH=present                  the tests' temporary folders
//   process ID=PATH                          a program the tests may start, by id
// Names and values are written with StateText, so that neither holds a line
// end and a name holds no "=".
std::string StateText(const std::string& text);
// A registry value's type and data as a state value: strings as text, numbers
// in hex, anything else as its bytes in hex.
std::string RegistryValueText(unsigned long type, const std::string& data);

// What the runs left behind or changed, one line each: a line of `after` that
// `before` lacks ("(new)") or holds with another value ("(was ...)"), and a
// line of `before` that `after` lacks ("(gone)"). What was there before and
// is gone is no leftover for temporary folders and processes. A process is
// compared by its id and counts only when its program lies in one of
// `ourPlaces` (plain path beginnings such as "C:\kit\", compared without
// regard to case) or its location is unknown: a program elsewhere that shares a name
// with one the tests start is not the tests'.
std::vector<std::string> Leftovers(const std::string& before, const std::string& after,
                                   const std::vector<std::string>& ourPlaces);

// What the checker reads from its own token.
struct TokenRights {
    bool elevationKnown = false; // the token answers TokenElevation (Vista and later)
    bool elevated = false;       // ... and says elevated
    bool limited = false;        // ... and is the filtered half of a split token
    bool administrator = false;  // an enabled member of Administrators (CheckTokenMembership)
};
// Whether the tests may change the machine: an elevated token may; the
// filtered token of an administrator who has not consented may not; where
// there is no elevation (before Vista, or with it switched off) membership
// of Administrators decides.
bool MayChangeTheMachine(const TokenRights& rights);

// What the checker reads of the desktop it runs on.
struct DesktopSeen {
    std::string station;         // its window station's name ("WinSta0" for a user's logon session)
    bool stationVisible = false; // the station's WSF_VISIBLE flag: it has a screen
    bool inputDesktop = false;   // the desktop that takes the user's input can be opened
};
// Why the tests cannot drive windows here (they show and click real windows),
// or an empty string where they can: a service's or a job's session has a
// window station other than WinSta0, or none visible; a locked or
// disconnected session has no input desktop that it may open.
std::string WhyNoInteractiveDesktop(const DesktopSeen& seen);
