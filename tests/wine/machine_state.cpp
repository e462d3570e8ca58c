// The machine-state checks behind the skip macros: read only, never changing
// what they find.
#include "machine_state.h"

#include "menu_driver.h"
#include "scene.h"

std::string CodecFileFound()
{
    const std::string path = SystemFolder() + "\\IR50_32.DLL";
    if (!FileExists(path)) return "";
    return path +
           " was already on this machine: this test needs the codec absent, and leaves the file as it is";
}

std::string InstallRecordFound()
{
    if (!InstallRecords::Present()) return "";
    return std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\KORU Media") +
           (ProgramUnderTestIs32Bit() ? " (32-bit view)" : "") +
           " was already on this machine: this test needs no install record, and leaves it as it is";
}
