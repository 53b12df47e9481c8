// Watermarks: an image (or image sequence) laid over the finished frame for a
// time span, as an AV layer on top of the render context's layers. The context
// operations (RenderContext::addWatermark, removeWatermark) are defined in
// Watermark.cpp; this header holds the timing rule they share with hosts.
#pragma once

#include <cstdint>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

struct Watermark {
    // Frames at the context's rate during which a watermark shows:
    // inPoint <= t < inPoint + duration.
    struct Span {
        int64_t inPoint = 0;
        int64_t duration = 0;
    };
    // time.x is the start and time.y the duration in seconds. A duration of at
    // most 0.001 s means the whole render (contextDuration frames) whatever the
    // start; otherwise a negative start counts as 0 and both are rounded up to
    // whole frames.
    static Span span(Vec2 time, float fps, unsigned long contextDuration);
};

}  // namespace Core
}  // namespace Quorvane
