// Cost of one frame of the Gaussian blur at 720p for a few amounts (the
// program is generated and compiled once, outside the timing), and of the
// colour channel pass for comparison.
#include "bench/BenchSupport.h"
#include "effects/ColorChannelAdjustment.h"
#include "effects/GaussianBlurEffect.h"

using namespace Quorvane::Core;
using QvBench::LayerScene;

namespace {

void BM_GaussianBlur(benchmark::State& state) {
    if (LayerScene* s = QvBench::sharedScene<LayerScene>(state)) {
        GaussianBlurEffect effect(s->layer);
        effect.setBlurScale(static_cast<float>(state.range(0)));
        s->run(state, effect);
        state.counters["radius"] = static_cast<double>(effect.sampleRadius());
    }
}
BENCHMARK(BM_GaussianBlur)->Arg(2)->Arg(5)->Arg(20)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_ColorChannelAdjustment(benchmark::State& state) {
    if (LayerScene* s = QvBench::sharedScene<LayerScene>(state)) {
        ColorChannelAdjustment effect(s->layer);
        effect.setSaturation(0.5f);
        s->run(state, effect);
    }
}
BENCHMARK(BM_ColorChannelAdjustment)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
