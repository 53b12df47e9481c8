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
    // this file, kind and type and shared by every later one (a null result
    // too): a track of thirty layers is parsed once, not thirty times, and
    // its records are held once. The file is known by its resolved name, so
    // "a.json", "./a.json" and a link to it are one file; a name that
    // resolves nowhere (a missing file) is known by itself. `path` must
    // already have passed the render's input scope. `kind` tells apart
    // readings of one file that keep different things (an effect's record
    // shape, say). Without a cache the value is made afresh.
    template <class T>
    static std::shared_ptr<const T> get(DataFileCache* cache, const std::string& path, const std::string& kind,
                                        const std::function<std::shared_ptr<const T>()>& parse) {
        if (!cache) return parse();
        return std::static_pointer_cast<const T>(
            cache->find(path, kind, std::type_index(typeid(T)), [&] { return parse(); }));
    }

    // Lets go of every value only the cache still holds (effect records
    // copied into their effects, the tracks of removed layers); a later
    // request parses the file again. Null results are kept.
    void release();

private:
    struct Key {
        std::string file;
        std::string kind;
        std::type_index type;
        bool operator<(Key const& other) const;
    };
    std::shared_ptr<const void> find(std::string const& path, std::string const& kind, std::type_index type,
                                     const std::function<std::shared_ptr<const void>()>& parse);

    // Held while parsing: two threads asking for one file parse it once.
    mutable std::mutex mutex_;
    std::map<Key, std::shared_ptr<const void>> entries_;
};

}  // namespace Core
}  // namespace Quorvane
