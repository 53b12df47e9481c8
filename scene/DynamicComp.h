// The building blocks of a dynamic template: compositions that the render
// context assembles into one timeline for the number of files the user
// supplies (entrance, segments, exit, with a background tiled below and a
// foreground tiled above). A source composition shows one user file, fitted by
// a fill type; a segment hands its files to the source compositions inside it.
//
// The assembly itself (loadDynamicTemplate, constructDynamicCompWithFiles and
// the queries of which segment uses which file) is made of RenderContext
// members declared in scene/RenderContext.h and defined in DynamicComp.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

class RenderAVLayer;

enum DynamicElementType : int32_t {
    kDynamicElementSource = 0,
    kDynamicElementBackground = 1,
    kDynamicElementForeground = 2,
    kDynamicElementEntrance = 3,
    kDynamicElementExit = 4,
    kDynamicElementSegment = 5,
};

// 1 places a new segment layer just below the current top layer of the
// timeline; any other value places it on top.
enum DynamicStyle : int32_t {
    kDynamicStyleOnTop = 0,
    kDynamicStyleBelowTop = 1,
};

// How a source composition fits its file; rx = composition width / file
// width, ry = composition height / file height. Types 1, 4 and 6 show a
// blurred copy, scaled to cover, below the file. Other values keep the
// layer's scale.
enum DynamicSourceFillType : int32_t {
    kDynamicFillCover = 0,          // max(rx, ry)
    kDynamicFillFitBlurred = 1,     // min(rx, ry)
    kDynamicFillFit = 2,            // min(rx, ry)
    kDynamicFillWidth = 3,          // rx
    kDynamicFillWidthBlurred = 4,   // rx
    kDynamicFillHeight = 5,         // ry
    kDynamicFillHeightBlurred = 6,  // ry
};

// One element of a dynamic template; backgrounds and foregrounds are plain
// DynamicComps.
class DynamicComp : public RenderComp {
public:
    DynamicComp(RenderComp* parent, std::string name, DynamicElementType element);
    DynamicComp(const DynamicComp& other);
    DynamicComp(DynamicComp* other, std::map<std::string, std::string>& sourceKeys);
    ~DynamicComp() override;

    void loadFromJson(const rapidjson::Value& value) override;
    bool isDynamic() const override { return true; }

    // Frames at the template frame rate by which the element's start moves
    // after the end of the element before it (negative overlaps it).
    void setEntranceDuration(int frames) { mEntranceDuration = frames; }
    int entranceDuration() const { return mEntranceDuration; }
    void setDynamicStyle(DynamicStyle style) { mDynamicStyle = style; }
    DynamicStyle getDynamicStyle() const { return mDynamicStyle; }
    DynamicElementType dynamicElement() const { return mDynamicElement; }

protected:
    void setDynamicElement(DynamicElementType element) { mDynamicElement = element; }

private:
    int32_t mEntranceDuration = 0;
    DynamicStyle mDynamicStyle = kDynamicStyleOnTop;
    DynamicElementType mDynamicElement;
};

// Shows one user file. Copies keep the fill type and the video flag but start
// without a file.
class DynamicSourceComp : public DynamicComp {
public:
    // The UI keys a template marks its layers with: a layer that the template
    // placed itself and whose source takes the file, and the layer that gets
    // a new source for the file.
    static const char* const kSourceImageKey;   // "_source_img_"
    static const char* const kDynamicImageKey;  // "_dynamic_img_"
    static constexpr float kCoverBlur = 20.0f;  // pixels of the blurred copy's blur

    DynamicSourceComp(RenderComp* parent, std::string name);
    DynamicSourceComp(const DynamicSourceComp& other);
    DynamicSourceComp(DynamicSourceComp* other, std::map<std::string, std::string>& sourceKeys);
    ~DynamicSourceComp() override;

    void loadFromJson(const rapidjson::Value& value) override;
    // A still image is drawn once and its image reused; a video every frame.
    void draw(unsigned int texture) override;

    void setFillType(DynamicSourceFillType type) { mFillType = type; }
    DynamicSourceFillType fillType() const { return mFillType; }
    const std::string& sourceFile() const { return mSourceFile; }
    bool sourceIsVideo() const { return mSourceIsVideo; }
    // Shows the file (nothing when it is the file shown already). A blurred
    // copy made for an earlier file is removed.
    void setNewSourceFile(const std::string& path);
    // The blurred copy below the file, null when there is none.
    RenderAVLayer* blurredCopyLayer() const { return mBlurLayer; }

private:
    // Centres the file's layer and scales it by the fill type; adds the
    // blurred copy for the types that have one.
    void fitLayer(RenderAVLayer* layer, const std::string& key, int sourceWidth, int sourceHeight);
    void removeBlurredCopy();
    // The copy's counterpart of the other composition's blurred copy.
    void adoptBlurredCopy(const DynamicSourceComp& other);

    DynamicSourceFillType mFillType = kDynamicFillCover;
    bool mDrawnOnce = false;
    std::string mSourceFile;
    bool mSourceIsVideo = false;
    RenderAVLayer* mBlurLayer = nullptr;
};

// A segment: the source compositions its layers show, each receiving one of
// the files given to the segment.
class DynamicSegmentComp : public DynamicComp {
public:
    DynamicSegmentComp(RenderComp* parent, std::string name);
    // Both run loadSourceComps at the end: a copy finds the source
    // compositions it shares with the original, a duplicate its own.
    DynamicSegmentComp(const DynamicSegmentComp& other);
    DynamicSegmentComp(DynamicSegmentComp* other, std::map<std::string, std::string>& sourceKeys);
    ~DynamicSegmentComp() override;

    void contentLoaded() override;
    void loadFromJson(const rapidjson::Value& value) override;

    unsigned long replaceableSourceCount() const { return static_cast<unsigned long>(mSourceComps.size()); }
    const std::vector<DynamicSourceComp*>& sourceComps() const { return mSourceComps; }
    const std::vector<RenderAVLayer*>& sourceLayers() const { return mSourceLayers; }
    // Finds the source compositions shown inside this segment again.
    void loadSourceComps();
    // With at least as many files as source compositions, source composition
    // i shows files[i]; with fewer, nothing changes.
    void setReplaceableFiles(const std::vector<std::string>& files);
    DynamicSourceComp* getSourceForFile(const std::string& path) const;
    RenderAVLayer* getLayerForFile(const std::string& path) const;
    // Every layer of the class of the source layer that uses the source of a
    // source layer showing the path.
    void getLayerForFile(const std::string& path, std::vector<RenderAVLayer*>& out) const;

    // Walks the AV layers of comp that show compositions, depth first: a
    // source composition is appended (once by name) with the layer showing
    // it; any other composition is searched in turn.
    static void digCompForDynamicSources(RenderComp* comp, std::vector<DynamicSourceComp*>& comps,
                                         std::vector<RenderAVLayer*>& layers);

protected:
    DynamicSegmentComp(RenderComp* parent, std::string name, DynamicElementType element);

private:
    std::vector<DynamicSourceComp*> mSourceComps;
    std::vector<RenderAVLayer*> mSourceLayers;
};

class DynamicEntranceComp : public DynamicSegmentComp {
public:
    DynamicEntranceComp(RenderComp* parent, std::string name);
    DynamicEntranceComp(const DynamicEntranceComp& other) = default;
    DynamicEntranceComp(DynamicEntranceComp* other, std::map<std::string, std::string>& sourceKeys);
    ~DynamicEntranceComp() override;
};

class DynamicExitComp : public DynamicSegmentComp {
public:
    DynamicExitComp(RenderComp* parent, std::string name);
    DynamicExitComp(const DynamicExitComp& other) = default;
    DynamicExitComp(DynamicExitComp* other, std::map<std::string, std::string>& sourceKeys);
    ~DynamicExitComp() override;
};

}  // namespace Core
}  // namespace Quorvane
