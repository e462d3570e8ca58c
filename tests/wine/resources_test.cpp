// What Windows makes of the resources in autorun.exe, in every language
// variant (the table built from facts/languages.txt): each variant's texts in
// its ANSI code page, as LoadStringA and the dialog manager hand them over;
// the restart notice as Windows builds it; the icon as the shell loads it.
// What the file holds, byte for byte, tests/shipping/test_program_file.py
// checks without running anything.
#include "languages.h"
#include "harness/program_under_test.h"
#include "harness/windows_found.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

UINT AnsiCodePage(LANGID language)
{
    char digits[8] = "";
    GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits);
    return static_cast<UINT>(atoi(digits));
}

// Whether the text converts to the code page and back unchanged.
bool FitsCodePage(const std::wstring& text, UINT codePage)
{
    BOOL lossy = FALSE;
    char converted[1024];
    const int length =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                            converted, sizeof converted, nullptr, &lossy);
    return length == static_cast<int>(text.size()) && !lossy;
}

BOOL CALLBACK AddName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    reinterpret_cast<std::vector<WORD>*>(names)->push_back(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// Every text of one variant's string tables, as stored.
std::vector<std::wstring> StringsOf(LANGID language)
{
    std::vector<WORD> blocks;
    EnumResourceNamesA(ProgramFile(), MAKEINTRESOURCEA(6), AddName, reinterpret_cast<LONG_PTR>(&blocks));
    std::vector<std::wstring> texts;
    for (WORD block : blocks) {
        HRSRC found = FindResourceExA(ProgramFile(), MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(block), language);
        if (!found) continue;
        const WCHAR* at = static_cast<const WCHAR*>(LockResource(LoadResource(ProgramFile(), found)));
        for (int i = 0; i < 16; at += 1 + *at, ++i)
            if (*at) texts.emplace_back(at + 1, *at);
    }
    return texts;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = L"";
    return std::wstring(text, GetWindowTextW(window, text, 1024));
}

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// Each variant as Windows takes it: its texts in the ANSI code page Windows
// gives the variant, and the restart notice as the dialog manager builds it
// from the variant's template: no close box (only OK ends it), OK the
// default button, every control inside, the text within its control in the
// dialog's font.
TEST(Resources, EachVariantAsWindowsTakesIt)
{
    ASSERT_NE(ProgramFile(), nullptr) << "cannot load autorun.exe from " << BuildFolder();
    for (const LanguageVariant& variant : kLanguageVariants) {
        SCOPED_TRACE(variant.locale);
        const UINT codePage = AnsiCodePage(variant.language);
        ASSERT_NE(codePage, 0u) << "Windows knows no ANSI code page for the variant";
        const std::vector<std::wstring> texts = StringsOf(variant.language);
        EXPECT_FALSE(texts.empty());
        for (size_t i = 0; i < texts.size(); ++i)
            EXPECT_TRUE(FitsCodePage(texts[i], codePage)) << "text " << i << " of the string table";

        HRSRC found = FindResourceExA(ProgramFile(), MAKEINTRESOURCEA(5),
                                      MAKEINTRESOURCEA(IDD_RESTART_NOTICE), variant.language);
        ASSERT_NE(found, nullptr);
        const auto* dialogTemplate =
            static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(ProgramFile(), found)));
        HWND notice =
            CreateDialogIndirectParamW(GetModuleHandleA(nullptr), dialogTemplate, nullptr, Inert, 0);
        ASSERT_NE(notice, nullptr);
        EXPECT_FALSE(GetWindowLongA(notice, GWL_STYLE) & WS_SYSMENU) << "a close box";
        EXPECT_EQ(LOWORD(SendMessageA(notice, DM_GETDEFID, 0, 0)), IDOK);
        EXPECT_EQ(ClassName(GetDlgItem(notice, IDOK)), "Button");
        EXPECT_TRUE(FitsCodePage(TextOf(notice), codePage)) << "caption";
        RECT client;
        GetClientRect(notice, &client);
        int statics = 0;
        for (HWND control = GetWindow(notice, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
            const std::wstring text = TextOf(control);
            EXPECT_TRUE(FitsCodePage(text, codePage)) << "control " << GetDlgCtrlID(control);
            RECT place;
            GetWindowRect(control, &place);
            MapWindowPoints(nullptr, notice, reinterpret_cast<POINT*>(&place), 2);
            EXPECT_TRUE(place.left >= 0 && place.top >= 0 && place.right <= client.right &&
                        place.bottom <= client.bottom)
                << "control " << GetDlgCtrlID(control) << " outside the notice";
            if (ClassName(control) != "Static") continue;
            ++statics;
            HDC context = GetDC(control);
            HGDIOBJ font =
                SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
            RECT needed = {0, 0, place.right - place.left, 0};
            DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &needed,
                      DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
            SelectObject(context, font);
            ReleaseDC(control, context);
            EXPECT_LE(needed.bottom, place.bottom - place.top) << "the notice's text is cut off";
        }
        EXPECT_EQ(statics, 1);
        DestroyWindow(notice);
    }
}

TEST(Resources, TheShellTakesTheIcon)
{
    HICON icon = static_cast<HICON>(LoadImageA(ProgramFile(), MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                               IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour = {};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

} // namespace
