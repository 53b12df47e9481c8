#include "core/TimeUnit.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace Quorvane {
namespace Core {

namespace {
// Float to frame count without undefined behaviour: NaN (a 0/0 rate) gives 0,
// values beyond the int64 range saturate.
int64_t toFrame(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2233720368547758e18f) return INT64_MAX;
    if (v < -9.2233720368547758e18f) return INT64_MIN;
    return static_cast<int64_t>(v);
}
int32_t toInt32(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v < -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}
// The factor that turns frames at rate `from` into frames at rate `to`; 0
// when either rate is 0 (or not a number): such a time has no length in
// seconds, so it converts to 0 frames and adds nothing, instead of dividing
// by zero.
float rateRatio(float to, float from) {
    if (from == 0.0f) return 0.0f;
    const float ratio = to / from;
    return std::isfinite(ratio) ? ratio : 0.0f;
}
// Rounding of the audio time stamps: nearest, halves away from zero, with the
// no-PTS markers passed through unchanged.
constexpr AVRounding kAudioRounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
}  // namespace

// ---------------------------------------------------------------- TimeUnit

int64_t TimeUnit::frame(float otherFps) const {
    return toFrame(std::round(rateRatio(otherFps, mFps) * static_cast<float>(mFrame)));
}

bool TimeUnit::isZero() const {
    return mFrame == 0 || mFps == 0.0f;
}

TimeUnit& TimeUnit::operator+=(const TimeUnit& o) {
    const float scale = rateRatio(mFps, o.mFps);
    if (scale != 0.0f)
        mFrame = toFrame(std::round(static_cast<float>(mFrame) + scale * static_cast<float>(o.mFrame)));
    return *this;
}
TimeUnit& TimeUnit::operator-=(const TimeUnit& o) {
    const float scale = rateRatio(mFps, o.mFps);
    if (scale != 0.0f)
        mFrame = toFrame(std::round(static_cast<float>(mFrame) - scale * static_cast<float>(o.mFrame)));
    return *this;
}

TimeUnit& TimeUnit::operator=(const AVRational& r) {
    mFrame = r.num;
    mFps = static_cast<float>(r.den);
    return *this;
}
AVRational TimeUnit::getAVRational() const {
    AVRational r;
    r.num = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(mFrame) & 0xFFFFFFFFu));
    r.den = toInt32(mFps);
    return r;
}

// ---------------------------------------------------------------- TimeRange

TimeUnit TimeRange::outPoint() const {
    if (start.fps() == duration.fps())
        return TimeUnit(start.frameCount() + duration.frameCount(), start.fps());
    const float frame = static_cast<float>(start.frameCount()) * duration.fps() +
                        static_cast<float>(duration.frameCount()) * start.fps();
    return TimeUnit(toFrame(frame), start.fps() * duration.fps());
}

// ---------------------------------------------------------------- FFTimeUtils

int64_t FFTimeUtils::getAudioFrameDuration(const AVStream* s, const AVCodecContext* codec) {
    if (!s || !codec) return 0;
    return av_rescale_q_rnd(codec->frame_size, codec->time_base, s->time_base, kAudioRounding);
}
double FFTimeUtils::getAudioFrameDurationInSeconds(const AVStream* s, const AVCodecContext* codec) {
    if (!s) return 0.0;
    return convertFFTimeToSeconds(getAudioFrameDuration(s, codec), s->time_base);
}
int64_t FFTimeUtils::getAudioPtsForAudioFrame(const AVStream* s, const AVCodecContext* codec, long n) {
    if (!s || !codec) return 0;
    return av_rescale_q_rnd(static_cast<int64_t>(codec->frame_size) * n, codec->time_base, s->time_base,
                            kAudioRounding);
}
double FFTimeUtils::convertFFTimeToSeconds(long t, AVRational tb) {
    // A stream without a time base has no seconds to give.
    if (tb.den == 0) return 0.0;
    return static_cast<double>(tb.num) / tb.den * t;
}
double FFTimeUtils::getAudioPtsInSecondsForAudioFrame(const AVStream* s, const AVCodecContext* codec,
                                                      long n) {
    if (!s) return 0.0;
    return convertFFTimeToSeconds(getAudioPtsForAudioFrame(s, codec, n), s->time_base);
}

}  // namespace Core
}  // namespace Quorvane
