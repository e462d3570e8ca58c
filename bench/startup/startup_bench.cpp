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
#include <windows.h>

#include <algorithm>
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

// One start; the time to the painted window in seconds, or a negative value
// when no window came within 30 s.
double TimeStart(const std::string& program, const std::string& folder)
{
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return -1;

    double elapsed = -1;
    WindowSearch search = {process.dwProcessId, nullptr};
    for (;;) {
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            DWORD_PTR result;
            SendMessageTimeoutA(search.found, WM_NULL, 0, 0, SMTO_BLOCK, 30000, &result);
            QueryPerformanceCounter(&end);
            elapsed = Seconds(start, end);
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
    return elapsed;
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
            const double time = TimeStart(contender.program, folder);
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
    return 0;
}
