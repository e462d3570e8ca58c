// The PE header reader and the disc check's rules, over images built here:
// the kinds of file it tells apart, the export look-up, and hostile headers
// (cut short, offsets and addresses past the end, counts in the thousands),
// forwarded exports, and what the rules make of each kind of file.
// Each image is a heap copy of exactly its own size, so AddressSanitizer
// catches any read beyond it.
#include "tools/disc_content_rules.h"
#include "tools/pe_reader.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Set(Bytes& bytes, size_t offset, uint32_t value, int width)
{
    if (bytes.size() < offset + width) bytes.resize(offset + width);
    for (int i = 0; i < width; i++)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

// A library of one section holding its export directory at address 0x1000
// (file offset 0x400) and the address table right after it, with entries
// for ordinals base .. base + count - 1; an entry of 0 is an unused slot.
struct Layout {
    uint16_t machine = MachineI386, magic = Pe32Magic, characteristics = 0x2102; // DLL, 32-bit, executable
    uint16_t sectionCount = 1;
    uint16_t optionalSize = 0; // 0: the format's usual size
    uint32_t newHeader = 0x80, exportRva = 0x1000, rawOffset = 0x400, rawSize = 0x200;
    uint32_t base = 1, count = 6, functions = 0x1028;
    std::vector<uint32_t> entries = {0x1100, 0x1104, 0x1108, 0x110C, 0x1110, 0x1114};
    // The ordinal in address table slot `forwardedSlot` (ordinal 5 unless
    // said) forwarded: this string (NUL added) at address `forwarderRva`,
    // inside an export directory of `exportSize` bytes (0: just the table).
    std::string forwarder;
    uint32_t forwarderRva = 0x1080, exportSize = 0, forwardedSlot = 4;
    // Import entries at address 0x1100 (`importRva` when there are none),
    // each naming one of these libraries, written from address 0x1180 on.
    std::vector<std::string> imports;
    uint32_t importRva = 0;
};

const uint32_t PeOffset = 0x80;

Bytes Image(const Layout& layout)
{
    Bytes bytes(0x600, 0);
    Set(bytes, 0, 0x5A4D, 2); // "MZ"
    Set(bytes, 0x3C, layout.newHeader, 4);
    Set(bytes, PeOffset, 0x00004550, 4);
    const uint32_t file = PeOffset + 4, optional = file + 20;
    const bool plus = layout.magic == Pe32PlusMagic;
    const uint16_t optionalSize = layout.optionalSize ? layout.optionalSize : plus ? 240 : 224;
    Set(bytes, file, layout.machine, 2);
    Set(bytes, file + 2, layout.sectionCount, 2);
    Set(bytes, file + 16, optionalSize, 2);
    Set(bytes, file + 18, layout.characteristics, 2);
    Set(bytes, optional, layout.magic, 2);
    Set(bytes, optional + 60, 0x400, 4); // size of headers
    const uint32_t directories = optional + (plus ? 112 : 96);
    Set(bytes, directories - 4, 16, 4);
    Set(bytes, directories, layout.exportRva, 4);
    const uint32_t exportSize = layout.exportSize          ? layout.exportSize
                                : layout.forwarder.empty() ? 40 + 4 * uint32_t(layout.entries.size())
                                                           : 0x100;
    Set(bytes, directories + 4, exportSize, 4);
    Set(bytes, directories + 8, layout.imports.empty() ? layout.importRva : 0x1100, 4);
    for (size_t i = 0; i < layout.imports.size(); i++) {
        Set(bytes, 0x500 + 20 * i + 12, uint32_t(0x1180 + 16 * i), 4);
        for (size_t c = 0; c < layout.imports[i].size(); c++)
            bytes[0x580 + 16 * i + c] = uint8_t(layout.imports[i][c]);
    }
    const uint32_t section = optional + optionalSize;
    if (section + 40 <= bytes.size()) {
        Set(bytes, section, 0x7461642E, 4); // ".dat"
        Set(bytes, section + 8, 0x200, 4);
        Set(bytes, section + 12, 0x1000, 4);
        Set(bytes, section + 16, layout.rawSize, 4);
        Set(bytes, section + 20, layout.rawOffset, 4);
    }
    Set(bytes, 0x400 + 16, layout.base, 4);
    Set(bytes, 0x400 + 20, layout.count, 4);
    Set(bytes, 0x400 + 28, layout.functions, 4);
    for (size_t i = 0; i < layout.entries.size(); i++)
        Set(bytes, 0x428 + 4 * i, layout.entries[i], 4);
    if (!layout.forwarder.empty()) {
        Set(bytes, 0x428 + 4 * layout.forwardedSlot, layout.forwarderRva, 4);
        const uint32_t at = 0x400 + layout.forwarderRva - 0x1000;
        for (size_t i = 0; i < layout.forwarder.size() && at + i < bytes.size(); i++)
            bytes[at + i] = uint8_t(layout.forwarder[i]);
    }
    return bytes;
}

// An MZ header whose newer header at 0x40 starts with `mark`.
Bytes OldImage(const char* mark)
{
    Bytes bytes(0x80, 0);
    Set(bytes, 0, 0x5A4D, 2);
    Set(bytes, 0x3C, 0x40, 4);
    bytes[0x40] = uint8_t(mark[0]);
    bytes[0x41] = uint8_t(mark[1]);
    return bytes;
}

struct Read {
    PeImage image;
    ExportState ordinal5;
    std::string forwarder;
};

Read ReadImage(const Bytes& bytes)
{
    // An exact-size heap copy; an empty vector may hold no storage at all.
    std::vector<uint8_t> copy(bytes);
    copy.shrink_to_fit();
    const PeImage image = ReadPeImage(copy.data(), copy.size());
    std::string forwarder;
    const ExportState state = FindExportOrdinal(image, copy.data(), copy.size(), 5, &forwarder);
    return {image, state, forwarder};
}

// Files good and hostile: the kind of image and the look-up of ordinal 5. No
// read may leave the bytes (AddressSanitizer watches), and a broken file is
// called broken rather than given a made-up answer.
TEST(PeReader, ExportsAndHostileHeaders)
{
    const Bytes good = Image({});
    // Cut anywhere, the headers or a section are incomplete.
    for (size_t length = 0; length < good.size(); length++) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        const Read read = ReadImage(Bytes(good.begin(), good.begin() + length));
        const ImageKind kind = length < 0x40   ? ImageKind::NotAnImage // no room for the new header's offset
                               : length < 0x84 ? ImageKind::Dos        // no room for the PE signature
                                               : ImageKind::BrokenPe;
        EXPECT_EQ(read.image.kind, kind);
        EXPECT_EQ(read.ordinal5, ExportState::NotExported);
    }

    Bytes tableInHeaders = Image({.functions = 0x200});
    Set(tableInHeaders, 0x200 + 16, 0x1234, 4);
    Bytes manySections = Image({.sectionCount = 5000});
    manySections.resize(0x1A0 + 40 * 5000); // all 5000 entries present, the rest of them empty
    const struct {
        const char* name;
        Bytes file;
        ImageKind kind;
        ExportState state;
        const char* forwarder = "";
    } cases[] = {
        {"ordinals 1 to 6", good, ImageKind::Pe, ExportState::Exported},
        {"ordinal 5 forwarded", Image({.forwarder = "DSETUP32.DirectXSetupA"}), ImageKind::Pe,
         ExportState::Forwarded, "DSETUP32.DirectXSetupA"},
        {"forwarder without a NUL before the directory ends",
         Image({.forwarder = "DSETUP32.X", .exportSize = 0x8A}), ImageKind::Pe, ExportState::Unreadable},
        {"forwarder running to the end of the file",
         Image({.forwarder = "0123456789ABCDEF", .forwarderRva = 0x11F0, .exportSize = 0x10000}),
         ImageKind::Pe, ExportState::Unreadable},
        {"slot of ordinal 5 unused", Image({.entries = {0x1100, 0x1104, 0x1108, 0x110C, 0, 0x1114}}),
         ImageKind::Pe, ExportState::NotExported},
        {"ordinals from 6", Image({.base = 6}), ImageKind::Pe, ExportState::NotExported},
        {"no export directory", Image({.exportRva = 0}), ImageKind::Pe, ExportState::NotExported},
        {"PE32+ layout", Image({.magic = Pe32PlusMagic}), ImageKind::Pe, ExportState::Exported},
        {"address table in the headers, which load at address 0", tableInHeaders, ImageKind::Pe,
         ExportState::Exported},
        {"16-bit Windows", OldImage("NE"), ImageKind::Windows16, ExportState::NotExported},
        {"new header offset 0xFFFFFFFF", Image({.newHeader = 0xFFFFFFFF}), ImageKind::Dos,
         ExportState::NotExported},
        {"new header offset 2 bytes before the end", Image({.newHeader = 0x5FE}), ImageKind::Dos,
         ExportState::NotExported},
        {"5000 sections present", manySections, ImageKind::Pe, ExportState::Exported},
        {"export directory at address 0xFFFFFFF0", Image({.exportRva = 0xFFFFFFF0}), ImageKind::Pe,
         ExportState::Unreadable},
        {"4294967295 exports, table past the section",
         Image({.base = 0, .count = 0xFFFFFFFF, .functions = 0x11F8}), ImageKind::Pe,
         ExportState::Unreadable},
        {"address table at 0xFFFFFFFF", Image({.functions = 0xFFFFFFFF}), ImageKind::Pe,
         ExportState::Unreadable},
        {"base 0xFFFFFFFF", Image({.base = 0xFFFFFFFF}), ImageKind::Pe, ExportState::NotExported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Read read = ReadImage(c.file);
        EXPECT_EQ(read.image.kind, c.kind);
        EXPECT_EQ(read.ordinal5, c.state);
        if (c.state == ExportState::Forwarded) EXPECT_EQ(read.forwarder, c.forwarder);
    }

    // Sizes and places in the headers that do not add up: a broken image,
    // never an answer about ordinal 5.
    const struct {
        const char* name;
        Layout layout;
    } brokenHeaders[] = {
        {"65535 sections, table past the end", {.sectionCount = 65535}},
        {"optional header of 65535 bytes", {.optionalSize = 65535}},
        {"optional header too short for its directories", {.optionalSize = 64}},
        {"unknown optional header format", {.magic = 0x0107}},
        {"section's raw data at 0xFFFFFFFF", {.rawOffset = 0xFFFFFFFF}},
        {"section's raw size 0xFFFFFFFF", {.rawSize = 0xFFFFFFFF}},
        {"section's raw data past the end", {.rawOffset = 0x5F0}},
    };
    for (const auto& c : brokenHeaders) {
        SCOPED_TRACE(c.name);
        const Read read = ReadImage(Image(c.layout));
        EXPECT_EQ(read.image.kind, ImageKind::BrokenPe);
        EXPECT_EQ(read.ordinal5, ExportState::NotExported);
    }
}

// The libraries an image needs: its imports and the libraries its exports
// are forwarded to, whatever their ordinals. A table that leaves the file,
// or runs on without its end, is no answer.
TEST(PeReader, ImportsAndForwarders)
{
    Bytes namePastTheEnd = Image({.imports = {"A.dll"}});
    Set(namePastTheEnd, 0x500 + 12, 0x7FFFFFFF, 4);
    // One entry at the very end of the section, and no end entry after it.
    Bytes noEnd = Image({.imports = {"A.dll"}});
    Set(noEnd, PeOffset + 24 + 96 + 8, 0x11EC, 4);
    Set(noEnd, 0x5EC + 12, 0x1180, 4);
    const struct {
        const char* name;
        Bytes file;
        bool importsRead;
        std::vector<std::string> imports, forwarders;
    } cases[] = {
        {"neither", Image({}), true, {}, {}},
        {"two imports", Image({.imports = {"KERNEL32.dll", "HELPER"}}), true, {"KERNEL32.dll", "HELPER"}, {}},
        {"ordinal 2 forwarded",
         Image({.forwarder = "HELPER.Beep", .forwardedSlot = 1}),
         true,
         {},
         {"HELPER.Beep"}},
        {"import directory at 0xFFFFFFF0", Image({.importRva = 0xFFFFFFF0}), false, {}, {}},
        {"library name past the end", namePastTheEnd, false, {}, {}},
        {"import entries running off the section", noEnd, false, {"A.dll"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> copy(c.file);
        copy.shrink_to_fit();
        const PeImage image = ReadPeImage(copy.data(), copy.size());
        std::vector<std::string> imports, forwarders;
        EXPECT_EQ(ListImportedLibraries(image, copy.data(), copy.size(), &imports), c.importsRead);
        EXPECT_EQ(imports, c.imports);
        EXPECT_TRUE(ListForwarders(image, copy.data(), copy.size(), &forwarders));
        EXPECT_EQ(forwarders, c.forwarders);
    }
}

// What the disc check makes of each kind of file in each role: the number of
// refusals and warnings, and the words a publisher needs to act on.
TEST(DiscContentRules, LibrariesAndPrograms)
{
    const MenuFile& dsetup = MenuFiles[0];
    const MenuFile& codec = MenuFiles[1];
    const MenuFile& setup = MenuFiles[2];
    const MenuFile& regsvr = MenuFiles[3];
    ASSERT_EQ(regsvr.role, MenuFileRole::Registrar);
    const Layout exe{.characteristics = 0x0102};
    const Layout plus{.machine = MachineX86_64, .magic = Pe32PlusMagic};
    const Layout plusExe{.machine = MachineX86_64, .magic = Pe32PlusMagic, .characteristics = 0x0022};
    // A PE32 header for a machine other than i386: the header format alone
    // does not make a library the menu can load.
    const Layout armLibrary{.machine = 0x01C4};
    auto forwardedTo = [](const char* forwarder) { return Image({.forwarder = forwarder}); };
    const std::vector<std::string> withDsetup32 = {"setup.exe", "dsetup32.DLL"};
    const Bytes text = {'M', 'Z', 'x'};
    Bytes damaged = Image(exe);
    damaged.resize(0x100);
    const struct {
        const char* name;
        const MenuFile& file;
        Bytes bytes;
        int refusals, warnings;
        const char* says;
        std::vector<std::string> disc = {};
    } cases[] = {
        {"i386 library with ordinal 5", dsetup, Image({}), 0, 0, ""},
        {"i386 library without ordinal 5", dsetup, Image({.count = 4}), 1, 0, "does not export ordinal 5"},
        {"x86_64 library", dsetup, Image(plus), 1, 0, "64-bit library for x86_64"},
        {"PE32 library for ARM", dsetup, Image(armLibrary), 1, 0,
         "library for ARM (PE32), not a PE32 library for i386"},
        {"ordinal 5 forwarded to a library on the disc", dsetup, forwardedTo("DSETUP32.DirectXSetupA"), 0, 0,
         "", withDsetup32},
        {"ordinal 5 forwarded to a library missing from the disc",
         dsetup,
         forwardedTo("DSETUP32.DirectXSetupA"),
         1,
         0,
         "to DSETUP32.DirectXSetupA, but DSETUP32.dll is neither on the disc nor a library of Windows itself",
         {"setup.exe"}},
        {"ordinal 5 forwarded to Windows", dsetup, forwardedTo("kernel32.Beep"), 0, 0, ""},
        {"ordinal 5 forwarded to NTDLL, which Windows 95 lacks", dsetup, forwardedTo("NTDLL.RtlZeroMemory"),
         1, 0, "NTDLL.dll is neither on the disc"},
        {"forwarder naming no library", dsetup, forwardedTo("DirectXSetupA"), 1, 0, "which names no library"},
        {"imports Windows and a library on the disc that is not pinned, by a name without a dot",
         dsetup,
         Image({.imports = {"KERNEL32.dll", "HELPER"}}),
         1,
         0,
         "imports HELPER, a library on the disc that is not one of the files the menu pins (MYIR50_32.dll, "
         "RegSvr32.exe, DSETUP.dll, DSETUP32.DLL)",
         {"helper.DLL"}},
        {"imports a pinned library on the disc and one from elsewhere", dsetup,
         Image({.imports = {"DSETUP32.DLL", "MSVCRT.dll"}}), 0, 0, "", withDsetup32},
        {"ordinal 2 forwarded to a library on the disc that is not pinned",
         dsetup,
         Image({.forwarder = "HELPER.Beep", .forwardedSlot = 1}),
         1,
         0,
         "forwards an export to HELPER.Beep, in HELPER.dll, a library on the disc that is not one of the "
         "files",
         {"Helper.dll"}},
        {"ordinal 5 forwarded to a library on the disc it imports too, not pinned",
         dsetup,
         Image({.forwarder = "HELPER.DirectXSetupA", .imports = {"HELPER.dll"}}),
         1,
         0,
         "imports HELPER.dll, a",
         {"HELPER.DLL"}},
        {"import table past the end", dsetup, Image({.importRva = 0xFFFFFFF0}), 1, 0,
         "import table that points past the end"},
        {"a codec importing a library on the disc",
         codec,
         Image({.imports = {"HELPER.dll"}}),
         0,
         0,
         "",
         {"HELPER.dll"}},
        {"i386 program as a library", dsetup, Image(exe), 1, 0, "a program, not a library"},
        {"16-bit library", dsetup, OldImage("NE"), 1, 0, "16-bit"},
        {"text as a library", dsetup, text, 1, 0, "not a Windows library"},
        {"i386 program", setup, Image(exe), 0, 0, ""},
        {"x86_64 program", setup, Image(plusExe), 0, 1, "will not start on 32-bit Windows"},
        {"16-bit program", setup, OldImage("NE"), 0, 1, "will not start on 64-bit Windows"},
        {"MS-DOS program", setup, OldImage("\0\0"), 0, 1, "will not start on 64-bit Windows"},
        {"ARM64 program", setup, Image({.machine = 0xAA64, .characteristics = 0x0102}), 0, 1, "for ARM64"},
        {"machine and format disagree", setup, Image({.magic = Pe32PlusMagic, .characteristics = 0x0102}), 1,
         0, "do not agree"},
        {"library as a program", setup, Image({}), 1, 0, "a library, not a program"},
        {"text as a program", setup, text, 1, 0, "not a Windows program"},
        {"i386 registration program", regsvr, Image(exe), 0, 0, ""},
        {"x86_64 registration program", regsvr, Image(plusExe), 1, 0,
         "64-bit program for x86_64 (PE32+), not a PE32 program for i386; on 64-bit Windows the 32-bit menu "
         "copies the codec into the 32-bit system folder"},
        {"16-bit registration program", regsvr, OldImage("NE"), 1, 0,
         "16-bit Windows program, not a PE32 program "
         "for i386; it cannot load a 32-bit library"},
        {"MS-DOS registration program", regsvr, OldImage("\0\0"), 1, 0, "cannot load a 32-bit library"},
        {"ARM64 registration program", regsvr, Image({.machine = 0xAA64, .characteristics = 0x0102}), 1, 0,
         "program for ARM64"},
        {"registration program as a library", regsvr, Image({}), 1, 0, "a library, not a program"},
        {"text as a registration program", regsvr, text, 1, 0, "not a Windows program"},
        {"damaged program", setup, damaged, 1, 0, "damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Finding> findings =
            c.file.role == MenuFileRole::Library
                ? CheckLibraryFile(c.file, "Name.x", c.bytes.data(), c.bytes.size(), c.disc)
                : CheckProgramFile(c.file, "Name.x", c.bytes.data(), c.bytes.size());
        int refusals = 0, warnings = 0;
        for (const Finding& finding : findings) {
            (finding.refused ? refusals : warnings)++;
            EXPECT_EQ(finding.text.rfind("Name.x ", 0), 0u) << finding.text;
            EXPECT_NE(finding.text.find(c.says), std::string::npos) << finding.text;
            if (finding.refused)
                EXPECT_NE(finding.text.find(c.file.consequence), std::string::npos) << finding.text;
        }
        EXPECT_EQ(refusals, c.refusals);
        EXPECT_EQ(warnings, c.warnings);
    }
}

} // namespace
