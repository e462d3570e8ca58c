// The launcher's string rules: which name the platform is asked to start, and
// the command line the started program receives. Both results are new strings
// from malloc, released with free; both are null when there is no memory.
#pragma once

// The program name itself when it names a folder or a drive (it holds a
// backslash, a forward slash or a colon); otherwise ".\" and the name, so that
// the program is looked for in the current directory only.
char* ResolveProgramName(const char* program);

// The arguments of a list closed by a null entry, in order, separated by
// single spaces, without quoting or escaping. The buffer is 2 bytes plus the
// length of each argument plus one.
char* JoinCommandLine(const char* const* arguments);

// One argument as a program reads it back from a command line with the usual
// rules (CommandLineToArgvW, the C runtime): the argument itself when it
// holds no blank or quote and is not empty; otherwise in quotes, a quote
// inside as \", and the backslashes before a quote, or before the closing
// one, doubled. For a path with spaces among the arguments JoinCommandLine
// takes.
char* QuotedArgument(const char* argument);

// The one argument with which the menu starts its own file to install the
// codec with full rights. It carries no data: the job takes the disc's files
// from beside its own file, by their full paths, whatever folder it was
// started in.
extern const char* const CodecJobArgument;

// Whether a command line, as WinMain receives it (the program's name already
// taken off), is the codec job argument and nothing else; blanks around it
// are allowed. Any other command line is ignored by the menu.
int IsCodecJobCommandLine(const char* commandLine);

// The command line as WinMain receives it: the process's whole command line
// (GetCommandLineA) without the program's own name, quoted or not, and the
// blanks after that name.
const char* SkipProgramName(const char* commandLine);
