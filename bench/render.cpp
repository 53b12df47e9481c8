// Whole renders of the showcase template through the native host interface
// (fork, scene, encoder, mux), beside the floor no renderer can beat: the
// ffmpeg program encoding the same number of raw frames with the same encoder
// settings (libx264 veryfast, zerolatency, the engine's bitrate, one key frame
// per second).
//
//   ./build/bench/bench_render --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "task/quorvane.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 125;
constexpr int kFps = 25;
constexpr float kBitrateFactor = 0.25f;

std::string repoRoot() {
    return fs::path(__FILE__).parent_path().parent_path().string();
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The showcase, or a copy of it with every 1280x720 size made 1920x1080.
std::string templateFor(int width, const fs::path& scratch) {
    fs::path showcase = fs::path(repoRoot()) / "examples/templates/showcase";
    if (width == 1280) return showcase.string() + "/";
    fs::path copy = scratch / "showcase-1080";
    fs::remove_all(copy);
    fs::copy(showcase, copy, fs::copy_options::recursive);
    std::string config = readText(copy / "config.json");
    for (size_t at; (at = config.find("[1280, 720]")) != std::string::npos;)
        config.replace(at, 11, "[1920, 1080]");
    std::ofstream(copy / "config.json") << config;
    return copy.string() + "/";
}

long peakChildMemoryKb() {
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// Standard error of the engine and of ffmpeg would drown the report.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO)) {
        FILE* null = fopen("/dev/null", "w");
        dup2(fileno(null), STDERR_FILENO);
        fclose(null);
    }
    ~QuietStderr() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

void BM_RenderShowcase(benchmark::State& state) {
    int width = static_cast<int>(state.range(0));
    fs::path scratch = fs::temp_directory_path() / ("qvbench-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    std::string folder = templateFor(width, scratch);
    std::string output = (scratch / "showcase.mp4").string();
    for (auto _ : state) {
        unsigned long handle = 0;
        zr_create_render_process(&handle, folder.c_str(), output.c_str(), 90);
        {
            QuietStderr quiet;
            zr_render_process_start(&handle, nullptr);
        }
        if (std::string(zr_render_process_status(&handle)) != "end") state.SkipWithError("render failed");
        zr_render_process_release(&handle);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MB"] = static_cast<double>(peakChildMemoryKb()) / 1024.0;
    fs::remove_all(scratch);
}

// The frames the engine rendered, decoded to raw RGBA outside the
// measurement, then encoded by the ffmpeg program alone.
void BM_FfmpegFloor(benchmark::State& state) {
    int width = static_cast<int>(state.range(0));
    int height = width * 9 / 16;
    long bitrate = static_cast<long>(static_cast<float>(width * height * kFps) * kBitrateFactor);
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    fs::path scratch = fs::temp_directory_path() / ("qvbench-raw-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    std::string folder = templateFor(width, scratch);
    std::string rendered = (scratch / "showcase.mp4").string();
    std::string raw = (scratch / "frames.rgba").string();
    {
        QuietStderr quiet;
        unsigned long handle = 0;
        zr_create_render_process(&handle, folder.c_str(), rendered.c_str(), 91);
        zr_render_process_start(&handle, nullptr);
        zr_render_process_release(&handle);
    }
    std::string decode = "ffmpeg -y -v error -i " + rendered + " -pix_fmt rgba -f rawvideo " + raw;
    if (system(decode.c_str()) != 0) state.SkipWithError("could not decode the rendered frames");
    std::string encode = "ffmpeg -y -v error -f rawvideo -pix_fmt rgba -s " + size + " -r 25 -i " + raw +
                         " -c:v libx264 -preset veryfast -tune zerolatency -bf 0 -g 25 -b:v " +
                         std::to_string(bitrate) + " -pix_fmt yuv420p -f h264 " +
                         (scratch / "out.h264").string();
    for (auto _ : state) {
        if (system(encode.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    fs::remove_all(scratch);
}

}  // namespace

BENCHMARK(BM_RenderShowcase)
    ->Arg(1280)
    ->Arg(1920)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FfmpegFloor)->Arg(1280)->Arg(1920)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
