// Start-up guards: the menu never runs beside the running game or a second
// menu, ends silently with exit code 0 when it must not run, and treats an
// abandoned mutex as free.
#include "scene.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// A handle closed when it goes.
using Handle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;

DWORD WINAPI TakeAndAbandon(LPVOID name)
{
    // The thread ends owning the mutex: the mutex is then abandoned.
    CreateMutexA(nullptr, TRUE, static_cast<const char*>(name));
    return 0;
}

// Leaves the named mutex abandoned while this process keeps it alive.
HANDLE AbandonMutex(const char* name)
{
    HANDLE keepAlive = CreateMutexA(nullptr, FALSE, name);
    HANDLE thread = CreateThread(nullptr, 0, TakeAndAbandon, const_cast<char*>(name), 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return keepAlive;
}

TEST(StartupGuards, RunningGameEndsTheMenuSilently)
{
    DiscFolder disc;
    // Held by a thread of this test, as by the running game.
    const Handle game(CreateMutexA(nullptr, TRUE, "ZantoriaGameMutex"), CloseHandle);
    ASSERT_NE(game, nullptr);
    // Watch the menu's own mutex: a menu that took it and ended would leave it abandoned.
    HANDLE menuMutex = CreateMutexA(nullptr, FALSE, "ZantoriaAutorunMutex");

    MenuProcess menu;
    ASSERT_TRUE(menu.Start(disc.Path()));
    DWORD exitCode = 1;
    ASSERT_TRUE(menu.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(menu.TopLevelWindows(false).empty());
    EXPECT_EQ(WaitForSingleObject(menuMutex, 0), WAIT_OBJECT_0) << "the menu mutex was taken";
    ReleaseMutex(menuMutex);
    CloseHandle(menuMutex);
}

TEST(StartupGuards, SecondMenuEndsAndLeavesTheFirstAlone)
{
    Scene first;
    ASSERT_TRUE(first.Start());
    const HWND window = first.window;
    RECT before;
    GetWindowRect(window, &before);
    const std::string titleBefore = WindowText(window);
    const LONG styleBefore = GetWindowLongA(window, GWL_STYLE);

    MenuProcess second;
    ASSERT_TRUE(second.Start(first.disc.Path()));
    DWORD exitCode = 1;
    ASSERT_TRUE(second.WaitForExit(10000, &exitCode));
    EXPECT_EQ(exitCode, 0u);

    ASSERT_TRUE(first.menu.Running());
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(WindowText(window), titleBefore);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE), styleBefore);
    EXPECT_EQ(first.menu.TopLevelWindows(true).size(), 1u) << "the first menu opened another window";
}

TEST(StartupGuards, AbandonedMutexesCountAsFree)
{
    for (const char* name : {"ZantoriaGameMutex", "ZantoriaAutorunMutex"}) {
        SCOPED_TRACE(name);
        HANDLE keepAlive = AbandonMutex(name);
        Scene scene;
        EXPECT_TRUE(scene.Start());
        CloseHandle(keepAlive);
    }
}

} // namespace
