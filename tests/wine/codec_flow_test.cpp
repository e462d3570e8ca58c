// Install codec: the question, the copy into the system folder (never over an
// existing file), the silent registration from the disc folder, the outcome
// as the codec probe sees it afterwards, and Play or Install taking the codec
// button's place once the codec loads.
#include "menu_driver.h"
#include "machine_state.h"
#include "standins.h"

#include <gtest/gtest.h>

namespace {

const char* const PlainKey = "SOFTWARE\\KORU Media\\ZANTORIA\\1.00";
const std::vector<int> YesNo = {IDYES, IDNO};
const std::vector<int> OkOnly = {IDOK};

// A disc without a loadable codec, so that the menu offers to install it.
// `codecFile` goes on the disc as "MYIR50_32.dll"; with `withRegistration`
// the recorder goes there as "RegSvr32.exe", exiting with `registrationExit`.
struct CodecScene {
    SystemCodecFile systemCodec; // goes after the menu's process
    StandInLog log;
    ScopedVariable registrationExit;
    InstallRecords records;
    TempFolder game;
    DiscFolder disc;
    MenuProcess menu;
    HWND window = nullptr;

    CodecScene(const char* codecFile, bool withRegistration, const char* exitCode = "0")
        : registrationExit("STANDIN_EXIT_RegSvr32.exe", exitCode)
    {
        if (codecFile) disc.AddFromBuild(codecFile, "MYIR50_32.dll");
        if (withRegistration) disc.AddFromBuild("recorder.exe", "RegSvr32.exe");
    }
    void InstallGame() const
    {
        EXPECT_TRUE(CopyFromBuild("recorder.exe", game.File("Zantoria.exe")));
        records.SetPath(PlainKey, game.Path());
    }
    bool Start()
    {
        if (menu.Start(disc.Path())) window = menu.WaitForMainWindow();
        if (!window) ADD_FAILURE() << "no main window: " << menu.Describe();
        return window != nullptr;
    }
    // Clicks Install codec, checks the question and answers it.
    bool Answer(int answer, const std::string& what)
    {
        const std::vector<ButtonInfo> codecButtons = VisibleButtons(window);
        const ButtonInfo* codec = FindButton(codecButtons, CodecButton);
        EXPECT_NE(codec, nullptr) << what << ": no codec button";
        if (!codec) return false;
        Click(codec->handle);
        HWND question = menu.WaitForDialog();
        ExpectMessageBox(question, window, 13, 14, YesNo, what + ", codec question");
        if (!question) return false;
        PressDialogButton(question, answer);
        return WaitForWindowGone(question);
    }
    // Checks the result box and closes it.
    void ExpectResult(int textId, const std::string& what)
    {
        HWND result = menu.WaitForDialog();
        ExpectMessageBox(result, window, textId, 14, OkOnly, what + ", result box");
        if (!result) return;
        PressDialogButton(result, IDOK);
        EXPECT_TRUE(WaitForWindowGone(result)) << what;
        EXPECT_TRUE(Settle(window)) << what;
    }
    void ExpectRegistration(const std::string& what) const
    {
        const std::vector<StartRecord> starts = log.Starts();
        ASSERT_EQ(starts.size(), 1u) << what << ": registration runs once";
        EXPECT_EQ(starts[0].program, "RegSvr32.exe") << what;
        EXPECT_EQ(starts[0].commandLine, "RegSvr32.exe /s IR50_32.DLL") << what;
        EXPECT_EQ(Lowercase(starts[0].directory), Lowercase(disc.Path())) << what;
    }
};

RECT CodecButtonRect(HWND window)
{
    const std::vector<ButtonInfo> codecButtons = ListButtons(window);
    const ButtonInfo* codec = FindButton(codecButtons, CodecButton);
    return codec ? codec->rect : RECT{};
}

TEST(CodecFlow, AnsweredNoChangesNothing)
{
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(scene.Answer(IDNO, "No"));
    ASSERT_TRUE(Settle(scene.window));

    EXPECT_EQ(scene.menu.TopLevelWindows(true).size(), 1u) << "no further box";
    const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
    EXPECT_EQ(buttons.size(), 2u);
    EXPECT_NE(FindButton(buttons, CodecButton), nullptr) << "the codec button stays";
    EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << "copied although answered No";
    EXPECT_TRUE(scene.log.Lines().empty()) << "registration ran although answered No";
}

// Once the codec loads, the action button the install state calls for stands
// exactly where the codec button stood, and the codec button is gone for good.
// A standard user, refused the system folder, gets there through one consent
// prompt: the menu's own file, started with full rights in the disc folder,
// makes the copy and runs the registration.
TEST(CodecFlow, InstalledCodecSwapsTheButton)
{
    struct Case {
        const char* name;
        bool gameInstalled;
        bool standardUser;
        int replacement;
        int labelId;
    } cases[] = {
        {"game not installed", false, false, InstallButton, 3},
        {"game installed", true, false, PlayButton, 5},
        {"game not installed, standard user", false, true, InstallButton, 3},
        {"game installed, standard user", true, true, PlayButton, 5},
    };
    for (const Case& c : cases) {
        CodecScene scene("codec_loads.dll", true);
        SKIP_UNLESS_CLEAN_MACHINE();
        if (c.gameInstalled) scene.InstallGame();
        ASSERT_TRUE(scene.Start()) << c.name;
        if (c.standardUser) {
            ASSERT_TRUE(ActAsStandardUser(scene.menu)) << c.name;
        }
        const RECT codecRect = CodecButtonRect(scene.window);
        const std::vector<ButtonInfo> exitBeforeButtons = ListButtons(scene.window);
        const ButtonInfo* exitBefore = FindButton(exitBeforeButtons, ExitButton);
        ASSERT_NE(exitBefore, nullptr) << c.name;
        const RECT exitRect = exitBefore->rect;

        ASSERT_TRUE(scene.Answer(IDYES, c.name));
        scene.ExpectResult(16, c.name);
        scene.ExpectRegistration(c.name);
        EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile("codec_loads.dll")))
            << c.name << ": the disc copy is not in the system folder";
        if (c.standardUser)
            ExpectOneStartWithFullRights(scene.log, scene.disc.File("autorun.exe"), "/InstallCodec",
                                         scene.disc.Path(), c.name);

        const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
        ASSERT_EQ(buttons.size(), 2u) << c.name;
        const ButtonInfo* replacement = FindButton(buttons, c.replacement);
        const ButtonInfo* exitAfter = FindButton(buttons, ExitButton);
        ASSERT_NE(replacement, nullptr) << c.name;
        ASSERT_NE(exitAfter, nullptr) << c.name;
        EXPECT_TRUE(EqualRect(&replacement->rect, &codecRect))
            << c.name << ": not in the codec button's place";
        EXPECT_TRUE(EqualRect(&exitAfter->rect, &exitRect)) << c.name << ": Exit moved";
        EXPECT_EQ(replacement->text, CatalogueText(c.labelId)) << c.name;
        const std::vector<ButtonInfo> codecButtons = ListButtons(scene.window);
        const ButtonInfo* codec = FindButton(codecButtons, CodecButton);
        ASSERT_NE(codec, nullptr) << c.name;
        EXPECT_FALSE(codec->visible) << c.name << ": the codec button stays hidden";
        EXPECT_TRUE(scene.menu.Running()) << c.name;
    }
}

// Declined, the consent prompt leaves everything as it was, and the next
// attempt asks again.
TEST(CodecFlow, DeclinedConsentChangesNothing)
{
    ScopedVariable decline("AUTORUN_HOOK_DECLINE", "1");
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(ActAsStandardUser(scene.menu));
    for (size_t attempt = 1; attempt <= 2; ++attempt) {
        const std::string what = "attempt " + std::to_string(attempt);
        ASSERT_TRUE(scene.Answer(IDYES, what));
        scene.ExpectResult(15, what);
        EXPECT_EQ(scene.log.ShellCalls().size(), attempt) << what << ": the prompt is asked for each time";
        EXPECT_TRUE(scene.log.Starts().empty()) << what << ": registration ran";
        EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << what;
        const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
        EXPECT_EQ(buttons.size(), 2u) << what;
        EXPECT_NE(FindButton(buttons, CodecButton), nullptr) << what << ": the codec button stays";
    }
}

// Where the copy fails for another reason than rights, a standard user gets
// no prompt, and the flow is the one without full rights: the registration
// still runs, and the probe decides.
TEST(CodecFlow, StandardUserIsNotAskedWhenTheCopyCannotBeMade)
{
    struct Case {
        const char* name;
        const char* discCopy;
        const char* systemCopy;
    } cases[] = {
        {"a codec file already in the system folder", "codec_loads.dll", "codec_refuses.dll"},
        {"no disc copy", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        CodecScene scene(c.discCopy, true);
        SKIP_UNLESS_CLEAN_MACHINE();
        if (c.systemCopy) {
            ASSERT_TRUE(CopyFromBuild(c.systemCopy, scene.systemCodec.Path())) << c.name;
            SetFileAttributesA(scene.systemCodec.Path().c_str(), FILE_ATTRIBUTE_READONLY);
        }
        ASSERT_TRUE(scene.Start()) << c.name;
        ASSERT_TRUE(ActAsStandardUser(scene.menu)) << c.name;
        ASSERT_TRUE(scene.Answer(IDYES, c.name));
        scene.ExpectResult(15, c.name);
        EXPECT_TRUE(scene.log.ShellCalls().empty()) << c.name << ": asked for full rights";
        scene.ExpectRegistration(c.name);
        if (c.systemCopy) {
            EXPECT_EQ(ReadFileBytes(scene.systemCodec.Path()), ReadFileBytes(BuildFile(c.systemCopy)))
                << c.name;
            EXPECT_EQ(GetFileAttributesA(scene.systemCodec.Path().c_str()) & FILE_ATTRIBUTE_READONLY,
                      static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))
                << c.name << ": a file the menu did not make was changed";
        } else {
            EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << c.name;
        }
        const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
        EXPECT_NE(FindButton(buttons, CodecButton), nullptr) << c.name;
    }
}

// Every file on a pressed disc is read-only, and a copy keeps the attribute;
// the codec the menu installs must not be, or nothing could later replace or
// remove it. Either way of installing clears it.
TEST(CodecFlow, CopyFromAPressedDiscIsNotReadOnly)
{
    for (bool standardUser : {false, true}) {
        const std::string what = standardUser ? "standard user" : "full rights";
        CodecScene scene("codec_loads.dll", true);
        SKIP_UNLESS_CLEAN_MACHINE();
        ASSERT_TRUE(SetFileAttributesA(scene.disc.File("MYIR50_32.dll").c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(scene.Start()) << what;
        if (standardUser) {
            ASSERT_TRUE(ActAsStandardUser(scene.menu)) << what;
        }
        ASSERT_TRUE(scene.Answer(IDYES, what));
        scene.ExpectResult(16, what);
        const DWORD attributes = GetFileAttributesA(scene.systemCodec.Path().c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << what;
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u) << what;
        EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile("codec_loads.dll"))) << what;
    }
}

// The process the menu starts for the job does the job alone: the menu's
// guard, which the waiting menu holds, does not stop it, and it opens no
// window. Any other command line starts a menu as usual, which the guard
// then ends.
TEST(CodecFlow, JobArgumentInstallsBesideARunningMenu)
{
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    ASSERT_TRUE(scene.Start());

    for (const char* arguments : {"/InstallCodec now", "/installcodec", "InstallCodec"}) {
        MenuProcess other;
        ASSERT_TRUE(other.Start(scene.disc.Path(), "autorun.exe", arguments)) << arguments;
        DWORD exitCode = 1;
        EXPECT_TRUE(other.WaitForExit(10000, &exitCode)) << arguments;
        EXPECT_EQ(exitCode, 0u) << arguments << ": not ended by the guard";
        EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << arguments;
    }
    EXPECT_TRUE(scene.log.Starts().empty());

    MenuProcess job;
    ASSERT_TRUE(job.Start(scene.disc.Path(), "autorun.exe", " /InstallCodec "));
    bool windowSeen = false;
    WaitUntil([&] {
        windowSeen = windowSeen || !job.TopLevelWindows(false).empty();
        return !job.Running();
    });
    DWORD exitCode = 0;
    ASSERT_TRUE(job.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 1u) << "the installer's result";
    EXPECT_FALSE(windowSeen);
    scene.ExpectRegistration("job");
    EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile("codec_loads.dll")));
    EXPECT_EQ(scene.menu.TopLevelWindows(true).size(), 1u) << "the running menu is left alone";
}

// The job runs with full rights, and anyone may start the signed program so,
// in a folder of their choosing: it takes the disc copy and the registration
// program from beside its own file, never from the folder it was started in.
TEST(CodecFlow, JobTakesItsFilesFromBesideItsOwnFile)
{
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    TempFolder elsewhere;
    ASSERT_TRUE(CopyFromBuild("codec_refuses.dll", elsewhere.File("MYIR50_32.dll")));
    ASSERT_TRUE(CopyFromBuild("recorder.exe", elsewhere.File("RegSvr32.exe")));

    MenuProcess job;
    ASSERT_TRUE(job.StartIn(elsewhere.Path(), scene.disc.File("autorun.exe"), "/InstallCodec"))
        << job.Describe();
    DWORD exitCode = 0;
    ASSERT_TRUE(job.WaitForExit(10000, &exitCode)) << job.Describe();
    EXPECT_EQ(exitCode, 1u) << "the installer's result";
    EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile("codec_loads.dll"))) << "not the disc's copy";
    scene.ExpectRegistration("job started elsewhere");
    const std::vector<StartRecord> starts = scene.log.Starts();
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(Lowercase(starts[0].path), Lowercase(scene.disc.File("RegSvr32.exe")));
}

// A job that is refused the system folder asks for full rights no more: no
// second consent prompt, no second job. It registers as any attempt does and
// ends with the result.
TEST(CodecFlow, RefusedJobAsksForNothingMore)
{
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    MenuProcess job;
    ASSERT_TRUE(job.StartIn(scene.disc.Path(), scene.disc.File("autorun.exe"), "/InstallCodec",
                            BuildFile("rights_hook.dll")))
        << job.Describe();
    DWORD exitCode = 0;
    ASSERT_TRUE(job.WaitForExit(10000, &exitCode)) << job.Describe();
    EXPECT_TRUE(scene.log.ShellCalls().empty()) << "asked for full rights again";
    scene.ExpectRegistration("refused job");
    EXPECT_EQ(exitCode, 1u) << "the registration's result";
    EXPECT_FALSE(FileExists(scene.systemCodec.Path()));
}

// A registration program that Windows starts only with full rights starts
// through the shell; the menu waits for it and goes on as usual.
TEST(CodecFlow, RegistrationNeedingFullRightsStartsThroughTheShell)
{
    ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "RegSvr32.exe");
    ScopedVariable writable("AUTORUN_HOOK_SYSTEM_FOLDER", "writable");
    CodecScene scene("codec_loads.dll", true);
    SKIP_UNLESS_CLEAN_MACHINE();
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(ActAsStandardUser(scene.menu));
    ASSERT_TRUE(scene.Answer(IDYES, "elevated"));
    scene.ExpectResult(16, "elevated");
    ExpectOneStartWithFullRights(scene.log, ".\\RegSvr32.exe", "/s IR50_32.DLL", scene.disc.Path(),
                                 "elevated");

    const std::vector<StartRecord> starts = scene.log.Starts();
    ASSERT_EQ(starts.size(), 1u) << "registration runs once";
    EXPECT_EQ(starts[0].program, "RegSvr32.exe");
    ExpectStartedThroughTheShell(starts[0], "/s IR50_32.DLL");
    EXPECT_EQ(Lowercase(starts[0].directory), Lowercase(scene.disc.Path()));
    const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
    EXPECT_NE(FindButton(buttons, InstallButton), nullptr);
}

// The outcome the user is told is the codec probe's after the install, not
// the installer's own result.
TEST(CodecFlow, OutcomeFollowsTheProbeAfterTheInstall)
{
    struct Case {
        const char* name;
        const char* discCopy;   // put on the disc as "MYIR50_32.dll"
        const char* systemCopy; // already in the system folder as "IR50_32.DLL"
        bool withRegistration;
        const char* registrationExit;
        int expectedText;
        const char* expectedInSystemFolder; // stand-in whose bytes end up there, or none
    } cases[] = {
        {"codec that refuses to load", "codec_refuses.dll", nullptr, true, "0", 15, "codec_refuses.dll"},
        {"unloadable codec already present is not overwritten", "codec_loads.dll", "codec_refuses.dll", true,
         "0", 15, "codec_refuses.dll"},
        {"registration fails but the codec loads", "codec_loads.dll", nullptr, true, "5", 16,
         "codec_loads.dll"},
        {"no registration program: copied all the same", "codec_loads.dll", nullptr, false, "0", 16,
         "codec_loads.dll"},
        {"no disc copy: nothing copied, registration still runs", nullptr, nullptr, true, "0", 15, nullptr},
    };
    for (const Case& c : cases) {
        CodecScene scene(c.discCopy, c.withRegistration, c.registrationExit);
        SKIP_UNLESS_CLEAN_MACHINE();
        if (c.systemCopy) {
            ASSERT_TRUE(CopyFromBuild(c.systemCopy, scene.systemCodec.Path())) << c.name;
        }
        ASSERT_TRUE(scene.Start()) << c.name;
        const RECT codecRect = CodecButtonRect(scene.window);

        ASSERT_TRUE(scene.Answer(IDYES, c.name));
        scene.ExpectResult(c.expectedText, c.name);
        if (c.withRegistration)
            scene.ExpectRegistration(c.name);
        else
            EXPECT_TRUE(scene.log.Lines().empty()) << c.name;
        if (c.expectedInSystemFolder)
            EXPECT_EQ(ReadFileBytes(scene.systemCodec.Path()),
                      ReadFileBytes(BuildFile(c.expectedInSystemFolder)))
                << c.name;
        else
            EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << c.name;

        const std::vector<ButtonInfo> buttons = VisibleButtons(scene.window);
        ASSERT_EQ(buttons.size(), 2u) << c.name;
        if (c.expectedText == 15) {
            const ButtonInfo* codec = FindButton(buttons, CodecButton);
            ASSERT_NE(codec, nullptr) << c.name << ": the codec button stays";
            EXPECT_TRUE(EqualRect(&codec->rect, &codecRect)) << c.name;
            // The user may try again: the question comes back.
            ASSERT_TRUE(scene.Answer(IDNO, std::string(c.name) + ", second try")) << c.name;
        } else {
            EXPECT_NE(FindButton(buttons, InstallButton), nullptr) << c.name;
        }
    }
}

} // namespace
