// The software H.264 encoder behind the GPU encoder's interface, and the video
// writer that feeds it frame textures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "media/NVMediaWriter.h"
#include "media/SoftwareH264Encoder.h"
#include "render/Config.h"
#include "support/AudioGen.h"
#include "support/GLFixture.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

struct Rgb {
    uint8_t r, g, b;
};
const Rgb kPalette[] = {{220, 30, 30},  {30, 200, 40},   {40, 50, 210},
                        {230, 220, 40}, {250, 250, 250}, {20, 20, 20}};

Rgb topColour(int frame) {
    return kPalette[(frame / 10) % 6];
}
Rgb bottomColour(int frame) {
    return kPalette[(frame / 10 + 3) % 6];
}

// Texture row 0 is the top line of the picture: the top half takes one colour,
// the bottom half another.
std::vector<uint8_t> framePixels(int w, int h, int frame) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        Rgb c = y < h / 2 ? topColour(frame) : bottomColour(frame);
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * w + x)];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 255;
        }
    }
    return rgba;
}

// NAL unit types of an Annex B byte run, in order.
std::vector<int> nalTypes(const uint8_t* data, size_t size) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            types.push_back(data[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

void expectColour(const uint8_t* p, Rgb want, const std::string& where) {
    EXPECT_NEAR(p[0], want.r, 10) << where;
    EXPECT_NEAR(p[1], want.g, 10) << where;
    EXPECT_NEAR(p[2], want.b, 10) << where;
}

class EncoderTest : public QvTest::GLFixture {};

}  // namespace

TEST_F(EncoderTest, InterfaceAndRefusals) {
    EXPECT_EQ(NvPipe_CreateEncoder(NVPIPE_FORMAT_RGBA32, NVPIPE_CODEC_H264, NVPIPE_COMPRESSION_LOSSY, 1000000,
                                   30, 16386, 240),
              nullptr);
    EXPECT_STRNE(NvPipe_GetError(nullptr), "");
    EXPECT_EQ(NvPipe_CreateEncoder(NVPIPE_FORMAT_RGBA32, NVPIPE_CODEC_H264, NVPIPE_COMPRESSION_LOSSY, 1000000,
                                   0, 320, 240),
              nullptr);
    std::vector<uint8_t> params = {1, 2, 3};
    EXPECT_FALSE(NvPipe_GetSequenceParams(nullptr, params));
    EXPECT_TRUE(params.empty());
    NvPipe_Destroy(nullptr);

    const int w = 64, h = 48;
    NvPipe* enc = NvPipe_CreateEncoder(NVPIPE_FORMAT_RGBA32, NVPIPE_CODEC_H264, NVPIPE_COMPRESSION_LOSSY,
                                       500000, 25, w, h);
    ASSERT_NE(enc, nullptr) << NvPipe_GetError(nullptr);
    ASSERT_TRUE(NvPipe_GetSequenceParams(enc, params));
    ASSERT_GE(params.size(), 8u);
    EXPECT_EQ(params[0], 0);
    EXPECT_EQ(params[1], 0);
    EXPECT_EQ(nalTypes(params.data(), params.size()), (std::vector<int>{7, 8}));

    GLuint tex = uploadTexture(w, h, framePixels(w, h, 0));
    std::vector<uint8_t> out(w * h * 4 + 16, 0xAB);
    auto has = [](const std::vector<int>& types, int t) {
        return std::find(types.begin(), types.end(), t) != types.end();
    };
    // Wrong size, no buffer: refused before encoding.
    EXPECT_EQ(NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), w * h * 4, w, h + 2, false), 0u);
    EXPECT_EQ(NvPipe_EncodeTexture(enc, tex, 0x0DE1, nullptr, w * h * 4, w, h, false), 0u);

    uint64_t n = NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), w * h * 4, w, h, false);
    ASSERT_GT(n, 0u) << NvPipe_GetError(enc);
    // The first access unit is a key frame with its parameter sets in band.
    std::vector<int> first = nalTypes(out.data(), n);
    EXPECT_TRUE(has(first, 7) && has(first, 8) && has(first, 5));
    // ... the same sets that NvPipe_GetSequenceParams gave.
    std::string firstBytes(reinterpret_cast<const char*>(out.data()), n);
    EXPECT_NE(firstBytes.find(std::string(params.begin() + 4, params.end())), std::string::npos);
    EXPECT_EQ(NVMediaWriter::getVopType(out.data(), static_cast<int>(n)), -1);  // starts with a parameter set
    // From the first frame on, the sets are taken from the stream itself.
    std::vector<uint8_t> inBand;
    ASSERT_TRUE(NvPipe_GetSequenceParams(enc, inBand));
    EXPECT_EQ(inBand, params);
    n = NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), w * h * 4, w, h, false);
    ASSERT_GT(n, 0u);
    std::vector<int> second = nalTypes(out.data(), n);
    EXPECT_FALSE(has(second, 5) || has(second, 7));
    EXPECT_TRUE(has(second, 1));

    // Too small a buffer: nothing written past its end, and the frame after the
    // lost one is a key frame, so the stream stays decodable.
    std::fill(out.begin(), out.end(), 0xAB);
    EXPECT_EQ(NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), 2, w, h, false), 0u);
    EXPECT_STRNE(NvPipe_GetError(enc), "");
    for (size_t i = 2; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB);
    n = NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), w * h * 4, w, h, false);
    EXPECT_TRUE(has(nalTypes(out.data(), n), 5));
    n = NvPipe_EncodeTexture(enc, tex, 0x0DE1, out.data(), w * h * 4, w, h, true);
    EXPECT_TRUE(has(nalTypes(out.data(), n), 5));
    NvPipe_Destroy(enc);
    deleteTexture(tex);
}

TEST_F(EncoderTest, SixtyFramesBecomeTheRawStreamAndTheMuxedFile) {
    const int w = 320, h = 240, fps = 30, frames = 60;
    QvTest::TempDir dir;
    std::string out = dir.file("render.mp4");
    std::string music = dir.file("music.aac");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 3.0}}));

    NVMediaWriter writer(out.c_str());
    EXPECT_EQ(writer.writerKind(), 1);
    writer.setMux(true);
    ASSERT_TRUE(writer.addVideoInput(w, h, fps));
    EXPECT_EQ(writer.start(), 1);
    size_t total = 0;
    for (int i = 0; i < frames; ++i) {
        GLuint tex = uploadTexture(w, h, framePixels(w, h, i));
        int n = writer.writeVideoFrameData(tex, i, fps);
        deleteTexture(tex);
        ASSERT_GT(n, 0) << "frame " << i;
        total += static_cast<size_t>(n);
    }
    EXPECT_EQ(writer.close(), 0);

    std::string raw = out + ".h264";
    EXPECT_EQ(QvTest::readFile(raw).size(), total);
    EXPECT_EQ(QvTest::probe(raw, "v:0", "nb_read_frames"), std::to_string(frames));
    EXPECT_EQ(QvTest::probe(raw, "v:0", "r_frame_rate"), "30/1");
    EXPECT_EQ(QvTest::probe(raw, "v:0", "width"), "320");
    QvTest::ProgramResult decoded = QvTest::runProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-i", raw, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(decoded.out.size(), static_cast<size_t>(w) * h * 3 * frames);
    for (int i = 0; i < frames; ++i) {
        const uint8_t* f =
            reinterpret_cast<const uint8_t*>(decoded.out.data()) + static_cast<size_t>(w) * h * 3 * i;
        auto px = [&](int x, int y) { return f + 3 * (static_cast<size_t>(y) * w + x); };
        expectColour(px(w / 2, h / 4), topColour(i), "top of frame " + std::to_string(i));
        expectColour(px(w / 4, 3 * h / 4), bottomColour(i), "bottom of frame " + std::to_string(i));
    }

    Config config(w, h, static_cast<float>(fps), frames, "main");
    config.setFinalDuration(frames);
    config.setMusicFile(music);
    config.setMusicFadeoutDuration(1);
    EXPECT_EQ(writer.muxFile(&config), 0);
    EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), std::to_string(frames));
    EXPECT_EQ(QvTest::probe(out, "v:0", "r_frame_rate"), "30/1");
    EXPECT_EQ(QvTest::probe(out, "a:0", "codec_name"), "aac");
    QvTest::ProgramResult tags = QvTest::runProgram(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags=artist", "-of", "default=nw=1:nk=1", out});
    EXPECT_EQ(tags.out, "RU davode\n");
    EXPECT_FALSE(QvTest::fileExists(raw));
}

// Converting and encoding on the writer's worker threads gives the raw stream
// of encoding on the drawing thread, byte for byte; a frame that cannot be
// read back is refused at once.
TEST_F(EncoderTest, WorkerThreadWritesTheSameStream) {
    const int w = 96, h = 64, fps = 25, frames = 30;
    QvTest::TempDir dir;
    std::string raw[2];
    for (int worker = 0; worker < 2; ++worker) {
        std::string out = dir.file(worker ? "worker.mp4" : "direct.mp4");
        NVMediaWriter writer(out.c_str());
        writer.setMux(true);
        writer.setEncodeOnWorker(worker == 1);
        ASSERT_TRUE(writer.addVideoInput(w, h, fps));
        writer.start();
        for (int i = 0; i < frames; ++i) {
            GLuint tex = uploadTexture(w, h, framePixels(w, h, i));
            ASSERT_GT(writer.writeVideoFrameData(tex, i, fps), 0) << "frame " << i;
            deleteTexture(tex);  // read back already: the worker encodes its own copy
        }
        EXPECT_TRUE(writer.drain());
        if (worker) {
            testing::internal::CaptureStderr();
            EXPECT_EQ(writer.writeVideoFrameData(0, frames, fps), 0);
            EXPECT_NE(testing::internal::GetCapturedStderr().find("NVEncoder encode error: "), std::string::npos);
        }
        EXPECT_EQ(writer.close(), 0);
        raw[worker] = QvTest::readFile(out + ".h264");
    }
    ASSERT_FALSE(raw[0].empty());
    EXPECT_TRUE(raw[0] == raw[1]);
}

TEST_F(EncoderTest, PacketModeWritesTheContainer) {
    const int w = 96, h = 64, fps = 25;
    QvTest::TempDir dir;
    std::string out = dir.file("direct.mp4");
    {
        NVMediaWriter writer(out.c_str());
        ASSERT_TRUE(writer.addVideoInput(w, h, fps));
        EXPECT_EQ(writer.start(), 1);
        GLuint tex = uploadTexture(w, h, framePixels(w, h, 0));
        for (int i = 0; i < 25; ++i) ASSERT_GT(writer.writeVideoFrameData(tex, i, fps), 0);
        deleteTexture(tex);
        EXPECT_EQ(writer.close(), 0);
        EXPECT_FALSE(QvTest::fileExists(out + ".h264"));
    }
    EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), "25");
    EXPECT_EQ(QvTest::probe(out, "v:0", "r_frame_rate"), "25/1");
}

TEST_F(EncoderTest, WriterWithoutEncoderFailsTheMux) {
    QvTest::TempDir dir;
    std::string out = dir.file("huge.mp4");
    NVMediaWriter writer(out.c_str());
    writer.setMux(true);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.addVideoInput(16386, 240, 30));  // wider than the encoder takes
    EXPECT_EQ(writer.writeVideoFrameData(1, 0, 30), 0);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Failed to create nv encoder: "), std::string::npos);
    EXPECT_NE(log.find("NVEncoder encode error: "), std::string::npos);
    EXPECT_EQ(writer.close(), 0);
    Config config(16386, 240, 30.0f, 30, "main");
    config.setFinalDuration(30);
    EXPECT_NE(writer.muxFile(&config), 0);
}

// A raw stream that cannot be created (its folder is gone, or a link stands
// at its name: to a full device, to a file elsewhere, which is never written
// through) is a failed close, never a success.
TEST_F(EncoderTest, UnwritableRawStreamFailsTheClose) {
    const int w = 64, h = 48, fps = 25;
    QvTest::TempDir dir;
    std::string gone = dir.file("gone");
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    std::string full = dir.file("full.mp4");
    ASSERT_EQ(symlink("/dev/full", (full + ".h264").c_str()), 0);
    std::string planted = dir.file("planted.mp4");
    ASSERT_TRUE(QvTest::writeFile(dir.file("outside"), "kept"));
    ASSERT_EQ(symlink(dir.file("outside").c_str(), (planted + ".h264").c_str()), 0);
    NVMediaWriter lost((gone + "/out.mp4").c_str());
    NVMediaWriter filled(full.c_str());
    NVMediaWriter linked(planted.c_str());
    ASSERT_EQ(rmdir(gone.c_str()), 0);

    GLuint tex = uploadTexture(w, h, framePixels(w, h, 0));
    for (NVMediaWriter* writer : {&lost, &filled, &linked}) {
        writer->setMux(true);
        ASSERT_TRUE(writer->addVideoInput(w, h, fps));
        EXPECT_EQ(writer->start(), 1);
        for (int i = 0; i < 5; ++i) writer->writeVideoFrameData(tex, i, fps);
        EXPECT_EQ(writer->close(), 1);
    }
    deleteTexture(tex);
    EXPECT_EQ(QvTest::readFile(dir.file("outside")), "kept");
}

TEST(WriterBitrate, FollowsTheFactor) {
    NVMediaWriter writer("/nonexistent-dir/x.mp4");
    EXPECT_EQ(writer.bitrateFor(1920, 1080, 25), 12960000u);
    writer.setBitrateControl(0.1f);
    EXPECT_EQ(writer.bitrateFor(1280, 720, 30), 2764800u);
    EXPECT_EQ(writer.bitrateFor(1280, 720, AVRational{30000, 1001}), 2762038u);
    // Below one kbit/s the encoder would see no rate at all; the top stays in its int.
    EXPECT_EQ(writer.bitrateFor(1, 1, 25), 1000u);
    EXPECT_EQ(writer.bitrateFor(3, 3, AVRational{30000, 1001}), 1000u);
    writer.setBitrateControl(NVMediaWriter::kMaxBitrateFactor);
    EXPECT_EQ(writer.bitrateFor(16384, 16384, 1000), 2147483647u);
    struct {
        float fps;
        int num, den;
    } const rates[] = {{29.97f, 30000, 1001}, {23.976f, 24000, 1001}, {59.94f, 60000, 1001},
                       {25.0f, 25, 1},        {12.5f, 25, 2},         {1000.0f, 1000, 1}};
    for (const auto& rate : rates) {
        AVRational q = NVMediaWriter::frameRateRational(rate.fps);
        EXPECT_EQ(q.num, rate.num) << rate.fps;
        EXPECT_EQ(q.den, rate.den) << rate.fps;
    }
    EXPECT_EQ(NVMediaWriter::getVopType(nullptr, 10), -1);
    const uint8_t idr[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0};
    const uint8_t ref[] = {0, 0, 1, 0x61, 0x9a, 0, 0};
    const uint8_t sps[] = {0, 0, 0, 1, 0x67, 0x42, 0xc0, 0};
    const uint8_t mpeg4[] = {0, 0, 1, 0xB6, 0x40, 0, 0};
    EXPECT_EQ(NVMediaWriter::getVopType(idr, sizeof idr), 0);
    EXPECT_EQ(NVMediaWriter::getVopType(ref, sizeof ref), 1);
    EXPECT_EQ(NVMediaWriter::getVopType(sps, sizeof sps), -1);
    EXPECT_EQ(NVMediaWriter::getVopType(mpeg4, sizeof mpeg4), 1);
    EXPECT_EQ(NVMediaWriter::getVopType(idr, 6), -1);
    EXPECT_EQ(get_nal_type(const_cast<uint8_t*>(sps), sizeof sps), 7);
}
