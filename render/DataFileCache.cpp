#include "render/DataFileCache.h"

#include <tuple>

#include "core/FileManager.h"

namespace Quorvane {
namespace Core {

bool DataFileCache::Key::operator<(Key const& other) const {
    return std::tie(file, kind, type) < std::tie(other.file, other.kind, other.type);
}

std::shared_ptr<const void> DataFileCache::find(std::string const& path, std::string const& kind,
                                                std::type_index type,
                                                const std::function<std::shared_ptr<const void>()>& parse) {
    Key key{std::string(), kind, type};
    if (FileManager::resolvePath(path, &key.file) != FileManager::Resolution::Resolved) key.file = path;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(key);
    if (found != entries_.end()) return found->second;
    return entries_.emplace(std::move(key), parse()).first->second;
}

void DataFileCache::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        if (entry->second && entry->second.use_count() == 1) {
            entry = entries_.erase(entry);
        } else {
            ++entry;
        }
    }
}

}  // namespace Core
}  // namespace Quorvane
