// Cost of one 720p frame of the per-pixel effects: a one-tap colour pass
// (contrast), the five-read chroma key, the 64-read edge choker and the
// bilateral blur, whose window grows with the square of its size. Programs
// are compiled once, outside the timing.
#include <benchmark/benchmark.h>

#include <memory>

#include "effects/BilateralBlurEffect.h"
#include "effects/ChromaKeyEffect.h"
#include "effects/ContrastEffect.h"
#include "effects/EdgeChokerEffect.h"
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
    template <typename Effect>
    void run(benchmark::State& state, Effect& effect) {
        draw(effect);
        for (auto _ : state) draw(effect);
    }

    GLContext* context = nullptr;
    GLFrameBufferManager manager;
    std::unique_ptr<QvTest::TestComp> comp;
    RenderLayer* layer = nullptr;
    std::unique_ptr<GLRenderDestination> source;
};

Scene* scene(benchmark::State& state) {
    static Scene s;
    if (s.context) return &s;
    state.SkipWithError("no headless GL context");
    return nullptr;
}

void BM_Contrast(benchmark::State& state) {
    if (Scene* s = scene(state)) {
        ContrastEffect effect(s->layer);
        s->run(state, effect);
    }
}
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);

void BM_ChromaKey(benchmark::State& state) {
    if (Scene* s = scene(state)) {
        ChromaKeyEffect effect(s->layer);
        s->run(state, effect);
    }
}
BENCHMARK(BM_ChromaKey)->Unit(benchmark::kMillisecond);

void BM_EdgeChoker(benchmark::State& state) {
    if (Scene* s = scene(state)) {
        EdgeChokerEffect effect(s->layer);
        effect.setEdgeWidth(3);
        s->run(state, effect);
    }
}
BENCHMARK(BM_EdgeChoker)->Unit(benchmark::kMillisecond);

void BM_BilateralBlur(benchmark::State& state) {
    if (Scene* s = scene(state)) {
        BilateralBlurEffect effect(s->layer);
        effect.setBlurScale(static_cast<float>(state.range(0)));
        s->run(state, effect);
        state.counters["taps"] = static_cast<double>((effect.windowSize() - 1) / 2 * 2 + 1) *
                                 static_cast<double>((effect.windowSize() - 1) / 2 * 2 + 1);
    }
}
BENCHMARK(BM_BilateralBlur)->Arg(3)->Arg(9)->Arg(29)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
