// AVSource on the headless GL device: every kind of media turned into a
// texture, read back and compared with the frame or colour it must show.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

#include "media/AVSource.h"
#include "media/VideoSourceProvider.h"
#include "render/GLFrameBufferManager.h"
#include "render/RenderPass.h"
#include "support/GLFixture.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

// Owns its sources like the render context does, keyed, first key kept.
class TestContext : public AVSourceContext {
public:
    explicit TestContext(float fps) : fps_(fps) {}
    ~TestContext() {
        for (auto& entry : sources_) delete entry.second;
    }
    void addSource(AVSource* source) override {
        if (source) sources_.emplace(source->key(), source);
    }
    float frameRate() const override { return fps_; }
    GLContext* glContext() override { return nullptr; }
    GLFrameBufferManager* frameBufferManager() override { return &manager_; }
    size_t sourceCount() const { return sources_.size(); }

private:
    float fps_;
    std::map<std::string, AVSource*> sources_;
    GLFrameBufferManager manager_;
};

// Frames of a host: pixel (x, y) of frame f is (20 + 40x, 20 + 40y, 10f).
class PatternProvider : public BaseVideoSourceProvider {
public:
    PatternProvider(int width, int height, double rotation, int64_t durationMs, float fps) {
        metadata_.hasVideo = true;
        metadata_.width = width;
        metadata_.height = height;
        metadata_.rotation = rotation;
        metadata_.duration = durationMs;
        metadata_.frameRate = fps;
        metadata_.colorFormat = AVSource::kColorFormatRGBA;
    }
    static std::vector<uint8_t> pixels(int width, int height, long frame) {
        std::vector<uint8_t> out;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                out.insert(out.end(), {uint8_t(20 + 40 * x), uint8_t(20 + 40 * y), uint8_t(10 * frame), 255});
            }
        }
        return out;
    }
    bool isValid() override { return true; }
    std::string getFilePath() override { return "pattern"; }
    bool readNextFrame(long) override {
        if (current_ + 1 >= endFrame) return false;
        ++current_;
        return true;
    }
    bool seekToFrame(long frame) override {
        current_ = frame;
        ++seeks;
        return true;
    }
    bool seekToMicroseconds(long) override { return false; }
    AVSource::ColorFormat outputColorFormat() override { return AVSource::kColorFormatRGBA; }
    bool updateTextureWithCurrentFrameData(unsigned int* texture) override {
        std::vector<uint8_t> data = pixels(metadata_.width, metadata_.height, current_);
        if (*texture == 0) glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, metadata_.width, metadata_.height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, data.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return true;
    }
    long current() const { return current_; }
    long endFrame = 1L << 30;  // readNextFrame fails from here on
    int seeks = 0;

private:
    long current_ = -1;
};

QvTest::Pixels readSource(AVSource& source) {
    return QvTest::GLFixture::readTexture(source.glTexture(), source.width(), source.height());
}

// Index of the frame a source shows, read at the centre of its texture.
int shownIndex(AVSource& source) {
    if (source.glTexture() == 0 || source.width() <= 0) return -1;
    QvTest::Pixels p = readSource(source);
    const uint8_t* c = p.at(p.width / 2, p.height / 2);
    return QvTest::indexFromColor(c[0], c[1], c[2]);
}

class AVSourceTest : public QvTest::GLFixture {
protected:
    static void SetUpTestSuite() { dir_ = new QvTest::VideoCache("qv-avsource"); }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string video(const std::string& name, const QvTest::VideoSpec& desc) {
        return dir_->video(name, desc);
    }
    static std::string clip(int fps, int frames) {
        QvTest::VideoSpec s;
        s.fpsNum = fps;
        s.frames = frames;
        s.keyInterval = 8;
        return video("clip" + std::to_string(fps) + "x" + std::to_string(frames) + ".mp4", s);
    }

    RenderPass userA{nullptr, false, 0, 0};
    RenderPass userB{nullptr, false, 0, 0};
    static QvTest::VideoCache* dir_;
};

QvTest::VideoCache* AVSourceTest::dir_ = nullptr;

}  // namespace

TEST_F(AVSourceTest, VideoFramesFollowTheContextRate) {
    TestContext context(25.0f);
    auto* source = new AVSource("v30", &context, clip(30, 60), 30.0f);
    ASSERT_EQ(source->fileType(), AVSource::kFileTypeVideo);
    EXPECT_EQ(source->width(), 32);
    EXPECT_EQ(source->height(), 32);
    const TimeUnit duration = source->sourceDuration();
    EXPECT_EQ(duration.frameCount(), 60);
    EXPECT_FLOAT_EQ(duration.fps(), 25.0f);
    EXPECT_TRUE(source->hasAnimatedSource());

    // No users: nothing loads.
    source->update(0, false);
    EXPECT_EQ(source->glTexture(), 0u);
    source->useThisSource(&userA);
    source->update(12, false);
    EXPECT_EQ(shownIndex(*source), 14);  // round(12 / 25 * 30)
    // Every layer frame in order, then jumps back and forth.
    for (int f : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 30, 49, 20, 0}) {
        source->update(f, false);
        EXPECT_EQ(shownIndex(*source), static_cast<int>(std::lround(f * 30.0 / 25.0)) % 60) << f;
    }
}

TEST_F(AVSourceTest, RateZeroLoopsTheVideo) {
    TestContext context(25.0f);
    auto* source = new AVSource("loop", &context, clip(25, 10), 0.0f);
    source->useThisSource(&userA);
    for (int f = 0; f < 25; ++f) {
        source->update(f, false);
        EXPECT_EQ(shownIndex(*source), f % 10) << f;
    }
    source->update(-3, false);  // negative frames wrap too
    EXPECT_EQ(shownIndex(*source), 7);
}

TEST_F(AVSourceTest, ImageSequenceCyclesThroughItsFiles) {
    TestContext context(25.0f);
    QvTest::TempDir dir("qv-seq");
    std::vector<std::string> files = QvTest::makeImageSequence(dir.path(), "pic", 3, "png", 8, 6);
    ASSERT_EQ(files.size(), 3u);
    auto* source = new AVSource("seq", &context, files, 0.0f);
    EXPECT_EQ(source->fileType(), AVSource::kFileTypeImageSequence);
    EXPECT_EQ(source->mainFile(), files[0]);
    EXPECT_EQ(source->width(), 8);
    EXPECT_EQ(source->height(), 6);
    EXPECT_EQ(source->sourceDuration().frameCount(), 3);
    EXPECT_TRUE(source->hasAnimatedSource());
    EXPECT_EQ(source->getFullFilePath(-1), files[0]);
    EXPECT_EQ(source->getFullFilePath(1), files[1]);
    EXPECT_EQ(source->getFullFilePath(7), files[2]);
    source->useThisSource(&userA);
    const int expected[] = {0, 1, 2, 0, 1};
    for (int f = 0; f < 5; ++f) {
        source->update(f, false);
        EXPECT_EQ(shownIndex(*source), expected[f]) << f;
    }

    // A file of another size is uploaded whole, not written into the old texture.
    std::vector<std::string> other = files;
    ASSERT_TRUE(QvTest::makeImage(dir.file("big.png"), 20, 10, QvTest::indexColor(5)));
    other[1] = dir.file("big.png");
    source->setImageSequenceFiles(other);
    source->update(1, false);
    QvTest::Pixels p = QvTest::GLFixture::readTexture(source->glTexture(), 20, 10);
    EXPECT_EQ(QvTest::indexFromColor(p.at(19, 9)[0], p.at(19, 9)[1], p.at(19, 9)[2]), 5);

    auto* single = new AVSource("one", &context, std::vector<std::string>{files[0]}, 0.0f);
    EXPECT_FALSE(single->hasAnimatedSource());

    // A third picture that cannot be drawn leaves the second one shown,
    // whatever is wrong with it: a PNG whose rows break off (its header
    // whole) is no exception.
    const std::string whole = QvTest::readFile(files[2]);
    const size_t idat = whole.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    const size_t idatLength = (static_cast<size_t>(static_cast<uint8_t>(whole[idat - 2])) << 8) |
                              static_cast<uint8_t>(whole[idat - 1]);
    struct Broken {
        const char* name;
        bool written;  // false: no file at all
        std::string bytes;
    };
    const Broken broken[] = {{"missing", false, ""},
                             {"empty", true, ""},
                             {"garbage", true, "\x55\x55\x55\x55 not a picture at all"},
                             {"rows cut off", true, whole.substr(0, idat + 4 + idatLength / 2)}};
    for (const Broken& b : broken) {
        SCOPED_TRACE(b.name);
        const std::string path = dir.file(std::string(b.name) + ".png");
        if (b.written) ASSERT_TRUE(QvTest::writeFile(path, b.bytes));
        auto* sequence = new AVSource(b.name, &context, std::vector<std::string>{files[0], files[1], path}, 0.0f);
        sequence->useThisSource(&userA);
        const int shown[] = {0, 1, 1, 0, 1};
        for (int f = 0; f < 5; ++f) {
            sequence->update(f, false);
            EXPECT_EQ(shownIndex(*sequence), shown[f]) << f;
        }
        EXPECT_TRUE(sequence->decodeFailed());
    }
}

TEST_F(AVSourceTest, RotationBands) {
    struct Band {
        double degrees;
        int rotation;  // quarter turns clockwise
    };
    const Band bands[] = {{0, 0},   {45, 0},  {46, 1},  {90, 1},  {135, 1},  {136, 2}, {225, 2},
                          {226, 3}, {315, 3}, {316, 0}, {359, 0}, {-270, 1}, {-90, 3}, {450.5, 1}};
    const int w = 3, h = 2;
    const std::vector<uint8_t> in = PatternProvider::pixels(w, h, 0);
    auto inAt = [&](int x, int y) { return &in[4 * (y * w + x)]; };
    for (const Band& band : bands) {
        TestContext context(25.0f);
        PatternProvider provider(w, h, band.degrees, 1000, 10.0f);
        auto* source = new AVSource("rot", &context, &provider, 0.0f);
        const bool swapped = band.rotation % 2 == 1;
        ASSERT_EQ(source->width(), swapped ? h : w) << band.degrees;
        ASSERT_EQ(source->height(), swapped ? w : h) << band.degrees;
        source->useThisSource(&userA);
        source->update(0, false);
        QvTest::Pixels out = readSource(*source);
        // Row 0 is the first row of the frame; turning clockwise moves the
        // frame's first row to the last column.
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const uint8_t* expected = nullptr;
                switch (band.rotation) {
                    case 0:
                        expected = inAt(x, y);
                        break;
                    case 1:
                        expected = inAt(y, h - 1 - x);
                        break;
                    case 2:
                        expected = inAt(w - 1 - x, h - 1 - y);
                        break;
                    case 3:
                        expected = inAt(w - 1 - y, x);
                        break;
                }
                EXPECT_EQ(out.at(x, y)[0], expected[0]) << band.degrees << " at " << x << "," << y;
                EXPECT_EQ(out.at(x, y)[1], expected[1]) << band.degrees << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(AVSourceTest, RotatedVideoFileTakesTheTurnedSize) {
    TestContext context(25.0f);
    QvTest::VideoSpec s;
    s.width = 32;
    s.height = 16;
    s.frames = 5;
    s.rotation = 90;
    auto* quarter = new AVSource("q", &context, video("rot90.mp4", s), 0.0f);
    EXPECT_EQ(quarter->width(), 16);
    EXPECT_EQ(quarter->height(), 32);
    quarter->useThisSource(&userA);
    quarter->update(3, false);
    EXPECT_EQ(shownIndex(*quarter), 3);
}

TEST_F(AVSourceTest, UnloadWaitsForEveryUser) {
    TestContext context(25.0f);
    auto* source = new AVSource("two", &context, clip(25, 10), 0.0f);
    RenderPass stranger(nullptr, false, 0, 0);
    source->useThisSource(&userA);
    source->useThisSource(&userB);
    source->useThisSource(&userA);  // no duplicates
    EXPECT_EQ(source->passesUseThisSource().size(), 2u);
    source->update(4, false);
    ASSERT_EQ(shownIndex(*source), 4);

    source->unload(&userA);
    source->unload(&userA);     // asking twice counts once
    source->unload(&stranger);  // not a user
    EXPECT_NE(source->glTexture(), 0u);
    source->unload(&userB);
    EXPECT_EQ(source->glTexture(), 0u);

    // The same frame again loads again and shows it.
    source->update(4, false);
    EXPECT_EQ(shownIndex(*source), 4);

    // An update between the two requests starts the count over.
    source->unload(&userA);
    source->update(5, false);
    source->unload(&userB);
    EXPECT_EQ(shownIndex(*source), 5);
    source->unload(&userA);
    EXPECT_EQ(source->glTexture(), 0u);

    // Without users an unload is immediate.
    source->update(6, false);
    source->unuseThisSource(&userA);
    source->unuseThisSource(&userB);
    EXPECT_TRUE(source->noneUseThisSource());
    source->unload(&stranger);
    EXPECT_EQ(source->glTexture(), 0u);
}

TEST_F(AVSourceTest, SolidColourReadsBackItsColour) {
    TestContext context(25.0f);
    auto* source = new AVSource("solid", &context, Color(0.2f, 0.4f, 0.6f, 0.8f), 8, 4);
    EXPECT_EQ(source->sourceType(), AVSource::kSourceTypeSolid);
    EXPECT_EQ(source->sourceDuration().frameCount(), 1);
    EXPECT_FALSE(source->hasAnimatedSource());
    source->useThisSource(&userA);
    source->update(0, false);
    QvTest::Pixels p = readSource(*source);
    ASSERT_EQ(p.width, 8);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_NEAR(p.at(x, y)[0], 51, 1);
            EXPECT_NEAR(p.at(x, y)[1], 102, 1);
            EXPECT_NEAR(p.at(x, y)[2], 153, 1);
            EXPECT_NEAR(p.at(x, y)[3], 204, 1);
        }
    }
    // The frame-buffer stack is left as it was found.
    EXPECT_EQ(context.frameBufferManager()->destinationCount(), 0u);
}

TEST_F(AVSourceTest, StillImagesOfEveryFormat) {
    TestContext context(25.0f);
    QvTest::TempDir dir("qv-still");
    const char* names[] = {"a.png", "b.jpg", "c.jpeg", "d.psd", "e.bmp", "f.tga", "G.PNG", "h.Jpg"};
    int index = 40;
    for (const char* name : names) {
        const std::string path = dir.file(name);
        ASSERT_TRUE(QvTest::makeImage(path, 10, 6, QvTest::indexColor(index))) << name;
        auto* source = new AVSource(name, &context, path, 0.0f);
        EXPECT_EQ(source->fileType(), AVSource::kFileTypeImage) << name;
        EXPECT_EQ(source->width(), 10) << name;
        EXPECT_EQ(source->height(), 6) << name;
        EXPECT_FALSE(source->hasAnimatedSource());
        source->useThisSource(&userA);
        source->update(0, false);
        EXPECT_EQ(shownIndex(*source), index) << name;

        // Loaded once: a changed file does not reach later frames.
        ASSERT_TRUE(QvTest::makeImage(path, 10, 6, QvTest::indexColor(index + 1)));
        const unsigned int texture = source->glTexture();
        source->update(1, false);
        source->update(2, false);
        EXPECT_EQ(source->glTexture(), texture);
        EXPECT_EQ(shownIndex(*source), index) << name;
        ++index;
    }

    // Encoded bytes in memory.
    const std::string bytes = QvTest::readFile(dir.file("a.png"));
    auto* memory = new AVSource("mem", &context, bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(memory->fileType(), AVSource::kFileTypeImage);
    EXPECT_EQ(memory->width(), 10);
    memory->useThisSource(&userA);
    memory->update(0, false);
    EXPECT_EQ(shownIndex(*memory), 41);  // a.png was rewritten with the next index
}

TEST_F(AVSourceTest, BrokenMediaLeavesAnInvalidSource) {
    TestContext context(25.0f);
    QvTest::TempDir dir("qv-broken");
    std::string junk(3000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 131 + 7);
    ASSERT_TRUE(QvTest::writeFile(dir.file("junk.mp4"), junk));
    ASSERT_TRUE(QvTest::writeFile(dir.file("junk.png"), junk));
    const std::string png = QvTest::readFile([&] {
        QvTest::makeImage(dir.file("ok.png"), 16, 16, QvTest::indexColor(3));
        return dir.file("ok.png");
    }());
    ASSERT_TRUE(QvTest::writeFile(dir.file("cut.png"), png.substr(0, 40)));

    const std::string paths[] = {dir.file("missing.mp4"), dir.file("junk.mp4"), dir.file("missing.png"),
                                 dir.file("junk.png"), dir.file("cut.png")};
    for (const std::string& path : paths) {
        testing::internal::CaptureStderr();
        auto* source = new AVSource(path, &context, path, 25.0f);
        source->useThisSource(&userA);
        for (int f = 0; f < 3; ++f) source->update(f, f == 1);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find(path), std::string::npos) << log;
        if (path != dir.file("cut.png")) {  // its header, and so its size, is intact
            EXPECT_EQ(source->width(), 0) << path;
            EXPECT_EQ(source->height(), 0) << path;
        }
        // Whatever is shown is nothing visible.
        if (source->glTexture() != 0) {
            QvTest::Pixels p = QvTest::GLFixture::readTexture(source->glTexture(), 1, 1);
            EXPECT_EQ(p.at(0, 0)[3], 0) << path;
        }
    }
    // Bytes that are no image, and an unknown extension.
    testing::internal::CaptureStderr();
    auto* bytes = new AVSource("bytes", &context, junk.data(), static_cast<int64_t>(junk.size()));
    auto* gif = new AVSource("gif", &context, dir.file("x.gif"), 0.0f);
    bytes->useThisSource(&userA);
    gif->useThisSource(&userA);
    bytes->update(0, false);
    gif->update(0, false);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_EQ(bytes->width(), 0);
    EXPECT_EQ(gif->fileType(), AVSource::kFileTypeNone);
    EXPECT_EQ(gif->glTexture(), 0u);
}

TEST_F(AVSourceTest, VideoWithoutLengthShowsItsFirstFrame) {
    // Raw H.264 has no container duration: the frame count is 0.
    TestContext context(25.0f);
    const std::string path = dir_->file("raw-h264.mp4");
    ASSERT_TRUE(QvTest::ffmpeg({"-i", clip(25, 10), "-c", "copy", "-f", "h264", path}));
    auto* source = new AVSource("raw", &context, path, 0.0f);
    EXPECT_EQ(source->sourceDuration().frameCount(), 0);
    source->useThisSource(&userA);
    for (int f : {0, 1, 5, 2}) {
        source->update(f, false);
        EXPECT_EQ(shownIndex(*source), 0) << f;
    }
}

TEST_F(AVSourceTest, CustomProviders) {
    TestContext context(25.0f);
    // A provider with a length behaves like a video: reads on, seeks on jumps, loops.
    PatternProvider finite(2, 2, 0, 1000, 5.0f);  // 5 frames
    auto* source = new AVSource("finite", &context, &finite, 0.0f);
    EXPECT_EQ(source->sourceType(), AVSource::kSourceTypeProvider);
    EXPECT_EQ(source->sourceDuration().frameCount(), 5);
    EXPECT_TRUE(source->hasAnimatedSource());
    source->useThisSource(&userA);
    for (int f = 0; f < 7; ++f) {
        source->update(f, false);
        EXPECT_EQ(finite.current(), f % 5) << f;
    }
    EXPECT_EQ(finite.seeks, 2);  // the first frame and the wrap to 0

    // A provider without a length is read on, and rewound when it runs dry.
    PatternProvider live(2, 2, 0, 0, 25.0f);
    live.endFrame = 3;
    auto* endless = new AVSource("live", &context, &live, 0.0f);
    endless->useThisSource(&userA);
    endless->update(0, false);
    EXPECT_EQ(live.current(), 0);
    endless->update(1, false);
    endless->update(2, false);
    EXPECT_EQ(live.current(), 2);
    endless->update(3, false);  // runs dry: back to the start
    EXPECT_EQ(live.current(), 0);
    endless->update(9, false);
    EXPECT_EQ(live.current(), 9);
    // The source never deletes a host's provider; the providers outlive it here.
}

TEST_F(AVSourceTest, CopiesAndHostTextures) {
    TestContext context(25.0f);
    auto* original = new AVSource("orig", &context, clip(25, 10), 0.0f);
    original->setConfigJson("{\"a\":1}");
    auto* copy = new AVSource(*original);
    EXPECT_NE(copy->key(), original->key());
    EXPECT_EQ(context.sourceCount(), 2u);
    EXPECT_EQ(copy->mainFile(), original->mainFile());
    EXPECT_EQ(copy->getConfigJson(), "{\"a\":1}");
    EXPECT_EQ(copy->width(), 32);
    original->useThisSource(&userA);
    copy->useThisSource(&userA);
    original->update(2, false);
    copy->update(7, false);
    EXPECT_NE(copy->glTexture(), original->glTexture());
    EXPECT_EQ(shownIndex(*original), 2);
    EXPECT_EQ(shownIndex(*copy), 7);

    // A host's texture is only borrowed.
    GLuint host = QvTest::GLFixture::uploadTexture(1, 1, {9, 8, 7, 255});
    auto* borrowed = new AVSource("host", &context, host, AVSource::kColorFormatRGBA, 1, 1);
    EXPECT_EQ(borrowed->glTexture(), host);
    borrowed->useThisSource(&userA);
    borrowed->update(0, false);
    borrowed->forceUnload(true);
    EXPECT_EQ(borrowed->glTexture(), host);
    EXPECT_TRUE(glIsTexture(host));
    borrowed->setMainTexture(0);
    EXPECT_EQ(borrowed->glTexture(), 0u);
    QvTest::GLFixture::deleteTexture(host);

    // Swapping the file of a source reloads it.
    original->setMainMediaFile(clip(30, 60));
    EXPECT_EQ(original->sourceDuration().frameCount(), 60);
    original->update(3, false);
    EXPECT_EQ(shownIndex(*original), 3);
}

namespace {

// Pixels of a width x height picture, red left of x = split, blue from it on.
std::vector<uint8_t> splitPicture(int width, int height, int split) {
    std::vector<uint8_t> rgba;
    for (int i = 0; i < width * height; ++i) {
        const bool left = i % width < split;
        rgba.insert(rgba.end(), {uint8_t(left ? 255 : 0), 0, uint8_t(left ? 0 : 255), 255});
    }
    return rgba;
}

// Every row of p is red up to the split column and blue from it on (up to one
// column of blending at the seam).
void expectUprightSplit(const QvTest::Pixels& p, int split, const std::string& what) {
    for (int y = 0; y < p.height; ++y) {
        for (int x : {0, split - 2, split + 1, p.width - 1}) {
            const bool left = x < split;
            EXPECT_EQ(p.at(x, y)[0], left ? 255 : 0) << what << " x " << x << " y " << y;
            EXPECT_EQ(p.at(x, y)[2], left ? 0 : 255) << what << " x " << x << " y " << y;
        }
    }
}

}  // namespace

TEST_F(AVSourceTest, PaddedResizedAndOversizedPictures) {
    TestContext context(25.0f);
    QvTest::TempDir dir("qv-shapes");
    // PNG-in-MOV decodes straight to RGBA; 101 pixels make rows the decoder pads.
    const std::string first = dir.file("a.png"), second = dir.file("b.png");
    ASSERT_TRUE(QvTest::makeImagePixels(first, 101, 9, splitPicture(101, 9, 50)));
    ASSERT_TRUE(QvTest::makeImagePixels(second, 60, 20, splitPicture(60, 20, 30)));
    auto clip = [&](const std::string& image, const std::string& name) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(QvTest::ffmpeg(
            {"-loop", "1", "-i", image, "-frames:v", "3", "-r", "25", "-c:v", "png", "-pix_fmt", "rgba", path}));
        return path;
    };
    const std::string narrow = clip(first, "a.mov");
    const std::string list = dir.file("list.txt");
    ASSERT_TRUE(QvTest::writeFile(list, "file '" + narrow + "'\nfile '" + clip(second, "b.mov") + "'\n"));
    // The stream changes size at its fourth frame.
    const std::string resized = dir.file("resized.mov");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "concat", "-safe", "0", "-i", list, "-c", "copy", resized}));

    for (const std::string& path : {narrow, resized}) {
        auto* source = new AVSource(path, &context, path, 0.0f);
        source->useThisSource(&userA);
        ASSERT_EQ(source->width(), 101);
        for (int f = 0; f < 6; ++f) {
            source->update(f, false);
            // Frames of the second size are scaled back to the first.
            expectUprightSplit(readSource(*source), 50, path + " frame " + std::to_string(f));
        }
    }

    // A still wider than any texture is shrunk to fit, with a log line.
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const int wide = maxSize + maxSize / 4;
    const std::string still = dir.file("wide.png");
    ASSERT_TRUE(QvTest::makeImagePixels(still, wide, 8, splitPicture(wide, 8, wide / 4)));
    auto* source = new AVSource("wide", &context, still, 0.0f);
    source->useThisSource(&userA);
    testing::internal::CaptureStderr();
    source->update(0, false);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("shrunk to " + std::to_string(maxSize) + "x8"), std::string::npos) << log;
    EXPECT_EQ(source->width(), wide);
    expectUprightSplit(QvTest::GLFixture::readTexture(source->glTexture(), maxSize, 8), maxSize / 4, "still");
}
