// Install codec: the question, the copy into the system folder (never over an
// existing file, never read-only), the silent registration of the codec by
// its full path there, the outcome as the codec probe sees it afterwards, and
// Play or Install taking the codec button's place once the codec loads. A
// standard user, refused the system folder, gets there through one consent
// prompt: the menu's own file, started with full rights in the disc folder,
// does the job, with Windows' own registration program, and only when the
// menu is pinned (autorun-pinned.exe, pinned to the build's stand-ins).
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/paths_compared.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

namespace {

enum User { FullRights, StandardUser, DecliningUser };
enum Menu { Unpinned, Pinned };

const struct CodecCase {
    const char* name;
    Menu menu;
    const char* discCopy;     // put on the disc, read-only as on a pressed disc, as "MYIR50_32.dll"
    const char* systemCopy;   // already in the system folder, read-only, as "IR50_32.DLL"
    const char* registration; // the exit code of the registration program on the disc, or none there
    User user;
    bool gameInstalled;
    int outcome;           // the text the user is told after answering Yes, or 0 to answer No
    const char* installed; // whose bytes are in the system folder afterwards, or none
    bool asksForRights;    // each attempt starts the menu's own file with full rights
} Cases[] = {
    {"answered No", Unpinned, LoadingCodec, nullptr, "0", FullRights, false, 0, nullptr, false},
    {"game not installed", Unpinned, LoadingCodec, nullptr, "0", FullRights, false, IDS_CODEC_INSTALLED,
     LoadingCodec, false},
    {"game installed", Unpinned, LoadingCodec, nullptr, "0", FullRights, true, IDS_CODEC_INSTALLED,
     LoadingCodec, false},
    {"game not installed, standard user", Pinned, LoadingCodec, nullptr, "0", StandardUser, false,
     IDS_CODEC_INSTALLED, LoadingCodec, true},
    {"game installed, standard user", Pinned, LoadingCodec, nullptr, "0", StandardUser, true,
     IDS_CODEC_INSTALLED, LoadingCodec, true},
    {"declined consent", Unpinned, LoadingCodec, nullptr, "0", DecliningUser, false, IDS_CODEC_FAILED,
     nullptr, true},
    // The outcome is the probe's after the install, not the installer's result.
    {"codec that refuses to load", Unpinned, RefusingCodec, nullptr, "0", FullRights, false, IDS_CODEC_FAILED,
     RefusingCodec, false},
    {"unloadable codec already present is not overwritten", Unpinned, LoadingCodec, RefusingCodec, "0",
     FullRights, false, IDS_CODEC_FAILED, RefusingCodec, false},
    {"registration fails but the codec loads", Unpinned, LoadingCodec, nullptr, "5", FullRights, false,
     IDS_CODEC_INSTALLED, LoadingCodec, false},
    {"no registration program: copied all the same", Unpinned, LoadingCodec, nullptr, nullptr, FullRights,
     false, IDS_CODEC_INSTALLED, LoadingCodec, false},
    {"no disc copy: nothing copied, registration still runs", Unpinned, nullptr, nullptr, "0", FullRights,
     false, IDS_CODEC_FAILED, nullptr, false},
    // Where the copy fails for another reason than rights, a standard user
    // gets no prompt: the registration still runs, and the probe decides.
    {"standard user, a codec file already in the system folder", Unpinned, LoadingCodec, RefusingCodec, "0",
     StandardUser, false, IDS_CODEC_FAILED, RefusingCodec, false},
    {"standard user, no disc copy", Unpinned, nullptr, nullptr, "0", StandardUser, false, IDS_CODEC_FAILED,
     nullptr, false},
    // Only a pinned menu vouches for what its job copies with full rights.
    {"unpinned menu, standard user: the job copies nothing", Unpinned, LoadingCodec, nullptr, "0",
     StandardUser, false, IDS_CODEC_FAILED, nullptr, true},
    // A pinned menu takes a disc copy that is not the one pinned for missing:
    // nothing copied, no prompt; the registration still runs.
    {"pinned menu, another disc copy, standard user", Pinned, RefusingCodec, nullptr, "0", StandardUser,
     false, IDS_CODEC_FAILED, nullptr, false},
};

// The system folder as the menu and its job see it (the test program has
// the menu's bitness), the codec's place there, and that place as the
// registration is given it.
std::string MenuSystemFolder()
{
    char systemFolder[MAX_PATH] = "";
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    return systemFolder;
}
std::string SystemCodec()
{
    return MenuSystemFolder() + "\\IR50_32.DLL";
}
// Windows' own registration program, as it sees its own file: a 32-bit
// program on 64-bit Windows runs from the 32-bit system folder, whatever
// the path it was started by.
std::string SystemRegistrationFile()
{
    char folder[MAX_PATH] = "";
    if (sizeof(void*) == 4 && GetSystemWow64DirectoryA(folder, sizeof folder))
        return folder + std::string("\\regsvr32.exe");
    return MenuSystemFolder() + "\\regsvr32.exe";
}
std::string SystemCodecArgument()
{
    const std::string codec = SystemCodec();
    return codec.find(' ') == std::string::npos ? codec : '"' + codec + '"';
}

// The disc's registration program ran `own` times, silently, from the disc
// folder; Windows' own registered the codec stand-in `byWindows` times. Both
// name the codec by its full path in the system folder.
void ExpectRegistrations(const Scene& scene, size_t own, size_t byWindows = 0)
{
    const std::vector<StartRecord> starts = scene.log.Starts();
    EXPECT_EQ(starts.size(), own) << "registrations by the disc's program";
    for (const StartRecord& start : starts) {
        EXPECT_EQ(start.commandLine, "RegSvr32.exe /s " + SystemCodecArgument());
        EXPECT_TRUE(SamePath(start.directory, scene.disc.Path()));
        EXPECT_TRUE(SamePath(start.path, scene.disc.File("RegSvr32.exe")));
    }
    const std::vector<std::pair<std::string, std::string>> registered = scene.log.Registrations();
    EXPECT_EQ(registered.size(), byWindows) << "registrations by Windows' own program";
    for (const auto& [codec, program] : registered) {
        EXPECT_TRUE(SamePath(codec, SystemCodec()));
        EXPECT_TRUE(SamePath(program, SystemRegistrationFile()));
    }
}

// The menu's answer to Install codec; a failed attempt leaves the codec button
// where it was, and the next attempt goes the same way.
void ExpectCodecFlow(const CodecCase& c)
{
    ScopedVariable decline("AUTORUN_HOOK_DECLINE", c.user == DecliningUser ? "1" : nullptr);
    ScopedVariable registrationExit("STANDIN_EXIT_RegSvr32.exe", c.registration);
    Scene scene(NoCodec);
    if (c.menu == Pinned) {
        ASSERT_TRUE(CopyFromBuild("autorun-pinned.exe", scene.disc.File("autorun.exe")));
    }
    const std::string installed = scene.systemCodec.Path();
    if (c.discCopy) {
        scene.disc.AddFromBuild(c.discCopy, "MYIR50_32.dll");
        SetFileAttributesA(scene.disc.File("MYIR50_32.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (c.registration) scene.disc.AddFromBuild(Recorder, "RegSvr32.exe");
    if (c.systemCopy) {
        ASSERT_TRUE(CopyFromBuild(c.systemCopy, installed));
        SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (c.gameInstalled) scene.InstallGame();
    ASSERT_TRUE(scene.Start());
    if (c.user != FullRights) {
        ASSERT_TRUE(ActAsStandardUser(scene.menu));
    }
    const RECT codecRect = scene.Button(CommandInstallCodec).rect, exitRect = scene.Button(CommandExit).rect;

    for (size_t attempt = 1; attempt <= (c.outcome == IDS_CODEC_FAILED ? 2u : 1u); ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(scene.Press(CommandInstallCodec));
        ASSERT_TRUE(scene.Answer(IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, YesNo, c.outcome ? IDYES : IDNO));
        if (c.outcome) {
            ASSERT_TRUE(scene.Answer(c.outcome, IDS_CODEC_CAPTION, OkOnly, IDOK));
        }
        ASSERT_TRUE(Settle(scene.window));

        if (c.installed) {
            EXPECT_EQ(ReadFileBytes(installed), ReadFileBytes(BuildFile(c.installed)))
                << "in the system folder";
            EXPECT_EQ(GetFileAttributesA(installed.c_str()) & FILE_ATTRIBUTE_READONLY,
                      c.systemCopy ? static_cast<DWORD>(FILE_ATTRIBUTE_READONLY) : 0u)
                << "read-only: a copy that is, or a file the menu did not make that is no longer";
        } else {
            EXPECT_FALSE(FileExists(installed));
        }
        const bool jobRan = c.asksForRights && c.user != DecliningUser && c.menu == Pinned;
        ExpectRegistrations(scene, c.outcome && c.registration && !c.asksForRights ? attempt : 0,
                            jobRan ? attempt : 0);
        ExpectStartsWithFullRights(scene.log, scene.disc.File("autorun.exe"), "/InstallCodec",
                                   scene.disc.Path(), c.asksForRights ? attempt : 0);

        EXPECT_TRUE(scene.menu.Running());
        EXPECT_EQ(scene.menu.TopLevelWindows(true).size(), 1u) << "a window besides the menu";
        if (c.outcome != IDS_CODEC_INSTALLED) {
            EXPECT_EQ(VisibleButtonIds(scene.window), Sorted({CommandExit, CommandInstallCodec}));
            const RECT now = scene.Button(CommandInstallCodec).rect;
            EXPECT_TRUE(EqualRect(&now, &codecRect)) << "the codec button moved";
            continue;
        }
        // The codec button is gone for good; the action button the install
        // state calls for stands exactly where it stood.
        const int replacement = c.gameInstalled ? CommandPlay : CommandInstall;
        EXPECT_EQ(VisibleButtonIds(scene.window), Sorted({replacement, CommandExit}));
        const ButtonInfo button = scene.Button(replacement), exitButton = scene.Button(CommandExit);
        EXPECT_TRUE(EqualRect(&button.rect, &codecRect)) << "not in the codec button's place";
        EXPECT_TRUE(EqualRect(&exitButton.rect, &exitRect)) << "Exit moved";
        EXPECT_EQ(button.text, Text(c.gameInstalled ? IDS_PLAY_GAME : IDS_INSTALL_GAME));
    }
}

TEST(CodecFlow, AnswersAndOutcomes)
{
    SKIP_UNLESS_CLEAN_MACHINE();
    for (const CodecCase& c : Cases) {
        SCOPED_TRACE(c.name);
        ExpectCodecFlow(c);
    }
}

// A disc whose codec is missing, with its copy and the registration recorder.
struct CodecScene : Scene {
    CodecScene() : Scene(NoCodec)
    {
        disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
        disc.AddFromBuild(Recorder, "RegSvr32.exe");
    }
};

// The process the menu starts for the job does the job alone, whether started
// by a menu or by anyone else: the guard of a running menu does not stop it,
// and it opens no window. Any other command line starts a menu as usual,
// which the guard then ends. The job runs with full rights, and anyone may
// start the signed program so, in a folder of their choosing: it takes the
// disc copy from beside its own file, never from the folder it was started
// in, and has Windows' own registration program register it; nothing of the
// disc is started. Refused the system folder, it asks for full rights no
// more: it registers as any attempt does and ends with the result. An
// unpinned menu's job vouches for nothing: it copies and starts nothing.
TEST(CodecFlow, JobArgument)
{
    SKIP_UNLESS_CLEAN_MACHINE();
    const struct {
        const char* name;
        bool besideAMenu, elsewhere, refused, unpinned;
    } cases[] = {
        {"beside a running menu", true, false, false, false},
        {"started elsewhere", false, true, false, false},
        {"refused the system folder", false, false, true, false},
        {"unpinned menu", false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CodecScene scene;
        if (!c.unpinned) {
            ASSERT_TRUE(CopyFromBuild("autorun-pinned.exe", scene.disc.File("autorun.exe")));
        }
        TempFolder elsewhere;
        ASSERT_TRUE(CopyFromBuild(RefusingCodec, elsewhere.File("MYIR50_32.dll")));
        ASSERT_TRUE(CopyFromBuild(Recorder, elsewhere.File("RegSvr32.exe")));
        if (c.besideAMenu) {
            ASSERT_TRUE(scene.Start());
        }
        for (const char* arguments : {"/InstallCodec now", "/installcodec", "InstallCodec"}) {
            if (!c.besideAMenu) break;
            SCOPED_TRACE(arguments);
            MenuProcess other;
            ASSERT_TRUE(other.Start(scene.disc.Path(), "autorun.exe", arguments));
            DWORD exitCode = 1;
            EXPECT_TRUE(other.WaitForExit(10000, &exitCode));
            EXPECT_EQ(exitCode, 0u) << "not ended by the guard";
            EXPECT_FALSE(FileExists(scene.systemCodec.Path()));
            EXPECT_TRUE(scene.log.Starts().empty());
        }

        MenuProcess job;
        ASSERT_TRUE(job.StartIn(c.elsewhere ? elsewhere.Path() : scene.disc.Path(),
                                scene.disc.File("autorun.exe"),
                                c.besideAMenu ? " /InstallCodec " : "/InstallCodec",
                                c.refused ? BuildFile("rights_hook.dll") : ""))
            << job.Describe();
        bool windowSeen = false;
        WaitUntil([&] {
            windowSeen = windowSeen || !job.TopLevelWindows(false).empty();
            return !job.Running();
        });
        DWORD exitCode = 2;
        ASSERT_TRUE(job.WaitForExit(20000, &exitCode)) << job.Describe();
        const bool copies = !c.refused && !c.unpinned;
        EXPECT_EQ(exitCode, copies ? 1u : 0u) << "the registration's result";
        EXPECT_FALSE(windowSeen);
        ExpectRegistrations(scene, 0, copies ? 1 : 0);
        EXPECT_TRUE(scene.log.ShellCalls().empty()) << "asked for full rights again";
        if (copies)
            EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec)))
                << "not the disc's copy";
        else
            EXPECT_FALSE(FileExists(scene.systemCodec.Path()));
        if (c.besideAMenu) {
            EXPECT_EQ(scene.menu.TopLevelWindows(true).size(), 1u) << "the menu is left alone";
        }
    }
}

// A registration program that Windows starts only with full rights is not
// started with them: the shell starts Windows' own in the system folder in
// its stead, and the menu waits for it and goes on as usual.
TEST(CodecFlow, RegistrationNeedingFullRightsStartsThroughTheShell)
{
    REQUIRE_PROCESS_START_SEAM();
    SKIP_UNLESS_CLEAN_MACHINE();
    ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "RegSvr32.exe");
    ScopedVariable writable("AUTORUN_HOOK_SYSTEM_FOLDER", "writable");
    CodecScene scene;
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(ActAsStandardUser(scene.menu));
    ASSERT_TRUE(scene.Press(CommandInstallCodec));
    ASSERT_TRUE(scene.Answer(IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, YesNo, IDYES));
    ASSERT_TRUE(scene.Answer(IDS_CODEC_INSTALLED, IDS_CODEC_CAPTION, OkOnly, IDOK));
    ExpectStartsWithFullRights(scene.log, MenuSystemFolder() + "\\regsvr32.exe",
                               "/s " + SystemCodecArgument(), MenuSystemFolder());
    ExpectRegistrations(scene, 0, 1);
    ASSERT_TRUE(Settle(scene.window));
    EXPECT_NE(scene.Button(CommandInstall).handle, nullptr);
}

} // namespace
