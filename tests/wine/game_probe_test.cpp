// The installed-game probe seen from outside: which install records make the
// menu offer Play (and title itself as the autorun menu) and which leave it at
// Install, including values at and past the limits of the program's buffers.
// Where it offers Play, Play starts the game from the folder the record names,
// with its own name as the command line, and ends the menu.
#include "harness/environment.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

namespace {

enum Value {
    GameFolder,
    GameFolderWithBackslash,
    GameFolderAsBinary, // type not asked: bytes without terminator
    Unexpanded,         // "%ZANTORIA_GAME%", which would name the game's folder
    FolderWithoutGame,
    FolderWithAFolderNamedGame,
    EmptyString,
    NoPathValue,
    Padded,      // the game's folder padded to `length` characters
    PaddedBinary // ... and stored without terminator
};

struct Record {
    const char* key; // after "ZANTORIA"
    Value value;
    size_t length = 0;
};

// Each key of the table, alone, names the game's folder.
const char* const Keys[] = {"", "GER", "DAN", "FRE", "ITA", "SPA", "SWE", "NOR", "DUT"};

const struct RecordCase {
    const char* name;
    std::vector<Record> records;
    int offered;
} Cases[] = {
    {"no install record", {}, CommandInstall},
    {"a key not in the table", {{"ENG", GameFolder}}, CommandInstall},
    // The first key that opens decides.
    {"plain key's folder used over GER's", {{"", GameFolder}, {"GER", FolderWithoutGame}}, CommandPlay},
    {"GER's folder never consulted once the plain key opens",
     {{"", FolderWithoutGame}, {"GER", GameFolder}},
     CommandInstall},
    {"plain key without Path, GER valid", {{"", NoPathValue}, {"GER", GameFolder}}, CommandInstall},
    {"with trailing backslash", {{"", GameFolderWithBackslash}}, CommandPlay},
    {"binary bytes without terminator", {{"", GameFolderAsBinary}}, CommandPlay},
    {"environment references are not expanded", {{"", Unexpanded}}, CommandInstall},
    {"folder without the game", {{"", FolderWithoutGame}}, CommandInstall},
    {"a folder named Zantoria.exe does not count", {{"", FolderWithAFolderNamedGame}}, CommandInstall},
    {"empty value", {{"", EmptyString}}, CommandInstall},
    // The game's path is the folder, a backslash and "Zantoria.exe" in 256 bytes.
    {"folder of 242 characters: game path fills 256 bytes", {{"", Padded, 242}}, CommandPlay},
    {"folder of 243 characters: game path one byte too long", {{"", Padded, 243}}, CommandInstall},
    {"255 characters without backslash: no room for one", {{"", Padded, 255}}, CommandInstall},
    {"value of 257 bytes fails the read", {{"", Padded, 256}}, CommandInstall},
    {"256 bytes without terminator", {{"", PaddedBinary, 256}}, CommandInstall},
    {"far too long", {{"", Padded, 600}}, CommandInstall},
};

// `folder` lengthened to `length` characters with "\." steps (and a doubled
// backslash when the difference is odd): still the same folder, and not
// ending in a backslash.
std::string PaddedFolder(const std::string& folder, size_t length)
{
    std::string padded = folder;
    size_t pad = length - folder.size();
    if (pad % 2) {
        padded += '\\';
        --pad;
    }
    for (; pad; pad -= 2)
        padded += "\\.";
    return padded;
}

void Write(const Scene& scene, const TempFolder& empty, const Record& record)
{
    const std::string key = std::string("SOFTWARE\\KORU Media\\ZANTORIA") + record.key + "\\1.00";
    const std::string game = scene.game.Path();
    const std::string padded = record.length ? PaddedFolder(game, record.length) : "";
    const std::string reference("%ZANTORIA_GAME%", 16);
    switch (record.value) {
    case GameFolder: return scene.records.SetPath(key, game);
    case GameFolderWithBackslash: return scene.records.SetPath(key, game + "\\");
    case GameFolderAsBinary: return scene.records.SetRawPath(key, &game, REG_BINARY);
    case Unexpanded: return scene.records.SetRawPath(key, &reference, REG_EXPAND_SZ);
    case FolderWithAFolderNamedGame:
        CreateDirectoryA(empty.File("Zantoria.exe").c_str(), nullptr);
        [[fallthrough]];
    case FolderWithoutGame: return scene.records.SetPath(key, empty.Path());
    case EmptyString: return scene.records.SetPath(key, "");
    case NoPathValue: return scene.records.SetRawPath(key, nullptr);
    case Padded: return scene.records.SetPath(key, padded);
    case PaddedBinary: return scene.records.SetRawPath(key, &padded, REG_BINARY);
    }
}

void ExpectOffer(const RecordCase& c)
{
    Scene scene;
    TempFolder empty;
    ScopedVariable reference("ZANTORIA_GAME", scene.game.Path().c_str());
    ASSERT_TRUE(CopyFromBuild(Recorder, scene.game.File("Zantoria.exe")));
    for (const Record& record : c.records)
        Write(scene, empty, record);
    ASSERT_TRUE(scene.Start());
    const bool play = c.offered == CommandPlay;
    EXPECT_EQ(VisibleButtonIds(scene.window), Sorted({c.offered, CommandExit}));
    EXPECT_EQ(WindowText(scene.window), Text(play ? IDS_TITLE_MENU : IDS_TITLE_INSTALL)) << "title";
    if (!play) return;
    ASSERT_TRUE(scene.Press(CommandPlay));
    EXPECT_EQ(scene.ExpectReplacedBy("Zantoria.exe", scene.game.Path()).commandLine, "Zantoria.exe");
}

TEST(InstallRecord, DecidesWhatTheMenuOffers)
{
    SKIP_IF_INSTALL_RECORD();
    for (const char* key : Keys) {
        SCOPED_TRACE(std::string("ZANTORIA") + key);
        ExpectOffer({"", {{key, GameFolder}}, CommandPlay});
    }
    for (const RecordCase& c : Cases) {
        SCOPED_TRACE(c.name);
        ExpectOffer(c);
    }
}

} // namespace
