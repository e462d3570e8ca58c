// Program launcher. A program name without a folder or drive part is looked
// for in the current directory only. The argument list ends with a null entry;
// its first entry is the name the started program sees itself under.
#pragma once

// Starts the program and waits for it; returns its exit code, or -1 when it
// could not be started. Should Windows start it only with full rights, the
// program `elevatedInstead` (a full path; null: the program itself) is started
// with them in its stead, in its own folder, with the same arguments: a
// caller that would not have the shell run its own program with full rights
// names one of Windows' here.
int LaunchAndWait(const char* program, const char* const* arguments, const char* elevatedInstead = nullptr);

// Starts the program and ends this process with exit code 0 once it has
// started; returns -1 only when it could not be started.
int LaunchAndExit(const char* program, const char* const* arguments);

// Starts the program with full rights, through the shell's consent prompt
// (wherever Windows has one), in `directory`, and waits for it; returns its
// exit code, or -1 when it could not be started or the user declined.
int LaunchWithFullRightsAndWait(const char* program, const char* const* arguments, const char* directory);
