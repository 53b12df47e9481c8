// One watermark of a video render: an image or image sequence laid over the
// main composition for a span of time. The record belongs with the scene's
// watermark code (scene/Watermark.h); once that header carries these four
// fields, this one should only include it, so that the name has one definition.
#pragma once

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
};

}  // namespace Core
}  // namespace Quorvane
