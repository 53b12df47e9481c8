// Cost of compositing one layer per frame, as a composition does it: the
// previous texture alternates between the two frame destinations (and, for a
// layer that is sometimes the first one drawn, with none at all).
#include <benchmark/benchmark.h>

#include <memory>

#include "render/CompositeRenderPass.h"
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
        a = std::make_unique<GLRenderDestination>(kWidth, kHeight);
        b = std::make_unique<GLRenderDestination>(kWidth, kHeight);
        source = std::make_unique<GLRenderDestination>(kWidth, kHeight);
        target = std::make_unique<GLRenderDestination>(kWidth, kHeight);
    }

    std::unique_ptr<CompositeRenderPass> newPass() {
        auto pass =
            std::make_unique<CompositeRenderPass>(layer, BlendMode::Screen, kNoTrackMatte, 0, 0, false);
        Mat4 ortho;
        ortho.setOrtho(-kWidth / 2.0f, kWidth / 2.0f, kHeight / 2.0f, -kHeight / 2.0f, -1, 100);
        pass->setProjection(ortho);
        pass->setSourceTexture(source->grabTextureForRead(true));
        return pass;
    }

    void draw(CompositeRenderPass& pass, unsigned int previous) {
        manager.pushDestination(target.get());
        pass.prepareForFrame(0);
        pass.draw(previous);
        manager.popDestination(false);
        glFinish();
    }

    GLContext* context = nullptr;
    GLFrameBufferManager manager;
    std::unique_ptr<QvTest::TestComp> comp;
    RenderLayer* layer = nullptr;
    std::unique_ptr<GLRenderDestination> a, b, source, target;
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

// Both previous textures give the same program text.
void BM_CompositeTwoPreviousTextures(benchmark::State& state) {
    Scene& s = TheScene();
    if (!s.context) return state.SkipWithError("no headless GL device");
    auto pass = s.newPass();
    unsigned int textures[2] = {s.a->grabTextureForRead(true), s.b->grabTextureForRead(true)};
    int i = 0;
    for (auto _ : state) s.draw(*pass, textures[i++ & 1]);
}
BENCHMARK(BM_CompositeTwoPreviousTextures)->Unit(benchmark::kMillisecond);

// Alternating with no previous texture switches between two program texts.
void BM_CompositePreviousTextureAndNone(benchmark::State& state) {
    Scene& s = TheScene();
    if (!s.context) return state.SkipWithError("no headless GL device");
    auto pass = s.newPass();
    unsigned int textures[2] = {s.a->grabTextureForRead(true), 0};
    int i = 0;
    for (auto _ : state) s.draw(*pass, textures[i++ & 1]);
}
BENCHMARK(BM_CompositePreviousTextureAndNone)->Unit(benchmark::kMillisecond);

// What every draw would cost if the program were rebuilt each time.
void BM_CompositeFreshProgramEachDraw(benchmark::State& state) {
    Scene& s = TheScene();
    if (!s.context) return state.SkipWithError("no headless GL device");
    unsigned int previous = s.a->grabTextureForRead(true);
    for (auto _ : state) {
        auto pass = s.newPass();
        s.draw(*pass, previous);
    }
}
BENCHMARK(BM_CompositeFreshProgramEachDraw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
