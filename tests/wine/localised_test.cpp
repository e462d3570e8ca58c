// The menu in the user's language. CTest runs these once per locale (the
// language of a Wine process follows the locale it starts with); the menu
// names no language itself, so the texts show which variant was picked.
// Each text is compared with the one the program file holds under its id,
// loaded as the menu loads it: the variant's texts themselves are checked in
// tests/shipping/test_program_file.py.
#include "languages.h"
#include "machine_state.h"
#include "menu_driver.h"
#include "resource_ids.h"
#include "shell/button_panel.h"
#include "standins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// One case a locale: where two variants share one (Spanish, whose
// traditional sort Wine selects from no locale), the one the locale selects.
std::vector<LanguageVariant> Variants()
{
    std::vector<LanguageVariant> cases;
    for (const LanguageVariant& variant : kLanguageVariants) {
        auto same = std::find_if(cases.begin(), cases.end(), [&](const LanguageVariant& c) {
            return strcmp(c.locale, variant.locale) == 0;
        });
        if (same == cases.end())
            cases.push_back(variant);
        else if (variant.tested)
            *same = variant;
    }
    return cases;
}

// One test per variant. A process gets one user interface language, the
// user's (under Wine: from the locale it starts with), so a run tests that
// variant and reports the others as skipped; under Wine the suite runs once
// per locale. A locale that names a variant but is not honoured fails.
class Menu : public testing::TestWithParam<LanguageVariant> {};

TEST_P(Menu, TitleButtonsAndCodecQuestion)
{
    const LanguageVariant& variant = GetParam();
    const LANGID language = GetUserDefaultUILanguage();
    const char* locale = getenv("LC_ALL");
    if (locale && strncmp(locale, variant.locale, strlen(variant.locale)) == 0) {
        ASSERT_EQ(language, variant.language) << "locale " << locale << " not honoured";
    }
    if (language != variant.language)
        GTEST_SKIP() << "this process's user interface language is 0x" << std::hex << language
                     << ", not this variant's 0x" << variant.language
                     << ": a run tests only the language it was started in (on Windows, the user's own)";
    SKIP_UNLESS_CLEAN_MACHINE();

    DiscFolder disc; // no codec anywhere: the menu offers to install it
    MenuProcess menu;
    ASSERT_TRUE(menu.Start(disc.Path()));
    HWND window = menu.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(window), CatalogueText(IDS_TITLE_INSTALL));

    const std::vector<ButtonInfo> buttons = ListButtons(window);
    const ButtonInfo* exitButton = FindButton(buttons, CommandExit);
    const ButtonInfo* codecButton = FindButton(buttons, CommandInstallCodec);
    ASSERT_NE(exitButton, nullptr);
    ASSERT_NE(codecButton, nullptr);
    EXPECT_EQ(exitButton->text, CatalogueText(IDS_EXIT));
    EXPECT_EQ(codecButton->text, CatalogueText(IDS_INSTALL_CODEC));

    Click(codecButton->handle);
    HWND question = menu.WaitForDialog();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(question), CatalogueText(IDS_CODEC_CAPTION));
    EXPECT_EQ(MessageBoxText(question), CatalogueText(IDS_CODEC_QUESTION));
    PressDialogButton(question, IDNO);
    EXPECT_TRUE(WaitForWindowGone(question));
}

INSTANTIATE_TEST_SUITE_P(Localised, Menu, testing::ValuesIn(Variants()),
                         [](const testing::TestParamInfo<LanguageVariant>& info) {
                             return std::string(info.param.locale);
                         });

} // namespace
