#include "scene/RenderContext.h"

#include <GL/gl.h>

#include <cmath>

#include "core/FileCodec.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/Semaphore.h"
#include "render/AssetConfig.h"
#include "render/Config.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "scene/FilterManager.h"
#include "scene/RenderAVLayer.h"

namespace Quorvane {
namespace Core {

namespace {

// Bit 0 of the template's settings switches order-independent transparency on.
bool oitFromSettings(const Config* config) {
    return (config->attrSetttings() & 1) != 0;
}

// A render needs a size and at least one frame a second. A negative size is
// refused too: nothing could be drawn into it.
bool drawableTemplate(const Config* config) {
    const float fps = config->frameRate();
    return config->mainCompWidth() > 0 && config->mainCompHeight() > 0 && fps >= 1.0f;
}

// Generated sequence names are held in memory at once; a count from a broken
// or hostile template (up to 2^31 - 1) would exhaust it. A million frames is
// over nine hours at 30 frames per second.
constexpr int32_t kMaxSequenceFiles = 1 << 20;

}  // namespace

RenderContext::RenderContext(Config* config, GLContext* glContext, bool flipY, unsigned int outputTexture,
                             int outputFramebuffer)
    : RenderComp(nullptr, flipY, outputTexture, outputFramebuffer),
      mDrawLock(new Semaphore(1)),
      mConfig(config),
      mGLContext(glContext),
      mFrameBufferManager(new GLFrameBufferManager()),
      mFilterManager(new FilterManager(this)) {
    setFrameRate(mConfig->frameRate());
    if (drawableTemplate(mConfig)) {
        // Compositions and sources register themselves while they are built,
        // and registration needs the flag.
        mLoaded = true;
        switch (mConfig->templateType()) {
            case TemplateTypeNormal:
            case TemplateTypeFilter:
                loadNormalTemplate();
                break;
            case TemplateTypeDynamic:
                loadDynamicTemplate();
                break;
            default:
                break;
        }
        for (AssetConfig* asset : mConfig->assets()) {
            if (asset) createSourceForAsset(*mConfig, *asset);
        }
        setBackgroundColor(mConfig->backgroundColor());
        const bool oit = oitFromSettings(mConfig);
        for (auto& entry : mComps) {
            entry.second->setOITBlend(oit);
            entry.second->contentLoaded();
        }
        RenderComp::contentLoaded();
        if (mConfig->templateType() == TemplateTypeDynamic) {
            constructDynamicCompWithFiles(mConfig->replaceableFilePaths());
        }
        // Data read for the build alone (effect records, focal lengths) is
        // held by what was built from it now.
        mConfig->dataFiles().release();
    }
    setOITBlend(oitFromSettings(mConfig));
}

// The composition base gets no parent: a context that named itself as its own
// parent would send the pass size look-up of a 0 x 0 context round in circles.
// Every walk up the parent chain ends at the context either way.
RenderContext::RenderContext(int width, int height, float fps, unsigned long duration,
                             std::string mainCompName, bool flipY, unsigned int outputTexture,
                             int outputFramebuffer)
    : RenderComp(nullptr, flipY, width, height, duration, mainCompName, outputTexture, outputFramebuffer),
      mDrawLock(new Semaphore(1)),
      mLoaded(width >= 1 && height >= 1 && duration != 0 && fps > 0.0f),
      mConfig(new Config(width, height, fps, duration, mainCompName)),
      mFrameBufferManager(new GLFrameBufferManager()),
      mFilterManager(new FilterManager(this)) {
    mOwnedConfig = mConfig;
    setFrameRate(fps);
    setBackgroundColor(mConfig->backgroundColor());
    setOITBlend(false);
    RenderComp::contentLoaded();
}

RenderContext::~RenderContext() {
    // Filters first, while the compositions and sources they show exist.
    if (mFilterManager) mFilterManager->removeAll();
    releaseLayers();
    // The context's own layers go before the frame-buffer manager: a layer
    // that still held a stencil buffer would hand it back to a deleted pool.
    while (!layers().empty()) {
        RenderLayer* layer = layers().back();
        removeLayer(layer);
        delete layer;
    }
    for (auto& entry : mSources) delete entry.second;
    mSources.clear();
    for (auto& entry : mComps) delete entry.second;
    mComps.clear();
    delete mFilterManager;
    mFilterManager = nullptr;
    delete mFrameBufferManager;
    mFrameBufferManager = nullptr;
    mSourceComps.clear();
    mSegments.clear();
    mUsedSegments.clear();
    delete mDrawLock;
    delete mOwnedConfig;
}

void RenderContext::detachFromSources(RenderLayer* layer) {
    auto* av = dynamic_cast<RenderAVLayer*>(layer);
    if (av && av->layerSource()) av->removeSource();
}

void RenderContext::detachFromSources(RenderComp* comp) {
    for (RenderLayer* layer : comp->layers()) detachFromSources(layer);
    detachFromSources(static_cast<RenderLayer*>(comp));
}

void RenderContext::releaseLayers() {
    // Per-frame GL state first (stencil buffers go back to the pool, sources
    // unload, composition sources unprepare their compositions) while every
    // composition and source still exists.
    unprepare();
    for (auto& entry : mComps) entry.second->unprepare();
    // Then every layer lets go of its source, so that neither deleting a
    // source nor deleting a layer reaches into the other.
    detachFromSources(static_cast<RenderComp*>(this));
    for (auto& entry : mComps) detachFromSources(entry.second);
}

GLFrameBufferManager* RenderContext::frameBufferManager() {
    return mFrameBufferManager;
}

void RenderContext::draw(unsigned int texture) {
    if (!mLoaded) return;
    glDisable(GL_CULL_FACE);
    RenderComp::draw(texture);
}

bool RenderContext::isComeToEnd() {
    if (!mLoaded) return true;
    // A context without frames has no last frame to reach: it is at its end.
    if (duration() == 0) return true;
    return static_cast<unsigned long long>(currentLocalTime()) >= duration() - 1;
}

bool RenderContext::stepForward() {
    if (!mLoaded) return false;
    return setCurrentCompTime(currentLocalTime() + 1);
}

bool RenderContext::stepBackward() {
    if (!mLoaded) return false;
    return setCurrentCompTime(currentLocalTime() - 1);
}

void RenderContext::beginReadContent() {
    if (!mLoaded || mReadPushed) return;
    FullScreenRenderPass* output = flipVerticalPass();
    GLRenderDestination* target =
        output && output->useCustomOutputDestination() ? output->getDestination() : readDestination();
    // Before the first draw there is no finished frame to bind; pushing
    // nothing then keeps endReadContent from popping a destination of the caller.
    if (!target) return;
    mFrameBufferManager->pushDestination(target);
    mReadPushed = true;
}

void RenderContext::endReadContent() {
    if (!mLoaded || !mReadPushed) return;
    mFrameBufferManager->popDestination(false);
    mReadPushed = false;
}

const InputScope* RenderContext::inputScope() const {
    return mConfig ? &mConfig->inputScope() : nullptr;
}

std::string RenderContext::dataFile(const std::string& name) const {
    return mConfig->dataFile(name);
}

DataFileCache* RenderContext::dataFiles() const {
    return mConfig ? &mConfig->dataFiles() : nullptr;
}

FileCodec* RenderContext::loadDataFile(const std::string& name) {
    return mConfig->loadDataFile(name);
}

RenderComp* RenderContext::newTemplateComp(const std::string& name, const std::string& prefix) {
    if (!mLoaded) return nullptr;
    auto* comp = new RenderComp(this, name);
    if (this->comp(name) != comp) {
        // The registry keeps the first composition of a name; a second one
        // would be unreachable and would dangle in whatever list held it.
        QVPrint("RenderContext: composition %s is defined twice, the later one is ignored", name.c_str());
        delete comp;
        return nullptr;
    }
    comp->setPrefix(prefix);
    return comp;
}

void RenderContext::loadNormalTemplate() {
    Json::Document doc;
    if (!Json::parse(doc, mConfig->configContent(), Json::ByteOrderMark::Skip) || !doc.IsObject()) return;
    const Json::Value* comps = Json::find(doc, "comps");
    if (!comps || !comps->IsArray()) return;
    for (const Json::Value& element : comps->GetArray()) {
        std::string name;
        if (!element.IsObject() || !Json::read(element, "name", name, Json::getString)) continue;
        if (name == mConfig->mainCompName()) {
            loadFromJson(element);
            setPrefix(mConfig->prefix());
            continue;
        }
        if (RenderComp* comp = newTemplateComp(name, mConfig->prefix())) comp->loadFromJson(element);
    }
}

std::string RenderContext::createSourceForAsset(const Config& config, const AssetConfig& asset) {
    switch (asset.type) {
        case 4:
            return createSolidSource(Color(asset.name), asset.width, asset.height, asset.key, asset.json);
        case 3:
            return createCompSource(comp(asset.name), asset.key, asset.json);
        case 1:
            break;
        default:
            return std::string();
    }
    if (asset.num < 2) {
        std::string path;
        if (!asset.presets.empty()) {
            path = asset.presets.front();
        } else if (asset.replaced) {
            path = asset.name;
        } else {
            path = config.assetFile(asset.name);
        }
        return createAVFileSource(path, asset.key, asset.fps, asset.json);
    }
    if (!asset.presets.empty())
        return createImageSequenceSource(asset.presets, asset.key, asset.fps, asset.json);
    // Files of a sequence are named <stem>_<i><extension>; a name without an
    // extension gives no way to tell the stem from the extension.
    const size_t dot = asset.name.rfind('.');
    if (dot == std::string::npos) {
        QVPrint("RenderContext: image sequence asset %s has no extension in its name %s, skipped",
                asset.key.c_str(), asset.name.c_str());
        return std::string();
    }
    if (asset.num > kMaxSequenceFiles) {
        QVPrint("RenderContext: image sequence asset %s names %d files, more than %d, skipped",
                asset.key.c_str(), asset.num, kMaxSequenceFiles);
        return std::string();
    }
    const std::string stem = asset.name.substr(0, dot);
    const std::string extension = asset.name.substr(dot);
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(asset.num));
    for (int32_t i = 0; i < asset.num; ++i) {
        paths.push_back(config.assetFolder() + stem + "_" + std::to_string(i) + extension);
    }
    return createImageSequenceSource(paths, asset.key, asset.fps, asset.json);
}

}  // namespace Core
}  // namespace Quorvane
