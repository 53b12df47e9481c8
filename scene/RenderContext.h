// The root of one render: the main composition of the template (the context is
// that composition), plus everything of the render that is not a layer: the
// template configuration, the GL context, the frame-buffer manager every pass
// shares, the filter manager, and the registries of compositions by name and
// of media sources by key.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/Vector.h"
#include "media/AVSource.h"
#include "scene/RenderComp.h"

class FileCodec;

namespace Quorvane {
namespace Core {

struct AssetConfig;
class BaseVideoSourceProvider;
class Config;
class DynamicComp;
class DynamicEntranceComp;
class DynamicExitComp;
class DynamicSegmentComp;
class DynamicSourceComp;
class FilterManager;
class GLFrameBufferManager;
class RenderAVLayer;
class Semaphore;
struct GLContext;

class RenderContext : public RenderComp, public AVSourceContext {
public:
    // From a template. The configuration is borrowed and must outlive the
    // context; the GL context may be null here and set later.
    RenderContext(Config* config, GLContext* glContext, bool flipY, unsigned int outputTexture,
                  int outputFramebuffer);
    // An empty context of that size (the still-image render); it owns the
    // in-memory configuration it creates.
    RenderContext(int width, int height, float fps, unsigned long duration, std::string mainCompName,
                  bool flipY, unsigned int outputTexture, int outputFramebuffer);
    ~RenderContext() override;
    RenderContext(const RenderContext&) = delete;
    RenderContext& operator=(const RenderContext&) = delete;

    // Nothing when not loaded; otherwise the finished frame at the current frame.
    void draw(unsigned int texture) override;
    GLFrameBufferManager* frameBufferManager() override;
    RenderContext* context() override { return this; }

    bool isLoaded() const { return mLoaded; }
    bool isComeToEnd();
    bool stepForward();
    bool stepBackward();
    // Binds the finished frame for glReadPixels; endReadContent unbinds it.
    void beginReadContent();
    void endReadContent();

    Config* config() const { return mConfig; }
    GLContext* glContext() override { return mGLContext; }
    void setGLContext(GLContext* context) { mGLContext = context; }
    const InputScope* inputScope() const override;
    PictureBudget* pictureBudget() override { return &mPictureBudget; }
    FilterManager* filterManager() const { return mFilterManager; }
    Semaphore* drawLock() const { return mDrawLock; }
    bool enableAdvanceResample() const override { return mEnableAdvanceResample; }
    void setEnableAdvanceResample(bool enable) { mEnableAdvanceResample = enable; }
    std::string dataFile(const std::string& name) const override;
    DataFileCache* dataFiles() const override;
    // The decoded data file of the template (the caller deletes it); null when missing.
    FileCodec* loadDataFile(const std::string& name);
    float frameRate() const override { return RenderLayer::frameRate(); }

    // ---- Registration (nothing on a context that is not loaded) ----------
    // Takes ownership; a key already registered keeps its first source.
    void addSource(AVSource* source) override;
    void sourceFailed(const AVSource*) override { ++mSourceFailures; }
    // How many times a source reported failing since the context was made.
    unsigned long long sourceFailures() const { return mSourceFailures; }
    // Deleting, the layers that show the source let go of it first.
    void removeSource(const std::string& key, bool deleteIt);
    // Takes ownership; a name already registered keeps its first composition.
    void addComp(RenderComp* comp) override;
    // Deleting, the sources that show the composition go first (their layers
    // let go of them) and its own output source with it; a composition the
    // dynamic assembly holds is refused with a log line.
    void removeComp(const std::string& name, bool deleteIt);

    // ---- Factories: the new source's key, or "" when refused -------------
    // A source made under a key that is already registered is deleted at once
    // and the key of the registered one is returned.
    std::string createTextureSource(unsigned int texture, AVSource::ColorFormat format, int width, int height,
                                    std::string key) override;
    std::string createSolidSource(const Color& color, int width, int height, std::string key,
                                  std::string json);
    std::string createAVFileSource(const std::string& path, std::string key, float fps, std::string json);
    std::string createCustomVideoProviderSource(BaseVideoSourceProvider* provider, std::string key,
                                                float fps);
    std::string createImageSourceFromMemory(const char* bytes, unsigned long length, std::string key,
                                            std::string json);
    std::string createImageSequenceSource(const std::vector<std::string>& paths, std::string key, float fps,
                                          std::string json);
    std::string createCompSource(RenderComp* comp, std::string key, std::string json) override;
    // A registered empty composition; "" when not loaded.
    std::string createPreComp(int width, int height, int duration, std::string name);

    // ---- Copies ----------------------------------------------------------
    std::string duplicateSource(const std::string& key) override;
    std::string duplicateComp(const RenderComp& comp) override;
    std::string duplicateComp(const std::string& name);
    // Layers that share a source in the copied composition share one source in
    // the copy; the map (old key -> copy's key) spans one whole duplication.
    std::string duplicateCompWithReusedSource(RenderComp* comp,
                                              std::map<std::string, std::string>& sourceKeys) override;
    std::string duplicateCompWithReusedSource(const std::string& name,
                                              std::map<std::string, std::string>& sourceKeys);

    // ---- Look-ups (answer on any context) --------------------------------
    AVSource* source(const std::string& key) override;
    RenderComp* comp(const std::string& name) override;
    // Appends, in name order, every registered composition with that UI key.
    void getCompForUIKey(const std::string& uiKey, std::vector<RenderComp*>& out) const;
    const std::map<std::string, AVSource*>& sources() const { return mSources; }
    const std::map<std::string, RenderComp*>& comps() const { return mComps; }

    // ---- Watermarks (scene/Watermark.cpp) --------------------------------
    // position in context pixels (the image's top-left corner), time in
    // seconds (start, duration; a duration of at most 0.001 means the whole
    // render), scale 1 = 100 percent. Returns the watermark's key, "" for no paths.
    std::string addWatermark(const std::vector<std::string>& paths, Vec2 position, Vec2 time, Vec2 scale);
    std::string addWatermark(const std::string& path, Vec2 position, Vec2 time, Vec2 scale);
    // Removes the first AV layer of the context showing that key; an empty key
    // does nothing. A layer another engine part points at (see layerInUse)
    // is kept.
    void removeWatermark(const std::string& key);
    // Whether an engine part other than a layer list points at the layer: a
    // filter, a dynamic segment's source layers, a dynamic source
    // composition's blurred copy. Such a layer must not be deleted.
    bool layerInUse(const RenderLayer* layer) const;

    // ---- Dynamic templates (defined with the dynamic compositions) -------
    void loadDynamicTemplate();
    bool constructDynamicCompWithFiles(const std::vector<std::string>& files);
    RenderAVLayer* addNewSegmentLayer(TimeUnit& cursor, DynamicSegmentComp* segment,
                                      const std::vector<std::string>& files);
    DynamicSegmentComp* getRandomSegmentSupportNumOfSource(int count);
    DynamicEntranceComp* entranceComp() const { return mEntranceComp; }
    DynamicExitComp* exitComp() const { return mExitComp; }
    DynamicSourceComp* dynamicSourceComp(const std::string& name) const;
    DynamicSegmentComp* segmentThatUsesFile(const std::string& path) const;
    DynamicSourceComp* sourceCompThatUsesFile(const std::string& path) const;
    DynamicSegmentComp* segmentThatUsesFileAt(int index) const;

protected:
    // Dynamic-template state, filled by the dynamic assembly. Every pointer is
    // a registered composition: the context frees the lists, never their elements.
    DynamicEntranceComp* mEntranceComp = nullptr;
    DynamicExitComp* mExitComp = nullptr;
    DynamicComp* mForegroundComp = nullptr;
    DynamicComp* mBackgroundComp = nullptr;
    std::vector<DynamicSourceComp*> mSourceComps;
    std::vector<DynamicSegmentComp*> mSegments;
    std::vector<DynamicSegmentComp*> mUsedSegments;

private:
    friend class FilterManager;

    // The dynamic assembly holds the composition, or a layer of it, by pointer.
    bool dynamicStateUses(const RenderComp* comp) const;

    // Compositions of a normal or filter template: the element named like the
    // main composition loads into the context, every other one into a new
    // registered composition.
    void loadNormalTemplate();
    // Makes the source an asset record describes; the key, "" when none.
    std::string createSourceForAsset(const Config& config, const AssetConfig& asset);
    // A new registered composition of a template, or null when its name was
    // already taken (the new one is deleted at once).
    RenderComp* newTemplateComp(const std::string& name, const std::string& prefix);
    // Copies by class: a dynamic composition is copied by its element kind.
    RenderComp* copyComp(const RenderComp& comp);
    RenderComp* copyCompWithReusedSource(RenderComp* comp, std::map<std::string, std::string>& sourceKeys);
    // The dynamic kinds (source, segment, any other element), defined with the
    // dynamic compositions.
    RenderComp* copyDynamicComp(const RenderComp& comp);
    RenderComp* copyDynamicCompWithReusedSource(RenderComp* comp,
                                                std::map<std::string, std::string>& sourceKeys);
    // Keeps a new source when it got registered; deletes it otherwise.
    std::string adoptNewSource(AVSource* created, const std::string& json, bool storeJson);
    // Releases everything the layers borrow (sources, stencil buffers, scratch
    // targets) before anything they borrow from is deleted.
    void releaseLayers();
    // The layer stops using its source (AV layers only).
    static void detachFromSources(RenderLayer* layer);
    // The composition's layers and the composition itself, as the layer showing its output.
    static void detachFromSources(RenderComp* comp);

    Semaphore* mDrawLock = nullptr;
    bool mLoaded = false;
    // Declared before anything that holds sources, so that it outlives them.
    PictureBudget mPictureBudget;
    Config* mConfig = nullptr;
    // The in-memory configuration of the second constructor.
    Config* mOwnedConfig = nullptr;
    GLContext* mGLContext = nullptr;
    GLFrameBufferManager* mFrameBufferManager = nullptr;
    FilterManager* mFilterManager = nullptr;
    std::map<std::string, RenderComp*> mComps;
    std::map<std::string, AVSource*> mSources;
    unsigned long long mSourceFailures = 0;
    bool mEnableAdvanceResample = true;
    // beginReadContent pushed a destination that endReadContent pops.
    bool mReadPushed = false;
};

}  // namespace Core
}  // namespace Quorvane
