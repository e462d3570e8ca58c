// What a signed menu vouches for: a pinned menu (autorun-pinned.exe, the
// build's menu pinned to its stand-ins) uses a disc file it pins only when
// it is the one pinned, and otherwise behaves as when the file is missing;
// what it copies is what it checked, even when the disc folder's name leads
// elsewhere right after the check; the codec is registered by its full path;
// the codec job starts nothing of the disc; and the probe loads no codec
// from beside the menu. Planted files leave a mark when they run (the
// recorder) or load (load_marker.dll); a planted file may be the genuine
// stand-in with one byte appended, which still runs but is not the file
// pinned. The DirectX setup library's helper, DSETUP32.DLL, is
// load_marker.dll too: the setup stand-in loads it from its own folder.
#include "full_rights.h"
#include "harness/environment.h"
#include "harness/paths_compared.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include "pinned_files.h"

#include <gtest/gtest.h>

#include <set>
#include <string.h>
#include <tuple>

namespace {

const char* const Pinned = "autorun-pinned.exe";
const char* const LoadMarker = "load_marker.dll";

// A file of the build, under another name, with one byte more.
void PlantAltered(const std::string& buildName, const std::string& destination)
{
    WriteFileBytes(destination, ReadFileBytes(BuildFile(buildName)) + '\0');
}

// The libraries that recorded their loading.
std::vector<std::string> LoadMarks(const StandInLog& log)
{
    std::vector<std::string> marks;
    for (const std::vector<std::string>& fields : log.Fields("Loaded|"))
        marks.push_back(fields[0]);
    return marks;
}

// The pinned menu with the entry of `which` pinned as absent.
void PlantPinnedAsAbsent(PinnedFile which, const std::string& destination)
{
    std::string program = ReadFileBytes(BuildFile(Pinned));
    const std::string magic(AUTORUN_PIN_MAGIC, strlen(AUTORUN_PIN_MAGIC) + 1);
    const size_t record = program.find(magic);
    ASSERT_NE(record, std::string::npos) << "no pin record";
    const size_t entry = PinDigestLength + PinSizeLength;
    program.replace(record + PinMagicLength + which * entry, entry, std::string(entry, '\xFF'));
    WriteFileBytes(destination, program);
}

// A file of `size` bytes that takes no room (where the file system can) and
// no time to make: reading it to its end would take long.
void PlantSparse(const std::string& path, LONGLONG size)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    const DWORD FsctlSetSparse = 0x000900C4;
    DeviceIoControl(file, FsctlSetSparse, nullptr, 0, nullptr, 0, &returned, nullptr); // where it can
    LARGE_INTEGER end;
    end.QuadPart = size;
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
}

// A codec of the system's name is taken only as a library file found by
// Windows' search order, never Wine's own.
const char* const NativeCodecOnly = "ir50_32=n";

// Starts the job in the disc folder and waits for its end; its exit code.
DWORD RunJob(const Scene& scene, DWORD timeoutMs = 10000)
{
    MenuProcess job;
    EXPECT_TRUE(job.StartIn(scene.disc.Path(), scene.disc.File("autorun.exe"), "/InstallCodec"))
        << job.Describe();
    DWORD exitCode = 2;
    EXPECT_TRUE(job.WaitForExit(timeoutMs, &exitCode)) << job.Describe();
    return exitCode;
}

// Anyone may copy the signed menu into a folder of their own, put files of
// their own beside it and start it with the job argument with full rights.
// A pinned job copies only the codec pinned and has Windows' own
// registration program register it: the disc's is never started with full
// rights, and a library of the codec's name beside them is never loaded.
TEST(PinnedFiles, CodecJobUsesOnlyThePinnedFiles)
{
    SKIP_IF_CODEC_FILE();
    for (const bool planted : {false, true}) {
        SCOPED_TRACE(planted ? "planted files" : "the disc's own files");
        Scene scene(NoCodec);
        ASSERT_TRUE(CopyFromBuild(Pinned, scene.disc.File("autorun.exe")));
        ASSERT_TRUE(CopyFromBuild(LoadMarker, scene.disc.File("IR50_32.DLL")));
        if (planted) {
            PlantAltered(LoadingCodec, scene.disc.File("MYIR50_32.dll"));
            PlantAltered(Recorder, scene.disc.File("RegSvr32.exe"));
        } else {
            scene.disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
            scene.disc.AddFromBuild(Recorder, "RegSvr32.exe");
        }

        const DWORD exitCode = RunJob(scene);
        EXPECT_TRUE(scene.log.Starts().empty()) << "the disc's registration program ran";
        EXPECT_EQ(exitCode, planted ? 0u : 1u) << "the registration's result";
        EXPECT_EQ(scene.log.Registrations().size(), planted ? 0u : 1u);
        if (planted)
            EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << "the planted codec was copied";
        else
            EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec)));
        const std::vector<std::string> marks = LoadMarks(scene.log);
        EXPECT_TRUE(marks.empty()) << "loaded " << marks.front();
    }
}

// The job checks the disc copy, and right then (the test build's seam) the
// disc folder's name comes to lead to a folder of planted files, as a
// flipped folder link would make it. The job copies the bytes it checked,
// through the handle it checked them in, and starts nothing of either folder.
TEST(PinnedFiles, JobUsesWhatItCheckedWhenTheFolderIsSwappedAfterTheCheck)
{
    REQUIRE_SEAM("AUTORUN_SEAM_SWAP_AFTER_CHECK");
    SKIP_IF_CODEC_FILE();
    Scene scene(NoCodec);
    ASSERT_TRUE(CopyFromBuild(Pinned, scene.disc.File("autorun.exe")));
    scene.disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
    scene.disc.AddFromBuild(Recorder, "RegSvr32.exe");
    TempFolder planted, aside;
    ASSERT_TRUE(CopyFromBuild(RefusingCodec, planted.File("MYIR50_32.dll")));
    ASSERT_TRUE(CopyFromBuild(Recorder, planted.File("RegSvr32.exe")));
    ScopedVariable swap("AUTORUN_SEAM_SWAP_AFTER_CHECK", (planted.Path() + "|" + aside.File("disc")).c_str());

    const DWORD exitCode = RunJob(scene, 20000);
    const bool swapped = !scene.log.Fields("Swapped|").empty();
    EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec))) << "not the codec checked";
    EXPECT_TRUE(scene.log.Starts().empty()) << "a program of the disc ran";
    EXPECT_EQ(exitCode, 1u) << "the registration's result";
    const std::vector<std::vector<std::string>> refused = scene.log.Fields("NotSwapped|");
    if (!swapped)
        GTEST_SKIP() << "this system does not rename a folder that holds an open file (error "
                     << (refused.empty() ? std::string("unknown") : refused[0].back())
                     << "): no swap to test";
}

// The menu's own registration gives the registration program the codec's
// full path in the system folder, so that a library of the codec's name
// beside the program, which it would look for first, is never the one
// registered. Windows' (or Wine's) own regsvr32, copied in as the disc's,
// loads what it is given: the codec just copied, whose registration says so.
TEST(PinnedFiles, RegistrationGetsTheCodecByItsFullPath)
{
    SKIP_UNLESS_CLEAN_MACHINE();
    LibraryOverride nativeCodec(NativeCodecOnly);
    Scene scene(NoCodec);
    char systemFolder[MAX_PATH] = "";
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    ASSERT_TRUE(CopyFileA((std::string(systemFolder) + "\\regsvr32.exe").c_str(),
                          scene.disc.File("RegSvr32.exe").c_str(), FALSE));
    scene.disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
    scene.disc.AddFromBuild(LoadMarker, "IR50_32.DLL");

    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(scene.Press(CommandInstallCodec));
    ASSERT_TRUE(scene.Answer(IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, YesNo, IDYES));
    ASSERT_TRUE(scene.Answer(IDS_CODEC_INSTALLED, IDS_CODEC_CAPTION, OkOnly, IDOK));
    const std::vector<std::pair<std::string, std::string>> registered = scene.log.Registrations();
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_TRUE(SamePath(registered[0].first, std::string(systemFolder) + "\\IR50_32.DLL"));
    EXPECT_TRUE(SamePath(registered[0].second, scene.disc.File("RegSvr32.exe")));
    const std::vector<std::string> marks = LoadMarks(scene.log);
    EXPECT_TRUE(marks.empty()) << "the registration loaded " << marks.front();
}

// With the menu's own rights, a pinned menu takes a disc file that is not
// the one pinned for missing: a codec of other bytes, of another size (a
// planted file of gigabytes is refused by its size, before a byte of it is
// read, so the answer comes at once), or present though pinned as absent is
// not copied, and no rights are asked for it; such a registration program is
// not started. The registration of a codec not copied still runs.
TEST(PinnedFiles, MenuUsesOnlyThePinnedFiles)
{
    SKIP_UNLESS_CLEAN_MACHINE();
    enum Plant { Genuine, Altered, Huge, PinnedAbsent };
    const struct {
        const char* name;
        Plant codec, registration;
        bool copied, started;
    } cases[] = {
        {"the pinned files", Genuine, Genuine, true, true},
        {"a codec with a byte more", Altered, Genuine, false, true},
        {"a codec of four gigabytes", Huge, Genuine, false, true},
        {"a codec pinned as absent", PinnedAbsent, Genuine, false, true},
        {"a registration program with a byte more", Genuine, Altered, true, false},
        {"a registration program pinned as absent", Genuine, PinnedAbsent, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The standard user is refused the system folder only where a
        // prompt for rights is to be seen; elsewhere the copy goes ahead.
        ScopedVariable writable("AUTORUN_HOOK_SYSTEM_FOLDER", c.codec == Genuine ? "writable" : nullptr);
        Scene scene(NoCodec);
        if (c.codec == PinnedAbsent || c.registration == PinnedAbsent) {
            PlantPinnedAsAbsent(c.codec == PinnedAbsent ? PinnedCodecCopy : PinnedRegistration,
                                scene.disc.File("autorun.exe"));
        } else {
            ASSERT_TRUE(CopyFromBuild(Pinned, scene.disc.File("autorun.exe")));
        }
        if (c.codec == Altered)
            PlantAltered(LoadingCodec, scene.disc.File("MYIR50_32.dll"));
        else if (c.codec == Huge)
            PlantSparse(scene.disc.File("MYIR50_32.dll"), 4LL << 30);
        else
            scene.disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
        if (c.registration == Altered)
            PlantAltered(Recorder, scene.disc.File("RegSvr32.exe"));
        else
            scene.disc.AddFromBuild(Recorder, "RegSvr32.exe");

        ASSERT_TRUE(scene.Start());
        ASSERT_TRUE(ActAsStandardUser(scene.menu));
        ASSERT_TRUE(scene.Press(CommandInstallCodec));
        ASSERT_TRUE(scene.Answer(IDS_CODEC_QUESTION, IDS_CODEC_CAPTION, YesNo, IDYES));
        ASSERT_TRUE(
            scene.Answer(c.copied ? IDS_CODEC_INSTALLED : IDS_CODEC_FAILED, IDS_CODEC_CAPTION, OkOnly, IDOK));
        EXPECT_EQ(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec)), c.copied);
        if (!c.copied) {
            EXPECT_FALSE(FileExists(scene.systemCodec.Path()));
        }
        EXPECT_TRUE(scene.log.ShellCalls().empty()) << "asked for full rights";
        EXPECT_EQ(scene.log.Starts().size(), c.started ? 1u : 0u) << "registrations";
    }
}

// Loading the codec by its name would run a library planted beside the
// menu inside it, at every start. The probe asks the system folder only: the
// menu shows its window, offers the codec, and has loaded nothing planted.
TEST(PinnedFiles, ProbeLoadsNoCodecBesideTheMenu)
{
    SKIP_IF_CODEC_FILE();
    LibraryOverride nativeCodec(NativeCodecOnly);
    for (const char* program : {"autorun.exe", Pinned}) {
        SCOPED_TRACE(program);
        Scene scene(NoCodec);
        ASSERT_TRUE(CopyFromBuild(program, scene.disc.File("autorun.exe")));
        scene.disc.AddFromBuild(LoadMarker, "IR50_32.DLL");
        ASSERT_TRUE(scene.Start());
        EXPECT_NE(scene.Button(CommandInstallCodec).handle, nullptr) << "a codec beside the menu counted";
        const std::vector<std::string> marks = LoadMarks(scene.log);
        EXPECT_TRUE(marks.empty()) << "loaded " << marks.front();
    }
}

// The entries of the temporary folder, where the menu makes its private
// copy of the DirectX setup library.
std::set<std::string> TempEntries()
{
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    std::set<std::string> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(temp) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do
        entries.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}

struct DirectXOffer {
    const char* name;
    const char* program; // as the disc's "autorun.exe"
    const char* library; // from the build, as "DSETUP.dll"
    bool altered;        // with a byte appended
    const char* helper;  // from the build, as "DSETUP32.DLL", or none
    bool helperAltered;
    bool used;
    bool helperLoaded;
};

// Answers Yes to the DirectX offer. A library the menu may use runs, and
// setup follows; any other is never loaded, and the flow is the one for a
// missing library: the failure box, and the menu stays. The library loads
// from a copy in a folder of the menu's own under TEMP, with the helper when
// it is copied too, and that folder is gone afterwards, TEMP as it was.
void AnswerDirectXOffer(const DirectXOffer& c)
{
    SCOPED_TRACE(c.name);
    Scene scene;
    ASSERT_TRUE(CopyFromBuild(c.program, scene.disc.File("autorun.exe")));
    scene.disc.AddFromBuild(Recorder, "setup.exe");
    for (const auto& [file, name, altered] : {std::tuple(c.library, "DSETUP.dll", c.altered),
                                              std::tuple(c.helper, "DSETUP32.DLL", c.helperAltered)}) {
        if (file && altered)
            PlantAltered(file, scene.disc.File(name));
        else if (file)
            scene.disc.AddFromBuild(file, name);
    }
    const std::set<std::string> tempBefore = TempEntries();
    ASSERT_TRUE(scene.Start());
    ASSERT_TRUE(scene.Press(CommandInstall));
    ASSERT_TRUE(scene.Answer(IDS_DIRECTX_QUESTION, IDS_DIRECTX_CAPTION, YesNoCancel, IDYES));
    if (c.used) {
        scene.ExpectReplacedBy("setup.exe", scene.disc.Path());
        EXPECT_EQ(scene.log.DirectXCalls().size(), 1u);
    } else {
        ASSERT_TRUE(scene.Answer(IDS_DIRECTX_FAILED, IDS_INSTALL_FAILURE_CAPTION, OkOnly, IDOK));
        scene.ExpectAtRest({CommandInstall, CommandExit});
        EXPECT_TRUE(scene.log.DirectXCalls().empty()) << "DirectX called";
    }
    const std::vector<std::string> marks = LoadMarks(scene.log);
    if (c.helperLoaded) {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        ASSERT_EQ(marks.size(), 1u);
        // The folder is gone by now: the long form of what still exists.
        const std::string copyFolder = LongPath(marks[0].substr(0, marks[0].find_last_of('\\')));
        EXPECT_TRUE(SamePath(copyFolder.substr(0, copyFolder.find_last_of('\\') + 1), temp))
            << "the helper loaded from " << marks[0];
        EXPECT_EQ(copyFolder.find("autorun-", copyFolder.find_last_of('\\')),
                  copyFolder.find_last_of('\\') + 1)
            << "the helper loaded from " << marks[0];
        EXPECT_FALSE(FileExists(marks[0])) << "the copy stays";
    } else {
        EXPECT_TRUE(marks.empty()) << "loaded " << marks.front();
    }
    EXPECT_EQ(TempEntries(), tempBefore);
}

const char* const DirectXSetup = "dsetup_standin.dll";

TEST(PinnedFiles, DirectXSetupLibraryMustBeThePinnedOne)
{
    SKIP_IF_INSTALL_RECORD();
    const DirectXOffer cases[] = {
        {"the disc's own library", Pinned, DirectXSetup, false, nullptr, false, true, false},
        {"an unpinned menu, with a helper", "autorun.exe", DirectXSetup, false, LoadMarker, false, true,
         true},
        // The pinned menu's content has load_marker.dll as its helper.
        {"the disc's own helper", Pinned, DirectXSetup, false, LoadMarker, false, true, true},
        {"a helper that is not the one pinned", Pinned, DirectXSetup, false, LoadMarker, true, true, false},
        {"the disc's library with a byte more", Pinned, DirectXSetup, true, nullptr, false, false, false},
        {"another library", Pinned, LoadMarker, false, nullptr, false, false, false},
    };
    for (const DirectXOffer& c : cases)
        AnswerDirectXOffer(c);
}

} // namespace
