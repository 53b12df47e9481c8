#include "scene/Watermark.h"

#include <algorithm>
#include <cmath>

#include "core/Log.h"
#include "core/TimeUnit.h"
#include "core/Unique.h"
#include "render/TransformManager.h"
#include "scene/DynamicComp.h"
#include "scene/FilterManager.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderContext.h"

namespace Quorvane {
namespace Core {

namespace {

// ceil of a single-precision product as a frame count. Products beyond any
// real render (or not a number) are held to a bound instead of being cast,
// which would be undefined.
int64_t ceilFrames(float value) {
    constexpr float kMaxFrames = 4611686018427387904.0f;  // 2^62
    const float up = std::ceil(value);
    if (!(up > 0.0f)) return 0;
    return up >= kMaxFrames ? static_cast<int64_t>(kMaxFrames) : static_cast<int64_t>(up);
}

}  // namespace

Watermark::Span Watermark::span(Vec2 time, float fps, unsigned long contextDuration) {
    Span result;
    float start = time.x;
    const float duration = time.y;
    // Compared in single precision, so that a duration given as 0.001 counts
    // as at most 0.001 (widened to double, 0.001f lies just above 0.001).
    // Written so that a duration that is not a number also means the whole render.
    if (!(duration > 0.001f)) {
        result.inPoint = 0;
        result.duration = static_cast<int64_t>(contextDuration);
        return result;
    }
    if (!(start > 0.0f)) start = 0.0f;
    result.inPoint = ceilFrames(start * fps);
    result.duration = ceilFrames(fps * duration);
    return result;
}

std::string RenderContext::addWatermark(const std::vector<std::string>& paths, Vec2 position, Vec2 time,
                                        Vec2 scale) {
    QVPrint(" addWatermark(), %f, %f", position.x, position.y);
    if (paths.empty()) return std::string();
    const std::string key = Unique::GenerateID();
    const std::string result = paths.size() == 1 ? createAVFileSource(paths.front(), key, 0.0f, std::string())
                                                 : createImageSequenceSource(paths, key, 0.0f, std::string());
    auto* layer = new RenderAVLayer(this);
    layer->setSourceID(result, true);

    const float fps = frameRate();
    const Watermark::Span shown = Watermark::span(time, fps, duration());
    layer->setLayerInPoint(TimeUnit(shown.inPoint, fps));
    layer->setLayerDuration(TimeUnit(shown.duration, fps));

    // With the anchor at (0, 0) the position is the image's top-left corner in
    // context pixels, and the scale grows the image from that corner.
    auto* record = new TransformManager::TransformData();
    record->setScale(Vec3(scale.x, scale.y, 1.0f));
    record->setPosition(Vec3(position.x, position.y, 0.0f));
    layer->transformManager()->transforms().push_back(record);

    addLayer(layer, false);
    layer->contentLoaded();
    return result;
}

std::string RenderContext::addWatermark(const std::string& path, Vec2 position, Vec2 time, Vec2 scale) {
    return addWatermark(std::vector<std::string>{path}, position, time, scale);
}

void RenderContext::removeWatermark(const std::string& key) {
    // Layers without a source have an empty key; an empty handle names no watermark.
    if (key.empty()) return;
    for (RenderLayer* layer : layers()) {
        if ((layer->layerType() & kAVLayer) == 0) continue;
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        if (!av || av->sourceID() != key) continue;
        // A script can move such a layer into the context and give it the
        // key; deleting it would leave the other part pointing at freed memory.
        if (layerInUse(av)) {
            QVPrint(" removeWatermark(): the layer showing %s is in use, kept", key.c_str());
            return;
        }
        if (removeLayer(av)) {
            av->unprepare();
            delete av;
        }
        return;
    }
}

bool RenderContext::layerInUse(const RenderLayer* layer) const {
    if (mFilterManager && mFilterManager->holdsLayer(layer)) return true;
    for (const auto& entry : mComps) {
        auto* source = dynamic_cast<DynamicSourceComp*>(entry.second);
        if (source && source->blurredCopyLayer() == layer) return true;
        auto* segment = dynamic_cast<DynamicSegmentComp*>(entry.second);
        if (!segment) continue;
        const auto& sourceLayers = segment->sourceLayers();
        if (std::find(sourceLayers.begin(), sourceLayers.end(), layer) != sourceLayers.end()) return true;
    }
    return false;
}

}  // namespace Core
}  // namespace Quorvane
