// Cost of one 720p frame of the per-pixel effects: a one-tap colour pass
// (contrast), the five-read chroma key, the 64-read edge choker and the
// bilateral blur, whose window grows with the square of its size. Programs
// are compiled once, outside the timing.
#include "bench/BenchSupport.h"
#include "effects/BilateralBlurEffect.h"
#include "effects/ChromaKeyEffect.h"
#include "effects/ContrastEffect.h"
#include "effects/EdgeChokerEffect.h"

using namespace Quorvane::Core;
using QvBench::LayerScene;

namespace {

LayerScene* scene(benchmark::State& state) {
    return QvBench::sharedScene<LayerScene>(state);
}

void BM_Contrast(benchmark::State& state) {
    if (LayerScene* s = scene(state)) {
        ContrastEffect effect(s->layer);
        s->run(state, effect);
    }
}
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);

void BM_ChromaKey(benchmark::State& state) {
    if (LayerScene* s = scene(state)) {
        ChromaKeyEffect effect(s->layer);
        s->run(state, effect);
    }
}
BENCHMARK(BM_ChromaKey)->Unit(benchmark::kMillisecond);

void BM_EdgeChoker(benchmark::State& state) {
    if (LayerScene* s = scene(state)) {
        EdgeChokerEffect effect(s->layer);
        effect.setEdgeWidth(3);
        s->run(state, effect);
    }
}
BENCHMARK(BM_EdgeChoker)->Unit(benchmark::kMillisecond);

void BM_BilateralBlur(benchmark::State& state) {
    if (LayerScene* s = scene(state)) {
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
