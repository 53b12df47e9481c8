// The description of a video stream that a video provider hands to its source.
#pragma once

#include <cstdint>

#include "core/TimeUnit.h"
#include "media/AVSource.h"

namespace Quorvane {
namespace Core {

struct VideoSourceMetadata {
    int32_t audioChannels = 0;  // channels of the file's best audio stream, 0 without audio
    AVSource::ColorFormat colorFormat = AVSource::kColorFormatNone;  // of the frames handed out
    bool hasVideo = false;
    bool hasAudio = false;
    int32_t width = 0;
    int32_t height = 0;
    int64_t bitRate = 0;
    float frameRate = 0.0f;  // average frame rate of the stream
    double rotation = 0.0;   // degrees in [0, 360) (a hair below 0 for angles just under a full turn)
    int64_t duration = 0;    // milliseconds, from the first presented frame
    TimeUnit videoTimeBase;
    TimeUnit audioTimeBase;
    float pixelAspectRatio = 1.0f;
};

}  // namespace Core
}  // namespace Quorvane
