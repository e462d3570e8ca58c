// How much the bitmap reader costs over simply reading the file: LoadDibFile
// as the menu calls it (its 480 by 360 corner) on a 480 by 360 8-bit picture
// and a 4096 by 4096 24-bit picture, each against a plain read of the whole
// file into a buffer, printed as a ratio. The reader should stay within 1.5
// times the plain read: one allocation, one re-size and one read of the pixel
// bits straight into place, never copied; the larger picture costs only the
// rows of its corner. The files are generated into a temporary folder and
// removed afterwards.
#include "splash/dib_reader.h"

#include "win32_shim.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace {

void Put(std::vector<uint8_t>& out, uint32_t value, int width)
{
    for (int i = 0; i < width; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

std::string WriteBitmap(const std::string& folder, const char* name, int width, int height, int bitCount)
{
    const uint32_t colours = bitCount <= 8 ? 1u << bitCount : 0;
    const uint32_t rowBytes = (uint32_t(bitCount) * width + 31) / 32 * 4;
    const uint32_t pixelBytes = rowBytes * height;
    const uint32_t offBits = 14 + 40 + 4 * colours;

    std::vector<uint8_t> header;
    Put(header, 0x4D42, 2);
    Put(header, offBits + pixelBytes, 4);
    Put(header, 0, 4);
    Put(header, offBits, 4);
    for (uint32_t value : {40u, uint32_t(width), uint32_t(height)})
        Put(header, value, 4);
    Put(header, 1, 2);
    Put(header, bitCount, 2);
    for (uint32_t value : {0u, pixelBytes, 2835u, 2835u, colours, 0u})
        Put(header, value, 4);
    for (uint32_t i = 0; i < colours; i++)
        Put(header, i * 0x010101, 4);

    std::vector<uint8_t> pixels(pixelBytes);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = uint8_t(i * 31 + (i >> 12));

    const std::string path = folder + "/" + name;
    FILE* out = fopen(path.c_str(), "wb");
    if (!out || fwrite(header.data(), 1, header.size(), out) != header.size() ||
        fwrite(pixels.data(), 1, pixels.size(), out) != pixels.size() || fclose(out) != 0) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
    return path;
}

void LoadWithReader(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        HGLOBAL block = LoadDibFile(path.c_str(), 480, 360);
        if (!block) {
            state.SkipWithError("LoadDibFile refused the file");
            break;
        }
        benchmark::DoNotOptimize(block);
        GlobalFree(block);
    }
}

void ReadPlainly(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        const int file = open(path.c_str(), O_RDONLY);
        struct stat status;
        fstat(file, &status);
        char* buffer = static_cast<char*>(malloc(status.st_size));
        for (off_t done = 0; done < status.st_size;) {
            const ssize_t got = read(file, buffer + done, status.st_size - done);
            if (got <= 0) break;
            done += got;
        }
        close(file);
        benchmark::DoNotOptimize(buffer);
        free(buffer);
    }
}

// The console report as usual, remembering each benchmark's time per run.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> times;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    ShimSetFillPattern(false); // a real allocation is not filled either

    char folderTemplate[] = "/tmp/dib_reader_bench.XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (!folder) {
        perror("mkdtemp");
        return 1;
    }
    struct Picture {
        const char* label;
        std::string path;
    } pictures[] = {
        {"480x360x8", WriteBitmap(folder, "splash.bmp", 480, 360, 8)},
        {"4096x4096x24", WriteBitmap(folder, "large.bmp", 4096, 4096, 24)},
    };
    for (const Picture& picture : pictures) {
        const std::string path = picture.path;
        benchmark::RegisterBenchmark((std::string("LoadDibFile/") + picture.label).c_str(),
                                     [path](benchmark::State& state) { LoadWithReader(state, path); })
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("PlainRead/") + picture.label).c_str(),
                                     [path](benchmark::State& state) { ReadPlainly(state, path); })
            ->UseRealTime();
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    printf("\nLoadDibFile against a plain read of the same file (target: 1.5 or less)\n");
    for (const Picture& picture : pictures) {
        const std::string label = picture.label;
        const auto reader = reporter.times.find("LoadDibFile/" + label + "/real_time");
        const auto plain = reporter.times.find("PlainRead/" + label + "/real_time");
        if (reader != reporter.times.end() && plain != reporter.times.end() && plain->second > 0)
            printf("  %-14s %.2f\n", picture.label, reader->second / plain->second);
        remove(picture.path.c_str());
    }
    rmdir(folder);
    return 0;
}
