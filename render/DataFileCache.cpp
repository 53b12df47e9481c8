#include "render/DataFileCache.h"

#include <tuple>

namespace Quorvane {
namespace Core {

bool DataFileCache::Key::operator<(Key const& other) const {
    return std::tie(path, kind, type) < std::tie(other.path, other.kind, other.type);
}

std::shared_ptr<const void> DataFileCache::find(Key const& key,
                                                const std::function<std::shared_ptr<const void>()>& parse) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found != entries_.end()) return found->second;
    return entries_.emplace(key, parse()).first->second;
}

}  // namespace Core
}  // namespace Quorvane
