// Plain rules of the Windows test kit's checker, apart from the calls that
// look at the machine: counting a run's results from its JUnit XML file, and
// comparing the machine's state after the runs with the state before.
#pragma once

#include <string>
#include <vector>

struct RunCounts {
    int passed = 0;
    int skipped = 0; // skipped with a reason, or not run
    int failed = 0;
};

// Counts the test cases of a GoogleTest XML report: a case with a <failure>
// failed, one marked skipped (or not run) was skipped, every other passed.
RunCounts CountResults(const std::string& xml);

// The machine's state is a list of lines "KIND NAME=VALUE" (see kit_check.cpp).
// What the runs left behind or changed, one line each: a line of `after`
// whose value differs from `before` or that `before` lacks. For "process"
// lines the value is a count, and fewer than before is no leftover; what was
// there before and is gone ("tempfolder" lines) is no leftover either.
std::vector<std::string> Leftovers(const std::string& before, const std::string& after);
