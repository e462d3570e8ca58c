// Coverage-guided fuzzing of the PE header reader and the disc check's rules
// for libraries and programs (libFuzzer, with AddressSanitizer and
// UndefinedBehaviorSanitizer): any input gives an answer, never a read outside
// its bytes. A library without exports of its own must not be taken for one
// that exports the menu's ordinal.
#include "tools/disc_content_rules.h"
#include "tools/pe_reader.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const PeImage image = ReadPeImage(data, size);
    for (uint32_t ordinal : {0u, 1u, 5u, 0xFFFFFFFFu}) {
        std::string forwarder;
        const ExportState state = FindExportOrdinal(image, data, size, ordinal, &forwarder);
        const bool found = state == ExportState::Exported || state == ExportState::Forwarded;
        if (found && (image.kind != ImageKind::Pe || image.exportRva == 0)) {
            fprintf(stderr, "an export found without an export directory\n");
            abort();
        }
    }
    for (const MenuFile& file : MenuFiles) {
        if (file.role == MenuFileRole::Library)
            CheckLibraryFile(file, file.name, data, size, {"DSETUP32.dll", "HELPER.dll"});
        if (file.role == MenuFileRole::Program || file.role == MenuFileRole::Registrar)
            CheckProgramFile(file, file.name, data, size);
    }
    return 0;
}
