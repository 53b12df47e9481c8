// Cost of compositing one layer per frame, as a composition does it: the
// previous texture alternates between the two frame destinations (and, for a
// layer that is sometimes the first one drawn, with none at all).
#include "bench/BenchSupport.h"
#include "render/CompositeRenderPass.h"

using namespace Quorvane::Core;
using QvBench::kHeight;
using QvBench::kWidth;

namespace {

struct Scene : QvBench::LayerScene {
    Scene() {
        if (!context) return;
        a = std::make_unique<GLRenderDestination>(kWidth, kHeight);
        b = std::make_unique<GLRenderDestination>(kWidth, kHeight);
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

    std::unique_ptr<GLRenderDestination> a, b, target;
};

// Both previous textures give the same program text.
void BM_CompositeTwoPreviousTextures(benchmark::State& state) {
    Scene* s = QvBench::sharedScene<Scene>(state);
    if (!s) return;
    auto pass = s->newPass();
    unsigned int textures[2] = {s->a->grabTextureForRead(true), s->b->grabTextureForRead(true)};
    int i = 0;
    for (auto _ : state) s->draw(*pass, textures[i++ & 1]);
}
BENCHMARK(BM_CompositeTwoPreviousTextures)->Unit(benchmark::kMillisecond);

// Alternating with no previous texture switches between two program texts.
void BM_CompositePreviousTextureAndNone(benchmark::State& state) {
    Scene* s = QvBench::sharedScene<Scene>(state);
    if (!s) return;
    auto pass = s->newPass();
    unsigned int textures[2] = {s->a->grabTextureForRead(true), 0};
    int i = 0;
    for (auto _ : state) s->draw(*pass, textures[i++ & 1]);
}
BENCHMARK(BM_CompositePreviousTextureAndNone)->Unit(benchmark::kMillisecond);

// What every draw would cost if the program were rebuilt each time.
void BM_CompositeFreshProgramEachDraw(benchmark::State& state) {
    Scene* s = QvBench::sharedScene<Scene>(state);
    if (!s) return;
    unsigned int previous = s->a->grabTextureForRead(true);
    for (auto _ : state) {
        auto pass = s->newPass();
        s->draw(*pass, previous);
    }
}
BENCHMARK(BM_CompositeFreshProgramEachDraw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
