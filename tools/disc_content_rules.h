// What the disc check says about each file the menu opens from the disc, as
// the menu would use it: the DirectX setup library and the codec are loaded
// into the menu's own 32-bit process, the setup and registration programs are
// started, the splash picture is read by the menu's bitmap reader. A refusal
// is a file the menu cannot use; a warning is one that works only on some
// systems or shows differently than the publisher may expect. Each finding is
// one sentence that names the file, says what is wrong and what the menu would
// do with it.
//
// The registration program is a program of its own kind: the menu starts it
// to load the 32-bit codec it has just copied into the 32-bit system folder,
// so only a PE32 program for i386 can do its work.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum class MenuFileRole { Library, Program, Registrar, Picture };

struct MenuFile {
    const char* name; // as the menu opens it; found on the disc in any case
    MenuFileRole role;
    uint32_t ordinal;        // a library's export the menu binds by ordinal, or 0
    const char* function;    // the function the menu takes from that ordinal
    const char* consequence; // what the menu would do with a file it cannot use
    // Loaded into the menu from a private copy of the pinned files, beside
    // which no other library of the disc lies: a library of the disc it
    // imports or forwards to must be one of them.
    bool companionsPinned = false;
};

extern const MenuFile MenuFiles[5];

struct Finding {
    bool refused;
    std::string text;
};

// `name` is the file's name as the disc has it; `discFiles` names the files
// beside it in the disc's root folder, where the loader looks first for a
// library that an export is forwarded to, and among which a library loaded
// from a copy of the pinned files may find no other.
std::vector<Finding> CheckLibraryFile(const MenuFile& file, const std::string& name, const uint8_t* data,
                                      size_t size, const std::vector<std::string>& discFiles = {});
// Programs and the registration program.
std::vector<Finding> CheckProgramFile(const MenuFile& file, const std::string& name, const uint8_t* data,
                                      size_t size);

// `read` tells whether the menu's bitmap reader took the file; width and
// height are then from its header. `data` is the file's start, for naming
// what a refused file is instead.
std::vector<Finding> CheckPictureFile(const MenuFile& file, const std::string& name, bool read, int32_t width,
                                      int32_t height, const uint8_t* data, size_t size);

// Whether a library named in a forwarder ("KERNEL32", without ".dll") is one
// that every Windows the menu runs on carries in its system folder.
bool IsWindowsLibrary(const std::string& module);
