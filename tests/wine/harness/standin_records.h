// What the stand-ins and the tests' libraries recorded: each appends one line
// to the log the test names in STANDIN_LOG, for the length of the test.
#pragma once

#include "harness/disc_files.h"
#include "harness/environment.h"

#include <string>
#include <utility>
#include <vector>

// One start of the recorder stand-in: the file name it ran as, the command
// line it was given, its current directory and the full path of its file.
struct StartRecord {
    std::string program;
    std::string commandLine;
    std::string directory;
    std::string path;
};

// What the menu handed the shell, as the rights hook recorded it.
struct ShellCall {
    std::string verb;
    std::string file;
    std::string parameters;
    std::string directory;
};

// The log every stand-in appends one line to. Also keeps the stand-ins quiet
// whatever the calling environment says.
class StandInLog {
  public:
    StandInLog();
    std::vector<std::string> Lines() const;
    // The lines that begin with `prefix`, split at "|" after it.
    std::vector<std::vector<std::string>> Fields(const std::string& prefix) const;
    // The starts of the recorder, in order. Its command line may hold a "|".
    std::vector<StartRecord> Starts() const;
    // The calls of ShellExecuteExA in a menu that carries the rights hook.
    std::vector<ShellCall> ShellCalls() const;
    // The calls of the DirectX stand-in, each as "owner=...|root=...|flags=...".
    std::vector<std::string> DirectXCalls() const;
    // The registrations of the codec stand-in: the codec's full path and the
    // full path of the program that registered it.
    std::vector<std::pair<std::string, std::string>> Registrations() const;

  private:
    TempFolder folder_;
    std::string path_;
    ScopedVariable log_;
    ScopedVariable quiet_{"STANDIN_SHOW", nullptr};
};
