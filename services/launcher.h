// Program launcher. A program name without a folder or drive part is looked
// for in the current directory only. The argument list ends with a null entry;
// its first entry is the name the started program sees itself under.
#pragma once

// Starts the program and waits for it; returns its exit code, or -1 when it
// could not be started.
int LaunchAndWait(const char* program, const char* const* arguments);

// Starts the program and ends this process with exit code 0 once it has
// started; returns -1 only when it could not be started.
int LaunchAndExit(const char* program, const char* const* arguments);

// Starts the program with full rights, through the shell's consent prompt
// (wherever Windows has one), in `directory`, and waits for it; returns its
// exit code, or -1 when it could not be started or the user declined.
int LaunchWithFullRightsAndWait(const char* program, const char* const* arguments, const char* directory);
