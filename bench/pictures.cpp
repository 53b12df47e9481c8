// Peak memory of the render child for very large pictures, each rendered
// through the native host interface in a 64x48, two-frame template:
//   BM_Pictures/0   one 16384 x 16384 PNG (held once, in its texture)
//   BM_Pictures/1   four of them (the picture budget refuses two)
//   BM_Pictures/2   a 200-megapixel JPEG (16320 x 12240, a phone photo)
//   BM_Pictures/3   a PNG-in-MOV video of 16000 x 16000 (refused from its header)
//
//   ./build/bench/bench_pictures --benchmark_counters_tabular=true
//
// Every case renders in a process of its own, so that one case's peak does
// not hide the next one's. The pictures are written here (a few seconds).
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/RenderSupport.h"

namespace {

namespace fs = std::filesystem;


// A flat red RGBA PNG, compressed fast: 16384 x 16384 makes about 1 MB.
bool writePng(const fs::path& path, int width, int height) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 4);
    for (size_t i = 0; i < row.size(); i += 4) row[i] = row[i + 3] = 255;
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0;
}

// A JPEG of the size of a 200-megapixel phone photo.
bool writeJpeg(const fs::path& path, int width, int height) {
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=s=" + std::to_string(width) + "x" +
                                std::to_string(height) + ":d=0.04:r=25 -frames:v 1 -q:v 3 '" + path.string() + "'";
    return std::system(command.c_str()) == 0;
}

bool writeMov(const fs::path& path) {
    const std::string command = "ffmpeg -v error -y -f lavfi -i color=c=red:s=16000x16000:d=0.08:r=25 -c:v png "
                                "-pix_fmt rgb24 '" + path.string() + "'";
    return std::system(command.c_str()) == 0;
}

// The template shows every file once, side by side, scaled down.
void writeTemplate(const fs::path& folder, const std::vector<std::string>& files) {
    std::string assets, layers;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string n = std::to_string(i);
        assets += std::string(i ? "," : "") + R"({"key":"a)" + n + R"(","type":1,"name":")" + files[i] + "\"}";
        layers += std::string(i ? "," : "") + R"({"type":1,"uuid":"l)" + n + R"(","source":"a)" + n +
                  R"(","range":[0,2],"transform":{"a":[0,0],"p":[)" + std::to_string(i * 16) +
                  R"(,0],"s":[0.001,0.001],"r":0,"t":1}})";
    }
    std::ofstream(folder / "config.json") << R"({"type":1,"fps":25,"main":"main","assets":[)" << assets
                                          << R"(],"comps":[{"name":"main","size":[64,48],"bg":"#0000FF",)"
                                          << R"("duration":2,"layers":[)" << layers << "]}]}";
}


void BM_Pictures(benchmark::State& state) {
    QvBench::Scratch scratch("pictures");
    const fs::path assets = scratch.path / "assets";
    fs::create_directories(assets);
    std::vector<std::string> files;
    bool made = true;
    switch (state.range(0)) {
        case 0:
        case 1:
            made = writePng(assets / "big.png", 16384, 16384);
            files.assign(state.range(0) == 0 ? 1 : 4, "big.png");
            // Four sources of one file: each is decoded and held on its own.
            break;
        case 2:
            made = writeJpeg(assets / "photo.jpg", 16320, 12240);
            files = {"photo.jpg"};
            break;
        default:
            made = writeMov(assets / "big.mov");
            files = {"big.mov"};
            break;
    }
    if (!made) {
        state.SkipWithError("the picture could not be written");
        return;
    }
    writeTemplate(scratch.path, files);
    long peak = -1;
    QvBench::QuietStderr quiet;
    const std::string folder = scratch.path.string() + "/";
    for (auto _ : state)
        peak = QvBench::peakInOwnProcessKb([&] { return QvBench::render(folder, folder + "out.mp4", 140); });
    if (peak < 0) state.SkipWithError("render failed");
    state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
}
BENCHMARK(BM_Pictures)->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
