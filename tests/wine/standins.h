// Helpers for the end-to-end tests that use the stand-ins: the environment
// variables that steer them, the log they write, the menu's own texts, its
// message boxes, and the codec's place in the system folder.
#pragma once

#include "menu_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// The menu's buttons by control id.
enum ButtonId { PlayButton = 0, ExitButton = 1, InstallButton = 2, CodecButton = 3 };

// Sets (or, given null, removes) an environment variable of this process,
// which the menu and whatever it starts inherit; restores it when it goes.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name)
    {
        std::vector<char> old(32768);
        const DWORD length = GetEnvironmentVariableA(name, old.data(), static_cast<DWORD>(old.size()));
        had_ = length > 0 && length < old.size();
        if (had_) old_.assign(old.data(), length);
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedVariable()
    {
        SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
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

    bool WaitForLines(size_t count, DWORD timeoutMs = 10000) const
    {
        return WaitUntil([&] { return Lines().size() >= count; }, timeoutMs);
    }

    // The starts of the recorder, in order (the DirectX stand-in's calls left out).
    std::vector<StartRecord> Starts() const
    {
        std::vector<StartRecord> starts;
        for (const std::string& line : Lines()) {
            if (line.rfind("DirectXSetupA|", 0) == 0 || line.rfind("ShellExecuteExA|", 0) == 0) continue;
            const size_t first = line.find('|'), last = line.rfind('|');
            if (first == std::string::npos || first == last) continue;
            const size_t third = line.rfind('|', last - 1);
            if (third == first) continue;
            starts.push_back({line.substr(0, first), line.substr(first + 1, third - first - 1),
                              line.substr(third + 1, last - third - 1), line.substr(last + 1)});
        }
        return starts;
    }

    // The calls of ShellExecuteExA in a menu that carries the rights hook.
    std::vector<ShellCall> ShellCalls() const
    {
        std::vector<ShellCall> calls;
        for (const std::string& line : Lines()) {
            if (line.rfind("ShellExecuteExA|", 0) != 0) continue;
            std::vector<std::string> fields;
            size_t start = 16;
            for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
                fields.push_back(line.substr(start, bar - start));
            fields.push_back(line.substr(start));
            if (fields.size() == 4) calls.push_back({fields[0], fields[1], fields[2], fields[3]});
        }
        return calls;
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

inline std::string Lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return tolower(c); });
    return text;
}

// The menu has ended with exit code 0 and `program` alone has started in its
// place, in `folder`. Returns the start, for a closer look at its command line.
inline StartRecord ExpectReplacedBy(MenuProcess& menu, const StandInLog& log, const std::string& program,
                                    const std::string& folder, const std::string& what)
{
    DWORD exitCode = 1;
    EXPECT_TRUE(menu.WaitForExit(10000, &exitCode)) << what << ": the menu stays";
    EXPECT_EQ(exitCode, 0u) << what;
    EXPECT_TRUE(WaitUntil([&] { return !log.Starts().empty(); }))
        << what << ": " << program << " did not start";
    const std::vector<StartRecord> starts = log.Starts();
    EXPECT_EQ(starts.size(), 1u) << what;
    if (starts.empty()) return {};
    EXPECT_EQ(starts[0].program, program) << what;
    EXPECT_EQ(Lowercase(starts[0].directory), Lowercase(folder)) << what;
    return starts[0];
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
    EXPECT_EQ(Lowercase(path.substr(path.find_last_of("\\/") + 1)), Lowercase(start.program)) << line;
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

// The menu asked the shell, once, to start `file` with full rights, with
// these parameters, in `directory`: on Windows an elevated program given no
// directory starts in the system folder, and any verb but "runas" starts it
// without full rights, which Wine would not show.
inline void ExpectOneStartWithFullRights(const StandInLog& log, const std::string& file,
                                         const std::string& parameters, const std::string& directory,
                                         const std::string& what)
{
    const std::vector<ShellCall> calls = log.ShellCalls();
    ASSERT_EQ(calls.size(), 1u) << what << ": starts through the shell";
    EXPECT_EQ(calls[0].verb, "runas") << what;
    EXPECT_EQ(Lowercase(calls[0].file), Lowercase(file)) << what;
    EXPECT_EQ(calls[0].parameters, parameters) << what;
    EXPECT_EQ(Lowercase(calls[0].directory), Lowercase(directory)) << what;
}

// A text of the menu's string catalogue as the menu itself loads it in this
// locale: read from the program file, so the tests check ids, not wording.
inline std::string CatalogueText(int id)
{
    static HMODULE program =
        LoadLibraryExA(BuildFile("autorun.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[512] = "";
    const int length = LoadStringA(program, id, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}

// The ids of a dialog's visible buttons, in ascending order.
inline std::vector<int> VisibleButtonIds(HWND dialog)
{
    std::vector<int> ids;
    for (const ButtonInfo& button : VisibleButtons(dialog))
        ids.push_back(button.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Checks a message box: its owner, caption and text by catalogue id, and the
// buttons its flags asked for.
inline void ExpectMessageBox(HWND box, HWND owner, int textId, int captionId, std::vector<int> buttons,
                             const std::string& what)
{
    ASSERT_NE(box, nullptr) << what << ": no message box";
    EXPECT_EQ(GetWindow(box, GW_OWNER), owner) << what << ": owner";
    EXPECT_EQ(WindowText(box), CatalogueText(captionId)) << what << ": caption " << captionId;
    EXPECT_EQ(MessageBoxText(box), CatalogueText(textId)) << what << ": text " << textId;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(VisibleButtonIds(box), buttons) << what << ": buttons";
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

// The codec's place in the system folder, "IR50_32.DLL". A test that lets the
// menu copy there, or puts a file there itself, holds one of these, declared
// before the menu's process so that it goes after the menu has ended: it
// removes what was created there during the test, so that no other test
// finds a codec there. A file that was there before is never touched: the
// test is skipped (see machine_state.h).
class SystemCodecFile {
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
    SystemCodecFile(const SystemCodecFile&) = delete;
    SystemCodecFile& operator=(const SystemCodecFile&) = delete;

    // A file that this test did not put there: the test cannot run.
    bool Foreign() const
    {
        return foreign_;
    }
    const std::string& Path() const
    {
        return path_;
    }

  private:
    std::string path_;
    bool foreign_ = false;
};
