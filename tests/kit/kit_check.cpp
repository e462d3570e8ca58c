// The Windows test kit's checker, started by run-tests.cmd:
//   kit_check rights
//     exits with 1, saying why, unless this process may write the machine's
//     registry;
//   kit_check snapshot FILE
//     writes the machine state the tests may touch: the codec's file in each
//     system folder (size and a hash of its bytes), the install records in
//     each registry view, the tests' temporary folders, and how many of the
//     programs the tests start are running;
//   kit_check finish FILE RUN=XML=EXITCODE... | RUN=skip=REASON...
//     compares the state now with FILE and names whatever the runs left
//     behind or changed, counts each run's results from its JUnit XML file,
//     prints one summary line and exits with 0 only when every run ran,
//     exited with 0, failed nothing and left nothing behind.
// An i686 program, so that it runs on every Windows; on a 64-bit one it looks
// past the file system redirection into the 64-bit system folder too.
#include "kit_report.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ReadWhole(const std::string& path, bool* found = nullptr)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (found) *found = file != nullptr;
    if (!file) return bytes;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, count);
    fclose(file);
    return bytes;
}

std::string FileState(const std::string& path)
{
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "absent";
    bool found = false;
    const std::string bytes = ReadWhole(path, &found);
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
    const std::string native = std::string(folder) + "\\IR50_32.DLL";
    state->push_back("codec " + native + "=" + FileState(native));
    if (redirectionOff) revert(old);

    char wow64[MAX_PATH] = "";
    if (GetSystemWow64DirectoryA(wow64, sizeof wow64) > 0) {
        const std::string file = std::string(wow64) + "\\IR50_32.DLL";
        state->push_back("codec " + file + "=" + FileState(file));
    }
}

void AddInstallRecords(std::vector<std::string>* state)
{
    const struct {
        const char* name;
        REGSAM view;
    } views[] = {{"64-bit view", KEY_WOW64_64KEY}, {"32-bit view", KEY_WOW64_32KEY}};
    for (const auto& view : views) {
        HKEY key;
        const bool present = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KORU Media", 0,
                                           KEY_READ | view.view, &key) == ERROR_SUCCESS;
        if (present) RegCloseKey(key);
        state->push_back(std::string("record HKLM\\SOFTWARE\\KORU Media, ") + view.name + "=" +
                         (present ? "present" : "absent"));
    }
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
        state->push_back(std::string("tempfolder ") + temp + entry.cFileName + "=present");
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// The menu, and the names the stand-ins run under.
void AddProcesses(std::vector<std::string>* state)
{
    const char* const names[] = {"autorun.exe", "recorder.exe", "Zantoria.exe", "setup.exe", "RegSvr32.exe"};
    int counts[sizeof names / sizeof names[0]] = {};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    if (snapshot != INVALID_HANDLE_VALUE) {
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            const char* base = strrchr(entry.szExeFile, '\\');
            base = base ? base + 1 : entry.szExeFile;
            for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
                if (_stricmp(base, names[i]) == 0) ++counts[i];
        }
        CloseHandle(snapshot);
    }
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        state->push_back(std::string("process ") + names[i] + "=" + std::to_string(counts[i]));
}

std::string MachineState()
{
    std::vector<std::string> lines;
    AddCodecFiles(&lines);
    AddInstallRecords(&lines);
    AddTempFolders(&lines);
    AddProcesses(&lines);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Whether this process may write what the tests write: the machine's part
// of the registry (and with it, on these systems, the system folder). Opens
// for writing, changes nothing.
int Rights()
{
    HKEY software;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_WRITE, &software) != ERROR_SUCCESS) {
        printf("The tests write the machine's registry and system folder: run run-tests.cmd as an "
               "administrator (right-click it, \"Run as administrator\").\n");
        return 1;
    }
    RegCloseKey(software);
    return 0;
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
    const std::string before = ReadWhole(snapshotPath, &found);
    bool passed = found;
    if (!found) printf("FAILED: no snapshot of the machine from before the runs (%s)\n", snapshotPath);

    // Processes the runs started may take a moment to end.
    std::vector<std::string> leftovers;
    for (int attempt = 0; attempt < 25; ++attempt) {
        leftovers = Leftovers(before, MachineState());
        if (leftovers.empty()) break;
        Sleep(200);
    }
    for (const std::string& leftover : leftovers)
        printf("FAILED: left behind or changed: %s\n", leftover.c_str());
    if (!leftovers.empty()) passed = false;

    std::string summary;
    RunCounts total;
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
            summary += name + " run skipped: " + last;
            continue;
        }
        bool haveResults = false;
        const RunCounts counts = CountResults(ReadWhole(file, &haveResults));
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
    printf("%s: %d passed, %d skipped, %d failed (%s); %s\n", passed ? "PASSED" : "FAILED", total.passed,
           total.skipped, total.failed, summary.c_str(),
           leftovers.empty() ? "nothing left behind" : "something left behind");
    return passed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "rights") == 0) return Rights();
    if (argc == 3 && strcmp(argv[1], "snapshot") == 0) return Snapshot(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "finish") == 0) return Finish(argv[2], argc - 3, argv + 3);
    fprintf(stderr, "usage: kit_check rights\n"
                    "       kit_check snapshot FILE\n"
                    "       kit_check finish FILE RUN=XML=EXITCODE|RUN=skip=REASON...\n");
    return 2;
}
