// Composition data, construction, loading, time, copies and look-ups. The
// drawing of a frame is in RenderCompDraw.cpp.
#include "scene/RenderComp.h"

#include <climits>
#include <cmath>
#include <map>
#include <set>

#include "core/Json.h"
#include "core/Log.h"
#include "core/Unique.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLRenderDestination.h"
#include "scene/RenderAdjustmentLayer.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderNullLayer.h"

namespace Quorvane {
namespace Core {

namespace {

// The class a layer element's "type" bits choose: the first bit set, in this
// order, wins.
struct LayerKind {
    long long bit;
    RenderLayer* (*create)(RenderComp* comp);
};

const LayerKind kLayerKinds[] = {
    {kNullLayer, [](RenderComp* c) -> RenderLayer* { return new RenderNullLayer(c); }},
    {kAdjustmentLayer, [](RenderComp* c) -> RenderLayer* { return new RenderAdjustmentLayer(c); }},
    {kCameraLayer, [](RenderComp* c) -> RenderLayer* { return new RenderCameraLayer(c); }},
    {kAVLayer, [](RenderComp* c) -> RenderLayer* { return new RenderAVLayer(c); }},
};

}  // namespace

// ---- construction ------------------------------------------------------------------

RenderComp::RenderComp(RenderComp* parent, bool flip, unsigned int texture, int framebuffer)
    : RenderAVLayer(parent), mCompType(kCompTypeMain), mName("main") {
    initOutputPass(flip, texture, framebuffer);
}

RenderComp::RenderComp(RenderComp* parent, std::string name)
    : RenderAVLayer(parent), mCompType(kCompTypeNormal), mName(std::move(name)) {
    initOutputPass(true, 0, -1);
    addComp(this);
}

RenderComp::RenderComp(RenderComp* parent, bool flip, int width, int height, unsigned long duration,
                       std::string name, unsigned int texture, int framebuffer)
    : RenderAVLayer(parent), mCompType(kCompTypeMain), mName(std::move(name)) {
    initOutputPass(flip, texture, framebuffer);
    setCompSize(width, height);
    setCompDuration(duration);
}

RenderComp::RenderComp(RenderComp* parent, int width, int height, int duration, std::string name)
    : RenderAVLayer(parent), mCompType(kCompTypeNormal), mName(std::move(name)) {
    initOutputPass(true, 0, -1);
    addComp(this);
    setCompSize(width, height);
    // A negative count would wrap to an endless composition.
    setCompDuration(duration > 0 ? static_cast<unsigned long>(duration) : 0);
}

RenderComp::RenderComp(const RenderComp& other)
    : RenderAVLayer(other),
      LayerManager(),
      mCompType(other.mCompType),
      mName(Unique::GenerateID()),
      mBackgroundColor(other.mBackgroundColor),
      mOrthoProjection(other.mOrthoProjection),
      mOITEnabled(other.mOITEnabled) {
    initOutputPass(true, 0, -1);
    addComp(this);
    setCompSize(other.width(), other.height());
    mDuration = other.mDuration;
    copyLayersFrom(other, nullptr);
    contentLoaded();
}

RenderComp::RenderComp(RenderComp* other, std::map<std::string, std::string>& sourceKeys)
    : RenderAVLayer(static_cast<RenderAVLayer*>(other)),
      LayerManager(),
      mCompType(other->mCompType),
      mName(Unique::GenerateID()),
      mBackgroundColor(other->mBackgroundColor),
      mOrthoProjection(other->mOrthoProjection),
      mOITEnabled(other->mOITEnabled) {
    initOutputPass(true, 0, -1);
    addComp(this);
    setCompSize(other->width(), other->height());
    mDuration = other->mDuration;

    for (RenderLayer* layer : other->layers()) {
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        if (!av || !(layer->layerType() & kAVLayer)) continue;
        const std::string oldKey = av->sourceID();
        if (sourceKeys.count(oldKey)) continue;
        AVSource* shown = source(oldKey);
        if (!shown) continue;
        // Claimed before the copy is made: a composition reached again while
        // it is being copied finds the key taken instead of copying for ever.
        sourceKeys[oldKey] = std::string();
        std::string newKey;
        if (shown->sourceType() == AVSource::kSourceTypeComp && shown->sourceComp()) {
            const std::string name = duplicateCompWithReusedSource(shown->sourceComp(), sourceKeys);
            newKey = createCompSource(comp(name), Unique::GenerateID(), std::string());
        } else {
            newKey = duplicateSource(oldKey);
        }
        sourceKeys[oldKey] = newKey;
    }
    copyLayersFrom(*other, &sourceKeys);
    contentLoaded();
}

void RenderComp::initOutputPass(bool flip, unsigned int texture, int framebuffer) {
    mOutputPass = new FullScreenRenderPass(this, flip, texture, framebuffer, false);
}

void RenderComp::copyLayersFrom(const RenderComp& other, std::map<std::string, std::string>* sourceKeys) {
    for (RenderLayer* layer : other.layers()) {
        const long long type = layer->layerType();
        RenderLayer* copy = nullptr;
        if ((type & kNullLayer) && (type & kCameraLayer)) {
            if (auto* camera = dynamic_cast<RenderCameraLayer*>(layer)) {
                auto* cameraCopy = new RenderCameraLayer(*camera);
                mCameras.push_back(cameraCopy);
                copy = cameraCopy;
            }
        } else if (type & kNullLayer) {
            if (auto* null = dynamic_cast<RenderNullLayer*>(layer)) copy = new RenderNullLayer(*null);
        } else if (type & kAdjustmentLayer) {
            if (auto* adjustment = dynamic_cast<RenderAdjustmentLayer*>(layer))
                copy = new RenderAdjustmentLayer(*adjustment);
        } else if (type & kAVLayer) {
            if (auto* av = dynamic_cast<RenderAVLayer*>(layer)) copy = new RenderAVLayer(av);
        }
        if (!copy) {
            QVPrint("composition %s: layer %s of type 0x%llx cannot be copied, skipped", mName.c_str(),
                    layer->layerID().c_str(), type);
            continue;
        }
        if (sourceKeys) {
            auto* av = dynamic_cast<RenderAVLayer*>(copy);
            auto mapped = av ? sourceKeys->find(av->sourceID()) : sourceKeys->end();
            if (mapped != sourceKeys->end()) av->setSourceID(mapped->second, true);
        }
        copy->setParentComp(this);
        addLayer(copy, false);
    }
}

RenderComp::~RenderComp() {
    // The layers go first, while this object is still a composition that can
    // answer their questions (their sources are looked up through it).
    const std::vector<RenderLayer*> list = layers();
    for (RenderLayer* layer : list) {
        removeLayer(layer);
        delete layer;
    }
    delete mFrameDestinations[0];
    delete mFrameDestinations[1];
    mFrameDestinations[0] = mFrameDestinations[1] = nullptr;
    deleteOITObjects();
    for (GLRenderDestination* d : mDestinationsInUse) delete d;
    for (GLRenderDestination* d : mFreeDestinations) delete d;
    mDestinationsInUse.clear();
    mFreeDestinations.clear();
    delete mOITCopyPass;
    delete mOutputPass;
    if (mDepthRenderbuffer >= 0) {
        GLuint name = static_cast<GLuint>(mDepthRenderbuffer);
        glDeleteRenderbuffers(1, &name);
    }
    if (mOITQuery != 0) glDeleteQueries(1, &mOITQuery);
    delete mDefaultCamera;
}

// ---- registry: passed up to the render context --------------------------------------------

namespace {
// The composition to ask: the parent, unless there is none or the
// composition is its own parent (a render context made from bare numbers).
RenderComp* Above(RenderComp* comp) {
    RenderComp* parent = comp->parentComp();
    return parent != comp ? parent : nullptr;
}
}  // namespace

AVSource* RenderComp::source(const std::string& key) {
    RenderComp* above = Above(this);
    return above ? above->source(key) : nullptr;
}

RenderComp* RenderComp::comp(const std::string& name) {
    RenderComp* above = Above(this);
    return above ? above->comp(name) : nullptr;
}

void RenderComp::addComp(RenderComp* comp) {
    if (RenderComp* above = Above(this)) above->addComp(comp);
}

std::string RenderComp::createTextureSource(unsigned int texture, AVSource::ColorFormat format, int width,
                                            int height, std::string key) {
    RenderComp* above = Above(this);
    return above ? above->createTextureSource(texture, format, width, height, std::move(key)) : std::string();
}

std::string RenderComp::createCompSource(RenderComp* comp, std::string key, std::string json) {
    RenderComp* above = Above(this);
    return above ? above->createCompSource(comp, std::move(key), std::move(json)) : std::string();
}

std::string RenderComp::duplicateSource(const std::string& key) {
    RenderComp* above = Above(this);
    return above ? above->duplicateSource(key) : std::string();
}

std::string RenderComp::duplicateComp(const RenderComp& comp) {
    RenderComp* above = Above(this);
    return above ? above->duplicateComp(comp) : std::string();
}

std::string RenderComp::duplicateCompWithReusedSource(RenderComp* comp,
                                                      std::map<std::string, std::string>& keys) {
    RenderComp* above = Above(this);
    return above ? above->duplicateCompWithReusedSource(comp, keys) : std::string();
}

// ---- data --------------------------------------------------------------------------------------

void RenderComp::setCompDuration(unsigned long frames) {
    const float own = frameRate();
    const float context = contextFrameRate();
    if (!(own > 0.0f) || !(context > 0.0f) || !std::isfinite(own) || !std::isfinite(context)) {
        mDuration = frames;
        return;
    }
    const float converted = static_cast<float>(frames) * (context / own);
    if (!(converted < static_cast<float>(ULONG_MAX))) {
        mDuration = ULONG_MAX;
        return;
    }
    mDuration = static_cast<unsigned long>(converted);
}

bool RenderComp::setCurrentCompTime(long long frame) {
    if (frame < 0 || frame == mCurrentFrame) return false;
    if (mCompType == kCompTypeLoop) {
        // A looping composition without length has no frame to wrap to.
        if (mDuration == 0) return false;
        mCurrentFrame = static_cast<long long>(static_cast<unsigned long long>(frame) % mDuration);
        mContentDirty = true;
        return true;
    }
    if (static_cast<unsigned long long>(frame) >= mDuration) return false;
    mCurrentFrame = frame;
    mContentDirty = true;
    return true;
}

long long RenderComp::currentLocalTime() {
    return mCurrentFrame;
}

void RenderComp::setCompSize(int width, int height) {
    setWidth(width);
    setHeight(height);
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    mOrthoProjection.setOrtho(-w / 2, w / 2, h / 2, -h / 2, -1.0f, 100.0f);
}

void RenderComp::setBackgroundColor(const Color& color) {
    mBackgroundColor = color;
    if (isMainComp()) mOutputPass->setBackgroundColor(color);
}

void RenderComp::layerAdded(RenderLayer* layer) {
    layer->setParentComp(this);
    mContentDirty = true;
}

void RenderComp::layerRemoved(RenderLayer*) {
    mContentDirty = true;
}

bool RenderComp::hasAnimation() {
    // One answer per composition for the outermost question: a composition
    // shown by many layers is asked once, and one reached again on its own
    // path (still unanswered) adds nothing.
    static thread_local std::map<const RenderComp*, int>* answers = nullptr;  // -1: being asked
    std::map<const RenderComp*, int> own;
    const bool outermost = answers == nullptr;
    if (outermost) answers = &own;
    auto [entry, fresh] = answers->emplace(this, -1);
    bool result = entry->second == 1;
    if (fresh) {
        for (RenderLayer* layer : layers()) {
            if (layer->hasAnimation()) {
                result = true;
                break;
            }
        }
        entry->second = result ? 1 : 0;
    }
    if (outermost) answers = nullptr;
    return result;
}

void RenderComp::contentLoaded() {
    const std::string key = Unique::GenerateID();
    createTextureSource(0, AVSource::kColorFormatRGBA, width(), height(), key);
    setSourceID(key, true);
    for (RenderLayer* layer : layers()) layer->contentLoaded();
}

// ---- JSON ------------------------------------------------------------------------------------------

void RenderComp::loadFromJson(const rapidjson::Value& value) {
    if (!value.IsObject()) return;

    float fps = 0.0f;
    if (Json::read(value, "fps", fps, Json::getFloat)) setFrameRate(fps);
    int64_t duration = 0;
    if (Json::read(value, "duration", duration, Json::getInt64)) {
        if (duration >= 0)
            setCompDuration(static_cast<unsigned long>(duration));
        else
            QVPrint("composition %s: negative \"duration\" %lld skipped", mName.c_str(),
                    static_cast<long long>(duration));
    }
    std::string bg;
    if (mCompType == kCompTypeMain && Json::read(value, "bg", bg, Json::getString))
        setBackgroundColor(Color(bg));
    if (const rapidjson::Value* size = Json::find(value, "size"); size && size->IsArray()) {
        int32_t w = 0, h = 0;
        if (Json::getSize(*size, w, h) && w > 0 && h > 0)
            setCompSize(w, h);
        else
            QVPrint("composition %s: \"size\" needs two positive integers, skipped", mName.c_str());
    }
    mCameras.clear();
    if (const rapidjson::Value* list = Json::findArray(value, "layers");
        list && list->IsArray() && !list->Empty())
        loadLayers(*list);
}

void RenderComp::loadLayers(const rapidjson::Value& list) {
    rapidjson::SizeType index = 0;
    for (const rapidjson::Value& element : list.GetArray()) {
        const rapidjson::SizeType at = index++;
        int64_t type = 0;
        if (!Json::read(element, "type", type, Json::getInt64)) {
            QVPrint("composition %s: layer %u has no integer \"type\", skipped", mName.c_str(), at);
            continue;
        }
        const LayerKind* kind = nullptr;
        for (const LayerKind& row : kLayerKinds) {
            if (type & row.bit) {
                kind = &row;
                break;
            }
        }
        if (!kind) {
            QVPrint("composition %s: layer %u has \"type\" 0x%llx of no known kind, skipped", mName.c_str(),
                    at, static_cast<long long>(type));
            continue;
        }
        RenderLayer* layer = kind->create(this);
        if (kind->bit == kCameraLayer) mCameras.push_back(static_cast<RenderCameraLayer*>(layer));
        if (type & kThreeDLayer) layer->setLayerType(kThreeDLayer, true);
        if (type & kCollapseLayer) layer->setLayerType(kCollapseLayer, true);
        layer->loadFromJson(element);
        addLayer(layer, false);
    }
}

// ---- look-ups -----------------------------------------------------------------------------------------

RenderLayer* RenderComp::getLayerByUIKey(const std::string& key) const {
    if (key.empty()) return nullptr;
    for (RenderLayer* layer : layers())
        if (layer->uiKey() == key) return layer;
    return nullptr;
}

void RenderComp::getLayersWithUIKeyStartWith(const std::string& prefix,
                                             std::vector<RenderLayer*>& out) const {
    if (prefix.empty()) return;
    for (RenderLayer* layer : layers())
        if (layer->uiKey().compare(0, prefix.size(), prefix) == 0) out.push_back(layer);
}

namespace {

// Depth first through the compositions the AV layers show, each visited once:
// a composition shared by several layers (or reached again through a ring of
// sources) is not searched again, so shared levels cost no more than their count.
template <class Visit>
void DigCompositions(const RenderComp* comp, std::set<const RenderComp*>& seen, Visit visit) {
    if (!seen.insert(comp).second) return;
    visit(comp);
    for (RenderLayer* layer : comp->layers()) {
        if (!(layer->layerType() & kAVLayer)) continue;
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        AVSource* shown = av ? av->layerSource() : nullptr;
        if (shown && shown->sourceType() == AVSource::kSourceTypeComp && shown->sourceComp())
            DigCompositions(shown->sourceComp(), seen, visit);
    }
}

}  // namespace

void RenderComp::digLayersByUIKey(const std::string& key, std::vector<RenderLayer*>& out) const {
    std::set<const RenderComp*> seen;
    DigCompositions(this, seen, [&](const RenderComp* comp) {
        if (RenderLayer* layer = comp->getLayerByUIKey(key)) out.push_back(layer);
    });
}

void RenderComp::digLayersWithUIKeyStartWith(const std::string& prefix,
                                             std::vector<RenderLayer*>& out) const {
    std::set<const RenderComp*> seen;
    DigCompositions(this, seen,
                    [&](const RenderComp* comp) { comp->getLayersWithUIKeyStartWith(prefix, out); });
}

RenderLayer* RenderComp::nextDrawingLayer(RenderLayer* layer) {
    if (!layer) return nullptr;
    const std::vector<RenderLayer*>& list = layers();
    size_t i = 0;
    while (i < list.size() && list[i]->layerID() != layer->layerID()) ++i;
    for (++i; i < list.size(); ++i) {
        RenderLayer* next = list[i];
        if (next->enabled() && next->layerHasContent() && next->visibleAtCurrentTime()) return next;
    }
    return nullptr;
}

}  // namespace Core
}  // namespace Quorvane
