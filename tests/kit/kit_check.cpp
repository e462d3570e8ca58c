// The Windows test kit's checker, started by run-tests.cmd:
//   kit_check rights
//     exits with 1, saying why, unless this process runs with full rights:
//     elevated, or a member of Administrators where there is no elevation;
//   kit_check snapshot FILE
//     writes the machine state the tests may touch: the codec's file in each
//     system folder (size and a hash of its bytes), the install records in
//     each registry view with every subkey and value, the tests' temporary
//     folders, and each running program the tests may start, by process id;
//   kit_check finish FILE RUN=XML=EXITCODE... | RUN=skip=REASON...
//     compares the state now with FILE and names whatever the runs left
//     behind or changed, counts each run's results from its JUnit XML file,
//     prints one summary line (and writes it as summary.md, a short page with
//     the failed tests' names, in the current folder) and exits with 0 (PASSED) only when every run
//     this Windows can make ran, exited with 0, failed nothing and left
//     nothing behind; 2 (NOT RUN) when it can make none of them; else 1;
//   kit_check desktop
//     exits with 1, saying why, unless this process has an interactive
//     desktop, which the tests need to show and click windows;
//   kit_check started
//     exits with 0: whether this build's programs start here at all.
// Built for each bitness; run-tests.cmd starts the one of the machine's own.
// An i686 one on a 64-bit Windows looks past the file system redirection
// into the 64-bit system folder too. Its manifest (kit.manifest) asks for the
// user's own rights, so that Windows virtualises nothing for it.
#include "file_bytes.h"
#include "kit_report.h"
#include "machine_changes.h"
#include "pinned_files.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string FileState(const std::string& path)
{
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "absent";
    bool found = false;
    const std::string bytes = ReadFileBytes(path, &found);
    if (!found) return "present, unreadable";
    unsigned long hash = 2166136261ul; // FNV-1a
    for (unsigned char byte : bytes)
        hash = ((hash ^ byte) * 16777619ul) & 0xFFFFFFFFul;
    char state[64];
    snprintf(state, sizeof state, "%lu bytes, hash %08lx", static_cast<unsigned long>(bytes.size()), hash);
    return state;
}

typedef BOOL(WINAPI* DisableRedirection)(PVOID*);
typedef BOOL(WINAPI* RevertRedirection)(PVOID);

// The codec's file in the native system folder and, on a 64-bit Windows, in
// the 32-bit one. Redirection is off only while the native one is read.
void AddCodecFiles(std::vector<std::string>* state)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Looked up, not imported: a 32-bit Windows XP has neither.
    DisableRedirection disable = reinterpret_cast<DisableRedirection>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    RevertRedirection revert = reinterpret_cast<RevertRedirection>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof folder);
    PVOID old = nullptr;
    const bool redirectionOff = disable && revert && disable(&old);
    const std::string native = std::string(folder) + "\\" + kCodecFile;
    state->push_back("codec " + native + "=" + FileState(native));
    if (redirectionOff) revert(old);

    char wow64[MAX_PATH] = "";
    if (GetSystemWow64DirectoryA(wow64, sizeof wow64) > 0) {
        const std::string file = std::string(wow64) + "\\" + kCodecFile;
        state->push_back("codec " + file + "=" + FileState(file));
    }
}

// A key of the install record, its values and, depth first, its subkeys.
void AddRecordKey(HKEY key, const std::string& path, const std::string& view, std::vector<std::string>* state)
{
    state->push_back("record " + StateText(path) + " (" + view + ")=key");
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        state->push_back("record " + StateText(path) + " (" + view + ") contents=unreadable");
        return;
    }
    std::vector<char> name(longestName + 2);
    std::string data(longestData + 1, '\0');
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()),
              type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                          &dataSize) != ERROR_SUCCESS)
            continue;
        state->push_back("record " + StateText(path) + " [" + StateText(std::string(name.data(), nameSize)) +
                         "] (" + view + ")=" + RegistryValueText(type, data.substr(0, dataSize)));
    }
    std::vector<char> subkey(longestSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD size = static_cast<DWORD>(subkey.size());
        if (RegEnumKeyExA(key, i, subkey.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        const std::string child(subkey.data(), size);
        HKEY opened;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
            state->push_back("record " + StateText(path + "\\" + child) + " (" + view + ")=unreadable");
            continue;
        }
        AddRecordKey(opened, path + "\\" + child, view, state);
        RegCloseKey(opened);
    }
}

// The install record in each registry view, compared by value: a changed
// value or an added subkey of a record that was already there is a change.
void AddInstallRecords(std::vector<std::string>* state)
{
    const struct {
        const char* name;
        REGSAM view;
    } views[] = {{"64-bit view", KEY_WOW64_64KEY}, {"32-bit view", KEY_WOW64_32KEY}};
    for (const auto& view : views) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallRoot, 0, KEY_READ | view.view, &key) != ERROR_SUCCESS) {
            state->push_back(std::string("record HKLM\\") + kInstallRoot + " (" + view.name + ")=absent");
            continue;
        }
        AddRecordKey(key, std::string("HKLM\\") + kInstallRoot, view.name, state);
        RegCloseKey(key);
    }
}

std::string LongPath(const std::string& path)
{
    char longPath[MAX_PATH];
    const DWORD size = GetLongPathNameA(path.c_str(), longPath, sizeof longPath);
    return size > 0 && size < sizeof longPath ? std::string(longPath, size) : path;
}

// Where the programs the tests start lie: the kit's folder (the parent of
// this program's) and the tests' temporary folders.
std::vector<std::string> OurPlaces()
{
    std::vector<std::string> places;
    char module[MAX_PATH] = "";
    const DWORD size = GetModuleFileNameA(nullptr, module, sizeof module);
    std::string kit = LongPath(std::string(module, size < sizeof module ? size : 0));
    for (int level = 0; level < 2; ++level)
        kit = kit.substr(0, kit.find_last_of('\\') == std::string::npos ? 0 : kit.find_last_of('\\'));
    if (!kit.empty()) places.push_back(kit + "\\");
    char temp[MAX_PATH] = "";
    if (GetTempPathA(sizeof temp, temp) > 0) places.push_back(LongPath(temp) + "autorun-test-");
    return places;
}

// The end-to-end tests name their temporary folders "autorun-test-*".
void AddTempFolders(std::vector<std::string>* state)
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((std::string(temp) + "autorun-test-*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        state->push_back(std::string("tempfolder ") + StateText(std::string(temp) + entry.cFileName) +
                         "=present");
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

typedef BOOL(WINAPI* QueryImageName)(HANDLE, DWORD, LPSTR, PDWORD);

// The program a process runs, with its folder, or its bare file name where
// that cannot be read. Looked up, not imported: Windows XP has no
// QueryFullProcessImageNameA.
std::string ProcessProgram(DWORD id, const char* fileName)
{
    static const QueryImageName query = reinterpret_cast<QueryImageName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    const DWORD ProcessQueryLimitedInformation = 0x1000;
    HANDLE process = query ? OpenProcess(ProcessQueryLimitedInformation, FALSE, id) : nullptr;
    if (!process) return fileName;
    char path[MAX_PATH];
    DWORD size = sizeof path;
    const bool read = query(process, 0, path, &size) != 0;
    CloseHandle(process);
    return read ? LongPath(std::string(path, size)) : fileName;
}

// Each running program the tests may start, by its process id: whatever runs
// from the kit's folder or the tests' temporary folders, and whatever carries
// the name of one the tests start (the menu and the stand-ins' disc names),
// which may be another program (see Leftovers).
void AddProcesses(std::vector<std::string>* state, const std::vector<std::string>& ourPlaces)
{
    const char* const names[] = {"autorun.exe", "recorder.exe", "Zantoria.exe", "setup.exe",
                                 PinnedFileNames[PinnedRegistration]};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        state->push_back("process list=unreadable");
        return;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) continue;
        const char* base = strrchr(entry.szExeFile, '\\');
        base = base ? base + 1 : entry.szExeFile;
        bool named = false;
        for (const char* name : names)
            named = named || _stricmp(base, name) == 0;
        const std::string program = ProcessProgram(entry.th32ProcessID, base);
        bool inOurPlace = false;
        for (const std::string& place : ourPlaces)
            inOurPlace = inOurPlace || _strnicmp(program.c_str(), place.c_str(), place.size()) == 0;
        if (named || inOurPlace)
            state->push_back("process " + std::to_string(entry.th32ProcessID) + "=" + StateText(program));
    }
    CloseHandle(snapshot);
}

std::string MachineState()
{
    std::vector<std::string> lines;
    AddCodecFiles(&lines);
    AddInstallRecords(&lines);
    AddTempFolders(&lines);
    AddProcesses(&lines, OurPlaces());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Whether this process runs with the rights the tests need to write the
// machine's registry and system folder. The token says so; trying a write
// would not: a program that Windows virtualises may "write" HKLM\SOFTWARE
// without those rights. Changes nothing.
TokenRights ReadTokenRights()
{
    TokenRights rights;
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        // Before Vista the token has no elevation, and the query fails.
        TOKEN_ELEVATION elevation = {};
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
            GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
            rights.elevationKnown = true;
            rights.elevated = elevation.TokenIsElevated != 0;
            rights.limited = type == TokenElevationTypeLimited;
        }
        CloseHandle(token);
    }
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                 0, &administrators)) {
        BOOL member = FALSE;
        rights.administrator = CheckTokenMembership(nullptr, administrators, &member) && member;
        FreeSid(administrators);
    }
    return rights;
}

int Rights()
{
    if (!MayChangeTheMachine(ReadTokenRights())) {
        printf("The tests write the machine's registry and system folder: run run-tests.cmd as an "
               "administrator (right-click it, \"Run as administrator\").\n");
        return 1;
    }
    return 0;
}

int Desktop()
{
    DesktopSeen seen;
    HWINSTA station = GetProcessWindowStation();
    char name[256] = "";
    DWORD needed = 0;
    if (station && GetUserObjectInformationA(station, UOI_NAME, name, sizeof name - 1, &needed))
        seen.station = name;
    USEROBJECTFLAGS flags = {};
    seen.stationVisible = station &&
                          GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
                          (flags.dwFlags & WSF_VISIBLE);
    if (HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS)) {
        seen.inputDesktop = true;
        CloseDesktop(input);
    }
    const std::string why = WhyNoInteractiveDesktop(seen);
    if (why.empty()) return 0;
    printf("%s\n", why.c_str());
    return 1;
}

int Snapshot(const char* path)
{
    FILE* file = fopen(path, "wb");
    if (!file) {
        fprintf(stderr, "kit_check: cannot write %s\n", path);
        return 2;
    }
    const std::string state = MachineState();
    fwrite(state.data(), 1, state.size(), file);
    fclose(file);
    return 0;
}

int Finish(const char* snapshotPath, int runCount, char** runs)
{
    bool found = false;
    const std::string before = ReadFileBytes(snapshotPath, &found);
    bool passed = found;
    if (!found) printf("FAILED: no snapshot of the machine from before the runs (%s)\n", snapshotPath);

    // Processes the runs started may take a moment to end.
    std::vector<std::string> leftovers;
    for (int attempt = 0; attempt < 25; ++attempt) {
        leftovers = Leftovers(before, MachineState(), OurPlaces());
        if (leftovers.empty()) break;
        Sleep(200);
    }
    for (const std::string& leftover : leftovers)
        printf("FAILED: left behind or changed: %s\n", leftover.c_str());
    if (!leftovers.empty()) passed = false;

    std::string summary;
    std::vector<RunOutcome> outcomes;
    RunCounts total;
    int made = 0;
    for (int i = 0; i < runCount; ++i) {
        const std::string run = runs[i];
        const size_t first = run.find('='), second = run.rfind('=');
        if (first == std::string::npos || second == first) {
            printf("FAILED: cannot read the run \"%s\"\n", run.c_str());
            passed = false;
            continue;
        }
        const std::string name = run.substr(0, first);
        const std::string file = run.substr(first + 1, second - first - 1);
        const std::string last = run.substr(second + 1);
        summary += summary.empty() ? "" : "; ";
        if (file == "skip") {
            summary += name + " run not run: " + last;
            outcomes.push_back({name, last, {}});
            continue;
        }
        ++made;
        bool haveResults = false;
        const RunCounts counts = CountResults(ReadFileBytes(file, &haveResults));
        outcomes.push_back({name, haveResults ? "" : "no results", counts});
        total.passed += counts.passed;
        total.skipped += counts.skipped;
        total.failed += counts.failed;
        char text[160];
        snprintf(text, sizeof text, "%s: %d passed, %d skipped, %d failed", name.c_str(), counts.passed,
                 counts.skipped, counts.failed);
        summary += text;
        if (!haveResults || counts.passed + counts.skipped + counts.failed == 0) {
            summary += ", no results";
            passed = false;
        } else if (last != "0") {
            summary += ", exit code " + last;
            passed = false;
        }
        if (counts.failed) passed = false;
    }
    // Runs this Windows cannot make are no failure, but a report of none
    // made at all must not read as a pass.
    const char* verdict = !passed ? "FAILED" : made ? "PASSED" : "NOT RUN";
    printf("%s: %d passed, %d skipped, %d failed (%s); %s\n", verdict, total.passed, total.skipped,
           total.failed, summary.c_str(),
           leftovers.empty() ? "nothing left behind" : "something left behind");
    // The same for a page a job shows, beside the results.
    if (FILE* page = fopen("summary.md", "wb")) {
        const std::string text = SummaryPage(verdict, outcomes) +
                                 (leftovers.empty() ? "" : "\nSomething was left behind on the machine.\n");
        fwrite(text.data(), 1, text.size(), page);
        fclose(page);
    }
    return !passed ? 1 : made ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "started") == 0) return 0;
    if (argc == 2 && strcmp(argv[1], "rights") == 0) return Rights();
    if (argc == 2 && strcmp(argv[1], "desktop") == 0) return Desktop();
    if (argc == 3 && strcmp(argv[1], "snapshot") == 0) return Snapshot(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "finish") == 0) return Finish(argv[2], argc - 3, argv + 3);
    fprintf(stderr, "usage: kit_check started\n"
                    "       kit_check rights\n"
                    "       kit_check desktop\n"
                    "       kit_check snapshot FILE\n"
                    "       kit_check finish FILE RUN=XML=EXITCODE|RUN=skip=REASON...\n");
    return 2;
}
