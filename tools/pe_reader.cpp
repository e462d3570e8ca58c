// The PE header reader; see pe_reader.h. Offsets are added in 64 bits and
// every read goes through ReadAt, which answers false for bytes the file does
// not hold. Counts from the file are never used to size anything: the section
// table is walked entry by entry within the file, and an export is found by
// its index, not by walking the table.
#include "pe_reader.h"

namespace {

bool ReadAt(const uint8_t* data, size_t size, uint64_t offset, unsigned width, uint32_t* value)
{
    if (offset > size || size - offset < width) return false;
    uint32_t result = 0;
    for (unsigned i = 0; i < width; i++)
        result |= uint32_t(data[offset + i]) << (8 * i);
    *value = result;
    return true;
}

bool Read16(const uint8_t* data, size_t size, uint64_t offset, uint16_t* value)
{
    uint32_t wide;
    if (!ReadAt(data, size, offset, 2, &wide)) return false;
    *value = uint16_t(wide);
    return true;
}

bool Read32(const uint8_t* data, size_t size, uint64_t offset, uint32_t* value)
{
    return ReadAt(data, size, offset, 4, value);
}

const uint16_t DllCharacteristic = 0x2000;

// Offsets within the optional header, by its format.
struct OptionalLayout {
    unsigned sizeOfHeaders, rvaCount, directories;
};
const OptionalLayout Pe32Layout = {60, 92, 96};
const OptionalLayout Pe32PlusLayout = {60, 108, 112};

// Where `length` bytes at an address of the loaded image lie in the file:
// inside one section's raw data, or in the headers, which load at address 0.
bool RvaToOffset(const PeImage& image, const uint8_t* data, size_t size, uint32_t rva, uint32_t length,
                 uint64_t* offset)
{
    for (unsigned i = 0; i < image.sectionCount; i++) {
        const uint64_t entry = uint64_t(image.sectionTable) + 40 * uint64_t(i);
        uint32_t address, rawSize, rawOffset;
        if (!Read32(data, size, entry + 12, &address) || !Read32(data, size, entry + 16, &rawSize) ||
            !Read32(data, size, entry + 20, &rawOffset))
            return false;
        if (rva < address || uint64_t(rva) - address + length > rawSize) continue;
        *offset = uint64_t(rawOffset) + (rva - address);
        return *offset + length <= size;
    }
    if (uint64_t(rva) + length > image.sizeOfHeaders) return false;
    *offset = rva;
    return *offset + length <= size;
}

// A NUL-terminated string at an address of the image, ended before the file
// ends. Names longer than any Windows path are not names.
bool ReadString(const PeImage& image, const uint8_t* data, size_t size, uint32_t rva, std::string* text)
{
    uint64_t offset;
    if (!RvaToOffset(image, data, size, rva, 1, &offset)) return false;
    const uint64_t end = offset + 1024 < size ? offset + 1024 : size;
    for (uint64_t at = offset; at < end; at++) {
        if (data[at] != 0) continue;
        text->assign(reinterpret_cast<const char*>(data + offset), size_t(at - offset));
        return true;
    }
    return false;
}

} // namespace

PeImage ReadPeImage(const uint8_t* data, size_t size)
{
    PeImage image;
    uint16_t mark;
    if (!Read16(data, size, 0, &mark) || mark != 0x5A4D) return image; // "MZ"
    uint32_t newHeader;
    if (!Read32(data, size, 0x3C, &newHeader)) return image;

    image.kind = ImageKind::Dos;
    uint32_t signature;
    if (Read32(data, size, newHeader, &signature) && signature == 0x00004550) { // "PE\0\0"
        image.kind = ImageKind::BrokenPe;
    } else {
        if (Read16(data, size, newHeader, &mark) && mark == 0x454E) image.kind = ImageKind::Windows16; // "NE"
        return image;
    }

    // The file header follows the signature, the optional header follows it.
    const uint64_t fileHeader = uint64_t(newHeader) + 4;
    const uint64_t optional = fileHeader + 20;
    uint16_t optionalSize, characteristics;
    if (!Read16(data, size, fileHeader, &image.machine) ||
        !Read16(data, size, fileHeader + 2, &image.sectionCount) ||
        !Read16(data, size, fileHeader + 16, &optionalSize) ||
        !Read16(data, size, fileHeader + 18, &characteristics) || !Read16(data, size, optional, &image.magic))
        return image;
    image.library = characteristics & DllCharacteristic;

    if (image.magic != Pe32Magic && image.magic != Pe32PlusMagic) return image;
    const OptionalLayout& layout = image.magic == Pe32Magic ? Pe32Layout : Pe32PlusLayout;
    uint32_t rvaCount;
    if (optionalSize < layout.directories ||
        !Read32(data, size, optional + layout.sizeOfHeaders, &image.sizeOfHeaders) ||
        !Read32(data, size, optional + layout.rvaCount, &rvaCount))
        return image;

    // The section table must be in the file whole, as the loader maps it.
    const uint64_t sectionTable = optional + optionalSize;
    if (sectionTable + 40 * uint64_t(image.sectionCount) > size) return image;
    image.sectionTable = uint32_t(sectionTable);
    // So must each section's bytes: Windows does not load an image cut short.
    for (unsigned i = 0; i < image.sectionCount; i++) {
        uint32_t rawSize, rawOffset;
        Read32(data, size, sectionTable + 40 * uint64_t(i) + 16, &rawSize);
        Read32(data, size, sectionTable + 40 * uint64_t(i) + 20, &rawOffset);
        if (rawSize && uint64_t(rawOffset) + rawSize > size) return image;
    }

    // The export directory is the first data directory, if the header has one.
    if (rvaCount >= 1 && optionalSize >= layout.directories + 8 &&
        (!Read32(data, size, optional + layout.directories, &image.exportRva) ||
         !Read32(data, size, optional + layout.directories + 4, &image.exportSize)))
        return image;
    if (rvaCount >= 2 && optionalSize >= layout.directories + 16 &&
        !Read32(data, size, optional + layout.directories + 8, &image.importRva))
        return image;

    image.kind = ImageKind::Pe;
    return image;
}

ExportState FindExportOrdinal(const PeImage& image, const uint8_t* data, size_t size, uint32_t ordinal,
                              std::string* forwarder)
{
    if (image.kind != ImageKind::Pe || image.exportRva == 0) return ExportState::NotExported;
    uint64_t directory;
    if (!RvaToOffset(image, data, size, image.exportRva, 40, &directory)) return ExportState::Unreadable;
    uint32_t base, count, functions;
    if (!Read32(data, size, directory + 16, &base) || !Read32(data, size, directory + 20, &count) ||
        !Read32(data, size, directory + 28, &functions))
        return ExportState::Unreadable;
    if (ordinal < base || ordinal - base >= count) return ExportState::NotExported;

    const uint64_t entryRva = uint64_t(functions) + 4 * uint64_t(ordinal - base);
    uint64_t entry;
    uint32_t address;
    if (entryRva > UINT32_MAX || !RvaToOffset(image, data, size, uint32_t(entryRva), 4, &entry) ||
        !Read32(data, size, entry, &address))
        return ExportState::Unreadable;
    // An unused slot in the address table holds 0.
    if (!address) return ExportState::NotExported;
    if (address < image.exportRva || address - image.exportRva >= image.exportSize)
        return ExportState::Exported;

    // A forwarder: a string inside the export directory, ended by a NUL
    // before the directory ends, read where its first byte lies in the file.
    uint64_t offset;
    if (!RvaToOffset(image, data, size, address, 1, &offset)) return ExportState::Unreadable;
    const uint64_t room = uint64_t(image.exportRva) + image.exportSize - address;
    const uint64_t end = offset + room < size ? offset + room : size;
    for (uint64_t at = offset; at < end; at++) {
        if (data[at] != 0) continue;
        if (forwarder) forwarder->assign(reinterpret_cast<const char*>(data + offset), size_t(at - offset));
        return ExportState::Forwarded;
    }
    return ExportState::Unreadable;
}

bool ListImportedLibraries(const PeImage& image, const uint8_t* data, size_t size,
                           std::vector<std::string>* libraries)
{
    if (image.kind != ImageKind::Pe || image.importRva == 0) return true;
    // 20-byte entries up to one whose name is 0. Sections may overlap in the
    // file, so the walk is bounded by the file's size, not by the sections.
    const uint64_t longest = size / 20;
    for (uint64_t i = 0; i <= longest; i++) {
        const uint64_t rva = uint64_t(image.importRva) + 20 * i;
        uint64_t entry;
        uint32_t name;
        if (rva > UINT32_MAX || !RvaToOffset(image, data, size, uint32_t(rva), 20, &entry) ||
            !Read32(data, size, entry + 12, &name))
            return false;
        if (name == 0) return true;
        std::string library;
        if (!ReadString(image, data, size, name, &library)) return false;
        libraries->push_back(library);
    }
    return false;
}

bool ListForwarders(const PeImage& image, const uint8_t* data, size_t size,
                    std::vector<std::string>* forwarders)
{
    if (image.kind != ImageKind::Pe || image.exportRva == 0) return true;
    uint64_t directory;
    uint32_t count, functions;
    if (!RvaToOffset(image, data, size, image.exportRva, 40, &directory) ||
        !Read32(data, size, directory + 20, &count) || !Read32(data, size, directory + 28, &functions))
        return false;
    // The whole address table lies in the file, so the count is bounded by it.
    uint64_t table;
    if (uint64_t(count) * 4 > size || uint64_t(count) * 4 > UINT32_MAX ||
        !RvaToOffset(image, data, size, functions, count * 4, &table))
        return false;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t address;
        Read32(data, size, table + 4 * uint64_t(i), &address);
        if (address < image.exportRva || address - image.exportRva >= image.exportSize) continue;
        std::string forwarder;
        if (!ReadString(image, data, size, address, &forwarder)) return false;
        forwarders->push_back(forwarder);
    }
    return true;
}

const char* MachineName(uint16_t machine)
{
    switch (machine) {
    case MachineI386: return "i386";
    case MachineX86_64: return "x86_64";
    case 0xAA64: return "ARM64";
    case 0x01C0:
    case 0x01C4: return "ARM";
    case 0x0200: return "Itanium";
    }
    return nullptr;
}
