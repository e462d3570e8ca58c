// How long a program takes from its start to its first window shown and
// painted, for the menu against the blank-window yardstick, in alternating
// runs after a warm-up: the median of each and their ratio. Given the
// yardstick built with DrawDib as well, it also says how much of the menu's
// extra time loading Video for Windows accounts for.
//   startup_bench RUNS FOLDER MENU YARDSTICK [YARDSTICK_WITH_DRAWDIB]
// Both programs start with FOLDER as their current directory (the menu's disc
// folder). A program counts as up once a visible top-level window of its
// process exists and its thread answers a sent message: both programs show
// and update their window before their message loop, so by then the first
// paint is done. Each run ends the program before the next one starts.
//
// Then the menu again, with pictures whose headers claim far more than the
// files hold, and a large genuine one, each in a disc folder of its own
// beside FOLDER's: its start against the menu with FOLDER's picture, and its
// peak memory against theirs. Targets: a window no later than 1.2 times a
// normal start, and no more than 32 MB above a normal start's peak plus the
// file's own size.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Start {
    double seconds;    // to the painted window; negative when none came within 30 s
    SIZE_T peakMemory; // the most the process held by then
};

Start TimeStart(const std::string& program, const std::string& folder)
{
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return {-1, 0};

    Start result = {-1, 0};
    WindowSearch search = {process.dwProcessId, nullptr};
    for (;;) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            DWORD_PTR answer;
            SendMessageTimeoutA(search.found, WM_NULL, 0, 0, SMTO_BLOCK, 30000, &answer);
            QueryPerformanceCounter(&end);
            result.seconds = Seconds(start, end);
            PROCESS_MEMORY_COUNTERS counters = {};
            counters.cb = sizeof counters;
            if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
                result.peakMemory = std::max(counters.PeakWorkingSetSize, counters.PeakPagefileUsage);
            break;
        }
        QueryPerformanceCounter(&end);
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 || Seconds(start, end) > 30) break;
        Sleep(1);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Contender {
    const char* name;
    std::string program;
    std::vector<double> times;
};

void Put(std::string& bytes, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// A bitmap file: file header, 40-byte info header, a colour table of zeros
// for 8 bits or fewer, then `payload`; `size` is the header size it states.
std::string Bitmap(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t sizeImage,
                   const std::string& payload, uint32_t size = 40)
{
    const uint32_t colours = bits <= 8 ? 1u << bits : 0;
    std::string bytes = "BM";
    Put(bytes, 0, 4);
    Put(bytes, 0, 4);
    Put(bytes, 14 + 40 + 4 * colours, 4);
    Put(bytes, size, 4);
    Put(bytes, uint32_t(width), 4);
    Put(bytes, uint32_t(height), 4);
    Put(bytes, 1, 2);
    Put(bytes, bits, 2);
    Put(bytes, compression, 4);
    Put(bytes, sizeImage, 4);
    Put(bytes, 2835, 4);
    Put(bytes, 2835, 4);
    Put(bytes, colours, 4);
    Put(bytes, 0, 4);
    return bytes + std::string(4 * colours, '\0') + payload;
}

struct PictureCase {
    const char* name;
    std::string file;
};

std::vector<PictureCase> PicturesThatClaimMuch()
{
    std::string genuine(4000 * 3 * 3000, '\x40');
    return {
        {"62 bytes claiming 16384x16384 at 32 bits",
         Bitmap(16384, 16384, 32, BI_RGB, 0, std::string(8, '\0'))},
        {"8192x8192 at 8 bits, 1 KiB of pixels", Bitmap(8192, 8192, 8, BI_RGB, 0, std::string(1024, '\x01'))},
        {"run-length coded, claiming 16384x16384",
         Bitmap(16384, 16384, 8, BI_RLE8, 0x10000000, std::string("\x10\x01\0\0\0\1", 6))},
        {"480x360 stating nearly 2 GiB of pixels",
         Bitmap(480, 360, 8, BI_RGB, 0x7FFF0000, std::string(1000, 1))},
        {"a header stating 2 GiB", Bitmap(480, 360, 8, BI_RGB, 0, std::string(1000, 1), 0x7F000000)},
        {"genuine 4000x3000 at 24 bits (36 MB)", Bitmap(4000, 3000, 24, BI_RGB, 0, genuine)},
    };
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole =
        ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return whole;
}

// The menu with each picture against the menu with FOLDER's own; false when
// a target is missed or a start fails.
bool MeasurePictures(int runs, const std::string& folder, const std::string& menu)
{
    printf("\nthe menu with pictures that claim much (%d runs each, taking turns with the menu above):\n",
           runs);
    printf("%-44s %10s %6s %12s %12s\n", "picture", "window", "ratio", "peak memory", "over normal");
    bool met = true;
    int serial = 0;
    for (const PictureCase& picture : PicturesThatClaimMuch()) {
        const std::string disc = folder + "\\claims-" + std::to_string(++serial);
        CreateDirectoryA(disc.c_str(), nullptr);
        const std::string copy = disc + "\\autorun.exe";
        if (!CopyFileA(menu.c_str(), copy.c_str(), FALSE) ||
            !WriteFile(disc + "\\autorun.bmp", picture.file)) {
            fprintf(stderr, "startup_bench: cannot prepare %s\n", disc.c_str());
            return false;
        }
        std::vector<double> normalTimes, times;
        SIZE_T normalPeak = 0, peak = 0;
        for (int run = -1; run < runs; ++run) {
            const Start normal = TimeStart(menu, folder), claimed = TimeStart(copy, disc);
            if (normal.seconds < 0 || claimed.seconds < 0) {
                fprintf(stderr, "startup_bench: the menu did not show its window with %s\n", picture.name);
                return false;
            }
            if (run < 0) continue;
            normalTimes.push_back(normal.seconds);
            times.push_back(claimed.seconds);
            normalPeak = std::max(normalPeak, normal.peakMemory);
            peak = std::max(peak, claimed.peakMemory);
        }
        const double ratio = Median(times) / Median(normalTimes);
        const double over = (double(peak) - double(normalPeak)) / (1 << 20);
        const double allowed = 32 + double(picture.file.size()) / (1 << 20);
        const bool ok = ratio <= 1.2 && over <= allowed;
        met = met && ok;
        printf("%-44s %7.1f ms %6.2f %9.1f MB %+9.1f MB %s\n", picture.name, Median(times) * 1000, ratio,
               double(peak) / (1 << 20), over, ok ? "" : "ABOVE TARGET");
    }
    printf("targets: ratio 1.20 or less; no more than 32 MB over a normal start plus the file's size: %s\n",
           met ? "met" : "MISSED");
    return met;
}

void PrintMedian(const Contender& contender)
{
    printf("%-28s median %6.1f ms (fastest %.1f, slowest %.1f)\n", contender.name,
           Median(contender.times) * 1000,
           *std::min_element(contender.times.begin(), contender.times.end()) * 1000,
           *std::max_element(contender.times.begin(), contender.times.end()) * 1000);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: startup_bench RUNS FOLDER MENU YARDSTICK [YARDSTICK_WITH_DRAWDIB]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    const std::string folder = argv[2];
    std::vector<Contender> contenders = {{"menu", argv[3], {}}, {"yardstick", argv[4], {}}};
    if (argc == 6) contenders.push_back({"yardstick with DrawDib", argv[5], {}});

    // The first starts fill the file cache and Wine's own caches; then the
    // programs take turns, so that a slow spell of the machine weighs on all.
    for (int run = -2; run < runs; ++run)
        for (Contender& contender : contenders) {
            const double time = TimeStart(contender.program, folder).seconds;
            if (time < 0) {
                fprintf(stderr, "startup_bench: %s did not show its window\n", contender.program.c_str());
                return 1;
            }
            if (run >= 0) contender.times.push_back(time);
        }

    printf("%d runs each, taking turns, after 2 warm-up runs each\n", runs);
    for (const Contender& contender : contenders)
        PrintMedian(contender);
    const double menu = Median(contenders[0].times), yardstick = Median(contenders[1].times);
    printf("ratio, menu to yardstick:    %.2f (target 1.10 or less)\n", menu / yardstick);
    if (contenders.size() == 3) {
        // What the menu adds, and how much of it loading Video for Windows
        // alone explains: the picture is drawn with DrawDib, so MSVFW32 and
        // the libraries it imports load with the menu, before its window.
        const double drawDib = Median(contenders[2].times);
        printf("ratio, menu to yardstick with DrawDib: %.2f\n", menu / drawDib);
        printf("the menu takes %+.1f ms over the yardstick; loading Video for Windows (MSVFW32 and the "
               "libraries it imports) accounts for %+.1f ms of it, the menu's own work (probes, picture, "
               "buttons, first paint) for the remaining %+.1f ms\n",
               (menu - yardstick) * 1000, (drawDib - yardstick) * 1000, (menu - drawDib) * 1000);
        if (menu / yardstick > 1.10)
            printf("above the target: mostly the cost of Video for Windows, which drawing the picture with "
                   "DrawDib brings\n");
    }
    return MeasurePictures(runs, folder, contenders[0].program) ? 0 : 1;
}
