// Coverage-guided fuzzing of the bitmap reader (libFuzzer, with AddressSanitizer
// and UndefinedBehaviorSanitizer): each input is served as an open file, read
// through the handle form, and every block that comes back must be sound.
// Beyond a sanitizer report, a leaked block, a file left open or an unsound
// block are findings too.
#include "splash/dib_reader.h"

#include "packed_dib_check.h"
#include "win32_shim/win32_shim.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Huge stated sizes would otherwise spend the run allocating and
    // zero-filling; a 32-bit process gets far less than the stand-in's default.
    ShimSetAllocationLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const HFILE file = ShimOpenMemoryFile(data, size);
    HGLOBAL block = LoadDibFile(file);
    _lclose(file);
    if (block) {
        if (const char* fault = PackedDibFault(block)) {
            fprintf(stderr, "unsound block: %s\n", fault);
            abort();
        }
        GlobalFree(block);
    }
    if (ShimLiveBlockCount() != 0 || ShimOpenFileCount() != 0) {
        fprintf(stderr, "leaked a block or a file\n");
        abort();
    }
    return 0;
}
