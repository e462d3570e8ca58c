// What a signed menu vouches for: a pinned menu (autorun-pinned.exe, the
// build's menu pinned to its stand-ins) uses a disc file it pins only when
// its bytes are the ones pinned, and otherwise behaves as when the file is
// missing; the codec job registers the codec by its full path; and the probe
// loads no codec from beside the menu. Planted files leave a mark when they
// run (the recorder) or load (load_marker.dll); a planted file may be the
// genuine stand-in with one byte appended, which still runs but is not the
// file pinned.
#include "harness/environment.h"
#include "harness/program_under_test.h"
#include "scene.h"

#include <gtest/gtest.h>

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
// A pinned job copies and runs only the files pinned; a library of the
// codec's name beside them is never loaded.
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
        const std::vector<StartRecord> starts = scene.log.Starts();
        if (planted) {
            EXPECT_EQ(exitCode, 0u) << "nothing registered";
            EXPECT_TRUE(starts.empty()) << "the planted registration program ran";
            EXPECT_FALSE(FileExists(scene.systemCodec.Path())) << "the planted codec was copied";
        } else {
            EXPECT_EQ(exitCode, 1u) << "the installer's result";
            ASSERT_EQ(starts.size(), 1u);
            EXPECT_EQ(Lowercase(starts[0].path), Lowercase(scene.disc.File("RegSvr32.exe")));
            EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec)));
        }
        const std::vector<std::string> marks = LoadMarks(scene.log);
        EXPECT_TRUE(marks.empty()) << "loaded " << marks.front();
    }
}

// A registration program loads a library named without a folder from its
// own folder first. Given the codec's full path in the system folder, it
// registers the codec just copied there. Windows' (or Wine's) own regsvr32,
// copied in as the disc's, loads what it is given.
TEST(PinnedFiles, JobRegistersTheCodecByItsFullPath)
{
    SKIP_IF_CODEC_FILE();
    LibraryOverride nativeCodec(NativeCodecOnly);
    Scene scene(NoCodec);
    char systemFolder[MAX_PATH] = "";
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    ASSERT_TRUE(CopyFileA((std::string(systemFolder) + "\\regsvr32.exe").c_str(),
                          scene.disc.File("RegSvr32.exe").c_str(), FALSE));
    scene.disc.AddFromBuild(LoadingCodec, "MYIR50_32.dll");
    scene.disc.AddFromBuild(LoadMarker, "IR50_32.DLL");

    RunJob(scene, 20000); // the registration's result: the stand-in registers nothing
    EXPECT_TRUE(SameBytes(scene.systemCodec.Path(), BuildFile(LoadingCodec))) << "the codec was not copied";
    const std::vector<std::string> marks = LoadMarks(scene.log);
    EXPECT_TRUE(marks.empty()) << "the registration loaded " << marks.front();
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

// A pinned menu loads the DirectX setup library only when it is the one
// pinned; any other is never loaded, and the flow is the one for a missing
// library: the failure box, and the menu stays.
TEST(PinnedFiles, DirectXSetupLibraryMustBeThePinnedOne)
{
    SKIP_IF_INSTALL_RECORD();
    const struct {
        const char* name;
        const char* library; // from the build, as "DSETUP.dll"
        bool altered;        // with a byte appended
        bool used;
    } cases[] = {
        {"the disc's own library", "dsetup_standin.dll", false, true},
        {"the disc's library with a byte more", "dsetup_standin.dll", true, false},
        {"another library", LoadMarker, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        ASSERT_TRUE(CopyFromBuild(Pinned, scene.disc.File("autorun.exe")));
        scene.disc.AddFromBuild(Recorder, "setup.exe");
        if (c.altered)
            PlantAltered(c.library, scene.disc.File("DSETUP.dll"));
        else
            scene.disc.AddFromBuild(c.library, "DSETUP.dll");
        ASSERT_TRUE(scene.Start());
        ASSERT_TRUE(scene.Press(CommandInstall));
        ASSERT_TRUE(scene.Answer(IDS_DIRECTX_QUESTION, IDS_DIRECTX_CAPTION, YesNoCancel, IDYES));
        if (c.used) {
            scene.ExpectReplacedBy("setup.exe", scene.disc.Path());
            EXPECT_EQ(scene.log.DirectXCalls().size(), 1u);
            continue;
        }
        ASSERT_TRUE(scene.Answer(IDS_DIRECTX_FAILED, IDS_INSTALL_FAILURE_CAPTION, OkOnly, IDOK));
        scene.ExpectAtRest({CommandInstall, CommandExit});
        EXPECT_TRUE(scene.log.DirectXCalls().empty()) << "DirectX called";
        EXPECT_TRUE(LoadMarks(scene.log).empty()) << "the library was loaded";
    }
}

} // namespace
