// The data files of one render ("datas/" of the template), each read and
// parsed once however many layers and effects name it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <utility>

namespace Quorvane {
namespace Core {

class DataFileCache {
public:
    // What `parse` makes of the file at `path`, made by the first request for
    // this path, kind and type and shared by every later one (a null result
    // too): a track of thirty layers is parsed once, not thirty times, and
    // its records are held once. `kind` tells apart readings of one file
    // that keep different things (an effect's record shape, say). Without a
    // cache the value is made afresh.
    template <class T>
    static std::shared_ptr<const T> get(DataFileCache* cache, const std::string& path, const std::string& kind,
                                        const std::function<std::shared_ptr<const T>()>& parse) {
        if (!cache) return parse();
        return std::static_pointer_cast<const T>(
            cache->find(Key{path, kind, std::type_index(typeid(T))}, [&] { return parse(); }));
    }

private:
    struct Key {
        std::string path;
        std::string kind;
        std::type_index type;
        bool operator<(Key const& other) const;
    };
    std::shared_ptr<const void> find(Key const& key, const std::function<std::shared_ptr<const void>()>& parse);

    // Held while parsing: two threads asking for one file parse it once.
    mutable std::mutex mutex_;
    std::map<Key, std::shared_ptr<const void>> entries_;
};

}  // namespace Core
}  // namespace Quorvane
