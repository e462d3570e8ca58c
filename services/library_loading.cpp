// Libraries by full path: see library_loading.h.
#include "library_loading.h"

#include "path_rules.h"

namespace {

typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR folder);
typedef BOOL(WINAPI* SetSearchPathModeFunction)(DWORD flags);

#ifndef BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
#define BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE 0x00000001
#endif
#ifndef BASE_SEARCH_PATH_PERMANENT
#define BASE_SEARCH_PATH_PERMANENT 0x00008000
#endif

// With this flag a library loaded by its full path has the libraries it
// imports looked for in its own folder first, not in the program's.
HMODULE LoadFrom(const char* folder, const char* name)
{
    char path[MAX_PATH];
    if (!BuildFilePath(path, sizeof path, folder, name)) return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

void LeaveCurrentDirectoryOutOfSearches()
{
    HMODULE kernel = GetModuleHandleA("KERNEL32.dll");
    // An empty string takes the current directory out of the library search.
    if (SetDllDirectoryFunction setDllDirectory =
            BindExport<SetDllDirectoryFunction>(kernel, "SetDllDirectoryA"))
        setDllDirectory("");
    // Programs and files looked for with SearchPath: the current directory
    // comes after the system folders.
    if (SetSearchPathModeFunction setSearchPathMode =
            BindExport<SetSearchPathModeFunction>(kernel, "SetSearchPathMode"))
        setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return nullptr;
    return LoadFrom(folder, name);
}

HMODULE LoadLibraryFromCurrentDirectory(const char* name)
{
    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) return nullptr;
    return LoadFrom(folder, name);
}
