// Cost of one frame of the Gaussian blur at 720p for a few amounts (the
// program is generated and compiled once, outside the timing), and of the
// colour channel pass for comparison.
#include <benchmark/benchmark.h>

#include <memory>

#include "effects/ColorChannelAdjustment.h"
#include "effects/GaussianBlurEffect.h"
#include "render/GLContext.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "tests/support/TestComp.h"

using namespace Quorvane::Core;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Scene {
    Scene() {
        context = GLContextGet(kWidth, kHeight, nullptr);
        if (!context) return;
        GLContextMakeCurrent(context);
        comp = std::make_unique<QvTest::TestComp>(kWidth, kHeight, 25);
        comp->manager = &manager;
        layer = new RenderLayer(comp.get(), kAVLayer, false);
        comp->addLayer(layer, false);
        source = std::make_unique<GLRenderDestination>(kWidth, kHeight);
    }
    void draw(RenderEffect& effect) {
        effect.prepareForFrame(0);
        effect.draw(source->grabTextureForRead(true));
        glFinish();
    }

    GLContext* context = nullptr;
    GLFrameBufferManager manager;
    std::unique_ptr<QvTest::TestComp> comp;
    RenderLayer* layer = nullptr;
    std::unique_ptr<GLRenderDestination> source;
};

Scene& scene() {
    static Scene s;
    return s;
}

void BM_GaussianBlur(benchmark::State& state) {
    Scene& s = scene();
    if (!s.context) {
        state.SkipWithError("no headless GL context");
        return;
    }
    GaussianBlurEffect effect(s.layer);
    effect.setBlurScale(static_cast<float>(state.range(0)));
    s.draw(effect);  // generates and compiles the program
    for (auto _ : state) s.draw(effect);
    state.counters["radius"] = static_cast<double>(effect.sampleRadius());
}
BENCHMARK(BM_GaussianBlur)->Arg(2)->Arg(5)->Arg(20)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_ColorChannelAdjustment(benchmark::State& state) {
    Scene& s = scene();
    if (!s.context) {
        state.SkipWithError("no headless GL context");
        return;
    }
    ColorChannelAdjustment effect(s.layer);
    effect.setSaturation(0.5f);
    s.draw(effect);
    for (auto _ : state) s.draw(effect);
}
BENCHMARK(BM_ColorChannelAdjustment)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
