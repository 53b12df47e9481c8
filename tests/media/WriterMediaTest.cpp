// The all-software media writer: encoder choice, frames and audio into one file.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "media/FFMediaWriter.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

using namespace Quorvane::Core;

namespace {

std::vector<uint8_t> solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = r;
        rgba[i + 1] = g;
        rgba[i + 2] = b;
        rgba[i + 3] = 255;
    }
    return rgba;
}

}  // namespace

TEST(WriterMedia, FallsBackToLibx264AndWritesFramesWithAudio) {
    QvTest::TempDir dir;
    std::string out = dir.file("soft.mp4");
    const int w = 128, h = 96, fps = 30;
    {
        FFMediaWriter writer(out.c_str());
        int got = 0;
        EXPECT_EQ(writer.writeVideoFrame(nullptr, &got), -1);  // before addVideoInput
        testing::internal::CaptureStderr();
        ASSERT_TRUE(writer.addVideoInput(w, h, fps));
        std::string log = testing::internal::GetCapturedStderr();
        // h264_nvenc is built into FFmpeg but has no device here.
        EXPECT_FALSE(writer.usesHardwareEncoder());
        ASSERT_NE(writer.videoCodecContext(), nullptr);
        EXPECT_STREQ(writer.videoCodecContext()->codec->name, "libx264");
        ASSERT_TRUE(writer.addAudioInput(128000, 44100, 1, AVRational{1, 44100}, AV_SAMPLE_FMT_FLTP));
        ASSERT_TRUE(writer.start());

        std::vector<uint8_t> red = solid(w, h, 220, 30, 30), blue = solid(w, h, 30, 40, 220);
        for (int i = 0; i < 30; ++i) {
            EXPECT_GE(writer.writeVideoFrameData(i < 15 ? red.data() : blue.data(), i, 0, &got), 0);
        }
        AVFrame* frame = av_frame_alloc();
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = 44100;
        av_channel_layout_default(&frame->ch_layout, 1);
        frame->nb_samples = 1024;
        ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
        for (int k = 0; k < 43; ++k) {
            ASSERT_EQ(av_frame_make_writable(frame), 0);
            float* s = reinterpret_cast<float*>(frame->data[0]);
            for (int i = 0; i < 1024; ++i)
                s[i] = 0.3f * std::sin(2 * M_PI * 440.0 * (k * 1024 + i) / 44100.0);
            frame->pts = k * 1024;
            EXPECT_GE(writer.writeAudioFrame(frame, k, &got), 0);
        }
        av_frame_free(&frame);
        EXPECT_EQ(writer.close(), 0);
        EXPECT_EQ(writer.packetCount(), 30);
    }
    EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), "30");
    EXPECT_EQ(QvTest::probe(out, "v:0", "r_frame_rate"), "30/1");
    EXPECT_EQ(QvTest::probe(out, "a:0", "codec_name"), "aac");
    QvTest::ProgramResult all = QvTest::runProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-i", out, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    size_t frameBytes = static_cast<size_t>(w) * h * 3;
    ASSERT_EQ(all.out.size(), frameBytes * 30);
    const uint8_t* first = reinterpret_cast<const uint8_t*>(all.out.data()) + 3 * (h / 2 * w + w / 2);
    EXPECT_NEAR(first[0], 220, 12);
    EXPECT_NEAR(first[2], 30, 12);
    const uint8_t* centre = first + frameBytes * 29;
    EXPECT_NEAR(centre[0], 30, 12);
    EXPECT_NEAR(centre[2], 220, 12);
    std::vector<float> pcm = QvTest::decodeMono(out);
    EXPECT_NEAR(QvTest::toneLevel(pcm, 4410, 35280, 440), 0.3, 0.04);
}

TEST(WriterMedia, LargePacketsFromTinyNoisyFrames) {
    // At 16x16 a noisy key frame with its headers is larger than the 1 KiB work
    // buffer; it must be written whole and nothing overrun.
    QvTest::TempDir dir;
    std::string out = dir.file("noise.mp4");
    const int w = 16, h = 16;
    {
        FFMediaWriter writer(out.c_str());
        writer.setBitrateControl(100.0f);
        ASSERT_TRUE(writer.addVideoInput(w, h, 10));
        ASSERT_TRUE(writer.start());
        std::mt19937 rng(7);
        std::vector<uint8_t> noise(w * h * 4);
        int got = 0;
        for (int i = 0; i < 10; ++i) {
            for (auto& b : noise) b = static_cast<uint8_t>(rng());
            EXPECT_GE(writer.writeVideoFrameData(noise.data(), i, 0, &got), 0);
        }
        EXPECT_EQ(writer.close(), 0);
    }
    EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), "10");
    QvTest::ProgramResult sizes = QvTest::runProgram({"ffprobe", "-v", "error", "-select_streams", "v:0",
                                                      "-show_entries", "packet=size", "-of", "csv=p=0", out});
    int largest = 0;
    for (size_t pos = 0; pos < sizes.out.size();) {
        size_t end = sizes.out.find('\n', pos);
        largest = std::max(largest, std::atoi(sizes.out.substr(pos, end - pos).c_str()));
        pos = end == std::string::npos ? sizes.out.size() : end + 1;
    }
    EXPECT_GT(largest, w * h * 4);
}

TEST(WriterMedia, BitrateFromSizeRateAndFactor) {
    QvTest::TempDir dir;
    FFMediaWriter writer(dir.file("hd.mp4").c_str());
    ASSERT_TRUE(writer.addVideoInput(1280, 720, 30));
    EXPECT_EQ(writer.videoCodecContext()->bit_rate, 6912000);
}

TEST(WriterMedia, Refusals) {
    QvTest::TempDir dir;
    FFMediaWriter writer((dir.path() + "/missing/dir/out.mp4").c_str());
    EXPECT_FALSE(writer.addVideoInput(0, 48, 30));
    int got = 0;
    EXPECT_EQ(writer.writeVideoFrameData(nullptr, 0, 0, &got), -1);
    EXPECT_FALSE(writer.start());
    EXPECT_EQ(writer.close(), 1);
}
