#include "scene/LayerManager.h"

#include <algorithm>

#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

void LayerManager::layerAdded(RenderLayer*) {}

void LayerManager::layerRemoved(RenderLayer*) {}

LayerManager::~LayerManager() {
    // A layer's destructor may look at its composition; empty the list first so
    // that nothing finds a layer that is already gone.
    std::vector<RenderLayer*> layers;
    layers.swap(mLayers);
    for (RenderLayer* layer : layers) delete layer;
}

void LayerManager::addLayer(RenderLayer* layer, bool atBottom) {
    if (!layer) return;
    if (LayerManager* old = layer->parentCompLayers()) old->removeLayer(layer);
    if (atBottom)
        mLayers.insert(mLayers.begin(), layer);
    else
        mLayers.push_back(layer);
    layerAdded(layer);
}

void LayerManager::insertLayerAt(RenderLayer* layer, unsigned int index) {
    if (!layer) return;
    if (index >= mLayers.size()) {
        addLayer(layer, false);
        return;
    }
    mLayers.insert(mLayers.begin() + index, layer);
}

void LayerManager::insertNewLayersAt(const std::vector<RenderLayer*>& layers, unsigned int index) {
    const auto at = mLayers.begin() + std::min<size_t>(index, mLayers.size());
    mLayers.insert(at, layers.begin(), layers.end());
    for (RenderLayer* layer : layers) layerAdded(layer);
}

void LayerManager::insetLayerBelow(RenderLayer* layer, RenderLayer* reference) {
    if (!layer) return;
    auto it = std::find(mLayers.begin(), mLayers.end(), reference);
    if (!reference || it == mLayers.end()) it = mLayers.begin();
    mLayers.insert(it, layer);
}

void LayerManager::insetLayerAbove(RenderLayer* layer, RenderLayer* reference) {
    if (!layer) return;
    auto it = std::find(mLayers.begin(), mLayers.end(), reference);
    if (!reference || it == mLayers.end())
        mLayers.push_back(layer);
    else
        mLayers.insert(it + 1, layer);
}

bool LayerManager::removeLayer(RenderLayer* layer) {
    auto it = std::find(mLayers.begin(), mLayers.end(), layer);
    if (it == mLayers.end()) return false;
    mLayers.erase(it);
    layerRemoved(layer);
    return true;
}

long LayerManager::indexOf(const std::string& id) const {
    if (id.empty()) return -1;
    for (size_t i = 0; i < mLayers.size(); ++i)
        if (mLayers[i]->layerID() == id) return static_cast<long>(i);
    return -1;
}

RenderLayer* LayerManager::layer(const std::string& id) const {
    long i = indexOf(id);
    return i < 0 ? nullptr : mLayers[i];
}

RenderLayer* LayerManager::nextLayer(const std::string& id) const {
    long i = indexOf(id);
    if (i < 0 || static_cast<size_t>(i + 1) >= mLayers.size()) return nullptr;
    return mLayers[i + 1];
}

RenderLayer* LayerManager::lastLayer(const std::string& id) const {
    long i = indexOf(id);
    return i <= 0 ? nullptr : mLayers[i - 1];
}

}  // namespace Core
}  // namespace Quorvane
