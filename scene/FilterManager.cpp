#include "scene/FilterManager.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Rotation.h"
#include "core/TimeUnit.h"
#include "render/AssetConfig.h"
#include "render/Config.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderContext.h"

namespace Quorvane {
namespace Core {

FilterManager::FilterManager(RenderContext* context) : mContext(context) {}

FilterManager::~FilterManager() {
    removeAll();
}

void FilterManager::placeFilter(RenderAVLayer* layer, const Config* config, double cx, double cy) {
    const int w = config->mainCompWidth();
    const int h = config->mainCompHeight();
    // A filter template of no size is shown unscaled rather than infinitely large.
    const float scaleX = w > 0 ? static_cast<float>(mContext->width()) / static_cast<float>(w) : 1.0f;
    const float scaleY = h > 0 ? static_cast<float>(mContext->height()) / static_cast<float>(h) : 1.0f;
    layer->setTransformAtTime(Vec3(static_cast<float>(0.5 * w), static_cast<float>(0.5 * h), 0.0f),
                              Vec3(static_cast<float>(cx), static_cast<float>(cy), 0.0f),
                              Vec3(0.0f, 0.0f, 0.0f), Vec3(scaleX, scaleY, 1.0f), 0);
}

std::string FilterManager::addFilter(Config* config, float x, float y) {
    if (!config || config->templateType() != TemplateTypeFilter) return std::string();
    const std::string& name = config->mainCompName();
    const double cx = mContext->width() / 2.0 + x;
    const double cy = mContext->height() / 2.0 + y;

    auto found = mFilters.find(name);
    if (found != mFilters.end()) {
        RenderAVLayer* layer = found->second.first;
        placeFilter(layer, found->second.second, cx, cy);
        // Back on top, where a newly added filter goes.
        mContext->removeLayer(layer);
        mContext->addLayer(layer, false);
        return name;
    }
    // Scale is context size over filter size: a filter without a size would
    // be stretched infinitely.
    if (config->mainCompWidth() <= 0 || config->mainCompHeight() <= 0) {
        QVPrint("FilterManager: filter %s has size %dx%d, refused", name.c_str(), config->mainCompWidth(),
                config->mainCompHeight());
        return std::string();
    }

    loadFilterTemplate(config);
    auto* layer = new RenderAVLayer(mContext);
    layer->setSourceID(name, true);
    layer->setLayerType(kFilterLayerType, true);
    placeFilter(layer, config, cx, cy);
    const float fps = mContext->frameRate();
    layer->setLayerInPoint(TimeUnit(0, fps));
    layer->setLayerDuration(TimeUnit(static_cast<long long>(mContext->duration()), fps));
    mFilters[name] = std::make_pair(layer, config);
    mContext->addLayer(layer, false);
    layer->contentLoaded();
    return name;
}

RenderComp* FilterManager::loadFilterTemplate(Config* config) {
    if (!config) return nullptr;
    const std::string& name = config->mainCompName();
    std::vector<RenderComp*>& comps = mFilterComps[name];
    std::vector<std::string>& sources = mFilterSources[name];
    RenderComp* mainComp = nullptr;

    Json::Document doc;
    const Json::Value* elements = nullptr;
    if (Json::parse(doc, config->configContent(), Json::ByteOrderMark::Skip) && doc.IsObject()) {
        elements = Json::find(doc, "comps");
        if (elements && !elements->IsArray()) elements = nullptr;
    }
    if (elements) {
        for (const Json::Value& element : elements->GetArray()) {
            std::string compName;
            if (!element.IsObject() || !Json::read(element, "name", compName, Json::getString)) continue;
            RenderComp* comp = mContext->newTemplateComp(compName, config->prefix());
            if (!comp) continue;
            comp->loadFromJson(element);
            comps.push_back(comp);
            if (compName == name && !mainComp) {
                comp->setCompType(kCompTypeLoop);
                mainComp = comp;
                const bool taken = mContext->source(name) != nullptr;
                const std::string key = mContext->createCompSource(comp, name, std::string());
                if (!key.empty() && !taken) sources.push_back(key);
            }
        }
    }
    // The filter's own media are the render's inputs too (a scope that is
    // not restricted stays so).
    if (Config* own = mContext->config(); own && own != config && own->inputScope().restricted())
        own->inputScope().addFolder(config->templatePath());
    for (AssetConfig* asset : config->assets()) {
        if (!asset) continue;
        // Only sources this filter registered are its own to remove later.
        const bool taken = !asset->key.empty() && mContext->source(asset->key) != nullptr;
        const std::string key = mContext->createSourceForAsset(*config, *asset);
        if (!key.empty() && !taken) sources.push_back(key);
    }
    for (RenderComp* comp : comps) {
        comp->setOITBlend(false);
        comp->contentLoaded();
    }
    if (DataFileCache* cache = mContext->dataFiles()) cache->release();
    return mainComp;
}

void FilterManager::translateFilter(const std::string& name, float x, float y) {
    auto found = mFilters.find(name);
    if (found == mFilters.end()) return;
    placeFilter(found->second.first, found->second.second, mContext->width() / 2.0 + x,
                mContext->height() / 2.0 + y);
}

void FilterManager::translateFilter(const std::string& name, FilterTranslateDirection direction,
                                    float fraction) {
    auto found = mFilters.find(name);
    if (found == mFilters.end()) return;
    const double width = mContext->width();
    const double height = mContext->height();
    if (direction == kFilterTranslateHorizontal) {
        placeFilter(found->second.first, found->second.second, (fraction + 0.5) * width, height / 2.0);
    } else if (direction == kFilterTranslateVertical) {
        placeFilter(found->second.first, found->second.second, width / 2.0, (fraction + 0.5) * height);
    }
}

void FilterManager::setFilterEnable(const std::string& name, bool enable) {
    auto found = mFilters.find(name);
    if (found != mFilters.end()) found->second.first->setEnabled(enable);
}

RenderAVLayer* FilterManager::filterLayer(const std::string& name) const {
    auto found = mFilters.find(name);
    return found == mFilters.end() ? nullptr : found->second.first;
}

bool FilterManager::holdsLayer(const RenderLayer* layer) const {
    for (const auto& entry : mFilters)
        if (entry.second.first == layer) return true;
    return false;
}

void FilterManager::dropLayer(RenderAVLayer* layer) {
    if (!mContext->removeLayer(layer)) return;
    layer->unprepare();
    delete layer;
}

void FilterManager::dropComps(const std::vector<RenderComp*>& comps) {
    // Found by pointer: a composition the context has already deleted is never
    // dereferenced.
    std::vector<std::pair<std::string, RenderComp*>> registered;
    for (RenderComp* comp : comps) {
        for (const auto& entry : mContext->comps()) {
            if (entry.second == comp) registered.emplace_back(entry.first, comp);
        }
    }
    // A composition may show another of the same filter through a source:
    // every one is released and let go of its sources before the first is
    // deleted, so that no release reaches a deleted composition.
    for (auto& entry : registered) entry.second->unprepare();
    std::vector<std::string> outputKeys;
    for (auto& entry : registered) {
        // Each composition's own output source goes with it: it shows the
        // composition's frames and nothing else.
        outputKeys.push_back(entry.second->sourceID());
        RenderContext::detachFromSources(entry.second);
    }
    for (auto& entry : registered) mContext->removeComp(entry.first, true);
    for (const std::string& key : outputKeys) mContext->removeSource(key, true);
}

void FilterManager::dropSources(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) mContext->removeSource(key, true);
}

void FilterManager::removeFilter(const std::string& name) {
    auto filter = mFilters.find(name);
    if (filter != mFilters.end()) {
        dropLayer(filter->second.first);
        mFilters.erase(filter);
    }
    auto comps = mFilterComps.find(name);
    if (comps != mFilterComps.end()) {
        dropComps(comps->second);
        mFilterComps.erase(comps);
    }
    auto sources = mFilterSources.find(name);
    if (sources != mFilterSources.end()) {
        dropSources(sources->second);
        mFilterSources.erase(sources);
    }
    // The removed layers' tracks.
    if (DataFileCache* cache = mContext->dataFiles()) cache->release();
}

void FilterManager::removeAll() {
    for (auto& entry : mFilters) dropLayer(entry.second.first);
    mFilters.clear();
    for (auto& entry : mFilterComps) dropComps(entry.second);
    mFilterComps.clear();
    for (auto& entry : mFilterSources) dropSources(entry.second);
    mFilterSources.clear();
}

bool FilterManager::hasVisibleFilter() {
    const float width = static_cast<float>(mContext->width());
    const float height = static_cast<float>(mContext->height());
    const Rect inner(1.0f, 1.0f, width - 2.0f, height - 2.0f);
    for (auto& entry : mFilters) {
        RenderAVLayer* layer = entry.second.first;
        if (!layer->enabled()) continue;
        const Config* config = entry.second.second;
        const Vec3 anchor(0.5f * config->mainCompWidth(), 0.5f * config->mainCompHeight(), 0.0f);
        Vec3 position;
        Vec3 scale;
        Quaternion rotation;
        layer->getAETransform(0, false).decompose(anchor, position, rotation, scale);
        const Rect covered(position.x - width / 2.0f, position.y - height / 2.0f, width, height);
        if (covered.intersects(inner)) return true;
    }
    return false;
}

}  // namespace Core
}  // namespace Quorvane
