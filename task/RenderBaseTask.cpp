#include "task/RenderBaseTask.h"

#include <algorithm>

#include "core/Unique.h"

namespace Quorvane {
namespace Core {

namespace {
template <typename Entry>
void eraseFirstWithId(std::vector<Entry>& list, const std::string& identifier) {
    auto it = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.second == identifier; });
    if (it != list.end()) list.erase(it);
}
}  // namespace

std::string RenderBaseTask::addFilter(const std::string& path) {
    std::string identifier = Unique::GenerateID();
    filters_.emplace_back(path, identifier);
    return identifier;
}

void RenderBaseTask::removeFilter(const std::string& identifier) {
    eraseFirstWithId(filters_, identifier);
}

std::string RenderBaseTask::addWatermark(const Watermark& watermark) {
    std::string identifier = Unique::GenerateID();
    watermarks_.emplace_back(watermark, identifier);
    return identifier;
}

void RenderBaseTask::removeWatermark(const std::string& identifier) {
    eraseFirstWithId(watermarks_, identifier);
}

}  // namespace Core
}  // namespace Quorvane
