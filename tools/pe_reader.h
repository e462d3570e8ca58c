// What a Windows program or library file is, read from its headers alone:
// MS-DOS, 16-bit Windows or a PE image, and for a PE image its machine, its
// optional header's format (PE32 or PE32+), whether it is a library, which
// ordinals it exports and which libraries it needs. Plain logic over the file's bytes for the build
// machine: every offset, count and address in the file is checked against the
// bytes that are there, so a truncated or hostile file gives an answer, never
// a read outside them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum class ImageKind {
    NotAnImage, // no "MZ" header, or one cut short
    Dos,        // an MS-DOS program: "MZ" without a newer header
    Windows16,  // a 16-bit Windows program or library ("NE")
    Pe,         // a PE image; the rest of PeImage describes it
    BrokenPe,   // "PE" signature, but headers cut short or out of bounds
};

const uint16_t MachineI386 = 0x014C;
const uint16_t MachineX86_64 = 0x8664;
const uint16_t Pe32Magic = 0x010B;
const uint16_t Pe32PlusMagic = 0x020B;

struct PeImage {
    ImageKind kind = ImageKind::NotAnImage;
    uint16_t machine = 0;
    uint16_t magic = 0; // Pe32Magic or Pe32PlusMagic; anything else is BrokenPe
    bool library = false;
    // Where the headers sit, for the export look-up.
    uint32_t sizeOfHeaders = 0; // the headers load at address 0
    uint32_t sectionTable = 0;
    uint16_t sectionCount = 0;
    uint32_t exportRva = 0, exportSize = 0; // the export directory, 0 when there is none
    uint32_t importRva = 0;                 // the import directory, 0 when there is none
};

PeImage ReadPeImage(const uint8_t* data, size_t size);

enum class ExportState {
    Exported,
    Forwarded, // the address names another library's export: "LIBRARY.Function" or "LIBRARY.#5"
    NotExported,
    Unreadable, // the export directory, its address table or a forwarder lies outside the file
};

// Whether the image's export table has an address for the ordinal, as the
// loader looks it up for GetProcAddress by ordinal. An address inside the
// export directory is a forwarder, a string naming where the loader goes on
// looking; it is stored in `forwarder` when that is given.
ExportState FindExportOrdinal(const PeImage& image, const uint8_t* data, size_t size, uint32_t ordinal,
                              std::string* forwarder = nullptr);

// The libraries the image imports from, as its import directory names them
// (the loader adds ".dll" to a name without a dot). False when the directory
// or a name lies outside the file, or the directory runs on longer than the
// file: the loader would not load the image.
bool ListImportedLibraries(const PeImage& image, const uint8_t* data, size_t size,
                           std::vector<std::string>* libraries);

// Every forwarder in the export table ("LIBRARY.Function", "LIBRARY.#5"),
// whatever its ordinal. False when the address table, or a forwarder, lies
// outside the file.
bool ListForwarders(const PeImage& image, const uint8_t* data, size_t size,
                    std::vector<std::string>* forwarders);

// A short name for a machine type: "i386", "x86_64", "ARM64" and so on, or
// null for one it does not know.
const char* MachineName(uint16_t machine);
