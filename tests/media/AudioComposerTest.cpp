// The audio mixer: its filter texts, track settings, and what it mixes.
#include <gtest/gtest.h>

#include <cmath>

#include "media/FFAudioComposer.h"
#include "media/FFAudioWriter.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

// Collects the first channel of every mixed frame, as the render task would
// hand it on to the encoder.
class Collector : public FFAudioComposerDelegate {
public:
    void prepareAudioEncoder() override { ++prepared; }
    void addAudioNewFrame(AVFrame* frame, long pts, bool last) override {
        if (last) {
            EXPECT_EQ(frame, nullptr);
            ++lastCalls;
            return;
        }
        ASSERT_NE(frame, nullptr);
        EXPECT_FALSE(ended()) << "frame after the last call";
        EXPECT_EQ(frame->format, AV_SAMPLE_FMT_FLTP);
        EXPECT_EQ(frame->pts, static_cast<int64_t>(samples.size()));
        frameSizes.push_back(frame->nb_samples);
        ptsArgs.push_back(pts);
        const float* data = reinterpret_cast<const float*>(frame->data[0]);
        samples.insert(samples.end(), data, data + frame->nb_samples);
    }
    bool ended() const { return lastCalls > 0; }

    int prepared = 0;
    int lastCalls = 0;
    std::vector<float> samples;
    std::vector<int> frameSizes;
    std::vector<long> ptsArgs;
};

constexpr int kRate = 44100;

size_t at(double seconds) {
    return static_cast<size_t>(seconds * kRate);
}

// First time (seconds) from which the tone's level in 10 ms windows stays above
// the threshold; -1 when never.
double onset(const std::vector<float>& s, double frequency, double threshold) {
    size_t win = at(0.01);
    for (size_t b = 0; b + 2 * win < s.size(); b += win / 4)
        if (QvTest::toneLevel(s, b, b + 2 * win, frequency) > threshold)
            return static_cast<double>(b + win) / kRate;
    return -1.0;
}

}  // namespace

TEST(AudioComposer, FilterDescriptions) {
    QvTest::TempDir dir;
    std::string tone = dir.file("t.aac");
    ASSERT_TRUE(QvTest::writeTones(tone, {{440, 1.0}}));

    FFAudioComposer one(nullptr);
    ASSERT_NE(one.addAudioTrack(tone), nullptr);
    one.setTrackVolume(0, 0.8f);
    EXPECT_EQ(one.composeFilterDescription(),
              "[in0]volume=0.8[in0v];[in0v]amix=inputs=1:duration=longest:dropout_transition=0[pout];"
              "[pout]asetnsamples=1024[out]");

    FFAudioComposer two(nullptr);
    ASSERT_NE(two.addAudioTrack(tone), nullptr);
    ASSERT_NE(two.addAudioTrack(tone), nullptr);
    two.getAudioTrack(0)->setInPoint(1.5f);
    EXPECT_EQ(
        two.composeFilterDescription(),
        "[in0]volume=2[in0v];[in0v]adelay=1500|1500[in0d];[in1]volume=1[in1v];[in0d][in1v]amix=inputs=2:"
        "duration=longest:dropout_transition=0[pout];[pout]asetnsamples=1024[out]");

    FFAudioComposer three(nullptr);
    for (int i = 0; i < 3; ++i) ASSERT_NE(three.addAudioTrack(tone), nullptr);
    three.getAudioTrack(1)->setInPoint(0.0004f);
    three.setSamplePerFrame(512);
    EXPECT_EQ(three.composeFilterDescription(),
              "[in0]volume=3[in0v];[in1]volume=2[in1v];[in1v]adelay=0|0[in1d];[in2]volume=1[in2v];"
              "[in0v][in1d][in2v]amix=inputs=3:duration=longest:dropout_transition=0[pout];"
              "[pout]asetnsamples=512[out]");
}

TEST(AudioComposer, TrackSettings) {
    QvTest::TempDir dir;
    std::string tone = dir.file("t.flac");
    ASSERT_TRUE(QvTest::writeTones(tone, {{440, 10.0}}));
    FFAudioComposer mixer(nullptr);
    EXPECT_EQ(mixer.addAudioTrack(dir.file("missing.wav")), nullptr);
    FFAudioComposer::AudioTrack* t = mixer.addAudioTrack(tone);
    ASSERT_NE(t, nullptr);
    EXPECT_FLOAT_EQ(t->getDuration(), 10.0f);
    EXPECT_FALSE(t->isTrimmed());

    t->setInPoint(2.0f);
    EXPECT_TRUE(t->setOutPoint(5.0f));  // a duration, not a mix time
    EXPECT_FLOAT_EQ(t->getDuration(), 5.0f);
    EXPECT_FLOAT_EQ(t->getOutPoint(), 7.0f);
    EXPECT_TRUE(t->isTrimmed());
    EXPECT_TRUE(t->setDuration(30.0f));  // limited to the source
    EXPECT_FLOAT_EQ(t->getDuration(), 10.0f);
    EXPECT_FALSE(t->setDuration(-1.0f));
    EXPECT_FLOAT_EQ(t->getDuration(), 0.0f);

    ASSERT_TRUE(t->setDuration(10.0f));
    EXPECT_TRUE(t->setStartTime(3.0f, false));  // the duration shrinks by the shift
    EXPECT_FLOAT_EQ(t->getDuration(), 7.0f);
    EXPECT_TRUE(t->setStartTime(1.0f, true));
    EXPECT_FLOAT_EQ(t->getStartTime(), 1.0f);
    EXPECT_FLOAT_EQ(t->getDuration(), 7.0f);
    EXPECT_FALSE(t->setStartTime(20.0f, false));  // past the end: nothing left
    EXPECT_FLOAT_EQ(t->getStartTime(), 10.0f);
    EXPECT_FLOAT_EQ(t->getDuration(), 0.0f);

    t->setVolume(1.7f);
    EXPECT_FLOAT_EQ(t->getVolume(), 1.0f);
    t->setVolume(-2.0f);
    EXPECT_FLOAT_EQ(t->getVolume(), 0.0f);

    // Removal renumbers; out-of-range indexes do nothing.
    FFAudioComposer::AudioTrack* b = mixer.addAudioTrack(tone);
    FFAudioComposer::AudioTrack* c = mixer.addAudioTrack(tone);
    EXPECT_TRUE(mixer.removeAudioTrack(static_cast<unsigned long>(0)));
    EXPECT_EQ(mixer.getTrackCount(), 2u);
    EXPECT_EQ(b->getIndex(), 0u);
    EXPECT_EQ(c->getIndex(), 1u);
    EXPECT_FALSE(mixer.removeAudioTrack(5ul));
    EXPECT_FALSE(mixer.removeAudioTrack(static_cast<FFAudioComposer::AudioTrack*>(nullptr)));
    EXPECT_EQ(mixer.getAudioTrack(9), nullptr);
    EXPECT_FLOAT_EQ(mixer.getVolumeForTrack(9), 0.0f);
    mixer.setTrackVolume(9, 0.5f);
    mixer.setChannelCount(2);
    EXPECT_EQ(mixer.getChannelCount(), 2);
}

TEST(AudioComposer, MixesTwoTonesWithTheSecondDelayed) {
    QvTest::TempDir dir;
    // PCM sources: AAC files would start with the encoder's priming silence.
    std::string low = dir.file("low.wav"), high = dir.file("high.wav");
    ASSERT_TRUE(QvTest::writeTones(low, {{440, 3.0}}, kRate, 1, 0.25));
    ASSERT_TRUE(QvTest::writeTones(high, {{1000, 3.0}}, kRate, 1, 0.25));

    Collector out;
    FFAudioComposer mixer(&out);
    ASSERT_NE(mixer.addAudioTrack(low), nullptr);
    FFAudioComposer::AudioTrack* delayed = mixer.addAudioTrack(high);
    ASSERT_NE(delayed, nullptr);
    delayed->setInPoint(1.5f);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(mixer.exportAudio());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(
        log.find("Audio final filter_desc : [in0]volume=2[in0v];[in1]volume=1[in1v];[in1v]adelay=1500|1500"),
        std::string::npos);

    EXPECT_EQ(out.prepared, 1);
    EXPECT_EQ(out.lastCalls, 1);
    // Frames of 1024 samples until the largest out point, 4.5 s.
    for (size_t i = 0; i + 1 < out.frameSizes.size(); ++i) ASSERT_EQ(out.frameSizes[i], 1024);
    EXPECT_NEAR(out.samples.size() / double(kRate), 4.5, 0.03);
    // pts argument: the frame's time in seconds times the frame size.
    ASSERT_GT(out.ptsArgs.size(), 11u);
    EXPECT_EQ(out.ptsArgs[10], 237);

    // Each track's weight is (tracks - index) x volume, and amix divides by the
    // two inputs: the first tone keeps its level, the second comes in at half.
    const std::vector<float>& s = out.samples;
    EXPECT_NEAR(QvTest::toneLevel(s, at(0.2), at(1.4), 440), 0.25, 0.02);
    EXPECT_LT(QvTest::toneLevel(s, at(0.2), at(1.45), 1000), 0.005);
    EXPECT_NEAR(QvTest::toneLevel(s, at(1.6), at(2.9), 440), 0.25, 0.02);
    EXPECT_NEAR(QvTest::toneLevel(s, at(1.6), at(2.9), 1000), 0.125, 0.015);
    // Once the first track has ended, amix divides by one input only.
    EXPECT_NEAR(QvTest::toneLevel(s, at(3.1), at(4.4), 1000), 0.25, 0.02);
    EXPECT_LT(QvTest::toneLevel(s, at(3.1), at(4.4), 440), 0.005);
    EXPECT_NEAR(onset(s, 1000, 0.06), 1.5, 0.02);
}

TEST(AudioComposer, MixesPcmAndFlacTracksWithTheirOwnFrameSizes) {
    QvTest::TempDir dir;
    // Stereo 16-bit WAV names no channel layout; FLAC frames hold 4608 samples.
    std::string wav = dir.file("a.wav"), flac = dir.file("b.flac");
    ASSERT_TRUE(QvTest::writeTones(wav, {{440, 2.0}}, 48000, 2, 0.25));
    ASSERT_TRUE(QvTest::writeTones(flac, {{1000, 2.0}}, 22050, 1, 0.25));

    Collector out;
    FFAudioComposer mixer(&out);
    ASSERT_NE(mixer.addAudioTrack(wav), nullptr);
    ASSERT_NE(mixer.addAudioTrack(flac), nullptr);
    mixer.setTrackVolume(0, 0.5f);  // weight 2 x 0.5 = 1
    ASSERT_TRUE(mixer.exportAudio());
    EXPECT_NEAR(out.samples.size() / double(kRate), 2.0, 0.03);
    EXPECT_NEAR(QvTest::toneLevel(out.samples, at(0.2), at(1.8), 440), 0.125, 0.015);
    EXPECT_NEAR(QvTest::toneLevel(out.samples, at(0.2), at(1.8), 1000), 0.125, 0.015);
}

TEST(AudioComposer, AppliesHeadTrimAndDuration) {
    QvTest::TempDir dir;
    // One second of 440 Hz, then 1000 Hz; the head trim skips the first part.
    std::string steps = dir.file("steps.wav"), bed = dir.file("bed.mp3");
    ASSERT_TRUE(QvTest::writeTones(steps, {{440, 1.0}, {1000, 4.0}}, kRate, 1, 0.25));
    ASSERT_TRUE(QvTest::writeTones(bed, {{300, 5.0}}, kRate, 1, 0.25));

    Collector out;
    FFAudioComposer mixer(&out);
    FFAudioComposer::AudioTrack* cut = mixer.addAudioTrack(steps);
    ASSERT_NE(cut, nullptr);
    ASSERT_NE(mixer.addAudioTrack(bed), nullptr);
    ASSERT_TRUE(cut->setStartTime(1.0f, false));
    ASSERT_TRUE(cut->setDuration(3.0f));  // the track is cut to 3 s
    mixer.setTrackVolume(0, 0.5f);
    mixer.setMaxDuration(4.5f);
    ASSERT_TRUE(mixer.exportAudio());
    const std::vector<float>& s = out.samples;
    EXPECT_NEAR(s.size() / double(kRate), 4.5, 0.03);
    EXPECT_LT(QvTest::toneLevel(s, at(0.05), at(0.9), 440), 0.005);
    EXPECT_GT(QvTest::toneLevel(s, at(0.05), at(0.9), 1000), 0.1);
    EXPECT_GT(QvTest::toneLevel(s, at(2.0), at(2.9), 1000), 0.1);
    EXPECT_LT(QvTest::toneLevel(s, at(3.1), at(4.4), 1000), 0.005);
    EXPECT_GT(QvTest::toneLevel(s, at(3.1), at(4.4), 300), 0.1);
}

TEST(AudioComposer, ExportsWithoutTracksOrGraph) {
    Collector none;
    FFAudioComposer empty(&none);
    EXPECT_FALSE(empty.exportAudio());
    EXPECT_EQ(none.prepared, 1);
    EXPECT_EQ(none.lastCalls, 1);
    EXPECT_TRUE(none.samples.empty());
}

TEST(AudioComposer, FeedsTheAacWriter) {
    QvTest::TempDir dir;
    std::string tone = dir.file("t.mp3"), out = dir.file("out.mp4.aac");
    ASSERT_TRUE(QvTest::writeTones(tone, {{440, 2.0}}));

    // The render task's delegate: every frame to the writer, the final null
    // frame drains it once.
    struct ToWriter : FFAudioComposerDelegate {
        FFAudioWriter* writer = nullptr;
        void prepareAudioEncoder() override {}
        void addAudioNewFrame(AVFrame* frame, long pts, bool) override {
            int got = 0;
            EXPECT_GE(writer->writeAudioFrame(frame, pts, &got), 0);
        }
    } delegate;
    FFAudioComposer mixer(&delegate);
    ASSERT_NE(mixer.addAudioTrack(tone), nullptr);
    FFAudioWriter writer(out.c_str());
    delegate.writer = &writer;
    ASSERT_TRUE(writer.addAudioInput(128000, static_cast<int>(mixer.getSampleRate()), mixer.getChannelCount(),
                                     AVRational{1, static_cast<int>(mixer.getSampleRate())},
                                     mixer.getSampleFormat()));
    ASSERT_TRUE(writer.start());
    ASSERT_TRUE(mixer.exportAudio());
    EXPECT_EQ(writer.close(), 0);
    std::vector<float> pcm = QvTest::decodeMono(out);
    EXPECT_NEAR(pcm.size() / double(kRate), 2.0, 0.1);
    EXPECT_NEAR(QvTest::toneLevel(pcm, at(0.3), at(1.7), 440), 0.25, 0.03);
}
