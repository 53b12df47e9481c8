// What the GL benchmarks share: one 720p layer in a test composition on the
// headless GL device, with a source texture to draw it from.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>

#include "render/GLContext.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/RenderEffect.h"
#include "tests/support/TestComp.h"

namespace QvBench {

using namespace Quorvane::Core;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct LayerScene {
    LayerScene() {
        context = GLContextGet(kWidth, kHeight, nullptr);
        if (!context) return;
        GLContextMakeCurrent(context);
        comp = std::make_unique<QvTest::TestComp>(kWidth, kHeight, 25);
        comp->manager = &manager;
        layer = new RenderLayer(comp.get(), kAVLayer, false);
        comp->addLayer(layer, false);
        source = std::make_unique<GLRenderDestination>(kWidth, kHeight);
    }

    // glFinish: the software renderer works lazily, so the time of a frame
    // is only taken once its pixels are there.
    void draw(RenderEffect& effect) {
        effect.prepareForFrame(0);
        effect.draw(source->grabTextureForRead(true));
        glFinish();
    }
    // Draws once outside the timing (the effect builds its program then),
    // then once per iteration.
    void run(benchmark::State& state, RenderEffect& effect) {
        draw(effect);
        for (auto _ : state) draw(effect);
    }

    GLContext* context = nullptr;
    GLFrameBufferManager manager;
    std::unique_ptr<QvTest::TestComp> comp;
    RenderLayer* layer = nullptr;
    std::unique_ptr<GLRenderDestination> source;
};

// The one scene of its kind a benchmark program builds; null, with the
// benchmark marked skipped, where there is no headless GL device.
template <typename Scene>
Scene* sharedScene(benchmark::State& state) {
    static Scene scene;
    if (scene.context) return &scene;
    state.SkipWithError("no headless GL context");
    return nullptr;
}

}  // namespace QvBench
