// Encoding frames to an AAC file and the writer's refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "media/FFAudioWriter.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

using namespace Quorvane::Core;

namespace {

// Writes seconds of a 1 kHz tone in 1024-sample planar float frames, drains the
// encoder the way the mixer's last call does, and closes.
int writeTone(FFAudioWriter& writer, double seconds, int rate, int channels) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = rate;
    av_channel_layout_default(&frame->ch_layout, channels);
    frame->nb_samples = 1024;
    EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
    int64_t total = static_cast<int64_t>(seconds * rate);
    for (int64_t done = 0; done < total; done += 1024) {
        EXPECT_EQ(av_frame_make_writable(frame), 0);
        for (int c = 0; c < channels; ++c) {
            float* out = reinterpret_cast<float*>(frame->data[c]);
            for (int i = 0; i < 1024; ++i) out[i] = 0.5f * std::sin(2.0 * M_PI * 1000.0 * (done + i) / rate);
        }
        frame->pts = done;
        int got = 0;
        EXPECT_GE(writer.writeAudioFrame(frame, static_cast<long>(done), &got), 0);
    }
    av_frame_free(&frame);
    int got = 0;
    EXPECT_GE(writer.writeAudioFrame(nullptr, 0, &got), 0);
    return writer.close();
}

}  // namespace

TEST(AudioWriter, WritesAnAdtsStreamAndClosesAfterTheMixersDrain) {
    QvTest::TempDir dir;
    std::string path = dir.file("mix.aac");
    {
        FFAudioWriter writer(path.c_str());
        ASSERT_TRUE(writer.addAudioInput(128000, 44100, 2, AVRational{1, 44100}, AV_SAMPLE_FMT_FLTP));
        ASSERT_TRUE(writer.start());
        testing::internal::CaptureStderr();
        int closed = writeTone(writer, 2.0, 44100, 2);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(closed, 0);
        // The drain at close follows the mixer's own drain: no error.
        EXPECT_EQ(log.find("Flushing encoder failed"), std::string::npos) << log;
        EXPECT_EQ(log.find("error"), std::string::npos) << log;
        EXPECT_NE(log.find("FFAudioWriter close()"), std::string::npos);
    }
    EXPECT_EQ(QvTest::probe(path, "a:0", "codec_name"), "aac");
    EXPECT_EQ(QvTest::probe(path, "a:0", "channels"), "2");
    EXPECT_EQ(QvTest::readFile(path).substr(0, 1), "\xff");  // ADTS sync word
    std::vector<float> pcm = QvTest::decodeMono(path);
    EXPECT_NEAR(pcm.size() / 44100.0, 2.0, 0.1);
    EXPECT_NEAR(QvTest::toneLevel(pcm, 22050, 66150, 1000.0), 0.5, 0.05);
}

TEST(AudioWriter, RefusesWhatItCannotDo) {
    QvTest::TempDir dir;
    {
        // No encoder: nothing to flush, nothing to encode.
        FFAudioWriter writer(dir.file("a.aac").c_str());
        EXPECT_EQ(writer.flush(), 0);
        int got = 7;
        EXPECT_EQ(writer.writeAudioFrame(nullptr, 0, &got), -1);
    }
    {
        // A writer with its own encoder does not take encoded packets.
        FFAudioWriter writer(dir.file("b.aac").c_str());
        ASSERT_TRUE(writer.addAudioInput(128000, 44100, 1, AVRational{1, 44100}, AV_SAMPLE_FMT_FLTP));
        ASSERT_TRUE(writer.start());
        AVPacket* packet = av_packet_alloc();
        ASSERT_EQ(av_new_packet(packet, 16), 0);
        AVStream from{};
        from.time_base = AVRational{1, 44100};
        EXPECT_EQ(writer.writeAudioPacket(packet, &from), -1);
        av_packet_free(&packet);
        EXPECT_EQ(writer.close(), 0);
    }
    {
        // An encoder that cannot take the sample format fails to set up; its
        // writes are refused.
        FFAudioWriter writer(dir.file("c.aac").c_str());
        EXPECT_FALSE(writer.addAudioInput(128000, 44100, 1, AVRational{1, 44100}, AV_SAMPLE_FMT_U8));
        EXPECT_EQ(writer.writeAudioFrame(nullptr, 0, nullptr), -1);
    }
    {
        // A folder that does not exist.
        FFAudioWriter writer((dir.path() + "/no/such/dir/x.aac").c_str());
        ASSERT_TRUE(writer.addAudioInput(128000, 44100, 1, AVRational{1, 44100}, AV_SAMPLE_FMT_FLTP));
        EXPECT_FALSE(writer.start());
        EXPECT_EQ(writer.close(), 1);
    }
}
