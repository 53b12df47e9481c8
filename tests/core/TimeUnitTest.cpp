#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "core/TimeUnit.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

using namespace Quorvane::Core;

TEST(TimeUnit, DefaultAndFields) {
    const TimeUnit t;
    EXPECT_EQ(t.frameCount(), 0);
    EXPECT_EQ(t.fps(), 6000.0f);
    TimeUnit u(25, 30);
    u.setFps(60);  // the frame count stays
    EXPECT_EQ(u.frameCount(), 25);
    EXPECT_EQ(u.fps(), 60.0f);
    EXPECT_TRUE(TimeUnit(5, 0).isZero());
    EXPECT_TRUE(TimeUnit(0, 30).isZero());
    EXPECT_FALSE(TimeUnit(1, 30).isZero());
}

TEST(TimeUnit, RateConversionRoundsHalvesAwayFromZero) {
    EXPECT_EQ(TimeUnit(10, 30).frame(60), 20);
    EXPECT_EQ(TimeUnit(1, 30).frame(25), 1);
    EXPECT_EQ(TimeUnit(3, 60).frame(30), 2);
    EXPECT_EQ(TimeUnit(-3, 60).frame(30), -2);
    EXPECT_EQ(TimeUnit(90, 30).frame(6000), 18000);

    TimeUnit a(10, 30);
    a += TimeUnit(15, 60);  // 10 + 7.5
    EXPECT_EQ(a.frameCount(), 18);
    EXPECT_EQ(a.fps(), 30.0f);
    TimeUnit b(10, 30);
    b -= TimeUnit(15, 60);  // 10 - 7.5 = 2.5
    EXPECT_EQ(b.frameCount(), 3);
    TimeUnit c(0, 30);
    c -= TimeUnit(15, 60);  // -7.5
    EXPECT_EQ(c.frameCount(), -8);
    TimeUnit d(100, 25);
    d += TimeUnit(50, 25);
    EXPECT_EQ(d.frameCount(), 150);
}

TEST(TimeUnit, ZeroRatesDoNotTrap) {
    // A time at rate 0 has no length: converted from or to rate 0 it gives 0
    // frames, and adding or subtracting it leaves the target as it was.
    EXPECT_EQ(TimeUnit(5, 0).frame(30), 0);
    EXPECT_EQ(TimeUnit(-5, 0).frame(30), 0);
    EXPECT_EQ(TimeUnit(0, 0).frame(30), 0);
    EXPECT_EQ(TimeUnit(5, 30).frame(0), 0);
    EXPECT_EQ(TimeUnit(5, std::nanf("")).frame(30), 0);
    TimeUnit t(10, 30);
    t += TimeUnit(5, 0);
    EXPECT_EQ(t.frameCount(), 10);
    TimeUnit u(10, 30);
    u -= TimeUnit(0, 0);
    EXPECT_EQ(u.frameCount(), 10);
    TimeUnit z(10, 0);
    z += TimeUnit(5, 30);
    z -= TimeUnit(5, 30);
    EXPECT_EQ(z.frameCount(), 10);
    EXPECT_EQ(z.fps(), 0.0f);
    // A stream time base without a denominator has no seconds.
    EXPECT_EQ(FFTimeUtils::convertFFTimeToSeconds(5, AVRational{1, 0}), 0.0);
}

TEST(TimeUnit, AVRationalExchange) {
    const AVRational r = TimeUnit(48, 23.976f).getAVRational();
    EXPECT_EQ(r.num, 48);
    EXPECT_EQ(r.den, 23);
    TimeUnit t;
    t = AVRational{1001, 30000};
    EXPECT_EQ(t.frameCount(), 1001);
    EXPECT_EQ(t.fps(), 30000.0f);
    const AVRational low = TimeUnit((int64_t(1) << 32) + 7, 30).getAVRational();
    EXPECT_EQ(low.num, 7);
}

TEST(TimeRange, OutPoint) {
    const TimeUnit same = TimeRange(TimeUnit(10, 30), TimeUnit(20, 30)).outPoint();
    EXPECT_EQ(same.frameCount(), 30);
    EXPECT_EQ(same.fps(), 30.0f);
    const TimeUnit mixed = TimeRange(TimeUnit(10, 30), TimeUnit(30, 60)).outPoint();
    EXPECT_EQ(mixed.frameCount(), 1500);
    EXPECT_EQ(mixed.fps(), 1800.0f);
    EXPECT_NEAR(double(mixed.frameCount()) / mixed.fps(), 10.0 / 30 + 30.0 / 60, 1e-6);
    // An exact integer sum at a shared rate, beyond float precision.
    const int64_t big = (int64_t(1) << 40) + 1;
    EXPECT_EQ(TimeRange(TimeUnit(big, 30), TimeUnit(1, 30)).outPoint().frameCount(), big + 1);
    const TimeRange r;
    EXPECT_EQ(r.start.fps(), 6000.0f);
}

TEST(FFTimeUtils, AudioFramesInStreamTimeBase) {
    // An AAC encoder sets its own frame size; the stream counts in 1/90000.
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    ASSERT_NE(aac, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(aac);
    ASSERT_NE(codec, nullptr);
    codec->sample_rate = 48000;
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->time_base = AVRational{1, 48000};
    codec->bit_rate = 128000;
    av_channel_layout_default(&codec->ch_layout, 2);
    ASSERT_EQ(avcodec_open2(codec, aac, nullptr), 0);
    ASSERT_EQ(codec->frame_size, 1024);

    AVFormatContext* fmt = avformat_alloc_context();
    ASSERT_NE(fmt, nullptr);
    AVStream* stream = avformat_new_stream(fmt, nullptr);
    ASSERT_NE(stream, nullptr);
    stream->time_base = AVRational{1, 90000};

    EXPECT_EQ(FFTimeUtils::getAudioFrameDuration(stream, codec), 1920);
    EXPECT_DOUBLE_EQ(FFTimeUtils::getAudioFrameDurationInSeconds(stream, codec), 1024.0 / 48000.0);
    EXPECT_EQ(FFTimeUtils::getAudioPtsForAudioFrame(stream, codec, 10), 19200);
    EXPECT_DOUBLE_EQ(FFTimeUtils::getAudioPtsInSecondsForAudioFrame(stream, codec, 10), 10240.0 / 48000.0);

    // 1024 / 44100 s in 1/90000 units is 2089.795...: rounded to the nearest.
    codec->time_base = AVRational{1, 44100};
    EXPECT_EQ(FFTimeUtils::getAudioFrameDuration(stream, codec), 2090);
    EXPECT_EQ(FFTimeUtils::getAudioPtsForAudioFrame(stream, codec, 3), 6269);
    EXPECT_DOUBLE_EQ(FFTimeUtils::convertFFTimeToSeconds(45000, AVRational{1, 90000}), 0.5);
    EXPECT_EQ(FFTimeUtils::getAudioFrameDuration(stream, nullptr), 0);
    EXPECT_EQ(FFTimeUtils::getAudioPtsForAudioFrame(nullptr, codec, 3), 0);

    avformat_free_context(fmt);
    avcodec_free_context(&codec);
}
