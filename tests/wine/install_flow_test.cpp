// Install: the DirectX question, the update through the DirectX setup library
// and its three outcomes (updated, updated with restart, failed), then the
// disc's setup program in the menu's place.
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// A disc whose codec loads, with the DirectX stand-in answering `result` and
// the recorder as setup, so that the menu offers Install.
struct InstallScene : Scene {
    ScopedVariable directXResult;

    explicit InstallScene(const char* result = "0", const char* dsetup = "dsetup_standin.dll",
                          bool withSetup = true)
        : directXResult("STANDIN_DSETUP_RESULT", result)
    {
        if (dsetup) disc.AddFromBuild(dsetup, "DSETUP.dll");
        if (withSetup) disc.AddFromBuild(Recorder, "setup.exe");
    }
    // Clicks Install and answers the DirectX question.
    bool Install(int answer)
    {
        return Press(CommandInstall) &&
               Answer(IDS_DIRECTX_QUESTION, IDS_DIRECTX_CAPTION, YesNoCancel, answer);
    }
    std::vector<std::string> ExpectedDirectXCall() const
    {
        char owner[32];
        snprintf(owner, sizeof owner, "0x%08lX",
                 static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window) & 0xFFFFFFFF));
        return {std::string("owner=") + owner + "|root=(null)|flags=0x00010018"};
    }
    void ExpectSetupStarted()
    {
        EXPECT_EQ(ExpectReplacedBy("setup.exe", disc.Path()).commandLine, "setup.exe");
    }
};

TEST(InstallFlow, AnswersToTheDirectXQuestion)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
        const char* name;
        int answer;
        bool updated; // DirectX runs, and before setup
    } cases[] = {{"Cancel", IDCANCEL, false}, {"No", IDNO, false}, {"Yes, updated", IDYES, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstallScene scene;
        ASSERT_TRUE(scene.Start());
        ASSERT_TRUE(scene.Install(c.answer));
        if (c.answer == IDCANCEL)
            scene.ExpectAtRest({CommandInstall, CommandExit});
        else
            scene.ExpectSetupStarted();
        EXPECT_EQ(scene.log.DirectXCalls(),
                  c.updated ? scene.ExpectedDirectXCall() : std::vector<std::string>{});
        if (c.updated) {
            EXPECT_EQ(scene.log.Lines().at(0).rfind("DirectXSetupA|", 0), 0u) << "setup ran first";
        }
    }
}

TEST(InstallFlow, FailedUpdateShowsTheFailureBoxAndNoSetup)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstallScene scene(c.result, c.dsetup);
        ASSERT_TRUE(scene.Start());
        for (size_t attempt = 1; attempt <= 2; ++attempt) {
            SCOPED_TRACE(attempt);
            ASSERT_TRUE(scene.Install(IDYES));
            ASSERT_TRUE(scene.Answer(IDS_DIRECTX_FAILED, IDS_INSTALL_FAILURE_CAPTION, OkOnly, IDOK));
            scene.ExpectAtRest({CommandInstall, CommandExit});
            EXPECT_EQ(scene.log.DirectXCalls().size(), c.called ? attempt : 0u);
        }
    }
}

// Setup is looked for in the disc folder only; when it cannot be started the
// menu stays as it was, without a message.
TEST(InstallFlow, SetupThatCannotBeStartedLeavesTheMenuOpen)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
        const char* name;
        void (*arrange)(const std::string& onDisc, const std::string& onSearchPath); // "setup.exe" there
    } cases[] = {
        {"no setup.exe anywhere", [](const std::string&, const std::string&) {}},
        {"setup.exe only on the search path",
         [](const std::string&, const std::string& onSearchPath) { CopyFromBuild(Recorder, onSearchPath); }},
        {"setup.exe is a folder",
         [](const std::string& onDisc, const std::string&) { CreateDirectoryA(onDisc.c_str(), nullptr); }},
        {"setup.exe is no program",
         [](const std::string& onDisc, const std::string&) { WriteFileBytes(onDisc, "MZ"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SearchPathFolder elsewhere;
        InstallScene scene("0", "dsetup_standin.dll", false);
        c.arrange(scene.disc.File("setup.exe"), elsewhere.File("setup.exe"));
        ASSERT_TRUE(scene.Start());
        for (int answer : {IDNO, IDYES}) {
            SCOPED_TRACE(answer == IDNO ? "No" : "Yes");
            ASSERT_TRUE(scene.Install(answer));
            scene.ExpectAtRest({CommandInstall, CommandExit});
        }
    }
}

// Windows refuses a plain start of a setup program that needs full rights;
// setup then starts through the shell, which asks for consent, and the menu
// ends as usual. When the shell cannot start it either, the menu stays as it
// was, without a message.
TEST(InstallFlow, SetupNeedingFullRightsStartsThroughTheShell)
{
    REQUIRE_PROCESS_START_SEAM();
    SKIP_IF_INSTALL_RECORD();
    for (const bool startable : {true, false}) {
        SCOPED_TRACE(startable ? "setup.exe starts" : "setup.exe is no program");
        ScopedVariable refuse("AUTORUN_SEAM_ELEVATION_REQUIRED", "setup.exe");
        InstallScene scene("0", "dsetup_standin.dll", startable);
        if (!startable) WriteFileBytes(scene.disc.File("setup.exe"), "MZ");
        ASSERT_TRUE(scene.Start());
        ASSERT_TRUE(ActAsStandardUser(scene.menu));
        ASSERT_TRUE(scene.Install(IDNO));
        if (startable)
            ExpectStartedThroughTheShell(scene.ExpectReplacedBy("setup.exe", scene.disc.Path()), "");
        else
            scene.ExpectAtRest({CommandInstall, CommandExit});
        ExpectStartsWithFullRights(scene.log, ".\\setup.exe", "", scene.disc.Path());
    }
}

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The restart notice in the user's language: CTest runs this once per locale,
// and the platform picks the dialog's variant as it picks the texts'. Only OK
// (or Enter, which presses it) closes it, and setup follows.
TEST(LocalisedRestartNotice, ClosesOnlyWithOkThenSetupStarts)
{
    SKIP_IF_INSTALL_RECORD();
    const LANGID language = GetUserDefaultUILanguage();
    HMODULE program = ProgramFile();
    HRSRC variant = FindResourceExA(program, RT_DIALOG, MAKEINTRESOURCEA(IDD_RESTART_NOTICE), language);
    if (!variant && !FindResourceExA(program, RT_STRING, MAKEINTRESOURCEA(1), language))
        GTEST_SKIP() << "the menu has no variant of the user's language 0x" << std::hex << language;
    ASSERT_NE(variant, nullptr) << "the menu's variant 0x" << std::hex << language
                                << " has no restart notice";
    // The notice as that variant holds it, not one Windows would fall back
    // to, made here unseen.
    HWND expected = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(program, variant))),
        nullptr, Inert, 0);
    ASSERT_NE(expected, nullptr);

    InstallScene scene("1");
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(scene.Install(IDYES));
    HWND notice = scene.menu.WaitForDialog();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(GetWindow(notice, GW_OWNER), scene.window);
    for (int control : {0, IDOK, 0xFFFF}) {
        SCOPED_TRACE(control);
        EXPECT_EQ(WindowText(control ? GetDlgItem(notice, control) : notice),
                  WindowText(control ? GetDlgItem(expected, control) : expected));
    }
    EXPECT_FALSE(WindowText(GetDlgItem(expected, 0xFFFF)).empty());
    DestroyWindow(expected);
    EXPECT_EQ(GetWindowLongA(notice, GWL_STYLE) & WS_SYSMENU, 0) << "the notice has no close box";
    EXPECT_EQ(scene.log.DirectXCalls(), scene.ExpectedDirectXCall());

    // Escape reaches the dialog as IDCANCEL, and so does a posted IDCANCEL.
    PostMessageA(notice, WM_KEYDOWN, VK_ESCAPE, 0);
    PressDialogButton(notice, IDCANCEL);
    EXPECT_TRUE(PostedMessagesTaken(GetDlgItem(notice, IDOK)) && IsWindowVisible(notice))
        << "the notice closed without OK";
    EXPECT_TRUE(scene.log.Starts().empty()) << "setup started before OK";

    PostMessageA(GetDlgItem(notice, IDOK), WM_KEYDOWN, VK_RETURN, 0);
    scene.ExpectSetupStarted();
}

} // namespace
