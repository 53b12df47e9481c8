// Time counted in whole frames at a frame rate, spans of such times, and
// conversions between audio frame counts and FFmpeg stream time stamps.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVStream;
struct AVCodecContext;

namespace Quorvane {
namespace Core {

// frame / fps seconds. Rate conversions run in 32-bit float and round halves
// away from zero, so counts above 2^24 lose whole frames. A time whose rate
// is 0 has no length: converted from or to rate 0 it gives 0 frames, and
// adding or subtracting it leaves the other time as it was.
class TimeUnit {
public:
    TimeUnit() = default;
    TimeUnit(long long frame, float fps) : mFrame(frame), mFps(fps) {}
    TimeUnit(const TimeUnit&) = default;
    TimeUnit& operator=(const TimeUnit&) = default;

    // The frame count stays, so the time in seconds changes.
    void setFps(float fps) { mFps = fps; }
    void setFrame(int64_t frame) { mFrame = frame; }
    int64_t frameCount() const { return mFrame; }
    float fps() const { return mFps; }

    // The frame count at another rate.
    int64_t frame(float otherFps) const;
    // Frame 0, or a rate of exactly 0.
    bool isZero() const;

    // Converts o to this rate first; this rate stays.
    TimeUnit& operator+=(const TimeUnit& o);
    TimeUnit& operator-=(const TimeUnit& o);

    // frame = num, fps = den.
    TimeUnit& operator=(const AVRational& r);
    // {low 32 bits of frame, fps truncated}: num/den seconds for whole rates.
    AVRational getAVRational() const;

private:
    int64_t mFrame = 0;
    float mFps = 6000.0f;
};

struct TimeRange {
    TimeUnit start;
    TimeUnit duration;

    TimeRange() = default;
    TimeRange(const TimeUnit& start, const TimeUnit& duration) : start(start), duration(duration) {}
    TimeRange(const TimeRange&) = default;
    TimeRange& operator=(const TimeRange&) = default;

    // start + duration: exact at a shared rate, otherwise at the product of
    // the two rates (truncated toward zero).
    TimeUnit outPoint() const;
};

// Audio frame arithmetic between a codec's time base and its stream's. The
// codec context is passed beside the stream, since streams no longer carry one.
struct FFTimeUtils {
    FFTimeUtils() = delete;

    // Length of one audio frame (the codec's frame_size) in stream time-base units.
    static int64_t getAudioFrameDuration(const AVStream* s, const AVCodecContext* codec);
    static double getAudioFrameDurationInSeconds(const AVStream* s, const AVCodecContext* codec);
    // Time stamp of audio frame n in stream time-base units.
    static int64_t getAudioPtsForAudioFrame(const AVStream* s, const AVCodecContext* codec, long n);
    static double convertFFTimeToSeconds(long t, AVRational tb);
    static double getAudioPtsInSecondsForAudioFrame(const AVStream* s, const AVCodecContext* codec, long n);
};

}  // namespace Core
}  // namespace Quorvane
