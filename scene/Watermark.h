// Watermarks: an image (or image sequence) laid over the finished frame for a
// time span, as an AV layer on top of the render context's layers. The record
// is what hosts hand to a render (task/quorvane.h) and what the render task
// passes to RenderContext::addWatermark; the context operations are defined in
// Watermark.cpp, and this header also holds the timing rule they share with
// hosts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

struct Watermark {
    // One path shows a still image, several an image sequence.
    std::vector<std::string> imagePaths;
    Vec2 position;  // composition pixels
    Vec2 time;      // x: start, y: duration, both in seconds
    Vec2 scale;     // 1 is 100 percent

    // The host entry points pass a watermark as paths and six numbers.
    static Watermark fromHost(std::vector<std::string> paths, float x, float y, float start, float duration,
                              float scaleX, float scaleY) {
        return Watermark{std::move(paths), Vec2(x, y), Vec2(start, duration), Vec2(scaleX, scaleY)};
    }

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
