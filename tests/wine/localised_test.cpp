// The menu in the user's language. CTest runs these once per locale (the
// language of a Wine process follows the locale it starts with); the menu
// names no language itself, so the texts show which variant was picked.
// Each text is compared with the one the program file holds under its id,
// loaded as the menu loads it: the variant's texts themselves are checked in
// tests/shipping/test_program_file.py.
#include "languages.h"
#include "harness/program_under_test.h"
#include "scene.h"

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

    Scene scene(NoCodec); // the menu offers to install the codec
    ASSERT_TRUE(scene.Start());
    EXPECT_EQ(WindowText(scene.window), Text(IDS_TITLE_INSTALL));
    EXPECT_EQ(scene.Button(CommandExit).text, Text(IDS_EXIT));
    EXPECT_EQ(scene.Button(CommandInstallCodec).text, Text(IDS_INSTALL_CODEC));
    ASSERT_TRUE(scene.Press(CommandInstallCodec));
    scene.Answer(IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, YesNo, IDNO);
}

INSTANTIATE_TEST_SUITE_P(Localised, Menu, testing::ValuesIn(Variants()),
                         [](const testing::TestParamInfo<LanguageVariant>& info) {
                             return std::string(info.param.locale);
                         });

} // namespace
