// Helpers of the still-image tests: filter templates we write ourselves, test
// pictures with known pixels, and an independent decoder (the ffmpeg program)
// for what the engine wrote.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TaskTestSupport.h"

#include "support/MediaGen.h"
#include "support/TestSupport.h"

namespace QvImageTest {

struct Rgba {
    int r, g, b, a;
};

// A filter template (type 4) of filterWidth x filterHeight whose main
// composition holds one solid of `color` with opacity `opacity` covering the
// rectangle (x, y, w, h) of the filter composition. Stretched over an image,
// it tints the matching part of the image.
inline std::string writeTintFilter(const QvTest::TempDir& dir, const std::string& name, int filterWidth,
                                   int filterHeight, const std::string& color, float opacity, int x, int y,
                                   int w, int h) {
    std::string folder = dir.file(name) + "/";
    mkdir(folder.c_str(), 0755);
    char text[1024];
    snprintf(text, sizeof text,
             "{\"type\":4,\"version\":\"1.0.0\",\"fps\":30,\"main\":\"tint\","
             "\"assets\":[{\"type\":4,\"key\":\"plate\",\"name\":\"%s\",\"size\":[%d,%d]}],"
             "\"comps\":[{\"name\":\"tint\",\"size\":[%d,%d],\"fps\":30,\"duration\":1,\"layers\":["
             "{\"type\":1,\"source\":\"plate\",\"range\":[0,0,1],"
             "\"transform\":{\"a\":[0,0],\"p\":[%d,%d],\"s\":[1,1],\"r\":0,\"t\":%g}}]}]}",
             color.c_str(), w, h, filterWidth, filterHeight, x, y, opacity);
    QvTest::writeFile(folder + "config.json", text);
    return folder;
}

// Straight-alpha "over" of an opaque tint with opacity over an opaque pixel.
inline Rgba tinted(Rgba under, Rgba tint, float opacity) {
    auto mix = [&](int a, int b) { return static_cast<int>(a * (1.0f - opacity) + b * opacity + 0.5f); };
    return Rgba{mix(under.r, tint.r), mix(under.g, tint.g), mix(under.b, tint.b), 255};
}

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // rows from the top
    Rgba at(int x, int y) const {
        const uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
        return Rgba{p[0], p[1], p[2], p[3]};
    }
};

// Decodes any picture with the ffmpeg program into RGBA rows from the top.
inline Image decode(const std::string& path) {
    Image image;
    std::string w = QvTest::probe(path, "v:0", "width");
    std::string h = QvTest::probe(path, "v:0", "height");
    if (w.empty() || h.empty()) return image;
    QvTest::ProgramResult run = QvTest::runProgram(
        {"ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
    int width = atoi(w.c_str());
    int height = atoi(h.c_str());
    if (run.exitCode != 0 || run.out.size() != static_cast<size_t>(width) * height * 4) return image;
    image.width = width;
    image.height = height;
    image.rgba.assign(run.out.begin(), run.out.end());
    return image;
}

// An opaque test picture: four flat quadrants of the given colours (top left,
// top right, bottom left, bottom right), so that lossy formats keep their
// colours away from the quadrant edges.
inline std::vector<uint8_t> quadrants(int width, int height, const std::vector<Rgba>& colors) {
    std::vector<uint8_t> rgba;
    rgba.reserve(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba& c = colors[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
            rgba.insert(rgba.end(), {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g),
                                     static_cast<uint8_t>(c.b), 255});
        }
    }
    return rgba;
}

inline bool near(Rgba a, Rgba b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

inline std::string describe(Rgba c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," +
           std::to_string(c.a) + ")";
}

using QvTaskTest::HostThread;
using QvTaskTest::waitForOneChild;

}  // namespace QvImageTest
