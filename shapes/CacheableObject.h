// Dirty-flag base of the lazily rebuilt geometry: segments, paths, shapes and
// the shape vertex buffer recompute their derived state in cache() only when
// something changed since the last read.
#pragma once

namespace Quorvane {
namespace Core {

class CacheableObject {
public:
    CacheableObject() = default;
    // Derived classes are deleted through their own (virtual) destructors.
    virtual void cache() {}

    void markDirty() { mDirty = true; }
    void markDirty(bool dirty) { mDirty = dirty; }
    bool isDirty() const { return mDirty; }
    // Runs cache() when dirty and clears the flag; answers whether it was dirty.
    bool updateCache();

protected:
    ~CacheableObject() = default;
    CacheableObject(const CacheableObject&) = default;
    CacheableObject& operator=(const CacheableObject&) = default;

    bool mDirty = true;
};

}  // namespace Core
}  // namespace Quorvane
