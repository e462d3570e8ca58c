// Libraries by full path: see library_loading.h.
#include "library_loading.h"

#include "path_rules.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef void*(WINAPI* AddDllDirectoryFunction)(const WCHAR* folder);
typedef BOOL(WINAPI* RemoveDllDirectoryFunction)(void* cookie);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR folder);
typedef BOOL(WINAPI* SetSearchPathModeFunction)(DWORD flags);

#ifndef BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
#define BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE 0x00000001
#endif
#ifndef BASE_SEARCH_PATH_PERMANENT
#define BASE_SEARCH_PATH_PERMANENT 0x00008000
#endif
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef LOAD_LIBRARY_SEARCH_USER_DIRS
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#endif

HMODULE Kernel()
{
    return GetModuleHandleA("KERNEL32.dll");
}

// Where SetDefaultDllDirectories exists, LoadLibraryEx knows the
// LOAD_LIBRARY_SEARCH_ flags too; elsewhere it refuses them.
SetDefaultDllDirectoriesFunction DefaultDllDirectories()
{
    return BindExport<SetDefaultDllDirectoriesFunction>(Kernel(), "SetDefaultDllDirectories");
}

} // namespace

void LimitLibrarySearches()
{
    // Libraries loaded by name come from the system folder alone: neither
    // the program's own folder nor the current directory is searched. The
    // folders added one at a time (AllowLibrariesFrom) count too; there are
    // none until then.
    if (SetDefaultDllDirectoriesFunction setDefaultDllDirectories = DefaultDllDirectories())
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
    // An empty string takes the current directory out of the library search.
    if (SetDllDirectoryFunction setDllDirectory =
            BindExport<SetDllDirectoryFunction>(Kernel(), "SetDllDirectoryA"))
        setDllDirectory("");
    // Programs and files looked for with SearchPath: the current directory
    // comes after the system folders.
    if (SetSearchPathModeFunction setSearchPathMode =
            BindExport<SetSearchPathModeFunction>(Kernel(), "SetSearchPathMode"))
        setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

HMODULE LoadLibraryFromFolder(const char* folder, const char* name)
{
    char path[MAX_PATH];
    if (!BuildFilePath(path, sizeof path, folder, name)) return nullptr;
    // The libraries it imports: from its own folder, then the system folder.
    // Older Windows has no such flags; the altered search path puts the
    // library's folder where the program's own would come, and must never be
    // combined with them.
    const DWORD flags = DefaultDllDirectories()
                            ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                            : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExA(path, nullptr, flags);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return nullptr;
    return LoadLibraryFromFolder(folder, name);
}

void* AllowLibrariesFrom(const char* folder)
{
    AddDllDirectoryFunction addDllDirectory =
        BindExport<AddDllDirectoryFunction>(Kernel(), "AddDllDirectory");
    if (!addDllDirectory || !DefaultDllDirectories()) return nullptr;
    // The call takes only a wide path.
    WCHAR wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH)) return nullptr;
    return addDllDirectory(wide);
}

void ForbidLibrariesFrom(void* allowed)
{
    if (!allowed) return;
    if (RemoveDllDirectoryFunction removeDllDirectory =
            BindExport<RemoveDllDirectoryFunction>(Kernel(), "RemoveDllDirectory"))
        removeDllDirectory(allowed);
}
