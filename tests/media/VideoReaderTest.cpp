// FFVideoReader and VideoSourceProvider on videos written by the ffmpeg
// program: every frame is one flat colour that encodes its index, so each
// test reads back which frame the reader made current.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/frame.h>
}

#include "media/FFVideoReader.h"
#include "media/VideoSourceProvider.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

// Index shown by the reader's current frame, read at the frame's centre after
// conversion to RGBA; -1 when no frame is current or the colour is no index.
int currentIndex(FFVideoReader& reader) {
    if (!reader.getDecodeFrameContext().gotFrame) return -1;
    AVFrame* frame = reader.getColorConvertedFrame();
    if (!frame) return -1;
    const VideoSourceMetadata* m = reader.getMetadata();
    const uint8_t* p = frame->data[0] + (m->height / 2) * frame->linesize[0] + (m->width / 2) * 4;
    return QvTest::indexFromColor(p[0], p[1], p[2]);
}

// Videos are made once per test program and shared by the tests.
class VideoFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new QvTest::VideoCache("qv-video"); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string video(const std::string& name, const QvTest::VideoSpec& desc) {
        return dir_->video(name, desc);
    }

    // 25 fps, 60 frames, two B-frames, a key frame every 12 frames.
    static std::string clip25() {
        QvTest::VideoSpec s;
        s.width = 48;
        s.height = 32;
        s.frames = 60;
        s.keyInterval = 12;
        return video("clip25.mp4", s);
    }
    // 30 fps, 45 frames, starting 1.2 s into the file's clock.
    static std::string clip30Offset() {
        QvTest::VideoSpec s;
        s.fpsNum = 30;
        s.frames = 45;
        s.keyInterval = 10;
        s.startOffset = 1.2;
        return video("clip30off.mp4", s);
    }

    static QvTest::VideoCache* dir_;
};

QvTest::VideoCache* VideoFiles::dir_ = nullptr;

}  // namespace

TEST_F(VideoFiles, DescribesStreams) {
    const std::string path = clip25();
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(QvTest::probe(path, "v:0", "has_b_frames"), "2");
    FFVideoReader reader(path, AVSource::kColorFormatRGBA);
    ASSERT_TRUE(reader.validForDecode());
    const VideoSourceMetadata* m = reader.getMetadata();
    EXPECT_TRUE(m->hasVideo);
    EXPECT_FALSE(m->hasAudio);
    EXPECT_EQ(m->audioChannels, 0);
    EXPECT_EQ(m->width, 48);
    EXPECT_EQ(m->height, 32);
    EXPECT_FLOAT_EQ(m->frameRate, 25.0f);
    EXPECT_EQ(m->duration, 2400);  // 60 frames at 25 fps
    EXPECT_EQ(m->colorFormat, AVSource::kColorFormatRGBA);
    EXPECT_DOUBLE_EQ(m->rotation, 0.0);
    EXPECT_FLOAT_EQ(m->pixelAspectRatio, 1.0f);
    EXPECT_EQ(reader.getFilePath(), path);

    // The start offset is not part of the duration.
    FFVideoReader offset(clip30Offset(), AVSource::kColorFormatRGBA);
    ASSERT_TRUE(offset.validForDecode());
    EXPECT_FLOAT_EQ(offset.getMetadata()->frameRate, 30.0f);
    EXPECT_EQ(offset.getMetadata()->duration, 1500);

    QvTest::VideoSpec s;
    s.frames = 10;
    s.audioChannels = 2;
    const std::string withAudio = video("audio.mov", s);
    FFVideoReader audio(withAudio, AVSource::kColorFormatNone);
    ASSERT_TRUE(audio.validForDecode());
    EXPECT_TRUE(audio.getMetadata()->hasAudio);
    EXPECT_EQ(audio.getMetadata()->audioChannels, 2);
    EXPECT_EQ(audio.getMetadata()->audioTimeBase.fps(), 44100.0f);
    // Asking for no format hands out the file's own frames.
    EXPECT_EQ(audio.getMetadata()->colorFormat, AVSource::kColorFormatYUV420P);
    EXPECT_FALSE(audio.shouldDoColorConversion());
    ASSERT_TRUE(audio.readNextFrame());
    EXPECT_EQ(audio.getColorConvertedFrame(), audio.getFrame());
    EXPECT_EQ(audio.getFrame()->format, AV_PIX_FMT_YUV420P);
}

TEST_F(VideoFiles, GeneratedFramesCarryTheirIndex) {
    // Checked with the ffmpeg program's own decoder, independent of the reader.
    std::vector<QvTest::Rgb> colors = QvTest::frameColors(clip30Offset());
    ASSERT_EQ(colors.size(), 45u);
    for (size_t i = 0; i < colors.size(); ++i) {
        EXPECT_EQ(QvTest::indexFromColor(colors[i].r, colors[i].g, colors[i].b), static_cast<int>(i));
    }
    EXPECT_EQ(QvTest::indexFromColor(0, 0, 0), 0);
    EXPECT_EQ(QvTest::indexFromColor(255, 255, 255), QvTest::kIndexColorCount - 1);
    EXPECT_EQ(QvTest::indexFromColor(21, 0, 0), -1);  // halfway between two levels
    EXPECT_TRUE(QvTest::frameColors(dir_->file("none.mp4")).empty());
}

TEST_F(VideoFiles, RotationFromTheDisplayMatrix) {
    QvTest::VideoSpec s;
    s.width = 32;
    s.height = 16;
    s.frames = 3;
    s.rotation = 90;
    FFVideoReader quarter(video("rot90.mp4", s), AVSource::kColorFormatRGBA);
    s.rotation = -90;
    FFVideoReader back(video("rotm90.mp4", s), AVSource::kColorFormatRGBA);
    s.rotation = 180;
    FFVideoReader half(video("rot180.mov", s), AVSource::kColorFormatRGBA);
    ASSERT_TRUE(quarter.validForDecode() && back.validForDecode() && half.validForDecode());
    // ffprobe reads the matrix counter-clockwise.
    auto probedRotation = [](const std::string& path) {
        return QvTest::runProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                   "stream_side_data=rotation", "-of", "default=nw=1:nk=1", path})
            .out;
    };
    EXPECT_EQ(probedRotation(quarter.getFilePath()), "-90\n");
    EXPECT_EQ(probedRotation(back.getFilePath()), "90\n");
    EXPECT_NEAR(quarter.getMetadata()->rotation, 90.0, 1e-9);
    EXPECT_NEAR(back.getMetadata()->rotation, 270.0, 1e-9);
    EXPECT_NEAR(half.getMetadata()->rotation, 180.0, 1e-9);
    // The decoded frames keep the stored size; turning them is the source's job.
    EXPECT_EQ(quarter.getMetadata()->width, 32);
    EXPECT_EQ(quarter.getMetadata()->height, 16);
}

TEST(VideoReaderRotation, TagAndMatrixRules) {
    AVFormatContext* ctx = avformat_alloc_context();
    ASSERT_NE(ctx, nullptr);
    AVStream* st = avformat_new_stream(ctx, nullptr);
    ASSERT_NE(st, nullptr);
    EXPECT_DOUBLE_EQ(FFVideoReader::getRotation(st), 0.0);
    const std::pair<const char*, double> tags[] = {{"90", 90.0},    {"-90", 270.0}, {"450", 90.0},
                                                   {"359.5", -0.5}, {"abc", 0.0},   {"12x", 0.0}};
    for (const auto& [tag, expected] : tags) {
        av_dict_set(&st->metadata, "rotate", tag, 0);
        EXPECT_NEAR(FFVideoReader::getRotation(st), expected, 1e-9) << tag;
    }
    // A matrix turning 90 degrees counter-clockwise is 270 clockwise; a tag of
    // "0" or one that does not parse leaves the matrix in charge.
    auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * 4));
    ASSERT_NE(matrix, nullptr);
    av_display_rotation_set(matrix, -90.0);
    ASSERT_NEAR(av_display_rotation_get(matrix), 90.0, 1e-6);  // counter-clockwise
    av_dict_set(&st->metadata, "rotate", "0", 0);
    EXPECT_NEAR(FFVideoReader::getRotation(st), 270.0, 1e-6);
    av_dict_set(&st->metadata, "rotate", "junk", 0);
    EXPECT_NEAR(FFVideoReader::getRotation(st), 270.0, 1e-6);
    av_dict_set(&st->metadata, "rotate", "180", 0);
    EXPECT_NEAR(FFVideoReader::getRotation(st), 180.0, 1e-9);
    EXPECT_DOUBLE_EQ(FFVideoReader::getRotation(nullptr), 0.0);
    avformat_free_context(ctx);
}

TEST_F(VideoFiles, SequentialReadReachesTheLastFrames) {
    // With B-frames the decoder holds frames back; they appear only when it
    // is drained at the end of the file.
    for (const std::string& path : {clip25(), clip30Offset()}) {
        FFVideoReader reader(path, AVSource::kColorFormatRGBA);
        ASSERT_TRUE(reader.validForDecode());
        int count = 0;
        double lastTime = -1;
        while (reader.readNextFrame()) {
            EXPECT_EQ(currentIndex(reader), count) << path;
            EXPECT_GT(reader.getDecodeFrameContext().frameTime, lastTime);
            lastTime = reader.getDecodeFrameContext().frameTime;
            ++count;
        }
        EXPECT_EQ(count, std::stoi(QvTest::probe(path, "v:0", "nb_read_frames"))) << path;
        // Past the end every read fails, and no frame is current.
        EXPECT_FALSE(reader.readNextFrame());
        EXPECT_FALSE(reader.getDecodeFrameContext().gotFrame);
        // A seek starts over.
        ASSERT_TRUE(reader.seekToFrame(3));
        EXPECT_EQ(currentIndex(reader), 3);
        ASSERT_TRUE(reader.readNextFrame());
        EXPECT_EQ(currentIndex(reader), 4);
    }
    FFVideoReader offset(clip30Offset(), AVSource::kColorFormatRGBA);
    ASSERT_TRUE(offset.readNextFrame());
    EXPECT_NEAR(offset.getDecodeFrameContext().frameTime, 1.2, 1e-3);
}

TEST_F(VideoFiles, SeekToFrameShowsThatFrame) {
    struct Case {
        std::string path;
        int frames;
    };
    QvTest::VideoSpec ntsc;
    ntsc.fpsNum = 30000;
    ntsc.fpsDen = 1001;
    ntsc.frames = 40;
    ntsc.keyInterval = 15;
    const Case cases[] = {{clip25(), 60}, {clip30Offset(), 45}, {video("ntsc.mp4", ntsc), 40}};
    for (const Case& c : cases) {
        FFVideoReader reader(c.path, AVSource::kColorFormatRGBA);
        ASSERT_TRUE(reader.validForDecode());
        // Forwards, backwards, across key frames, repeated, and the last frame.
        const int last = c.frames - 1;
        const int positions[] = {0, 5, 11, 12, 13, last, 1, last - 1, 23, 23, 7, 0, last, 30, 2};
        for (int n : positions) {
            ASSERT_TRUE(reader.seekToFrame(n)) << c.path << " frame " << n;
            EXPECT_EQ(currentIndex(reader), n) << c.path << " frame " << n;
        }
        // Reading on after a seek continues with the next frame.
        ASSERT_TRUE(reader.seekToFrame(20));
        for (int n = 21; n < 26; ++n) {
            ASSERT_TRUE(reader.readNextFrame());
            EXPECT_EQ(currentIndex(reader), n) << c.path;
        }
    }
}

TEST(VideoReaderSeek, TargetArithmeticIsExact) {
    QvTest::TempDir dir("qv-seek");
    QvTest::VideoSpec s;
    s.width = 16;
    s.height = 16;
    s.fpsNum = 30;
    s.frames = 9010;
    const std::string path = dir.file("long.mp4");
    ASSERT_TRUE(QvTest::makeVideo(path, s));
    FFVideoReader reader(path, AVSource::kColorFormatRGBA);
    ASSERT_TRUE(reader.validForDecode());
    EXPECT_EQ(reader.frameTargetMicroseconds(9000), 300000000);
    EXPECT_EQ(reader.frameTargetMicroseconds(1), 33333);
    EXPECT_EQ(reader.seekToleranceMicroseconds(), 16667);  // half a frame, not 16.7 us
    for (int n : {9000, 8999, 9001, 9009, 4500}) {
        ASSERT_TRUE(reader.seekToFrame(n)) << n;
        EXPECT_EQ(currentIndex(reader), n % QvTest::kIndexColorCount) << n;
    }

    FFVideoReader at25(dir.file("missing.mp4"), AVSource::kColorFormatRGBA);
    EXPECT_EQ(at25.frameTargetMicroseconds(50), 0);  // no stream, no rate
}

TEST_F(VideoFiles, ToleranceIsHalfAFrame) {
    FFVideoReader reader(clip25(), AVSource::kColorFormatRGBA);
    EXPECT_EQ(reader.frameTargetMicroseconds(50), 2000000);
    EXPECT_EQ(reader.seekToleranceMicroseconds(), 20000);
    // Between two frames the seek settles on the frame within half a frame.
    ASSERT_TRUE(reader.seekToMicroseconds(400000 + 15000));
    EXPECT_EQ(currentIndex(reader), 10);
    ASSERT_TRUE(reader.seekToMicroseconds(400000 + 25000));
    EXPECT_EQ(currentIndex(reader), 11);
    // Past the end the seek ends without hanging, and the reader seeks on.
    reader.seekToMicroseconds(10000000);
    ASSERT_TRUE(reader.seekToFrame(59));
    EXPECT_EQ(currentIndex(reader), 59);
}

TEST_F(VideoFiles, BrokenFilesGiveInvalidReaders) {
    const std::string missing = dir_->file("nothing-here.mp4");
    const std::string garbage = dir_->file("garbage.mp4");
    std::string bytes(4096, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919u) >> 3);
    ASSERT_TRUE(QvTest::writeFile(garbage, bytes));
    // A real mp4 cut in half: the index is lost with the tail.
    const std::string whole = QvTest::readFile(clip25());
    const std::string truncated = dir_->file("truncated.mp4");
    ASSERT_TRUE(QvTest::writeFile(truncated, whole.substr(0, whole.size() / 2)));
    const std::string audioOnly = dir_->file("tone.m4a");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "aac", audioOnly}));

    for (const std::string& path : {missing, garbage, truncated, audioOnly}) {
        FFVideoReader reader(path, AVSource::kColorFormatRGBA);
        // A cut file may still open; it must then decode without harm.
        if (path == truncated && reader.validForDecode()) {
            while (reader.readNextFrame()) {
            }
            reader.seekToFrame(30);
            continue;
        }
        EXPECT_FALSE(reader.validForDecode()) << path;
        EXPECT_FALSE(reader.readNextFrame());
        EXPECT_FALSE(reader.seekToFrame(3));
        EXPECT_FALSE(reader.seekToMicroseconds(1000));
        EXPECT_FALSE(reader.roughSeekToMilliseconds(0));
        EXPECT_EQ(reader.getMetadata()->width, 0);

        VideoSourceProvider provider(path, nullptr);
        EXPECT_FALSE(provider.isValid());
        EXPECT_EQ(provider.outputColorFormat(), AVSource::kColorFormatNone);
        EXPECT_FALSE(provider.readNextFrame(0));
        EXPECT_FALSE(provider.seekToFrame(0));
        EXPECT_FALSE(provider.seekToMicroseconds(0));
        unsigned int texture = 0;
        EXPECT_FALSE(provider.updateTextureWithCurrentFrameData(&texture));
        EXPECT_EQ(texture, 0u);
    }
    FFVideoReader audio(audioOnly, AVSource::kColorFormatRGBA);
    EXPECT_TRUE(audio.getMetadata()->hasAudio);
    EXPECT_EQ(audio.getMetadata()->audioChannels, 1);
}

TEST(VideoReaderFormats, ColorFormatMapping) {
    EXPECT_EQ(FFVideoReader::AVPixelFormatFromAVSourceColorFormat(AVSource::kColorFormatRGB24),
              AV_PIX_FMT_RGB24);
    EXPECT_EQ(FFVideoReader::AVPixelFormatFromAVSourceColorFormat(AVSource::kColorFormatRGBA),
              AV_PIX_FMT_RGBA);
    EXPECT_EQ(FFVideoReader::AVPixelFormatFromAVSourceColorFormat(AVSource::kColorFormatYUV420P),
              AV_PIX_FMT_YUV420P);
    EXPECT_EQ(FFVideoReader::AVPixelFormatFromAVSourceColorFormat(AVSource::kColorFormatNone),
              AV_PIX_FMT_NONE);
    EXPECT_EQ(FFVideoReader::AVPixelFormatFromAVSourceColorFormat(static_cast<AVSource::ColorFormat>(7)),
              AV_PIX_FMT_NONE);
    EXPECT_EQ(FFVideoReader::AVSourceColorFormatFromAVPixelFormat(AV_PIX_FMT_YUV420P),
              AVSource::kColorFormatYUV420P);
    EXPECT_EQ(FFVideoReader::AVSourceColorFormatFromAVPixelFormat(AV_PIX_FMT_NV12),
              AVSource::kColorFormatNone);
}
