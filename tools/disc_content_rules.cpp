// The disc check's rules; see disc_content_rules.h. The PE facts come from
// pe_reader; this file only decides what they mean for the menu and says so.
#include "disc_content_rules.h"

#include "pe_reader.h"
#include "pinned_files.h"
#include "splash/splash_size.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

const MenuFile MenuFiles[5] = {
    {PinnedFileNames[PinnedDirectXSetup], MenuFileRole::Library, 5, "DirectXSetupA",
     "Install would report a failed DirectX update and not start setup.exe", true},
    {PinnedFileNames[PinnedCodecCopy], MenuFileRole::Library, 0, nullptr,
     "Install codec would copy it into the system folder as IR50_32.DLL, where it stays for good, and the "
     "codec would still not load"},
    {"setup.exe", MenuFileRole::Program, 0, nullptr,
     "Install would fail to start it and the menu would stay as it was"},
    {PinnedFileNames[PinnedRegistration], MenuFileRole::Registrar, 0, nullptr,
     "Install codec would copy the codec into the system folder and never register it"},
    {"autorun.bmp", MenuFileRole::Picture, 0, nullptr, "the menu would show black instead of the picture"},
};

namespace {

const char* const No64Bit = "it will not start on 64-bit Windows (the x64 editions of Windows XP and later)";
const char* const No32Bit =
    "it will not start on 32-bit Windows (Windows 95, 98, Me, NT 4.0 and 2000, and the "
    "32-bit editions of Windows XP and later)";

Finding Refusal(const MenuFile& file, const std::string& name, const std::string& what)
{
    return {true, name + " " + what + ": " + file.consequence};
}

Finding Warning(const std::string& name, const std::string& what)
{
    return {false, name + " " + what};
}

// The libraries that every Windows the menu runs on, from Windows 95 to the
// latest, keeps in its system folder, so that a forwarder naming one always
// finds it. NTDLL is left out: Windows 95, 98 and Me have none.
const char* const WindowsLibraries[] = {"KERNEL32", "USER32",   "GDI32", "ADVAPI32", "SHELL32",
                                        "COMCTL32", "COMDLG32", "OLE32", "OLEAUT32", "VERSION",
                                        "WINMM",    "MPR",      "LZ32",  "WSOCK32"};

// Why the loader would not find what a forwarder names, or nothing when it
// would: "LIBRARY.Function" goes on in LIBRARY.dll, looked for in the disc's
// folder (the menu's own) and then in the system folder.
std::string ForwarderProblem(const std::string& forwarder, const std::vector<std::string>& discFiles)
{
    const size_t dot = forwarder.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == forwarder.size()) return "which names no library";
    const std::string module = forwarder.substr(0, dot);
    if (IsWindowsLibrary(module)) return "";
    const std::string library = module + ".dll";
    for (const std::string& disc : discFiles)
        if (strcasecmp(disc.c_str(), library.c_str()) == 0) return "";
    return "but " + library + " is neither on the disc nor a library of Windows itself";
}

// An imported library's file: the loader adds ".dll" to a name without a dot.
std::string LibraryFile(const std::string& module)
{
    return module.find('.') == std::string::npos ? module + ".dll" : module;
}

bool NamedIn(const std::string& file, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        if (strcasecmp(name.c_str(), file.c_str()) == 0) return true;
    return false;
}

bool Pinned(const std::string& file)
{
    for (const char* pinned : PinnedFileNames)
        if (strcasecmp(pinned, file.c_str()) == 0) return true;
    return false;
}

// The menu loads such a library from a folder of its own holding copies of
// the pinned files alone: a library of the disc it needs is found there only
// when it is pinned, and older Windows would otherwise load it from the disc
// unchecked.
std::vector<Finding> UnpinnedCompanions(const MenuFile& file, const std::string& name, const PeImage& image,
                                        const uint8_t* data, size_t size,
                                        const std::vector<std::string>& discFiles)
{
    std::string pinned;
    for (const char* each : PinnedFileNames)
        pinned += std::string(pinned.empty() ? "" : ", ") + each;
    const std::string why =
        ", a library on the disc that is not one of the files the menu pins (" + pinned +
        "); the menu loads " + name +
        " from a copy of those files alone, and older Windows would load it from the disc "
        "unchecked";
    std::vector<Finding> findings;
    std::vector<std::string> named;
    auto refuse = [&](const std::string& library, const std::string& what) {
        if (!NamedIn(library, discFiles) || Pinned(library) || NamedIn(library, named)) return;
        named.push_back(library);
        findings.push_back(Refusal(file, name, what + why));
    };

    std::vector<std::string> imports;
    if (!ListImportedLibraries(image, data, size, &imports))
        findings.push_back(
            Refusal(file, name,
                    "has an import table that points past the end of the file; Windows would not "
                    "load it"));
    for (const std::string& library : imports)
        refuse(LibraryFile(library), "imports " + library);

    std::vector<std::string> forwarders;
    ListForwarders(image, data, size, &forwarders); // an unreadable table is the ordinal check's to report
    for (const std::string& forwarder : forwarders) {
        const size_t dot = forwarder.rfind('.');
        const std::string library = forwarder.substr(0, dot) + ".dll";
        if (dot != std::string::npos && dot > 0)
            refuse(library, "forwards an export to " + forwarder + ", in " + library);
    }
    return findings;
}

std::string Machine(uint16_t machine)
{
    if (const char* known = MachineName(machine)) return known;
    char number[16];
    snprintf(number, sizeof number, "machine 0x%04X", machine);
    return number;
}

// What a file that is not a PE image is, or nothing for a PE image.
std::string NotPe(ImageKind kind, const char* windowsFile)
{
    if (kind == ImageKind::NotAnImage)
        return std::string("is not a ") + windowsFile + " (it has no MZ header)";
    if (kind == ImageKind::BrokenPe)
        return "is a damaged PE image (its headers are cut short or point past the end of the file)";
    return "";
}

// What a registration program that is not a PE32 program for i386 is, and
// why it cannot register the 32-bit codec.
std::string NotRegistrar(const PeImage& image)
{
    const char* const notI386 = ", not a PE32 program for i386; ";
    if (image.kind == ImageKind::Dos)
        return std::string("is an MS-DOS program") + notI386 + "it cannot load a 32-bit library";
    if (image.kind == ImageKind::Windows16)
        return std::string("is a 16-bit Windows program") + notI386 + "it cannot load a 32-bit library";
    const std::string format = image.magic == Pe32Magic ? "PE32" : "PE32+";
    if (image.machine == MachineX86_64)
        return "is a 64-bit program for x86_64 (" + format + ")" + notI386 +
               "on 64-bit Windows the 32-bit menu copies the codec into the 32-bit system folder, where a "
               "64-bit registration program neither looks nor could load it, and 32-bit Windows does not "
               "start it at all";
    return "is a program for " + Machine(image.machine) + " (" + format + ")" + notI386 +
           "it cannot load the codec, a library for i386";
}

} // namespace

bool IsWindowsLibrary(const std::string& module)
{
    for (const char* library : WindowsLibraries)
        if (strcasecmp(module.c_str(), library) == 0) return true;
    return false;
}

std::vector<Finding> CheckLibraryFile(const MenuFile& file, const std::string& name, const uint8_t* data,
                                      size_t size, const std::vector<std::string>& discFiles)
{
    const PeImage image = ReadPeImage(data, size);
    const std::string broken = NotPe(image.kind, "Windows library");
    if (!broken.empty()) return {Refusal(file, name, broken)};
    if (image.kind == ImageKind::Dos)
        return {Refusal(file, name, "is an MS-DOS program, not a 32-bit library")};
    if (image.kind == ImageKind::Windows16)
        return {Refusal(file, name, "is a 16-bit Windows file, not a 32-bit library")};

    std::vector<Finding> findings;
    if (image.machine != MachineI386 || image.magic != Pe32Magic) {
        const std::string format = image.magic == Pe32Magic ? "PE32" : "PE32+";
        const std::string bits = image.magic == Pe32Magic ? "" : "64-bit ";
        findings.push_back(
            Refusal(file, name,
                    "is a " + bits + "library for " + Machine(image.machine) + " (" + format +
                        "), not a PE32 library for i386; the menu is a 32-bit program and cannot "
                        "load it"));
    } else if (!image.library) {
        findings.push_back(Refusal(file, name, "is a program, not a library; the menu cannot load it"));
    }

    if (file.ordinal) {
        const std::string ordinal = std::to_string(file.ordinal);
        std::string forwarder;
        switch (FindExportOrdinal(image, data, size, file.ordinal, &forwarder)) {
        case ExportState::Exported: break;
        case ExportState::Forwarded: {
            const std::string problem = ForwarderProblem(forwarder, discFiles);
            if (!problem.empty())
                findings.push_back(Refusal(file, name,
                                           "forwards ordinal " + ordinal + ", by which the menu binds " +
                                               file.function + ", to " + forwarder + ", " + problem +
                                               "; the menu's GetProcAddress would fail"));
            break;
        }
        case ExportState::NotExported:
            findings.push_back(
                Refusal(file, name,
                        "does not export ordinal " + ordinal + ", by which the menu binds " + file.function));
            break;
        case ExportState::Unreadable:
            findings.push_back(Refusal(file, name,
                                       "has an export table that points past the end of the file (ordinal " +
                                           ordinal + " cannot be found)"));
            break;
        }
    }
    if (file.companionsPinned) {
        const std::vector<Finding> companions = UnpinnedCompanions(file, name, image, data, size, discFiles);
        findings.insert(findings.end(), companions.begin(), companions.end());
    }
    return findings;
}

std::vector<Finding> CheckProgramFile(const MenuFile& file, const std::string& name, const uint8_t* data,
                                      size_t size)
{
    const PeImage image = ReadPeImage(data, size);
    const std::string broken = NotPe(image.kind, "Windows program");
    if (!broken.empty()) return {Refusal(file, name, broken)};
    if (file.role == MenuFileRole::Registrar &&
        (image.kind == ImageKind::Dos || image.kind == ImageKind::Windows16))
        return {Refusal(file, name, NotRegistrar(image))};
    if (image.kind == ImageKind::Dos) return {Warning(name, std::string("is an MS-DOS program: ") + No64Bit)};
    if (image.kind == ImageKind::Windows16)
        return {Warning(name, std::string("is a 16-bit Windows program: ") + No64Bit)};

    if (image.library) return {Refusal(file, name, "is a library, not a program")};
    const bool pe32 = image.magic == Pe32Magic;
    if ((image.machine == MachineI386 && !pe32) || (image.machine == MachineX86_64 && pe32))
        return {Refusal(file, name,
                        "is a PE image whose machine (" + Machine(image.machine) + ") and header format (" +
                            (pe32 ? "PE32" : "PE32+") + ") do not agree; Windows will not start it")};
    if (file.role == MenuFileRole::Registrar && (image.machine != MachineI386 || !pe32))
        return {Refusal(file, name, NotRegistrar(image))};
    if (image.machine == MachineX86_64)
        return {Warning(name, std::string("is a 64-bit (x86_64) program: ") + No32Bit)};
    if (image.machine != MachineI386)
        return {Warning(name, "is a program for " + Machine(image.machine) +
                                  ": it will not start on x86 or x64 Windows")};
    return {};
}

std::vector<Finding> CheckPictureFile(const MenuFile& file, const std::string& name, bool read, int32_t width,
                                      int32_t height, const uint8_t* data, size_t size)
{
    if (!read) {
        // Name the usual mistake: a picture of another format under the name.
        const struct {
            const char* magic;
            size_t length;
            const char* format;
        } formats[] = {{"\x89PNG", 4, "a PNG picture"},
                       {"\xFF\xD8\xFF", 3, "a JPEG picture"},
                       {"GIF8", 4, "a GIF picture"}};
        std::string what = "cannot be read by the menu's bitmap reader";
        for (const auto& format : formats)
            if (size >= format.length && memcmp(data, format.magic, format.length) == 0)
                what += std::string(" (it is ") + format.format + ", not a Windows bitmap)";
        return {Refusal(file, name, what)};
    }
    // A negative height is a top-down picture of the same size.
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    if (width != SplashWidth || rows != SplashHeight) {
        const std::string size = std::to_string(SplashWidth) + " by " + std::to_string(SplashHeight);
        return {Warning(name, "is " + std::to_string(width) + " by " + std::to_string(rows) +
                                  " pixels, not " + size + ": the menu draws its top-left " + size +
                                  " pixels, unscaled, and leaves black what the picture does not cover")};
    }
    return {};
}
