// Whole renders of the showcase template through the native host interface
// (fork, scene, encoder, mux), beside the floor no renderer can beat: the
// ffmpeg program encoding the same frames with the same encoder settings
// (libx264 veryfast, zerolatency, the engine's bitrate, one key frame per
// second). One run prints:
//   BM_RenderShowcase      fps and the render child's peak memory (run first,
//                          before any ffmpeg child can raise the peak);
//   BM_AgainstFfmpeg       engine and ffmpeg wall times, taken in turn in each
//                          iteration, and their ratio;
//   BM_FourAtOnce          four renders started together against one alone;
//   BM_LongestDynamicStart seconds from start to "start" of the longest
//                          dynamic timeline a render takes (a day at 25 fps,
//                          background and foreground at the most tiles);
//   BM_DataFileAtCap       the render child's peak memory for a transform data
//                          file at the read cap (256 MB): bare numbers (0) or
//                          records that all differ (1);
//   BM_DynamicFrameTime    milliseconds a frame of a dynamic template takes
//                          with 200 and with 1600 user files (a frame's work
//                          should not grow with the files it does not show);
//   BM_SharedDataFileStart seconds to "start" of 30 layers that name one
//                          46 MB transform data file.
//
//   ./build/bench/bench_render --benchmark_counters_tabular=true
//
// Figures mean little while other work loads the machine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "render/Config.h"
#include "task/RenderTask.h"
#include "task/quorvane.h"
#include "bench/RenderSupport.h"

namespace {

namespace fs = std::filesystem;
using QvBench::peakChildMemoryKb;
using QvBench::QuietStderr;
using QvBench::render;
using QvBench::Scratch;

constexpr int kFrames = 125;
constexpr int kFps = 25;
constexpr float kBitrateFactor = 0.25f;
constexpr int kTogether = 4;


std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}


// The showcase, or a copy of it with every 1280x720 size made 1920x1080.
std::string templateFor(int width, const fs::path& scratch) {
    fs::path showcase = fs::path(QV_SOURCE_DIR) / "examples/templates/showcase";
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




// Wall seconds of `count` renders started together.
double renderTogether(const std::string& folder, const fs::path& scratch, int count, bool* ok) {
    std::vector<std::thread> threads;
    std::vector<char> results(static_cast<size_t>(count), 0);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            std::string output = (scratch / ("together" + std::to_string(i) + ".mp4")).string();
            results[static_cast<size_t>(i)] = render(folder, output, 100 + i);
        });
    }
    for (std::thread& t : threads) t.join();
    const double wall = seconds(start);
    *ok = std::all_of(results.begin(), results.end(), [](char r) { return r != 0; });
    return wall;
}

void BM_RenderShowcase(benchmark::State& state) {
    int width = static_cast<int>(state.range(0));
    Scratch scratch("render");
    std::string folder = templateFor(width, scratch.path);
    std::string output = (scratch.path / "showcase.mp4").string();
    QuietStderr quiet;
    for (auto _ : state) {
        if (!render(folder, output, 90)) state.SkipWithError("render failed");
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MB"] = static_cast<double>(peakChildMemoryKb()) / 1024.0;
}

// In each iteration one engine render and one ffmpeg encode of the frames the
// engine rendered (decoded to raw RGBA outside the timing), one after the
// other, so that both see the same load.
void BM_AgainstFfmpeg(benchmark::State& state) {
    int width = static_cast<int>(state.range(0));
    int height = width * 9 / 16;
    long bitrate = static_cast<long>(static_cast<float>(width * height * kFps) * kBitrateFactor);
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    Scratch scratch("floor");
    std::string folder = templateFor(width, scratch.path);
    std::string rendered = (scratch.path / "showcase.mp4").string();
    std::string raw = (scratch.path / "frames.rgba").string();
    QuietStderr quiet;
    if (!render(folder, rendered, 91)) {
        state.SkipWithError("render failed");
        return;
    }
    std::string decode = "ffmpeg -y -v error -i " + rendered + " -pix_fmt rgba -f rawvideo " + raw;
    if (system(decode.c_str()) != 0) {
        state.SkipWithError("could not decode the rendered frames");
        return;
    }
    std::string encode = "ffmpeg -y -v error -f rawvideo -pix_fmt rgba -s " + size + " -r 25 -i " + raw +
                         " -c:v libx264 -preset veryfast -tune zerolatency -bf 0 -g 25 -b:v " +
                         std::to_string(bitrate) + " -pix_fmt yuv420p -f h264 " +
                         (scratch.path / "out.h264").string();
    double engine = 0.0, ffmpeg = 0.0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!render(folder, rendered, 91)) state.SkipWithError("render failed");
        engine += seconds(start);
        start = std::chrono::steady_clock::now();
        if (system(encode.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        ffmpeg += seconds(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["engine_s"] = engine / n;
    state.counters["ffmpeg_s"] = ffmpeg / n;
    state.counters["ratio"] = ffmpeg > 0.0 ? engine / ffmpeg : 0.0;
}

// Four renders started together against one alone, taken in turn: the
// throughput of the machine when hosts render in parallel.
void BM_FourAtOnce(benchmark::State& state) {
    Scratch scratch("together");
    std::string folder = templateFor(static_cast<int>(state.range(0)), scratch.path);
    QuietStderr quiet;
    double alone = 0.0, together = 0.0;
    for (auto _ : state) {
        bool ok = false;
        alone += renderTogether(folder, scratch.path, 1, &ok);
        if (!ok) state.SkipWithError("render failed");
        together += renderTogether(folder, scratch.path, kTogether, &ok);
        if (!ok) state.SkipWithError("render failed");
    }
    const double n = static_cast<double>(state.iterations());
    const double fpsAlone = kFrames * n / alone;
    const double fpsTogether = kTogether * kFrames * n / together;
    state.counters["alone_s"] = alone / n;
    state.counters["four_s"] = together / n;
    state.counters["fps_alone"] = fpsAlone;
    state.counters["fps_four"] = fpsTogether;
    state.counters["gain"] = fpsTogether / fpsAlone;
}

// A dynamic template at 25 fps whose entrance and exit fill the longest
// timeline, under a background and a foreground of `tileFrames` frames.
std::string longestDynamic(const fs::path& folder, int tileFrames) {
    using Quorvane::Core::Config;
    const long long frames = static_cast<long long>(Config::maxTimelineFrames(25.0f));
    auto comp = [](const std::string& name, long long length, const std::string& source) {
        return "{\"name\":\"" + name + "\",\"size\":[64,48],\"duration\":" + std::to_string(length) +
               ",\"layers\":[{\"type\":1,\"source\":\"" + source + "\",\"range\":[0," +
               std::to_string(length) + "]}]}";
    };
    fs::create_directories(folder);
    std::ofstream(folder / "config.json")
        << R"({"type":2,"fps":25,"size":[64,48],"bg":"#000000","assets":[
               {"type":4,"key":"ph","name":"#808080","size":[64,48]},{"type":3,"key":"aS","name":"S"}],
             "sources":[)"
        << comp("S", 10, "ph") << "],\"entrance\":" << comp("E", frames - 5, "ph")
        << ",\"exit\":" << comp("X", 5, "ph") << ",\"background\":" << comp("B", tileFrames, "ph")
        << ",\"foreground\":" << comp("F", tileFrames, "ph") << ",\"segments\":[" << comp("A", 10, "aS") << "]}";
    return folder.string() + "/";
}

// Cancels the render as soon as it has started: only the way there is timed.
class StartClock : public Quorvane::Core::RenderDelegate {
public:
    void renderStarted() override {
        started = seconds(begin);
        if (task) task->cancel();
    }
    std::chrono::steady_clock::time_point begin;
    Quorvane::Core::RenderTask* task = nullptr;
    double started = -1.0;
};

// Seconds from start to "start" of the template, summed over the iterations.
double secondsToStart(benchmark::State& state, const std::string& folder, const Scratch& scratch) {
    QuietStderr quiet;
    double total = 0.0;
    for (auto _ : state) {
        StartClock clock;
        Quorvane::Core::RenderTask task(folder.c_str(), (scratch.path / "out.mp4").string().c_str(), &clock);
        clock.task = &task;
        clock.begin = std::chrono::steady_clock::now();
        task.start();
        if (clock.started < 0) state.SkipWithError("the render did not start");
        total += clock.started;
    }
    return total;
}

void BM_LongestDynamicStart(benchmark::State& state) {
    using Quorvane::Core::Config;
    Scratch scratch("dynamic");
    const long long frames = static_cast<long long>(Config::maxTimelineFrames(25.0f));
    const int tile = static_cast<int>((frames + Config::kMaxDynamicTiles - 1) / Config::kMaxDynamicTiles);
    const std::string folder = longestDynamic(scratch.path / "longest", tile);
    const double total = secondsToStart(state, folder, scratch);
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["tile_frames"] = tile;
    state.counters["to_start_s"] = total / static_cast<double>(state.iterations());
}

// A transform data file just under the read cap, written once per kind.
std::string dataFileTemplate(const fs::path& folder, bool distinct) {
    fs::create_directories(folder / "datas");
    std::ofstream(folder / "config.json")
        << R"({"type":1,"fps":25,"main":"main","assets":[],"comps":[{"name":"main","size":[64,48],)"
        << R"("bg":"#336699","duration":5,"layers":[{"type":1024,"transform":"t.json"}]}]})";
    const size_t cap = 256u << 20;
    std::ofstream data(folder / "datas/t.json", std::ios::binary);
    std::string chunk;
    size_t written = 1;
    data << "[";
    for (long long i = 0; written + 64 < cap; ++i) {
        chunk = (i ? "," : "") + (distinct ? "{\"t\":" + std::to_string(i) + "}" : std::string("1"));
        data << chunk;
        written += chunk.size();
    }
    data << "]";
    return folder.string() + "/";
}

void BM_DataFileAtCap(benchmark::State& state) {
    const bool distinct = state.range(0) != 0;
    Scratch scratch("datafile");
    const std::string folder = dataFileTemplate(scratch.path / "data", distinct);
    QuietStderr quiet;
    long peakKb = 0;
    for (auto _ : state) {
        const long peak =
            QvBench::peakInOwnProcessKb([&] { return render(folder, (scratch.path / "out.mp4").string(), 92); });
        if (peak < 0) state.SkipWithError("render failed");
        peakKb = std::max(peakKb, peak);
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(scratch.path / "data/datas/t.json")) / (1 << 20);
    state.counters["peak_rss_MB"] = static_cast<double>(peakKb) / 1024.0;
}

// A dynamic template whose one segment (10 frames) shows one user picture,
// over a background tiled every 40 frames, and `files` copies of a picture.
std::string dynamicWithFiles(const fs::path& folder, int files, std::vector<std::string>& paths) {
    auto comp = [](const std::string& name, int w, int h, int frames, const std::string& source, int x) {
        return "{\"name\":\"" + name + "\",\"size\":[" + std::to_string(w) + "," + std::to_string(h) +
               "],\"duration\":" + std::to_string(frames) + ",\"layers\":[{\"type\":1,\"source\":\"" + source +
               "\",\"range\":[0," + std::to_string(frames) + "],\"transform\":{\"p\":[" + std::to_string(x) +
               ",0,0],\"s\":[1,1,1]}}]}";
    };
    fs::create_directories(folder / "files");
    std::ofstream(folder / "config.json")
        << R"({"type":2,"fps":25,"size":[64,48],"bg":"#000000","expand":0,"assets":[
               {"type":4,"key":"ph","name":"#808080","size":[32,32]},
               {"type":4,"key":"bgs","name":"#2040A0","size":[64,48]},{"type":3,"key":"aS","name":"S"}],
             "sources":[)"
        << comp("S", 32, 32, 1000, "ph", 0) << "],\"background\":" << comp("B", 64, 48, 40, "bgs", 0)
        << ",\"segments\":[" << comp("A", 64, 48, 10, "aS", 16) << "]}";
    const fs::path picture = folder / "files/picture.png";
    if (std::system(("ffmpeg -v error -y -f lavfi -i color=c=0xC08040:s=32x32 -frames:v 1 " + picture.string())
                        .c_str()) != 0) {
        return std::string();
    }
    paths.clear();
    for (int i = 0; i < files; ++i) {
        const fs::path copy = folder / "files" / ("f" + std::to_string(i) + ".png");
        fs::copy_file(picture, copy, fs::copy_options::overwrite_existing);
        paths.push_back(copy.string());
    }
    return folder.string() + "/";
}

// Times frames `from` to `to` of the render, then cancels it.
class FrameClock : public Quorvane::Core::RenderDelegate {
public:
    FrameClock(int from, int to) : from_(from), to_(to) {}
    void renderUpdate(float) override {
        ++frames_;
        if (frames_ == from_) begin_ = std::chrono::steady_clock::now();
        if (frames_ == to_) {
            perFrameMs = seconds(begin_) * 1000.0 / (to_ - from_);
            if (task) task->cancel();
        }
    }
    Quorvane::Core::RenderTask* task = nullptr;
    double perFrameMs = -1.0;

private:
    int from_, to_;
    int frames_ = 0;
    std::chrono::steady_clock::time_point begin_;
};

void BM_DynamicFrameTime(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    Scratch scratch("dynamicframes");
    std::vector<std::string> paths;
    const std::string folder = dynamicWithFiles(scratch.path / "t", files, paths);
    if (folder.empty()) {
        state.SkipWithError("ffmpeg could not make the picture");
        return;
    }
    QuietStderr quiet;
    double total = 0.0;
    for (auto _ : state) {
        // Past the first frames, which load what the render keeps.
        FrameClock clock(100, 1100);
        Quorvane::Core::RenderTask task(folder.c_str(), (scratch.path / "out.mp4").string().c_str(), &clock);
        clock.task = &task;
        task.renderConfig()->setReplaceableFilePaths(paths);
        task.start();
        if (clock.perFrameMs < 0) state.SkipWithError("the render did not reach the frames timed");
        total += clock.perFrameMs;
    }
    state.counters["files"] = files;
    state.counters["ms_per_frame"] = total / static_cast<double>(state.iterations());
}

// Thirty layers that take their transform from one 46 MB data file.
std::string sharedDataFileTemplate(const fs::path& folder) {
    fs::create_directories(folder / "datas");
    std::ofstream config(folder / "config.json");
    config << R"({"type":1,"fps":25,"main":"main","assets":[{"key":"red","type":4,"name":"#FF0000","size":[16,16]}],)"
           << R"("comps":[{"name":"main","size":[64,48],"bg":"#336699","duration":5,"layers":[)";
    for (int i = 0; i < 30; ++i) {
        config << (i ? "," : "") << R"({"type":1,"source":"red","transform":"move.json"})";
    }
    config << "]}]}";
    std::ofstream data(folder / "datas/move.json", std::ios::binary);
    char record[128];
    size_t written = 1;
    data << "[";
    for (int i = 0; written < (46u << 20); ++i) {
        const int n = snprintf(record, sizeof record,
                               "%s{\"a\":[0,0,0],\"p\":[%.3f,24.000,0],\"s\":[1,1,1],\"r\":0,\"t\":1}",
                               i ? "," : "", 40.0 + (i % 1000) / 1000.0);
        data.write(record, n);
        written += static_cast<size_t>(n);
    }
    data << "]";
    return folder.string() + "/";
}

void BM_SharedDataFileStart(benchmark::State& state) {
    Scratch scratch("shareddata");
    const std::string folder = sharedDataFileTemplate(scratch.path / "t");
    const double total = secondsToStart(state, folder, scratch);
    state.counters["to_start_s"] = total / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_RenderShowcase)
    ->Arg(1280)
    ->Arg(1920)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_AgainstFfmpeg)->Arg(1280)->Arg(1920)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FourAtOnce)->Arg(1280)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LongestDynamicStart)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DataFileAtCap)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DynamicFrameTime)->Arg(200)->Arg(1600)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SharedDataFileStart)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
