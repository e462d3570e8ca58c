// Name resolution and command-line joining for the program launcher.
#include "command_line.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

char* ResolveProgramName(const char* program)
{
    const size_t length = strlen(program);
    const bool namesPlace = strpbrk(program, "\\/:") != nullptr;
    const size_t prefix = namesPlace ? 0 : 2;
    char* resolved = static_cast<char*>(malloc(length + prefix + 1));
    if (!resolved) return nullptr;
    memcpy(resolved, ".\\", prefix);
    memcpy(resolved + prefix, program, length + 1);
    return resolved;
}

char* JoinCommandLine(const char* const* arguments)
{
    size_t size = 2;
    for (const char* const* argument = arguments; *argument; ++argument) {
        const size_t length = strlen(*argument);
        if (length >= SIZE_MAX - size) return nullptr; // cannot be allocated anyway
        size += length + 1;
    }
    char* line = static_cast<char*>(malloc(size));
    if (!line) return nullptr;
    char* end = line;
    for (const char* const* argument = arguments; *argument; ++argument) {
        if (argument != arguments) *end++ = ' ';
        const size_t length = strlen(*argument);
        memcpy(end, *argument, length);
        end += length;
    }
    *end = '\0';
    return line;
}

char* QuotedArgument(const char* argument)
{
    const size_t length = strlen(argument);
    const bool plain = length > 0 && !strpbrk(argument, " \t\"");
    // Quoted, each character takes at most two, and the quotes and the
    // terminator three more.
    if (length > (SIZE_MAX - 3) / 2) return nullptr;
    char* quoted = static_cast<char*>(malloc(plain ? length + 1 : 2 * length + 3));
    if (!quoted) return nullptr;
    if (plain) {
        memcpy(quoted, argument, length + 1);
        return quoted;
    }
    char* end = quoted;
    *end++ = '"';
    size_t backslashes = 0;
    for (const char* at = argument;; ++at) {
        if (*at == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each stands doubled.
        const bool beforeQuote = *at == '"' || *at == '\0';
        for (size_t i = 0; i < (beforeQuote ? 2 * backslashes : backslashes); ++i)
            *end++ = '\\';
        backslashes = 0;
        if (*at == '\0') break;
        if (*at == '"') *end++ = '\\';
        *end++ = *at;
    }
    *end++ = '"';
    *end = '\0';
    return quoted;
}

const char* const CodecJobArgument = "/InstallCodec";

int IsCodecJobCommandLine(const char* commandLine)
{
    if (!commandLine) return 0;
    while (*commandLine == ' ' || *commandLine == '\t')
        ++commandLine;
    const size_t length = strlen(CodecJobArgument);
    if (strncmp(commandLine, CodecJobArgument, length) != 0) return 0;
    for (const char* rest = commandLine + length; *rest; ++rest)
        if (*rest != ' ' && *rest != '\t') return 0;
    return 1;
}

const char* SkipProgramName(const char* commandLine)
{
    const char* at = commandLine;
    if (*at == '"') {
        // Up to the closing quote; a name with no closing quote takes the rest.
        while (*++at && *at != '"') {
        }
        if (*at == '"') ++at;
    } else {
        while (static_cast<unsigned char>(*at) > ' ')
            ++at;
    }
    while (*at && static_cast<unsigned char>(*at) <= ' ')
        ++at;
    return at;
}
