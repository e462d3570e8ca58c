// One scene of the end-to-end tests and what goes with it: a disc folder
// holding autorun.exe and the stand-ins a test puts there, a folder for the
// game, the stand-ins' log, the install record and codec file a test makes
// (each removed when the scene goes), and the menu started from the disc
// folder with its window. Buttons are named by the menu's commands
// (shell/button_panel.h), texts by their ids (resource_ids.h): a text is
// compared with what the menu's file holds under that id in this locale.
#pragma once

#include <windows.h>

#include "paths_compared.h"
#include "resource_ids.h"
#include "shell/button_panel.h"
#include "tests/kit/file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A variable of this process's environment, or "" when it is not set.
std::string EnvironmentVariable(const char* name);
// Folder of the build under test, holding autorun.exe and the stand-ins:
// the test program's own (x86_64) build unless AUTORUN_TEST_BUILD names
// another, the shipping i686 build's.
std::string BuildFolder();
std::string TestProgramFolder();
// Whether the program under test is a 32-bit one: it then reads the 32-bit
// registry view and sees the 32-bit system folder.
bool ProgramUnderTestIs32Bit();
void WriteFileBytes(const std::string& path, const std::string& bytes);
inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs `start`, which starts `program` and gives 0 or the start's error.
// Wine sometimes fails to set a new process up (ERROR_INTERNAL_ERROR, 1359)
// before the program's own code runs; such a start is tried once more, and
// the output says so. Any other error, and a second failure, is returned.
DWORD StartRetryingWineFailure(const std::string& program, const std::function<DWORD()>& start);

// What releases something when it goes is never copied.
struct NoCopy {
    NoCopy() = default;
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

// A fresh folder under the temporary directory, removed with its contents
// when the object goes.
class TempFolder : NoCopy {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const
    {
        return path_;
    }
    std::string File(const std::string& name) const
    {
        return path_ + "\\" + name;
    }

  private:
    std::string path_;
};

// A disc folder holding a copy of autorun.exe.
class DiscFolder : public TempFolder {
  public:
    DiscFolder();
    // Copies a file from the build folder (a stand-in) under the given name.
    void AddFromBuild(const std::string& buildName, const std::string& discName) const;
};

struct ButtonInfo {
    HWND handle;
    std::string text;
    int id;
    RECT rect; // in the parent's client coordinates
    bool visible;
};

const int NoShowCommand = -1; // a start without STARTF_USESHOWWINDOW

class MenuProcess : NoCopy {
  public:
    MenuProcess() = default;
    ~MenuProcess(); // ends the program if it still runs

    // Starts the given program (default: autorun.exe in the folder) with the
    // folder as its current directory, and the arguments after its name.
    bool Start(const std::string& folder, const std::string& program = "autorun.exe",
               const std::string& arguments = "");
    // Starts the program at `path` in `directory`, with the arguments after
    // its name. With a `library` (a full path), that library is loaded into
    // the process before the program's own code runs. With a show command
    // (SW_...), the start asks for it, as a shortcut's "Run:" does.
    bool StartIn(const std::string& directory, const std::string& path, const std::string& arguments,
                 const std::string& library = "", int showCommand = NoShowCommand);
    // Loads a library of the build under test into the running program
    // (with the build's inject.exe); whether it loaded.
    bool Inject(const std::string& library) const;
    HANDLE Process() const
    {
        return info_.hProcess;
    }

    // The main window (class "Autorun"), or null.
    HWND WaitForMainWindow(DWORD timeoutMs = 10000);
    // Every visible top-level window of the process, any class.
    std::vector<HWND> TopLevelWindows(bool visibleOnly = true) const;
    // A visible dialog-class ("#32770") window of the process, or null.
    HWND WaitForDialog(DWORD timeoutMs = 10000);
    // Whether the process ends within the time-out; its exit code then.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool Running() const;
    // For a failure message: how the start went, whether the program still
    // runs or how it ended, and which other processes of its name run.
    std::string Describe() const;

  private:
    PROCESS_INFORMATION info_ = {};
    std::string program_;
    DWORD startError_ = 0;
};

std::vector<ButtonInfo> ListButtons(HWND window);
std::vector<ButtonInfo> VisibleButtons(HWND window);
inline std::string WindowText(HWND window)
{
    char text[1024] = "";
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}
inline std::string ClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Clicks a button without needing focus; PostMessage, because the target may
// sit in a modal loop.
inline void Click(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}
// The text of a message box (its static control 0xFFFF).
inline std::string MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}
// Presses a dialog's button by id (IDOK, IDYES, ...), never by its text.
void PressDialogButton(HWND dialog, int id);
template <typename Predicate> bool WaitUntil(Predicate predicate, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}
inline bool WaitForWindowGone(HWND window, DWORD timeoutMs = 10000)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

// The install record in HKLM, in the registry view of the program under
// test: sets "Path" under the given key path, removes everything under
// "SOFTWARE\KORU Media" when the object goes, unless that key was already
// there when it was made: a record this test did not create is never
// touched (the test is skipped, see SKIP_IF_INSTALL_RECORD).
class InstallRecords : NoCopy {
  public:
    InstallRecords();
    ~InstallRecords();
    void SetPath(const std::string& keyPath, const std::string& value) const;
    // A value of any type and bytes; without bytes, the key alone.
    void SetRawPath(const std::string& keyPath, const std::string* bytes, DWORD type = REG_SZ) const;
    // Whether "SOFTWARE\KORU Media" exists in the view of the program under test.
    static bool Present();

  private:
    static REGSAM View();
    static void RemoveAll();
    bool foreign_;
};

const std::vector<int> OkOnly = {IDOK};
const std::vector<int> YesNo = {IDYES, IDNO};
const std::vector<int> YesNoCancel = {IDYES, IDNO, IDCANCEL};

// Sets (or, given null, removes) an environment variable of this process,
// which the menu and whatever it starts inherit; restores it when it goes.
class ScopedVariable : NoCopy {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name), old_(EnvironmentVariable(name))
    {
        had_ = !old_.empty();
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedVariable()
    {
        SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
    }

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// Under Wine, the load order of one library (as in "ir50_32=n") for the
// processes the test starts, which inherit the variable; Windows ignores it.
class LibraryOverride : public ScopedVariable {
  public:
    explicit LibraryOverride(const std::string& order)
        : ScopedVariable("WINEDLLOVERRIDES", Joined(EnvironmentVariable("WINEDLLOVERRIDES"), order).c_str())
    {
    }

  private:
    static std::string Joined(const std::string& current, const std::string& order)
    {
        return current.empty() ? order : current + ";" + order;
    }
};

// A folder put first on the search path (PATH) while it lives.
class SearchPathFolder : public TempFolder {
    ScopedVariable path_{"PATH", (Path() + ";" + EnvironmentVariable("PATH")).c_str()};
};


// One start of the recorder stand-in: the file name it ran as, the command
// line it was given, its current directory and the full path of its file.
struct StartRecord {
    std::string program;
    std::string commandLine;
    std::string directory;
    std::string path;
};

// What the menu handed the shell, as the rights hook recorded it.
struct ShellCall {
    std::string verb;
    std::string file;
    std::string parameters;
    std::string directory;
};

// The log every stand-in appends one line to, for the length of a test. Also
// keeps the stand-ins quiet whatever the calling environment says.
class StandInLog {
  public:
    StandInLog() : path_(folder_.File("standins.log")), log_("STANDIN_LOG", path_.c_str()) {}

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        const std::string text = ReadFileBytes(path_);
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    // The lines that begin with `prefix`, split at "|" after it.
    std::vector<std::vector<std::string>> Fields(const std::string& prefix) const
    {
        std::vector<std::vector<std::string>> found;
        for (const std::string& line : Lines()) {
            if (line.compare(0, prefix.size(), prefix) != 0) continue;
            found.emplace_back();
            size_t start = prefix.size();
            for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
                found.back().push_back(line.substr(start, bar - start));
            found.back().push_back(line.substr(start));
        }
        return found;
    }

    // The starts of the recorder, in order. Its command line may hold a "|".
    std::vector<StartRecord> Starts() const
    {
        std::vector<StartRecord> starts;
        for (std::vector<std::string> fields : Fields("")) {
            if (fields[0] == "DirectXSetupA" || fields[0] == "ShellExecuteExA" || fields.size() < 4) continue;
            for (; fields.size() > 4; fields.erase(fields.begin() + 2))
                fields[1] += "|" + fields[2];
            starts.push_back({fields[0], fields[1], fields[2], fields[3]});
        }
        return starts;
    }

    // The calls of ShellExecuteExA in a menu that carries the rights hook.
    std::vector<ShellCall> ShellCalls() const
    {
        std::vector<ShellCall> calls;
        for (const std::vector<std::string>& fields : Fields("ShellExecuteExA|"))
            if (fields.size() == 4) calls.push_back({fields[0], fields[1], fields[2], fields[3]});
        return calls;
    }

    // The registrations of the codec stand-in: the codec's full path and the
    // full path of the program that registered it, lowercase.
    std::vector<std::pair<std::string, std::string>> Registrations() const
    {
        std::vector<std::pair<std::string, std::string>> found;
        for (const std::vector<std::string>& fields : Fields("Registered|"))
            if (fields.size() == 2) found.emplace_back(fields[0], fields[1]);
        return found;
    }

    // The calls of the DirectX stand-in, each as "owner=...|root=...|flags=...".
    std::vector<std::string> DirectXCalls() const
    {
        std::vector<std::string> calls;
        for (const std::string& line : Lines())
            if (line.rfind("DirectXSetupA|", 0) == 0) calls.push_back(line.substr(14));
        return calls;
    }

  private:
    TempFolder folder_;
    std::string path_;
    ScopedVariable log_;
    ScopedVariable quiet_{"STANDIN_SHOW", nullptr};
};

inline std::string BuildFile(const std::string& name)
{
    return BuildFolder() + "\\" + name;
}

// Both files exist and hold the same bytes.
inline bool SameBytes(const std::string& path, const std::string& otherPath)
{
    return FileExists(path) && FileExists(otherPath) && ReadFileBytes(path) == ReadFileBytes(otherPath);
}

inline bool CopyFromBuild(const std::string& buildName, const std::string& destination)
{
    return CopyFileA(BuildFile(buildName).c_str(), destination.c_str(), FALSE) != FALSE;
}

// `folder` lengthened to `length` characters with "\." steps (and a doubled
// backslash when the difference is odd): still the same folder, and not
// ending in a backslash.
inline std::string PaddedFolder(const std::string& folder, size_t length)
{
    std::string padded = folder;
    size_t pad = length - folder.size();
    if (pad % 2) {
        padded += '\\';
        --pad;
    }
    for (; pad; pad -= 2)
        padded += "\\.";
    return padded;
}

// A program started through the shell sees a command line that the shell
// built: the program's path in quotes, then the parameters. (A plain start by
// the menu passes the unquoted argument list.)
inline void ExpectStartedThroughTheShell(const StartRecord& start, const std::string& parameters)
{
    const std::string& line = start.commandLine;
    const size_t close = line.find('"', 1);
    ASSERT_TRUE(!line.empty() && line[0] == '"' && close != std::string::npos)
        << "not started through the shell: " << line;
    const std::string path = line.substr(1, close - 1);
    EXPECT_TRUE(SamePath(path.substr(path.find_last_of("\\/") + 1), start.program)) << line;
    const size_t rest = line.find_first_not_of(' ', close + 1);
    EXPECT_EQ(rest == std::string::npos ? "" : line.substr(rest), parameters) << line;
}

// Loads the rights hook into a running menu: from then on it is refused the
// system folder, as a standard user is, and its calls of the shell are
// recorded in the stand-in log.
inline bool ActAsStandardUser(const MenuProcess& menu)
{
    return menu.Inject(BuildFile("rights_hook.dll"));
}

// The menu asked the shell `count` times (once, unless told) to start
// `file` with full rights, with these parameters, in `directory`: on Windows
// an elevated program given no directory starts in the system folder, and
// any verb but "runas" starts it without full rights, which Wine would not
// show.
inline void ExpectStartsWithFullRights(const StandInLog& log, const std::string& file,
                                       const std::string& parameters, const std::string& directory,
                                       size_t count = 1)
{
    const std::vector<ShellCall> calls = log.ShellCalls();
    ASSERT_EQ(calls.size(), count) << "starts through the shell";
    for (const ShellCall& call : calls) {
        EXPECT_EQ(call.verb, "runas");
        EXPECT_TRUE(SamePath(call.file, file));
        EXPECT_EQ(call.parameters, parameters);
        EXPECT_TRUE(SamePath(call.directory, directory));
    }
}

// The menu's file, loaded once as data: nothing of it runs.
inline HMODULE ProgramFile()
{
    static HMODULE program =
        LoadLibraryExA(BuildFile("autorun.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return program;
}

// A text of the menu's string catalogue as the menu itself loads it in this
// locale, read from its file; a failure when the variant lacks it.
inline std::string Text(int id)
{
    char text[512] = "";
    const int length = LoadStringA(ProgramFile(), id, text, sizeof text);
    if (length <= 0) ADD_FAILURE() << "the menu's file holds no text " << id << " in this language";
    return std::string(text, length > 0 ? length : 0);
}

inline std::vector<int> Sorted(std::vector<int> ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The visible button of a command, or one with a null handle.
inline ButtonInfo VisibleButton(HWND window, int command)
{
    for (const ButtonInfo& button : VisibleButtons(window))
        if (button.id == command) return button;
    return {};
}

// The ids of a window's visible buttons, in ascending order.
inline std::vector<int> VisibleButtonIds(HWND window)
{
    std::vector<int> ids;
    for (const ButtonInfo& button : VisibleButtons(window))
        ids.push_back(button.id);
    return Sorted(ids);
}

// Returns once the menu's thread has come back to a message loop: a sent
// message is answered only when it pulls messages again.
inline bool Settle(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result) != 0;
}

// The system folder as the program under test sees it: a 32-bit program's
// "system32" is the 64-bit system's syswow64 (a 32-bit test program sees it
// so already).
inline std::string SystemFolder()
{
    char path[MAX_PATH] = "";
    if (ProgramUnderTestIs32Bit() && sizeof(void*) == 8)
        GetSystemWow64DirectoryA(path, sizeof path);
    else
        GetSystemDirectoryA(path, sizeof path);
    return path;
}

// What the tests need the machine to hold before they start: no codec in the
// system folder and no install record. On a tester's machine either may be
// there for real; a test that needs it absent is then skipped with the
// reason, and the file or record is left exactly as it was.
inline std::string CodecFileFound()
{
    const std::string path = SystemFolder() + "\\IR50_32.DLL";
    if (!FileExists(path)) return "";
    return path +
           " was already on this machine: this test needs the codec absent, and leaves the file as it is";
}

inline std::string InstallRecordFound()
{
    if (!InstallRecords::Present()) return "";
    return std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\KORU Media") +
           (ProgramUnderTestIs32Bit() ? " (32-bit view)" : "") +
           " was already on this machine: this test needs no install record, and leaves it as it is";
}

// At the top of a test (GTEST_SKIP returns from the test's own function).
#define SKIP_IF_CODEC_FILE()                                                                                 \
    if (const std::string found = CodecFileFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_IF_INSTALL_RECORD()                                                                             \
    if (const std::string found = InstallRecordFound(); !found.empty()) GTEST_SKIP() << found
#define SKIP_UNLESS_CLEAN_MACHINE()                                                                          \
    SKIP_IF_CODEC_FILE();                                                                                    \
    SKIP_IF_INSTALL_RECORD()

// The codec's place in the system folder, "IR50_32.DLL". A test that lets the
// menu copy there, or puts a file there itself, holds one of these, declared
// before the menu's process so that it goes after the menu has ended: it
// removes what was created there during the test, so that no other test
// finds a codec there. A file that was there before is never touched: the
// test is skipped (see SKIP_IF_CODEC_FILE).
class SystemCodecFile : NoCopy {
  public:
    SystemCodecFile() : path_(SystemFolder() + "\\IR50_32.DLL")
    {
        foreign_ = FileExists(path_);
    }
    ~SystemCodecFile()
    {
        if (foreign_) return;
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        WaitUntil([&] { return DeleteFileA(path_.c_str()) || !FileExists(path_); }, 5000);
    }

    const std::string& Path() const
    {
        return path_;
    }

  private:
    std::string path_;
    bool foreign_ = false;
};

// The install record's first key.
const char* const PlainKey = "SOFTWARE\\KORU Media\\ZANTORIA\\1.00";

// The stand-ins' names in the build.
const char* const LoadingCodec = "codec_loads.dll";
const char* const RefusingCodec = "codec_refuses.dll";
const char* const Recorder = "recorder.exe";

enum CodecOnDisc { NoCodec, CodecLoads };

// A disc folder and the menu started from it. Declared before the menu's
// process, the codec file, log, record and folders go after it has ended.
struct Scene {
    SystemCodecFile systemCodec;
    StandInLog log;
    InstallRecords records;
    TempFolder game;
    DiscFolder disc;
    MenuProcess menu;
    HWND window = nullptr;

    // With CodecLoads, a codec that loads is in the system folder, where the
    // menu's probe looks, so that it offers Play or Install (a codec file
    // already there, a tester's own, is used as it is and left alone);
    // without, it offers to install the codec.
    explicit Scene(CodecOnDisc codec = CodecLoads)
    {
        if (codec == CodecLoads && !FileExists(systemCodec.Path()))
            CopyFromBuild(LoadingCodec, systemCodec.Path());
    }
    // The recorder as the game in its folder, and the plain install record
    // naming that folder.
    void InstallGame() const
    {
        EXPECT_TRUE(CopyFromBuild(Recorder, game.File("Zantoria.exe")));
        records.SetPath(PlainKey, game.Path());
    }
    // Starts the menu from the disc folder; false, with a failure, when no
    // window shows.
    bool Start(DWORD timeoutMs = 10000)
    {
        if (menu.Start(disc.Path())) window = menu.WaitForMainWindow(timeoutMs);
        if (!window) ADD_FAILURE() << "no main window: " << menu.Describe();
        return window != nullptr;
    }
    ButtonInfo Button(int command) const
    {
        return VisibleButton(window, command);
    }
    // Clicks a command's button; false, with a failure, when it is not shown.
    bool Press(int command) const
    {
        const HWND button = Button(command).handle;
        if (!button) ADD_FAILURE() << "no visible button for command " << command;
        if (button) Click(button);
        return button != nullptr;
    }
    // Waits for the menu's message box, checks it (owned by the window, its
    // caption and text by id, exactly these buttons) and answers it; false,
    // with a failure, when it does not come or does not go.
    bool Answer(int textId, int captionId, const std::vector<int>& buttons, int answer)
    {
        HWND box = menu.WaitForDialog();
        if (!box) ADD_FAILURE() << "no message box with text " << textId << ": " << menu.Describe();
        if (!box) return false;
        EXPECT_EQ(GetWindow(box, GW_OWNER), window) << "owner";
        EXPECT_EQ(WindowText(box), Text(captionId)) << "caption " << captionId;
        EXPECT_EQ(MessageBoxText(box), Text(textId)) << "text " << textId;
        EXPECT_EQ(VisibleButtonIds(box), Sorted(buttons)) << "buttons of the box with text " << textId;
        PressDialogButton(box, answer);
        const bool gone = WaitForWindowGone(box);
        EXPECT_TRUE(gone) << "the box with text " << textId << " stays";
        return gone;
    }
    // The menu is back at rest: running, no other window, these buttons,
    // nothing started.
    void ExpectAtRest(const std::vector<int>& offered) const
    {
        ASSERT_TRUE(Settle(window));
        EXPECT_TRUE(menu.Running());
        EXPECT_EQ(menu.TopLevelWindows(true).size(), 1u) << "a window besides the menu";
        EXPECT_EQ(VisibleButtonIds(window), Sorted(offered));
        Sleep(300); // a started program would have written by now
        EXPECT_TRUE(log.Starts().empty()) << "something started";
    }
    // The menu has ended with exit code 0 and `program` alone has started in
    // its place, in `folder`. Returns the start, for a closer look.
    StartRecord ExpectReplacedBy(const std::string& program, const std::string& folder)
    {
        DWORD exitCode = 1;
        EXPECT_TRUE(menu.WaitForExit(10000, &exitCode)) << "the menu stays";
        EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(WaitUntil([&] { return !log.Starts().empty(); })) << program << " did not start";
        const std::vector<StartRecord> starts = log.Starts();
        EXPECT_EQ(starts.size(), 1u);
        if (starts.empty()) return {};
        EXPECT_EQ(starts[0].program, program);
        EXPECT_TRUE(SamePath(starts[0].directory, folder));
        return starts[0];
    }
};
