// This process's environment, which the menu and whatever it starts inherit:
// a variable read, or set for as long as an object lives.
#pragma once

#include "harness/no_copy.h"

#include <string>

// A variable of this process's environment, or "" when it is not set.
std::string EnvironmentVariable(const char* name);

// Sets (or, given null, removes) an environment variable of this process;
// restores it when it goes.
class ScopedVariable : NoCopy {
  public:
    ScopedVariable(const char* name, const char* value);
    ~ScopedVariable();

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// Under Wine, the load order of one library (as in "ir50_32=n") for the
// processes the test starts, which inherit the variable; Windows ignores it.
class LibraryOverride : public ScopedVariable {
  public:
    explicit LibraryOverride(const std::string& order);
};
