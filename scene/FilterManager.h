// Filter templates (template type 4) laid over the whole render: each filter's
// compositions and sources are built into the render context, and its main
// composition is shown, looping, by one collapsed AV layer on top of the
// context's layers, stretched to cover the context exactly.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Quorvane {
namespace Core {

class Config;
class RenderAVLayer;
class RenderLayer;
class RenderComp;
class RenderContext;

enum FilterTranslateDirection : int32_t {
    kFilterTranslateHorizontal = 0,
    kFilterTranslateVertical = 1,
};

class FilterManager {
public:
    // Type bits of a filter layer, on top of those its source gives it:
    // AV, composition source and collapse.
    static constexpr long long kFilterLayerType = 0x21001;

    explicit FilterManager(RenderContext* context);
    ~FilterManager();
    FilterManager(const FilterManager&) = delete;
    FilterManager& operator=(const FilterManager&) = delete;

    // Adds the filter (or re-places one of the same name) with its centre at
    // the context's centre plus (x, y); returns its name. "" when the
    // configuration is null, not a filter, or has no size. The configuration
    // is borrowed and must outlive the filter.
    std::string addFilter(Config* config, float x, float y);
    // Builds the filter's compositions and sources in the context; returns its
    // main composition (looping), null when "comps" holds none.
    RenderComp* loadFilterTemplate(Config* config);
    void translateFilter(const std::string& name, float x, float y);
    // Moves the centre along one axis to (fraction + 0.5) of the context's size.
    void translateFilter(const std::string& name, FilterTranslateDirection direction, float fraction);
    void setFilterEnable(const std::string& name, bool enable);
    // Deletes the filter's layer, compositions and sources.
    void removeFilter(const std::string& name);
    void removeAll();
    // Whether an enabled filter overlaps the context by more than its
    // one-pixel border (the position decides; rotation and scale do not).
    bool hasVisibleFilter();

    RenderAVLayer* filterLayer(const std::string& name) const;
    size_t filterCount() const { return mFilters.size(); }
    bool holdsLayer(const RenderLayer* layer) const;

private:
    void placeFilter(RenderAVLayer* layer, const Config* config, double cx, double cy);
    // Deletes one filter's layer, compositions and sources.
    void dropLayer(RenderAVLayer* layer);
    void dropComps(const std::vector<RenderComp*>& comps);
    void dropSources(const std::vector<std::string>& keys);

    std::map<std::string, std::pair<RenderAVLayer*, Config*>> mFilters;
    std::map<std::string, std::vector<RenderComp*>> mFilterComps;
    std::map<std::string, std::vector<std::string>> mFilterSources;
    RenderContext* mContext;
};

}  // namespace Core
}  // namespace Quorvane
