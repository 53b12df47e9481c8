// Frames per second of the software H.264 encoder layer (texture read-back,
// colour conversion, libx264) at 1280x720 and 1920x1080, beside the ffmpeg
// program encoding the same frames from raw RGBA with the same libx264 settings.
//   bench_encoder --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>

#include "core/Subprocess.h"
#include "media/SoftwareH264Encoder.h"
#include "render/GLContext.h"

using namespace Quorvane::Core;

namespace {

constexpr int kFps = 30;
constexpr int kDistinctFrames = 8;
constexpr int kProgramFrames = 120;

uint64_t bitrate(int w, int h) {
    return static_cast<uint64_t>(static_cast<float>(w * h * kFps) * 0.25f);
}

// A rendered-looking frame: smooth gradients, moving solid shapes and a little
// grain, so that the encoder has neither a trivial nor a noise-only picture.
std::vector<uint8_t> makeFrame(int w, int h, int index) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    uint32_t seed = 2166136261u + static_cast<uint32_t>(index);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * w + x)];
            seed = seed * 1664525u + 1013904223u;
            int grain = static_cast<int>((seed >> 28) & 7) - 4;
            int r = x * 255 / w, g = y * 255 / h, b = (x + y + index * 24) % 256;
            int cx = (index * w / 10 + w / 4) % w, cy = h / 2;
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < (h / 5) * (h / 5)) r = 240, g = 200, b = 40;
            if (x > w / 2 + index * 8 && x < w / 2 + index * 8 + w / 6 && y > h / 8 && y < h / 3)
                r = 30, g = 60, b = 200;
            p[0] = static_cast<uint8_t>(std::min(255, std::max(0, r + grain)));
            p[1] = static_cast<uint8_t>(std::min(255, std::max(0, g + grain)));
            p[2] = static_cast<uint8_t>(std::min(255, std::max(0, b + grain)));
            p[3] = 255;
        }
    }
    return rgba;
}

GLContext* context() {
    static GLContext* ctx = [] {
        GLContext* c = GLContextGet(64, 64, nullptr);
        if (c) GLContextMakeCurrent(c);
        return c;
    }();
    return ctx;
}

void BM_SoftwareEncoderLayer(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    if (!context()) {
        state.SkipWithError("no headless GL context");
        return;
    }
    std::vector<GLuint> textures(kDistinctFrames);
    glGenTextures(kDistinctFrames, textures.data());
    for (int i = 0; i < kDistinctFrames; ++i) {
        glBindTexture(GL_TEXTURE_2D, textures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     makeFrame(w, h, i).data());
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    NvPipe* enc = NvPipe_CreateEncoder(NVPIPE_FORMAT_RGBA32, NVPIPE_CODEC_H264, NVPIPE_COMPRESSION_LOSSY,
                                       bitrate(w, h), kFps, w, h);
    if (!enc) {
        state.SkipWithError(NvPipe_GetError(nullptr));
        return;
    }
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    uint64_t bytes = 0;
    int i = 0;
    for (auto _ : state) {
        uint64_t n = NvPipe_EncodeTexture(enc, textures[i++ % kDistinctFrames], GL_TEXTURE_2D, out.data(),
                                          out.size(), w, h, false);
        if (n == 0) {
            state.SkipWithError(NvPipe_GetError(enc));
            break;
        }
        bytes += n;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["kbit_per_frame"] =
        static_cast<double>(bytes) * 8 / 1000 / std::max<int64_t>(1, state.iterations());
    NvPipe_Destroy(enc);
    glDeleteTextures(kDistinctFrames, textures.data());
}

void BM_FfmpegProgram(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    char tmpl[] = "/tmp/qvbench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temp dir");
        return;
    }
    std::string raw = std::string(tmpl) + "/frames.rgba";
    {
        std::ofstream f(raw, std::ios::binary);
        for (int i = 0; i < kDistinctFrames; ++i) {
            std::vector<uint8_t> frame = makeFrame(w, h, i);
            f.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        }
    }
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    // The layer's settings: libx264, veryfast, zerolatency, no B-frames, one key
    // frame a second, the writer's bitrate, BT.601 limited-range YUV 4:2:0.
    std::vector<std::string> argv = {"ffmpeg",       "-nostdin",
                                     "-v",           "error",
                                     "-stream_loop", "-1",
                                     "-f",           "rawvideo",
                                     "-pix_fmt",     "rgba",
                                     "-s",           size,
                                     "-r",           std::to_string(kFps),
                                     "-i",           raw,
                                     "-frames:v",    std::to_string(kProgramFrames),
                                     "-pix_fmt",     "yuv420p",
                                     "-c:v",         "libx264",
                                     "-preset",      "veryfast",
                                     "-tune",        "zerolatency",
                                     "-bf",          "0",
                                     "-g",           std::to_string(kFps),
                                     "-b:v",         std::to_string(bitrate(w, h)),
                                     "-f",           "h264",
                                     "-y",           "/dev/null"};
    for (auto _ : state) {
        if (Subprocess::run(argv) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kProgramFrames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations() * kProgramFrames),
                                               benchmark::Counter::kIsRate);
    unlink(raw.c_str());
    rmdir(tmpl);
}

}  // namespace

BENCHMARK(BM_SoftwareEncoderLayer)->Args({1280, 720})->Args({1920, 1080})->UseRealTime()->MinTime(4.0);
BENCHMARK(BM_FfmpegProgram)->Args({1280, 720})->Args({1920, 1080})->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
