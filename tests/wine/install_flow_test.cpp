// Install: the DirectX question, the update through the DirectX setup library
// and its three outcomes (updated, updated with restart, failed), then the
// disc's setup program in the menu's place.
#include "machine_state.h"
#include "menu_driver.h"
#include "standins.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace {

const std::vector<int> YesNoCancel = {IDYES, IDNO, IDCANCEL};
const std::vector<int> OkOnly = {IDOK};

// A disc whose codec loads, with the DirectX stand-in and setup, so that the
// menu offers Install; the DirectX result the stand-in answers with.
struct InstallScene {
    StandInLog log;
    ScopedVariable directXResult;
    DiscFolder disc;
    MenuProcess menu;
    HWND window = nullptr;

    explicit InstallScene(const char* result = "0", const char* dsetup = "dsetup_standin.dll",
                          bool withSetup = true)
        : directXResult("STANDIN_DSETUP_RESULT", result)
    {
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
        if (dsetup) disc.AddFromBuild(dsetup, "DSETUP.dll");
        if (withSetup) disc.AddFromBuild("recorder.exe", "setup.exe");
    }
    bool Start()
    {
        if (menu.Start(disc.Path())) window = menu.WaitForMainWindow();
        if (!window) ADD_FAILURE() << "no main window: " << menu.Describe();
        return window != nullptr;
    }
    // Clicks Install and returns the DirectX question, checked.
    HWND AskInstall(const std::string& what)
    {
        const std::vector<ButtonInfo> installButtons = VisibleButtons(window);
        const ButtonInfo* install = FindButton(installButtons, InstallButton);
        EXPECT_NE(install, nullptr) << what;
        if (!install) return nullptr;
        Click(install->handle);
        HWND question = menu.WaitForDialog();
        ExpectMessageBox(question, window, 11, 10, YesNoCancel, what + ", DirectX question");
        return question;
    }
    // Starts the menu, answers Yes to the DirectX question (whose stand-in
    // asks for a restart) and returns the restart notice, or null.
    HWND OpenRestartNotice(const std::string& what)
    {
        if (!Start()) return nullptr;
        HWND question = AskInstall(what);
        if (!question) return nullptr;
        PressDialogButton(question, IDYES);
        if (!WaitForWindowGone(question)) return nullptr;
        return menu.WaitForDialog();
    }
    std::string ExpectedDirectXCall() const
    {
        char owner[32];
        snprintf(owner, sizeof owner, "0x%08lX",
                 static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window) & 0xFFFFFFFF));
        return std::string("owner=") + owner + "|root=(null)|flags=0x00010018";
    }
    // The menu has ended with 0 and setup has started from the disc folder.
    void ExpectSetupStarted(const std::string& what)
    {
        EXPECT_EQ(ExpectReplacedBy(menu, log, "setup.exe", disc.Path(), what).commandLine, "setup.exe")
            << what;
    }
    // The menu is back at rest with its buttons, nothing else shown or started.
    void ExpectMenuUnchanged(const std::string& what)
    {
        ASSERT_TRUE(Settle(window)) << what;
        EXPECT_TRUE(menu.Running()) << what;
        EXPECT_EQ(menu.TopLevelWindows(true).size(), 1u) << what << ": a window besides the menu";
        const std::vector<ButtonInfo> buttons = VisibleButtons(window);
        EXPECT_EQ(buttons.size(), 2u) << what;
        EXPECT_NE(FindButton(buttons, InstallButton), nullptr) << what << ": Install stays";
        Sleep(300); // a started program would have written by now
        EXPECT_TRUE(log.Starts().empty()) << what << ": something started";
    }
};

TEST(InstallFlow, AnswersToTheDirectXQuestion)
{
    SKIP_IF_INSTALL_RECORD();
    {
        InstallScene scene;
        ASSERT_TRUE(scene.Start());
        HWND question = scene.AskInstall("Cancel");
        ASSERT_NE(question, nullptr);
        PressDialogButton(question, IDCANCEL);
        ASSERT_TRUE(WaitForWindowGone(question));
        scene.ExpectMenuUnchanged("Cancel");
        EXPECT_TRUE(scene.log.DirectXCalls().empty()) << "Cancel: DirectX called";
    }
    {
        InstallScene scene;
        ASSERT_TRUE(scene.Start());
        HWND question = scene.AskInstall("No");
        ASSERT_NE(question, nullptr);
        PressDialogButton(question, IDNO);
        scene.ExpectSetupStarted("No");
        EXPECT_TRUE(scene.log.DirectXCalls().empty()) << "No: DirectX called";
    }
    {
        InstallScene scene("0");
        ASSERT_TRUE(scene.Start());
        HWND question = scene.AskInstall("Yes, updated");
        ASSERT_NE(question, nullptr);
        PressDialogButton(question, IDYES);
        scene.ExpectSetupStarted("Yes, updated");
        EXPECT_EQ(scene.log.DirectXCalls(), std::vector<std::string>{scene.ExpectedDirectXCall()});
        EXPECT_EQ(scene.log.Lines().front().rfind("DirectXSetupA|", 0), 0u) << "DirectX runs before setup";
    }
}

TEST(InstallFlow, RestartNoticeClosesOnlyWithOkThenSetupStarts)
{
    SKIP_IF_INSTALL_RECORD();
    InstallScene scene("1");
    HWND notice = scene.OpenRestartNotice("restart");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(WindowText(notice), "Restart Windows.");
    EXPECT_EQ(GetWindow(notice, GW_OWNER), scene.window);
    EXPECT_EQ(scene.log.DirectXCalls(), std::vector<std::string>{scene.ExpectedDirectXCall()});

    // Escape reaches the dialog as IDCANCEL, and so does a posted IDCANCEL.
    PostMessageA(notice, WM_KEYDOWN, VK_ESCAPE, 0);
    PressDialogButton(notice, IDCANCEL);
    ASSERT_TRUE(Settle(notice));
    Sleep(300);
    EXPECT_TRUE(IsWindowVisible(notice)) << "the notice closed without OK";
    EXPECT_TRUE(scene.menu.Running());
    EXPECT_TRUE(scene.log.Starts().empty()) << "setup started before OK";

    PressDialogButton(notice, IDOK);
    scene.ExpectSetupStarted("after OK");
}

TEST(InstallFlow, FailedUpdateShowsTheFailureBoxAndNoSetup)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        const char* result;
        const char* dsetup; // file put on the disc as "DSETUP.dll", or none
        bool called;        // whether DirectXSetupA is reached
    } cases[] = {
        {"result -1", "-1", "dsetup_standin.dll", true},
        {"result 2", "2", "dsetup_standin.dll", true},
        {"result 0x80000000", "0x80000000", "dsetup_standin.dll", true},
        {"no DSETUP.dll on the disc", "0", nullptr, false},
        {"DSETUP.dll without ordinal 5", "0", "dsetup_wrong_ordinal.dll", false},
    };
    for (const Case& c : cases) {
        InstallScene scene(c.result, c.dsetup);
        ASSERT_TRUE(scene.Start()) << c.name;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            const std::string what = std::string(c.name) + ", attempt " + std::to_string(attempt);
            HWND question = scene.AskInstall(what);
            ASSERT_NE(question, nullptr) << what;
            PressDialogButton(question, IDYES);
            ASSERT_TRUE(WaitForWindowGone(question)) << what;
            HWND failure = scene.menu.WaitForDialog();
            ExpectMessageBox(failure, scene.window, 2, 12, OkOnly, what + ", failure box");
            PressDialogButton(failure, IDOK);
            ASSERT_TRUE(WaitForWindowGone(failure)) << what;
            scene.ExpectMenuUnchanged(what);
            EXPECT_EQ(scene.log.DirectXCalls().size(), c.called ? size_t(attempt) : 0u) << what;
        }
    }
}

// Setup is looked for in the disc folder only; when it cannot be started the
// menu stays as it was, without a message.
TEST(InstallFlow, SetupThatCannotBeStartedLeavesTheMenuOpen)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        void (*arrange)(const InstallScene&, const TempFolder& elsewhere);
    } cases[] = {
        {"no setup.exe anywhere", [](const InstallScene&, const TempFolder&) {}},
        {"setup.exe only on the search path",
         [](const InstallScene&, const TempFolder& elsewhere) {
             CopyFromBuild("recorder.exe", elsewhere.File("setup.exe"));
         }},
        {"setup.exe is a folder",
         [](const InstallScene& s, const TempFolder&) {
             CreateDirectoryA(s.disc.File("setup.exe").c_str(), nullptr);
         }},
        {"setup.exe is no program",
         [](const InstallScene& s, const TempFolder&) { WriteFileBytes(s.disc.File("setup.exe"), "MZ"); }},
    };
    for (const Case& c : cases) {
        TempFolder elsewhere;
        char current[32768] = "";
        GetEnvironmentVariableA("PATH", current, sizeof current);
        ScopedVariable searchPath("PATH", (elsewhere.Path() + ";" + current).c_str());

        InstallScene scene("0", "dsetup_standin.dll", false);
        c.arrange(scene, elsewhere);
        ASSERT_TRUE(scene.Start()) << c.name;
        for (int answer : {IDNO, IDYES}) {
            const std::string what = std::string(c.name) + (answer == IDNO ? ", No" : ", Yes");
            HWND question = scene.AskInstall(what);
            ASSERT_NE(question, nullptr) << what;
            PressDialogButton(question, answer);
            ASSERT_TRUE(WaitForWindowGone(question)) << what;
            scene.ExpectMenuUnchanged(what);
        }
    }
}

// Windows refuses a plain start of a setup program that needs full rights;
// setup then starts through the shell, which asks for consent, and the menu
// ends as usual. When the shell cannot start it either, the menu stays.
TEST(InstallFlow, SetupNeedingFullRightsStartsThroughTheShell)
{
    SKIP_IF_INSTALL_RECORD();
    ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "setup.exe");
    {
        InstallScene scene;
        ASSERT_TRUE(scene.Start());
        ASSERT_TRUE(ActAsStandardUser(scene.menu));
        HWND question = scene.AskInstall("elevated");
        ASSERT_NE(question, nullptr);
        PressDialogButton(question, IDNO);
        ExpectStartedThroughTheShell(
            ExpectReplacedBy(scene.menu, scene.log, "setup.exe", scene.disc.Path(), "elevated"), "");
        ExpectOneStartWithFullRights(scene.log, ".\\setup.exe", "", scene.disc.Path(), "elevated");
    }
    {
        InstallScene scene("0", "dsetup_standin.dll", false);
        WriteFileBytes(scene.disc.File("setup.exe"), "MZ");
        ASSERT_TRUE(scene.Start());
        HWND question = scene.AskInstall("the shell cannot start it");
        ASSERT_NE(question, nullptr);
        PressDialogButton(question, IDNO);
        ASSERT_TRUE(WaitForWindowGone(question));
        scene.ExpectMenuUnchanged("the shell cannot start it");
    }
}

} // namespace

namespace {

// The restart notice in the user's language: CTest runs this once per locale,
// and the platform picks the dialog's variant as it picks the texts'.
TEST(LocalisedRestartNotice, CaptionAndButtonInTheUserLanguage)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
        WORD primary;
        const char* caption;
        const char* button;
    } notices[] = {
        {LANG_DANISH, "Genstart Windows.", "OK"},          {LANG_GERMAN, "Windows-Neustart", "OK"},
        {LANG_ENGLISH, "Restart Windows.", "OK"},          {LANG_SPANISH, "Reiniciar Windows", "Aceptar"},
        {LANG_FRENCH, "Red\xE9marrez Windows.", "OK"},     {LANG_ITALIAN, "Riavvia Windows.", "OK"},
        {LANG_DUTCH, "Windows opnieuw opstarten. ", "OK"}, {LANG_NORWEGIAN, "Start Windows p\xE5 nytt", "OK"},
        {LANG_SWEDISH, "Starta om Windows.", "OK"},
    };
    const WORD primary = PRIMARYLANGID(GetUserDefaultUILanguage());
    const auto* expected = std::find_if(std::begin(notices), std::end(notices),
                                        [&](const auto& notice) { return notice.primary == primary; });
    ASSERT_NE(expected, std::end(notices)) << "no notice for language " << primary;

    InstallScene scene("1");
    HWND notice = scene.OpenRestartNotice("localised restart");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(WindowText(notice), expected->caption);
    EXPECT_EQ(WindowText(GetDlgItem(notice, IDOK)), expected->button);
    EXPECT_FALSE(WindowText(GetDlgItem(notice, 0xFFFF)).empty());
    EXPECT_EQ(GetWindowLongA(notice, GWL_STYLE) & WS_SYSMENU, 0) << "the notice has no close box";

    // Enter presses the default button, OK.
    PostMessageA(GetDlgItem(notice, IDOK), WM_KEYDOWN, VK_RETURN, 0);
    scene.ExpectSetupStarted("after Enter");
}

} // namespace
