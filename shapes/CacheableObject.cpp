#include "shapes/CacheableObject.h"

namespace Quorvane {
namespace Core {

bool CacheableObject::updateCache() {
    if (!mDirty) return false;
    cache();
    mDirty = false;
    return true;
}

}  // namespace Core
}  // namespace Quorvane
