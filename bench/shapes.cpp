// Cost of a layer mask per frame at 1280x720: a mask whose shape stays the
// same reuses its tessellation and programs; a mask whose shape changes every
// frame (an animated mask, one shape per frame) re-tessellates and builds the
// painters' two programs again each frame.
#include <cmath>
#include <memory>
#include <string>

#include <rapidjson/document.h>

#include "bench/BenchSupport.h"
#include "shapes/MaskRender.h"

using namespace Quorvane::Core;

namespace {

// A wavy closed outline of cubic segments around the layer centre.
std::string Frame(float phase) {
    std::string lines;
    const int n = 24;
    auto at = [&](int i, float r) {
        const float a = 2 * 3.14159265f * i / n;
        return "[" + std::to_string(640 + r * std::cos(a)) + "," + std::to_string(360 + r * std::sin(a)) +
               "]";
    };
    for (int i = 0; i < n; ++i) {
        const float r0 = 300 + 40 * std::sin(i + phase), r1 = 300 + 40 * std::sin(i + 1 + phase);
        if (!lines.empty()) lines += ",";
        lines +=
            "[" + at(i, r0) + "," + at(i, r0 + 30) + "," + at(i + 1, r1 - 30) + "," + at(i + 1, r1) + "]";
    }
    return "[{\"lines\":[" + lines + "]}]";
}

struct Scene : QvBench::LayerScene {
    Scene() {
        if (!context) return;
        mask = std::make_unique<MaskRender>(layer, true);
        rapidjson::Document doc;
        const std::string json = "[" + Frame(0) + "," + Frame(1.5f) + "]";
        doc.Parse(json.c_str());
        mask->loadFromJson(doc);
    }
    void draw(long long frame) {
        mask->prepareForFrame(frame);
        mask->draw(source->grabTextureForRead(true));
        glFinish();
    }

    std::unique_ptr<MaskRender> mask;
};

void BM_MaskSteadyShape(benchmark::State& state) {
    Scene* s = QvBench::sharedScene<Scene>(state);
    if (!s) return;
    for (auto _ : state) s->draw(0);
}
BENCHMARK(BM_MaskSteadyShape)->Unit(benchmark::kMillisecond);

void BM_MaskShapeChangesEveryFrame(benchmark::State& state) {
    Scene* s = QvBench::sharedScene<Scene>(state);
    if (!s) return;
    long long frame = 0;
    for (auto _ : state) s->draw(frame++ & 1);
}
BENCHMARK(BM_MaskShapeChangesEveryFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
