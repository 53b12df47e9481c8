// The ordered layer list of a composition: index 0 is drawn first and lies at
// the bottom, the last layer lies on top.
#pragma once

#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

class RenderLayer;

class LayerManager {
public:
    LayerManager() = default;
    LayerManager(const LayerManager&) = delete;
    LayerManager& operator=(const LayerManager&) = delete;

    virtual void layerAdded(RenderLayer* layer);
    virtual void layerRemoved(RenderLayer* layer);
    // Deletes every layer still in the list, bottom first.
    virtual ~LayerManager();

    // Detaches the layer from the list of its current parent composition (this
    // list included), inserts it at the bottom or on top and runs layerAdded.
    void addLayer(RenderLayer* layer, bool atBottom);
    // An index inside the list inserts without detaching and without hooks; an
    // index at or past the end behaves as addLayer(layer, false).
    void insertLayerAt(RenderLayer* layer, unsigned int index);
    // Places new layers (in no list yet) as one block at the index, the first
    // lowest, and runs layerAdded for each; an index past the end places the
    // block on top. One pass over the list, however many layers come.
    void insertNewLayersAt(const std::vector<RenderLayer*>& layers, unsigned int index);
    // The "inset" spelling is the name hosts and scripts call.
    void insetLayerBelow(RenderLayer* layer, RenderLayer* reference);
    void insetLayerAbove(RenderLayer* layer, RenderLayer* reference);
    // Takes the layer out without deleting it; the caller owns it afterwards.
    bool removeLayer(RenderLayer* layer);

    const std::vector<RenderLayer*>& layers() const { return mLayers; }
    RenderLayer* layer(const std::string& id) const;
    RenderLayer* nextLayer(const std::string& id) const;
    RenderLayer* lastLayer(const std::string& id) const;

    void setPrefix(const std::string& prefix) { mPrefix = prefix; }
    std::string getPrefix() const { return mPrefix; }

private:
    // Index of the first layer with this id, -1 when none (or an empty id).
    long indexOf(const std::string& id) const;

    std::vector<RenderLayer*> mLayers;
    std::string mPrefix;
};

}  // namespace Core
}  // namespace Quorvane
