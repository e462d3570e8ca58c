// The menu in the user's language. CTest runs these once per locale (the
// language of a Wine process follows the locale it starts with); the menu
// names no language itself, so the texts show which variant was picked.
// Expected texts are in the ANSI code page of all these languages, 1252.
#include "machine_state.h"
#include "menu_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

namespace {

struct LocaleCase {
    const char* locale; // prefix of LC_ALL
    LANGID language;
};

void PrintTo(const LocaleCase& c, std::ostream* out)
{
    *out << c.locale;
}

const LocaleCase Locales[] = {
    {"da_DK", 0x0406}, {"de_DE", 0x0407}, {"en_US", 0x0409}, {"es_ES", 0x0C0A},
    {"fr_FR", 0x040C}, {"it_IT", 0x0410}, {"nl_NL", 0x0413}, {"nb_NO", 0x0414},
    {"sv_SE", 0x041D}, {"de_CH", 0x0807}, {"en_GB", 0x0809}, {"es_MX", 0x080A},
    {"fr_BE", 0x080C}, {"de_AT", 0x0C07}, {"fr_CA", 0x0C0C}, {"en_IE", 0x1809},
};

struct Texts {
    WORD primary;
    const char* installTitle;  // 7
    const char* codecLabel;    // 4
    const char* exitLabel;     // 6
    const char* codecCaption;  // 14
    const char* codecQuestion; // 13
};

const Texts Catalogue[] = {
    {LANG_DANISH, "ZANTORIA installation", "Install\xE9r Indeo 5 (p\xE5kr\xE6vet)", "Afslut",
     "Indeo installation",
     "\xD8nsker du at installere Indeo 5 koder-afkoderen? Den er n\xF8"
     "dvendig for at afspille filmene i "
     "ZANTORIA."},
    {LANG_GERMAN, "ZANTORIA Installation", "Indeo 5 installieren (erforderlich)", "Beenden",
     "Indeo Installation",
     "M\xF6"
     "chtest du, dass Indeo 5 Video Codec installiert wird? Es ist erforderlich, damit in ZANTORIA die "
     "Videos gespielt werden k\xF6nnen."},
    {LANG_ENGLISH, "ZANTORIA Installation.", "Install Indeo 5 (required)", "Exit", "Indeo Installation",
     "Do you wish to install the Indeo 5 video codec? This is required to play the movies in ZANTORIA."},
    {LANG_SPANISH, "Instalaci\xF3n de ZANTORIA", "Instalar Indeo 5 (necesario)", "Salir",
     "Instalaci\xF3n de Indeo",
     "\xBF"
     "Deseas instalar el c\xF3"
     "dec de v\xED"
     "deo de Indeo 5? Es necesario para ver los v\xED"
     "deos de "
     "ZANTORIA."},
    {LANG_FRENCH, "Installation de ZANTORIA", "Installation de Indeo 5 (obligatoire)\xA0", "Quitter",
     "Installation d'Indeo",
     "Voulez-vous installer le codec vid\xE9o Indeo ? Ce codec est indispensable \xE0 la lecture des films "
     "ZANTORIA. \n"},
    {LANG_ITALIAN, "Installazione di ZANTORIA", "Installa Indeo 5 (necessario)", "Esci",
     "Installazione di Indeo",
     "Vuoi installare il codec video Indeo 5? Questo componente \xE8 necessario per riprodurre i filmati di "
     "ZANTORIA."},
    {LANG_DUTCH, "ZANTORIA installatie", "Indeo 5 installeren (vereist)", "Sluiten", "Installatie Indeo",
     "Wilt u de Indeo 5 video codec installeren? Deze is vereist om de filmpjes in ZANTORIA te kunnen "
     "afspelen."},
    {LANG_NORWEGIAN, "Installasjonsprogram for ZANTORIA", "Installer Indeo 5 (obligatorisk)", "Avslutt",
     "Installasjonsprogram for Indeo",
     "Vil du installere videokodeken Indeo 5? Den er n\xF8"
     "dvendig for \xE5 spille filmene i ZANTORIA."},
    {LANG_SWEDISH, "ZANTORIA installation", "Installera Indeo 5 (kr\xE4vs)", "Avsluta",
     "Indeo-installation\xA0",
     "Vill du installera Indeo 5 video codec? Du m\xE5ste installera Indeo 5 video codec om du vill spela "
     "filmer "
     "i ZANTORIA."},
};

const Texts* TextsFor(LANGID language)
{
    for (const Texts& texts : Catalogue)
        if (texts.primary == PRIMARYLANGID(language)) return &texts;
    return nullptr;
}

// One test per variant. A process gets one user interface language, the
// user's (under Wine: from the locale it starts with), so a run tests that
// variant and reports the others as skipped; under Wine the suite runs once
// per locale. A locale that names a variant but is not honoured fails.
class Menu : public testing::TestWithParam<LocaleCase> {};

TEST_P(Menu, TitleButtonsAndCodecQuestion)
{
    const LocaleCase& variant = GetParam();
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
    const Texts* expected = TextsFor(language);
    ASSERT_NE(expected, nullptr) << "no texts for language " << std::hex << language;

    DiscFolder disc; // no codec anywhere: the menu offers to install it
    MenuProcess menu;
    ASSERT_TRUE(menu.Start(disc.Path()));
    HWND window = menu.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(window), expected->installTitle);

    const std::vector<ButtonInfo> buttons = ListButtons(window);
    const ButtonInfo* exitButton = FindButton(buttons, 1);
    const ButtonInfo* codecButton = FindButton(buttons, 3);
    ASSERT_NE(exitButton, nullptr);
    ASSERT_NE(codecButton, nullptr);
    EXPECT_EQ(exitButton->text, expected->exitLabel);
    EXPECT_EQ(codecButton->text, expected->codecLabel);

    Click(codecButton->handle);
    HWND question = menu.WaitForDialog();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(question), expected->codecCaption);
    EXPECT_EQ(MessageBoxText(question), expected->codecQuestion);
    PressDialogButton(question, IDNO);
    EXPECT_TRUE(WaitForWindowGone(question));
}

INSTANTIATE_TEST_SUITE_P(Localised, Menu, testing::ValuesIn(Locales),
                         [](const testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.locale);
                         });

} // namespace
