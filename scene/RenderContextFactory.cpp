// Registration, factories, copies and look-ups of the render context's
// sources and compositions.
#include <algorithm>
#include <utility>

#include "core/Log.h"
#include "core/Unique.h"
#include "scene/DynamicComp.h"
#include "scene/RenderContext.h"

namespace Quorvane {
namespace Core {

void RenderContext::addSource(AVSource* source) {
    if (!mLoaded || !source) return;
    mSources.emplace(source->key(), source);
}

void RenderContext::removeSource(const std::string& key, bool deleteIt) {
    if (!mLoaded || key.empty()) return;
    auto it = mSources.find(key);
    if (it == mSources.end()) return;
    AVSource* source = it->second;
    mSources.erase(it);
    if (!deleteIt) return;
    // Layers still showing the source let go of it first, so that none keeps
    // a pointer to a deleted source.
    for (RenderPass* user : source->passesUseThisSource()) {
        if (auto* layer = dynamic_cast<RenderAVLayer*>(user)) layer->removeSource();
    }
    delete source;
}

void RenderContext::addComp(RenderComp* comp) {
    if (!mLoaded || !comp) return;
    mComps.emplace(comp->name(), comp);
}

bool RenderContext::dynamicStateUses(const RenderComp* comp) const {
    auto listed = [comp](const auto& list) { return std::find(list.begin(), list.end(), comp) != list.end(); };
    if (comp == mEntranceComp || comp == mExitComp || comp == mForegroundComp || comp == mBackgroundComp ||
        listed(mSourceComps) || listed(mSegments) || listed(mUsedSegments)) {
        return true;
    }
    std::vector<const DynamicSegmentComp*> segments(mSegments.begin(), mSegments.end());
    segments.insert(segments.end(), mUsedSegments.begin(), mUsedSegments.end());
    segments.push_back(mEntranceComp);
    segments.push_back(mExitComp);
    for (const DynamicSegmentComp* segment : segments) {
        if (!segment) continue;
        if (listed(segment->sourceComps())) return true;
        for (const RenderAVLayer* layer : segment->sourceLayers())
            if (layer->parentComp() == comp) return true;
    }
    return false;
}

void RenderContext::removeComp(const std::string& name, bool deleteIt) {
    if (!mLoaded || name.empty()) return;
    auto it = mComps.find(name);
    if (it == mComps.end()) return;
    RenderComp* comp = it->second;
    if (!deleteIt) {
        mComps.erase(it);
        return;
    }
    // The dynamic assembly keeps compositions and their layers by pointer.
    if (dynamicStateUses(comp)) {
        QVPrint("RenderContext: composition %s is part of the dynamic template, not removed", name.c_str());
        return;
    }
    mComps.erase(it);
    // The sources that show the composition go first (their layers let go of
    // them), then its own output source, which shows nothing else.
    std::vector<std::string> showing;
    for (const auto& entry : mSources) {
        if (entry.second->sourceType() == AVSource::kSourceTypeComp && entry.second->sourceComp() == comp)
            showing.push_back(entry.first);
    }
    for (const std::string& key : showing) removeSource(key, true);
    // Stencil buffers and scratch targets go back before the composition does.
    comp->unprepare();
    const std::string own = comp->sourceID();
    if (!own.empty() && source(own) == comp->layerSource()) removeSource(own, true);
    delete comp;
}

std::string RenderContext::adoptNewSource(AVSource* created, const std::string& json, bool storeJson) {
    if (storeJson) created->setConfigJson(json);
    const std::string key = created->key();
    if (source(key) != created) {
        // The registry keeps the first source of a key; the new one could never
        // be reached, so it goes at once.
        QVPrint("RenderContext: source key %s is already registered, the new source is dropped", key.c_str());
        delete created;
    }
    return key;
}

std::string RenderContext::createTextureSource(unsigned int texture, AVSource::ColorFormat format, int width,
                                               int height, std::string key) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, texture, format, width, height), std::string(),
                          false);
}

std::string RenderContext::createSolidSource(const Color& color, int width, int height, std::string key,
                                             std::string json) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, color, width, height), json, true);
}

std::string RenderContext::createAVFileSource(const std::string& path, std::string key, float fps,
                                              std::string json) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, path, fps), json, true);
}

std::string RenderContext::createCustomVideoProviderSource(BaseVideoSourceProvider* provider, std::string key,
                                                           float fps) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, provider, fps), std::string(), false);
}

std::string RenderContext::createImageSourceFromMemory(const char* bytes, unsigned long length,
                                                       std::string key, std::string json) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, bytes, static_cast<int64_t>(length)), json,
                          true);
}

std::string RenderContext::createImageSequenceSource(const std::vector<std::string>& paths, std::string key,
                                                     float fps, std::string json) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, paths, fps), json, true);
}

std::string RenderContext::createCompSource(RenderComp* comp, std::string key, std::string json) {
    if (!mLoaded) return std::string();
    return adoptNewSource(new AVSource(std::move(key), this, comp), json, true);
}

std::string RenderContext::createPreComp(int width, int height, int duration, std::string name) {
    if (!mLoaded) return std::string();
    auto* comp = new RenderComp(this, width, height, duration, name);
    if (this->comp(name) != comp) {
        QVPrint("RenderContext: composition %s is already registered, the new one is dropped", name.c_str());
        delete comp;
    }
    return name;
}

std::string RenderContext::duplicateSource(const std::string& key) {
    if (!mLoaded) return std::string();
    AVSource* original = source(key);
    if (!original) return std::string();
    // The copy takes a fresh unique key and registers itself.
    auto* copy = new AVSource(*original);
    return adoptNewSource(copy, copy->getConfigJson(), false);
}

std::string RenderContext::duplicateComp(const RenderComp& original) {
    if (!mLoaded) return std::string();
    RenderComp* copy = copyComp(original);
    return copy ? copy->name() : std::string();
}

std::string RenderContext::duplicateComp(const std::string& name) {
    if (!mLoaded) return std::string();
    RenderComp* original = comp(name);
    return original ? duplicateComp(*original) : std::string();
}

std::string RenderContext::duplicateCompWithReusedSource(RenderComp* original,
                                                         std::map<std::string, std::string>& sourceKeys) {
    if (!mLoaded || !original) return std::string();
    RenderComp* copy = copyCompWithReusedSource(original, sourceKeys);
    return copy ? copy->name() : std::string();
}

std::string RenderContext::duplicateCompWithReusedSource(const std::string& name,
                                                         std::map<std::string, std::string>& sourceKeys) {
    if (!mLoaded) return std::string();
    RenderComp* original = comp(name);
    return original ? duplicateCompWithReusedSource(original, sourceKeys) : std::string();
}

AVSource* RenderContext::source(const std::string& key) {
    auto it = mSources.find(key);
    return it == mSources.end() ? nullptr : it->second;
}

RenderComp* RenderContext::comp(const std::string& name) {
    auto it = mComps.find(name);
    return it == mComps.end() ? nullptr : it->second;
}

void RenderContext::getCompForUIKey(const std::string& uiKey, std::vector<RenderComp*>& out) const {
    if (uiKey.empty()) return;
    for (const auto& entry : mComps) {
        if (entry.second->uiKey() == uiKey) out.push_back(entry.second);
    }
}

RenderComp* RenderContext::copyComp(const RenderComp& original) {
    return original.isDynamic() ? copyDynamicComp(original) : new RenderComp(original);
}

RenderComp* RenderContext::copyCompWithReusedSource(RenderComp* original,
                                                    std::map<std::string, std::string>& sourceKeys) {
    return original->isDynamic() ? copyDynamicCompWithReusedSource(original, sourceKeys)
                                 : new RenderComp(original, sourceKeys);
}

}  // namespace Core
}  // namespace Quorvane
