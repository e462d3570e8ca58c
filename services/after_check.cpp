// The moment after a file's check, as the shipping program has it: nothing
// happens there.
#include "after_check.h"

void AfterCheck(const char*) {}
