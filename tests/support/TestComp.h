// A stand-in for the composition and the render context a layer lives in:
// a layer that holds a layer list and answers what layers ask of their
// composition (current frame, frame rate, size, frame-buffer manager, data
// folder, advanced-resampling switch). It keeps layer tests independent of
// the full composition class.
#pragma once

#include <string>

#include "scene/LayerManager.h"
#include "scene/RenderLayer.h"

namespace QvTest {

class TestComp : public Quorvane::Core::RenderLayer, public Quorvane::Core::LayerManager {
public:
    TestComp(int width, int height, float fps, Quorvane::Core::RenderLayer* parent = nullptr)
        : RenderLayer(parent, Quorvane::Core::kAVLayer | Quorvane::Core::kPreCompLayer, false) {
        setWidth(width);
        setHeight(height);
        setFrameRate(fps);
    }

    Quorvane::Core::LayerManager* layerList() override { return this; }
    void markContentDirty(bool dirty) override {
        contentDirty = dirty;
        ++dirtyMarks;
    }
    long long currentLocalTime() override { return frame; }
    Quorvane::Core::GLFrameBufferManager* frameBufferManager() override {
        return manager ? manager : RenderLayer::frameBufferManager();
    }
    bool enableAdvanceResample() const override {
        return parentCompLayer() ? RenderLayer::enableAdvanceResample() : advancedResample;
    }
    std::string dataFile(const std::string& name) const override { return dataFolder + name; }
    void layerAdded(Quorvane::Core::RenderLayer* layer) override {
        layer->setParentComp(this);
        markContentDirty(true);
        ++added;
    }
    void layerRemoved(Quorvane::Core::RenderLayer*) override {
        markContentDirty(true);
        ++removed;
    }

    long long frame = 0;
    bool contentDirty = false;
    int dirtyMarks = 0;
    int added = 0;
    int removed = 0;
    bool advancedResample = true;
    std::string dataFolder;
    Quorvane::Core::GLFrameBufferManager* manager = nullptr;
};

}  // namespace QvTest
