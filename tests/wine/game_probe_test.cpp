// The installed-game probe seen from outside: which install records make the
// menu offer Play (and title itself as the autorun menu) and which leave it at
// Install, including values at and past the limits of the program's buffers.
#include "machine_state.h"
#include "menu_driver.h"
#include "standins.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const char* const PlainKey = "SOFTWARE\\KORU Media\\ZANTORIA\\1.00";
const char* const GermanKey = "SOFTWARE\\KORU Media\\ZANTORIAGER\\1.00";

// A folder holding the game, one holding nothing, and a disc whose codec
// loads, so that the menu offers Play or Install.
struct ProbeScene {
    InstallRecords records;
    TempFolder game;
    TempFolder empty;
    DiscFolder disc;
    ProbeScene()
    {
        EXPECT_TRUE(CopyFromBuild("recorder.exe", game.File("Zantoria.exe")));
        disc.AddFromBuild("codec_loads.dll", "IR50_32.DLL");
    }
};

enum Offer { OffersInstall, OffersPlay };

// Starts the menu and checks what it offers; the title goes with it.
void ExpectOffer(const ProbeScene& scene, Offer expected, const std::string& what)
{
    MenuProcess menu;
    ASSERT_TRUE(menu.Start(scene.disc.Path())) << what;
    HWND window = menu.WaitForMainWindow();
    ASSERT_NE(window, nullptr) << what << ": no window";
    const std::vector<ButtonInfo> buttons = VisibleButtons(window);
    ASSERT_EQ(buttons.size(), 2u) << what;
    const int action = expected == OffersPlay ? PlayButton : InstallButton;
    EXPECT_NE(FindButton(buttons, action), nullptr)
        << what << ": expected " << (expected ? "Play" : "Install");
    EXPECT_NE(FindButton(buttons, ExitButton), nullptr) << what << ": Exit";
    EXPECT_EQ(WindowText(window), CatalogueText(expected == OffersPlay ? 8 : 7)) << what << ": title";
}

TEST(InstallRecord, EachKeyAloneIsFound)
{
    SKIP_IF_INSTALL_RECORD();
    const char* const keys[] = {
        "SOFTWARE\\KORU Media\\ZANTORIA\\1.00",    "SOFTWARE\\KORU Media\\ZANTORIAGER\\1.00",
        "SOFTWARE\\KORU Media\\ZANTORIADAN\\1.00", "SOFTWARE\\KORU Media\\ZANTORIAFRE\\1.00",
        "SOFTWARE\\KORU Media\\ZANTORIAITA\\1.00", "SOFTWARE\\KORU Media\\ZANTORIASPA\\1.00",
        "SOFTWARE\\KORU Media\\ZANTORIASWE\\1.00", "SOFTWARE\\KORU Media\\ZANTORIANOR\\1.00",
        "SOFTWARE\\KORU Media\\ZANTORIADUT\\1.00",
    };
    for (const char* key : keys) {
        ProbeScene scene;
        scene.records.SetPath(key, scene.game.Path());
        ExpectOffer(scene, OffersPlay, key);
    }
    ProbeScene none;
    ExpectOffer(none, OffersInstall, "no install record");
    ProbeScene other;
    other.records.SetPath("SOFTWARE\\KORU Media\\ZANTORIAENG\\1.00", other.game.Path());
    ExpectOffer(other, OffersInstall, "a key not in the table");
}

TEST(InstallRecord, FirstKeyThatOpensDecides)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        std::function<void(const ProbeScene&)> arrange;
        Offer expected;
    } cases[] = {
        {"plain key's folder used over GER's",
         [](const ProbeScene& s) {
             s.records.SetPath(PlainKey, s.game.Path());
             s.records.SetPath(GermanKey, s.empty.Path());
         },
         OffersPlay},
        {"GER's folder never consulted once the plain key opens",
         [](const ProbeScene& s) {
             s.records.SetPath(PlainKey, s.empty.Path());
             s.records.SetPath(GermanKey, s.game.Path());
         },
         OffersInstall},
        {"plain key without Path, GER valid",
         [](const ProbeScene& s) {
             s.records.CreateKey(PlainKey);
             s.records.SetPath(GermanKey, s.game.Path());
         },
         OffersInstall},
    };
    for (const Case& c : cases) {
        ProbeScene scene;
        c.arrange(scene);
        ExpectOffer(scene, c.expected, c.name);
    }
}

TEST(InstallRecord, PathValues)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        std::function<void(const ProbeScene&)> arrange;
        Offer expected;
    } cases[] = {
        {"without trailing backslash",
         [](const ProbeScene& s) { s.records.SetPath(PlainKey, s.game.Path()); }, OffersPlay},
        {"with trailing backslash",
         [](const ProbeScene& s) { s.records.SetPath(PlainKey, s.game.Path() + "\\"); }, OffersPlay},
        {"type not asked: binary bytes without terminator",
         [](const ProbeScene& s) { s.records.SetRawPath(PlainKey, s.game.Path(), REG_BINARY); }, OffersPlay},
        {"environment references are not expanded",
         [](const ProbeScene& s) {
             s.records.SetRawPath(PlainKey, std::string("%ZANTORIA_GAME%", 16), REG_EXPAND_SZ);
         },
         OffersInstall},
        {"folder without the game", [](const ProbeScene& s) { s.records.SetPath(PlainKey, s.empty.Path()); },
         OffersInstall},
        {"a folder named Zantoria.exe does not count",
         [](const ProbeScene& s) {
             CreateDirectoryA(s.empty.File("Zantoria.exe").c_str(), nullptr);
             s.records.SetPath(PlainKey, s.empty.Path());
         },
         OffersInstall},
        {"empty value", [](const ProbeScene& s) { s.records.SetPath(PlainKey, ""); }, OffersInstall},
    };
    for (const Case& c : cases) {
        ProbeScene scene;
        // Would name the game's folder if the reference were expanded.
        ScopedVariable game("ZANTORIA_GAME", scene.game.Path().c_str());
        c.arrange(scene);
        ExpectOffer(scene, c.expected, c.name);
    }
}

// Every value here names the game's folder; only its length differs. The game's
// path is the folder, a backslash and "Zantoria.exe" in 256 bytes.
TEST(InstallRecord, ValuesAtTheBufferLimits)
{
    SKIP_IF_INSTALL_RECORD();
    struct Case {
        const char* name;
        size_t length; // of the folder as stored, without trailing backslash
        bool terminated;
        Offer expected;
    } cases[] = {
        {"folder of 242 characters: game path fills 256 bytes", 242, true, OffersPlay},
        {"folder of 243 characters: game path one byte too long", 243, true, OffersInstall},
        {"255 characters without backslash: no room for one", 255, true, OffersInstall},
        {"value of 257 bytes fails the read", 256, true, OffersInstall},
        {"256 bytes without terminator", 256, false, OffersInstall},
        {"far too long", 600, true, OffersInstall},
    };
    for (const Case& c : cases) {
        ProbeScene scene;
        const std::string value = PaddedFolder(scene.game.Path(), c.length);
        ASSERT_EQ(value.size(), c.length) << c.name;
        if (c.terminated)
            scene.records.SetPath(PlainKey, value);
        else
            scene.records.SetRawPath(PlainKey, value, REG_BINARY);
        ExpectOffer(scene, c.expected, c.name);
    }
}

} // namespace
