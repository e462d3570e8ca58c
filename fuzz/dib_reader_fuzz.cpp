// Coverage-guided fuzzing of the bitmap reader (libFuzzer, with AddressSanitizer
// and UndefinedBehaviorSanitizer): each input is served as an open file, read
// through the handle form whole and as a small corner (which cuts and decodes
// most inputs), and every block that comes back must be sound. Beyond a
// sanitizer report, a leaked block, a file left open, an unsound block or a
// corner read that asks for more memory than the corner and the input are
// findings too.
#include "splash/dib_corner.h"
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

namespace {

void CheckAndFree(HGLOBAL block)
{
    if (!block) return;
    if (const char* fault = PackedDibFault(block)) {
        fprintf(stderr, "unsound block: %s\n", fault);
        abort();
    }
    GlobalFree(block);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    HFILE file = ShimOpenMemoryFile(data, size);
    CheckAndFree(LoadDibFile(file));
    _lclose(file);

    // A corner of 48 by 36 pixels: rows of at most 192 bytes.
    const size_t cornerLimit = 124 + 4 * 65535 + 192 * 36 + size;
    ShimReset();
    ShimSetAllocationLimit(16 << 20);
    file = ShimOpenMemoryFile(data, size);
    CheckAndFree(LoadDibCorner(file, 48, 36));
    _lclose(file);
    if (ShimLargestRequest() > cornerLimit) {
        fprintf(stderr, "a corner read asked for %zu bytes\n", ShimLargestRequest());
        abort();
    }

    if (ShimLiveBlockCount() != 0 || ShimOpenFileCount() != 0) {
        fprintf(stderr, "leaked a block or a file\n");
        abort();
    }
    return 0;
}
