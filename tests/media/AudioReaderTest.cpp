// Reading audio files of several codecs, and files that have no audio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "media/FFAudioReader.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

// Decodes every frame and counts the samples.
int64_t countSamples(FFAudioReader& reader) {
    int64_t total = 0;
    while (reader.readNextAudioFrame()) total += reader.getDecodeResult().frame->nb_samples;
    return total;
}

}  // namespace

TEST(AudioReader, DescribesAndDecodesPcmFlacAndMp3) {
    QvTest::TempDir dir;
    struct Case {
        const char* name;
        int rate;
        int channels;
        AVCodecID codec;
        bool fixedFrames;
    } cases[] = {
        {"tone.wav", 22050, 2, AV_CODEC_ID_PCM_S16LE, false},
        {"tone.flac", 48000, 1, AV_CODEC_ID_FLAC, false},
        {"tone.mp3", 44100, 2, AV_CODEC_ID_MP3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.name);
        ASSERT_TRUE(QvTest::writeTones(path, {{440, 2.0}}, c.rate, c.channels));
        FFAudioReader reader(path.c_str());
        ASSERT_TRUE(reader.hasAudio());
        EXPECT_EQ(reader.getSampleRate(), c.rate);
        EXPECT_EQ(reader.getChannelCount(), c.channels);
        // A layout is always known, also for PCM streams that name none.
        EXPECT_EQ(reader.getChannelLayout(), c.channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
        EXPECT_EQ(reader.getCodecID(), c.codec);
        EXPECT_EQ(reader.getFilePath(), path);
        EXPECT_NEAR(reader.getDurationMilliSeconds(), 2000, 60);
        EXPECT_EQ(reader.getFrameSize() > 0, c.fixedFrames);
        int64_t samples = countSamples(reader);
        // MP3 adds encoder padding; the lossless ones give the exact count.
        if (c.fixedFrames)
            EXPECT_NEAR(samples, 2 * c.rate, 2 * 1152 + 1105);
        else
            EXPECT_EQ(samples, 2 * c.rate);
        EXPECT_FALSE(reader.readNextAudioFrame());
    }
}

TEST(AudioReader, DurationLeavesOutTheStartTime) {
    // MP3 streams start after the encoder delay (about 25 ms); the duration is
    // the container's length less that start.
    QvTest::TempDir dir;
    std::string path = dir.file("song.mp3");
    ASSERT_TRUE(QvTest::writeTones(path, {{440, 6.0}}));
    QvTest::ProgramResult r =
        QvTest::runProgram({"ffprobe", "-v", "error", "-show_entries", "format=start_time,duration", "-of",
                            "default=nw=1:nk=1", path});
    double start = 0, total = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "%lf %lf", &start, &total), 2) << r.out;
    ASSERT_GT(start, 0.02);
    FFAudioReader reader(path.c_str());
    EXPECT_EQ(reader.getDurationMilliSeconds(), std::llround(total * 1000) - std::llround(start * 1000));
    EXPECT_FLOAT_EQ(reader.getDurationSeconds(), reader.getDurationMilliSeconds() / 1000.0f);
}

TEST(AudioReader, FrameTimesFollowTheStream) {
    QvTest::TempDir dir;
    std::string path = dir.file("tone.aac");
    ASSERT_TRUE(QvTest::writeTones(path, {{440, 1.0}}));
    FFAudioReader reader(path.c_str());
    ASSERT_TRUE(reader.hasAudio());
    double last = -1.0;
    int frames = 0;
    while (reader.readNextAudioFrame()) {
        const auto& r = reader.getDecodeResult();
        EXPECT_TRUE(r.gotFrame);
        EXPECT_GT(r.frameTime, last);
        last = r.frameTime;
        ++frames;
    }
    EXPECT_GT(frames, 40);
    EXPECT_NEAR(last, 1.0, 0.1);
}

TEST(AudioReader, FilesWithoutAudio) {
    QvTest::TempDir dir;
    std::string video = dir.file("silent.mp4");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:d=0.5", "-c:v", "libx264", video}));
    std::string garbage = dir.file("garbage.mp3");
    ASSERT_TRUE(QvTest::writeFile(garbage, std::string(4096, '\x55')));

    for (const std::string& path : {video, garbage, dir.file("missing.wav")}) {
        SCOPED_TRACE(path);
        FFAudioReader reader(path.c_str());
        EXPECT_FALSE(reader.hasAudio());
        EXPECT_EQ(static_cast<int>(reader.getCodecID()), 0x18000);
        EXPECT_EQ(reader.getDurationMilliSeconds(), 0);
        EXPECT_FALSE(reader.readNextAudioFrame());
        AudioSourceMetadata meta(path.c_str());
        EXPECT_FALSE(meta.hasAudio());
        EXPECT_EQ(meta.duration(), 0);
    }
    EXPECT_THROW(FFAudioReader(nullptr), std::logic_error);
}

TEST(AudioReader, MetadataCopiesTheFacts) {
    QvTest::TempDir dir;
    std::string path = dir.file("tone.wav");
    ASSERT_TRUE(QvTest::writeTones(path, {{440, 1.5}}, 32000, 2));
    AudioSourceMetadata meta(path.c_str());
    ASSERT_TRUE(meta.hasAudio());
    EXPECT_EQ(meta.duration(), 1500);
    EXPECT_FLOAT_EQ(meta.durationInSeconds(), 1.5f);
    EXPECT_EQ(meta.sampleRate(), 32000);
    EXPECT_EQ(meta.channels(), 2);
    EXPECT_EQ(meta.sampleSize(), 2);
    EXPECT_EQ(meta.filePath(), path);
}
