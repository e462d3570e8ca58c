#include "launcher.h"

int LaunchAndWait(const char*, const char* const*)
{
    return -1;
}

int LaunchAndExit(const char*, const char* const*)
{
    return -1;
}
