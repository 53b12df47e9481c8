// The still-image render task driven in this process: naming, input checks,
// rendering through a filter template we write, failed writes and teardown.
#include <EGL/egl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ImageTestSupport.h"
#include "TaskTestSupport.h"
#include "support/GLFixture.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"
#include "core/FileManager.h"
#include "task/RenderImageTask.h"

using Quorvane::Core::RenderImageTask;
using QvImageTest::Rgba;
using QvTest::TempDir;

namespace {

const Rgba kRed{255, 0, 0, 255};

// The task releases its GL context when it goes, which would unload the driver
// and leave its lifetime allocations unattributable in leak reports.
void commit(RenderImageTask& task) {
    task.commit();
    QvTest::GLFixture::keepLoadedLibraries();
}

// Runs commit and start with standard error captured; returns the log.
std::string commitAndStart(RenderImageTask& task, const TempDir& dir, bool* result) {
    QvTaskTest::StderrCapture capture(dir.file("log.txt"));
    commit(task);
    *result = task.start();
    return capture.stop();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ImageTask, NamesSuffixesAndQuality) {
    EXPECT_EQ("jpg", RenderImageTask::getSuffix("/in/IMG.JPG"));
    EXPECT_EQ("png", RenderImageTask::getSuffix("a.b.PnG"));
    EXPECT_EQ("", RenderImageTask::getSuffix("/in/noext"));
    // The last '.' of the whole path, even inside a folder name.
    EXPECT_EQ("2/raw", RenderImageTask::getSuffix("/in/release.2/raw"));

    EXPECT_EQ("/out/photo.jpg", RenderImageTask::outputFileFor("/out", "/in/photo.jpeg"));
    EXPECT_EQ("/out/IMG.jpg", RenderImageTask::outputFileFor("/out", "/in/IMG.JPG"));
    EXPECT_EQ("/out/x.png", RenderImageTask::outputFileFor("/out", "/in/x.psd"));
    EXPECT_EQ("/out/x.png", RenderImageTask::outputFileFor("/out", "x.png"));
    EXPECT_EQ("/out/s.bmp", RenderImageTask::outputFileFor("/out", "/in/s.bmp"));
    EXPECT_EQ("/out/t.tga", RenderImageTask::outputFileFor("/out", "/in/t.TGA"));
    EXPECT_EQ("/out//x.png", RenderImageTask::outputFileFor("/out/", "/in/x.png"));
    EXPECT_EQ("", RenderImageTask::outputFileFor("/out", "/in/a.gif"));

    RenderImageTask task({}, "/out");
    EXPECT_EQ(50, task.jpgQuality());
    EXPECT_EQ(1, task.setJpgQuality(0));
    EXPECT_EQ(100, task.setJpgQuality(150));
    EXPECT_EQ(75, task.setJpgQuality(75));
    EXPECT_FALSE(task.cancel());  // not rendering
    EXPECT_FALSE(task.isRendering());
}

// Refused inputs are logged with their reason and dropped; the others stay,
// in order. A file whose header cannot be read is refused like an unsupported
// one instead of ending the run at its turn.
TEST(ImageTask, RefusedInputsAreLoggedAndTheRestRender) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 10, 10, "#FF0000", 0.5f, 0, 0, 10, 10);
    std::string first = dir.file("first.png");
    std::string last = dir.file("last.png");
    ASSERT_TRUE(QvTest::makeImage(first, 6, 4, {0, 0, 255}));
    ASSERT_TRUE(QvTest::makeImage(last, 5, 7, {0, 255, 0}));
    std::string gif = dir.file("anim.gif");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=c=white:s=8x8", "-frames:v", "1", gif}));
    std::string broken = dir.file("broken.png");
    QvTest::writeFile(broken, "not an image at all");
    std::string folder = dir.file("release.2");
    mkdir(folder.c_str(), 0755);
    QvTest::writeFile(folder + "/raw", "raw");
    std::string missing = dir.file("missing.png");
    // Past the cap of files read whole, without taking the disk: a sparse file.
    std::string huge = dir.file("huge.png");
    QvTest::writeFile(huge, "");
    ASSERT_EQ(0, truncate(huge.c_str(), static_cast<off_t>(Quorvane::Core::kMaxInputFileBytes + 1)));

    RenderImageTask task({missing, first, gif, broken, folder + "/raw", dir.path(), huge, last}, out);
    task.addFilter(filter);
    bool ok = false;
    std::string log = commitAndStart(task, dir, &ok);
    EXPECT_TRUE(ok) << log;
    EXPECT_EQ((std::vector<std::string>{first, last}), task.inputs());
    EXPECT_TRUE(contains(log, "图片：" + missing + " 不存在")) << log;
    EXPECT_TRUE(contains(log, "图片：" + dir.path() + " 不存在")) << log;  // a folder is no file
    EXPECT_TRUE(contains(log, "render image task: " + huge + " is too large: above 268435456 bytes")) << log;
    EXPECT_FALSE(contains(log, "图片：" + huge + " 不存在")) << log;
    EXPECT_TRUE(contains(log, "图片：" + gif + " 不支持的格式或无后缀名")) << log;
    EXPECT_TRUE(contains(log, "图片：" + broken + " 不支持的格式或无后缀名")) << log;
    EXPECT_TRUE(contains(log, "图片：" + folder + "/raw 不支持的格式或无后缀名")) << log;
    EXPECT_TRUE(contains(log, "render image task start(), images: 2, filters: 1")) << log;

    QvImageTest::Image a = QvImageTest::decode(out + "/first.png");
    QvImageTest::Image b = QvImageTest::decode(out + "/last.png");
    ASSERT_EQ(6, a.width);
    ASSERT_EQ(4, a.height);
    ASSERT_EQ(5, b.width);
    ASSERT_EQ(7, b.height);
    EXPECT_TRUE(QvImageTest::near(a.at(3, 2), QvImageTest::tinted({0, 0, 255, 255}, kRed, 0.5f), 2))
        << QvImageTest::describe(a.at(3, 2));
    EXPECT_TRUE(QvImageTest::near(b.at(2, 3), QvImageTest::tinted({0, 255, 0, 255}, kRed, 0.5f), 2))
        << QvImageTest::describe(b.at(2, 3));
    EXPECT_FALSE(QvTest::fileExists(out + "/broken.png"));
    EXPECT_FALSE(QvTest::fileExists(out + "/anim.png"));
}

// A filter whose 4 x 4 composition is covered by its picture asset `name`:
// where the picture is shown, nothing of the image under it remains.
std::string writePictureFilter(const TempDir& dir, const std::string& folder, const std::string& name) {
    const std::string path = dir.file(folder) + "/";
    mkdir(path.c_str(), 0755);
    mkdir((path + "assets").c_str(), 0755);
    const std::string asset = "{\"type\":1,\"key\":\"picture\",\"name\":\"" + name + "\"}";
    QvTest::writeFile(
        path + "config.json",
        "{\"type\":4,\"version\":\"1.0.0\",\"fps\":30,\"main\":\"pic\",\"assets\":[" + asset +
            "],\"comps\":[{\"name\":\"pic\",\"size\":[4,4],\"fps\":30,\"duration\":1,\"layers\":["
            "{\"type\":1,\"source\":\"picture\",\"range\":[0,0,1],"
            "\"transform\":{\"a\":[0,0],\"p\":[0,0],\"s\":[1,1],\"r\":0,\"t\":1}}]}]}");
    return path;
}

// Runs whose outputs share a name or whose inputs do not decode. Every input
// is written in order, a later one replacing an earlier output of its name
// (x/photo.png, y/photo.png and photo.psd all write photo.png; one path given
// twice writes its file twice), and such a run succeeds. A PNG cut after its
// header, or a header promising more pixels than its data holds, is found
// when its frame is drawn: nothing is written for it, the others are, and the
// run fails.
// A filter's picture that lies outside its folder (by "..", a linked file or
// a linked assets folder) is refused like a missing one, while the filter's
// own picture shows. A link or a FIFO standing at an output's name is
// replaced, never written through; an output that would land on a filter's
// own file is not written and fails the run.
TEST(ImageTask, SameNamedInputsReplaceInOrderAndHostileFilesAreNeitherReadNorWrittenThrough) {
    TempDir dir("qvimg");
    for (const char* folder : {"x", "y", "media"}) mkdir(dir.file(folder).c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 10, 10, "#FF0000", 0.0f, 0, 0, 10, 10);
    const std::string blue = dir.file("x/photo.png"), green = dir.file("y/photo.png");
    const std::string yellow = dir.file("photo.psd"), good = dir.file("good.png");
    ASSERT_TRUE(QvTest::makeImage(blue, 6, 4, {0, 0, 255}));
    ASSERT_TRUE(QvTest::makeImage(green, 6, 4, {0, 255, 0}));
    ASSERT_TRUE(QvTest::makeImage(yellow, 6, 4, {255, 255, 0}));
    ASSERT_TRUE(QvTest::makeImage(good, 5, 3, {255, 255, 255}));
    const std::string png = QvTest::readFile(good);
    const std::string cut = dir.file("cut.png"), liar = dir.file("liar.png");
    QvTest::writeFile(cut, png.substr(0, 33));  // signature and header chunk only
    std::string claim = png;
    for (int i : {16, 20}) claim.replace(i, 4, std::string("\0\0\x0f\xa0", 4));  // 4000 x 4000
    QvTest::writeFile(liar, claim);

    // Filters that show a magenta picture: their own, or one outside them.
    const std::string secret = dir.file("media/secret.png");
    ASSERT_TRUE(QvTest::makeImage(secret, 4, 4, {255, 0, 255}));
    const std::string own = writePictureFilter(dir, "own", "pic.png");
    QvTest::writeFile(own + "assets/pic.png", QvTest::readFile(secret));
    const std::string up = writePictureFilter(dir, "up", "../../media/secret.png");
    const std::string linked = writePictureFilter(dir, "linked", "pic.png");
    ASSERT_EQ(0, symlink(secret.c_str(), (linked + "assets/pic.png").c_str()));
    const std::string linkedFolder = writePictureFilter(dir, "linkedFolder", "secret.png");
    rmdir((linkedFolder + "assets").c_str());
    ASSERT_EQ(0, symlink(dir.file("media").c_str(), (linkedFolder + "assets").c_str()));
    const std::string deep = writePictureFilter(dir, "deep", "pic.png");
    ASSERT_TRUE(QvTest::makeDeepLink(deep + "assets/pic.png", secret));
    // A link and a FIFO where outputs go; the link's target must keep its bytes.
    const std::string victim = dir.file("victim.png");
    ASSERT_TRUE(QvTest::makeImage(victim, 2, 2, {1, 2, 3}));
    for (const char* folder : {"planted", "fifo"}) mkdir(dir.file(folder).c_str(), 0755);
    ASSERT_EQ(0, symlink(victim.c_str(), dir.file("planted/photo.png").c_str()));
    ASSERT_EQ(0, mkfifo(dir.file("fifo/good.png").c_str(), 0644));
    // Held open so that a write through the FIFO fails its row instead of
    // blocking the run.
    const int fifoReader = open(dir.file("fifo/good.png").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_LE(0, fifoReader);
    const std::string intruder = dir.file("y/pic.png");
    ASSERT_TRUE(QvTest::makeImage(intruder, 6, 4, {0, 255, 0}));
    const std::string mediaFile = "media file ", refused = " lies outside the template";

    struct Output {
        std::string name;  // in the output folder
        int width;         // 0: not written
        Rgba color;
    };
    struct Run {
        const char* name;
        std::vector<std::string> inputs;
        bool ok;
        std::vector<Output> outputs;
        std::vector<std::string> logged;
        std::string filter = std::string();  // the tint filter when empty
        std::string out = std::string();     // a new folder when empty
    };
    const std::vector<Run> runs = {
        {"three of one name",
         {blue, green, yellow},
         true,
         {{"photo.png", 6, {255, 255, 0, 255}}},
         {green + " replaces OUT/photo.png written for " + blue,
          yellow + " replaces OUT/photo.png written for " + green}},
        {"one path twice", {good, good}, true, {{"good.png", 5, {255, 255, 255, 255}}},
         {good + " replaces OUT/good.png written for " + good}},
        {"undecodable",
         {cut, blue, liar},
         false,
         {{"photo.png", 6, {0, 0, 255, 255}}, {"cut.png", 0, {}}, {"liar.png", 0, {}}},
         {"图片：" + cut + " 不支持的格式或无后缀名", "图片：" + liar + " 不支持的格式或无后缀名"}},
        {"the filter's own picture", {blue}, true, {{"photo.png", 6, {255, 0, 255, 255}}}, {}, own},
        {"a picture up and out", {blue}, true, {{"photo.png", 6, {0, 0, 255, 255}}},
         {mediaFile + up + "assets/../../media/secret.png" + refused}, up},
        {"a picture linked out", {blue}, true, {{"photo.png", 6, {0, 0, 255, 255}}},
         {mediaFile + linked + "assets/pic.png" + refused}, linked},
        {"an asset folder linked out", {blue}, true, {{"photo.png", 6, {0, 0, 255, 255}}},
         {mediaFile + linkedFolder + "assets/secret.png" + refused}, linkedFolder},
        {"a picture linked through folders deeper than PATH_MAX", {blue}, true,
         {{"photo.png", 6, {0, 0, 255, 255}}}, {mediaFile + deep + "assets/pic.png" + refused}, deep},
        {"a link at the output", {blue}, true, {{"photo.png", 6, {0, 0, 255, 255}}}, {}, "", dir.file("planted")},
        {"a FIFO at the output", {good}, true, {{"good.png", 5, {255, 255, 255, 255}}}, {}, "", dir.file("fifo")},
        {"an output over the filter's own picture", {intruder}, false, {},
         {own + "assets/pic.png for " + intruder + " lies in a filter template's folder, not written"}, own,
         own + "assets"},
    };
    const std::string victimBytes = QvTest::readFile(victim), ownBytes = QvTest::readFile(own + "assets/pic.png");
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        std::string out = run.out;
        if (out.empty()) {
            out = dir.file(std::string("out-") + std::to_string(&run - runs.data()));
            mkdir(out.c_str(), 0755);
        }
        RenderImageTask task(run.inputs, out);
        task.addFilter(run.filter.empty() ? filter : run.filter);
        bool ok = !run.ok;
        std::string log = commitAndStart(task, dir, &ok);
        EXPECT_EQ(run.ok, ok) << log;
        EXPECT_EQ(run.inputs, task.inputs());  // every input was accepted by its header
        for (std::string line : run.logged) {
            const size_t at = line.find("OUT");
            if (at != std::string::npos) line.replace(at, 3, out);
            EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
        }
        for (const Output& expected : run.outputs) {
            SCOPED_TRACE(expected.name);
            if (expected.width == 0) {
                EXPECT_FALSE(QvTest::fileExists(out + "/" + expected.name));
                continue;
            }
            // A file of its own: no link, no FIFO left standing at its name.
            struct stat st;
            const bool regular = lstat((out + "/" + expected.name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
            EXPECT_TRUE(regular);
            if (!regular) continue;
            QvImageTest::Image image = QvImageTest::decode(out + "/" + expected.name);
            ASSERT_EQ(expected.width, image.width);
            EXPECT_TRUE(QvImageTest::near(image.at(3, 2), expected.color, 2)) << QvImageTest::describe(image.at(3, 2));
        }
        EXPECT_EQ(victimBytes, QvTest::readFile(victim));
        EXPECT_EQ(ownBytes, QvTest::readFile(own + "assets/pic.png"));
    }
    close(fifoReader);
}

// Inputs of different sizes and kinds in one run: the filter (a half-opaque
// red plate over the centre quarter of its composition) is fitted to each
// image, so every output shows the tint over exactly its own centre.
TEST(ImageTask, RendersEachImageThroughTheFilterAtItsOwnSize) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 100, 100, "#FF0000", 0.5f, 25, 25, 50, 50);

    const std::vector<Rgba> colors = {
        {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 255, 255, 255}, {40, 40, 40, 255}};
    struct Input {
        std::string name;
        std::string output;
        int width, height;
        int tolerance;  // JPEG in or out is lossy
    };
    const std::vector<Input> inputs = {
        {"a.png", "a.png", 40, 32, 2}, {"B.JPG", "B.jpg", 128, 96, 12},
        {"c.bmp", "c.bmp", 24, 36, 2}, {"c2.bmp", "c2.bmp", 24, 36, 2},  // same size: the fit is reused
        {"d.tga", "d.tga", 48, 16, 2}, {"e.psd", "e.png", 20, 20, 2},
    };
    std::vector<std::string> paths;
    for (const Input& input : inputs) {
        paths.push_back(dir.file(input.name));
        ASSERT_TRUE(QvTest::makeImagePixels(paths.back(), input.width, input.height,
                                            QvImageTest::quadrants(input.width, input.height, colors)));
    }

    RenderImageTask task(paths, out);
    task.addFilter(filter);
    bool ok = false;
    std::string log = commitAndStart(task, dir, &ok);
    ASSERT_TRUE(ok) << log;

    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input& input = inputs[i];
        SCOPED_TRACE(input.name);
        QvImageTest::Image source = QvImageTest::decode(paths[i]);
        QvImageTest::Image result = QvImageTest::decode(out + "/" + input.output);
        ASSERT_EQ(input.width, result.width);
        ASSERT_EQ(input.height, result.height);
        int w = input.width;
        int h = input.height;
        // Points well inside one quadrant and well inside or outside the
        // tinted centre (w/4 .. 3w/4, h/4 .. 3h/4), away from the edges where
        // JPEG blocks and the layers' anti-aliasing strips blur.
        const int samples[][2] = {{w / 8, h / 8},         {w - 1 - w / 8, h / 8},
                                  {w / 8, h - 1 - h / 8}, {w - 1 - w / 8, h - 1 - h / 8},
                                  {3 * w / 8, 3 * h / 8}, {5 * w / 8, 3 * h / 8},
                                  {3 * w / 8, 5 * h / 8}, {5 * w / 8, 5 * h / 8}};
        for (const auto& s : samples) {
            bool inside = s[0] >= w / 4 && s[0] < 3 * w / 4 && s[1] >= h / 4 && s[1] < 3 * h / 4;
            Rgba under = source.at(s[0], s[1]);
            Rgba expected = inside ? QvImageTest::tinted(under, kRed, 0.5f) : under;
            expected.a = 255;
            EXPECT_TRUE(QvImageTest::near(result.at(s[0], s[1]), expected, input.tolerance))
                << "at " << s[0] << "," << s[1] << ": " << QvImageTest::describe(result.at(s[0], s[1]))
                << " expected " << QvImageTest::describe(expected);
        }
    }

    // The container formats written: PNG with alpha, 24-bit BMP, RLE TGA of 32 bits, JPEG.
    std::string png = QvTest::readFile(out + "/a.png");
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(6, png[25]);  // colour type RGBA
    std::string bmp = QvTest::readFile(out + "/c.bmp");
    ASSERT_GT(bmp.size(), 30u);
    EXPECT_EQ(24, bmp[28]);
    std::string tga = QvTest::readFile(out + "/d.tga");
    ASSERT_GT(tga.size(), 18u);
    EXPECT_EQ(10, tga[2]);  // run-length encoded true colour
    EXPECT_EQ(32, tga[16]);
    std::string jpg = QvTest::readFile(out + "/B.jpg");
    ASSERT_GT(jpg.size(), 2u);
    EXPECT_EQ('\xFF', jpg[0]);
    EXPECT_EQ('\xD8', jpg[1]);
}

// 4096 pixels on a side is accepted and rendered; 4097 is refused with the size message.
TEST(ImageTask, LargestSideIs4096) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 16, 16, "#FF0000", 0.5f, 0, 0, 16, 16);
    std::string big = dir.file("big.bmp");
    std::string wide = dir.file("wide.png");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=c=blue:s=4096x4096", "-frames:v", "1", big}));
    ASSERT_TRUE(QvTest::makeImage(wide, 4097, 1, {0, 0, 255}));

    RenderImageTask task({wide, big}, out);
    task.addFilter(filter);
    bool ok = false;
    std::string log = commitAndStart(task, dir, &ok);
    EXPECT_TRUE(ok) << log;
    EXPECT_TRUE(contains(log, "图片：" + wide + " 大小：[4097,1] 超过了最大值:4096")) << log;
    EXPECT_FALSE(contains(log, "图片：" + big));
    EXPECT_FALSE(QvTest::fileExists(out + "/wide.png"));
    QvImageTest::Image result = QvImageTest::decode(out + "/big.bmp");
    ASSERT_EQ(4096, result.width);
    ASSERT_EQ(4096, result.height);
    Rgba expected = QvImageTest::tinted({0, 0, 255, 255}, kRed, 0.5f);
    for (int p : {0, 2048, 4095}) {
        EXPECT_TRUE(QvImageTest::near(result.at(p, 4095 - p), expected, 2))
            << QvImageTest::describe(result.at(p, 4095 - p));
    }
}

// A delegate sees the start, one progress report per image and the end; a
// cancel during the run stops it after the image being written, as a success.
TEST(ImageTask, DelegateReportsAndCancelStopsAfterTheCurrentImage) {
    struct Recorder : Quorvane::Core::RenderDelegate {
        RenderImageTask* task = nullptr;
        bool cancelOnFirstUpdate = false;
        std::vector<std::string> calls;
        void renderStarted() override { calls.push_back("started"); }
        void renderUpdate(float progress) override {
            calls.push_back("update " + std::to_string(progress).substr(0, 4));
            if (cancelOnFirstUpdate) {
                EXPECT_TRUE(task->cancel());
            }
        }
        void renderEnd(bool ok) override { calls.push_back(ok ? "end ok" : "end failed"); }
        void renderCancelled() override { calls.push_back("cancelled"); }
    };
    TempDir dir("qvimg");
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#FF0000", 0.5f, 0, 0, 8, 8);
    std::vector<std::string> paths = {dir.file("a.png"), dir.file("b.png"), dir.file("c.png")};
    for (const std::string& path : paths) ASSERT_TRUE(QvTest::makeImage(path, 4, 4, {9, 9, 9}));

    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        std::string out = dir.file(cancel ? "cancelled" : "whole");
        mkdir(out.c_str(), 0755);
        RenderImageTask task(paths, out);
        Recorder recorder;
        recorder.task = &task;
        recorder.cancelOnFirstUpdate = cancel;
        task.setRenderDelegate(&recorder);
        task.addFilter(filter);
        bool ok = false;
        commitAndStart(task, dir, &ok);
        EXPECT_TRUE(ok);
        EXPECT_FALSE(task.isRendering());
        if (cancel) {
            EXPECT_EQ((std::vector<std::string>{"started", "update 0.00", "cancelled"}), recorder.calls);
            EXPECT_TRUE(QvTest::fileExists(out + "/a.png"));
            EXPECT_FALSE(QvTest::fileExists(out + "/b.png"));
        } else {
            EXPECT_EQ(
                (std::vector<std::string>{"started", "update 0.00", "update 0.33", "update 0.66", "end ok"}),
                recorder.calls);
            EXPECT_TRUE(QvTest::fileExists(out + "/c.png"));
        }
    }
}

// The task reports that its work began before it decodes any input's pixels
// (the parent's start limit would otherwise end a large batch before it
// begins): inputs that hold only their header until that report, and their
// pixels from then on, are written whole, each in its own colour.
TEST(ImageTask, PixelsAreDecodedOnlyAfterTheStartIsReported) {
    struct Completer : Quorvane::Core::RenderDelegate {
        std::vector<std::pair<std::string, std::string>> files;  // path, whole content
        bool completed = false;
        void renderStarted() override {
            completed = true;
            for (const auto& file : files) completed = QvTest::writeFile(file.first, file.second) && completed;
        }
        void renderUpdate(float) override {}
        void renderEnd(bool) override {}
        void renderCancelled() override {}
    };
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#FF0000", 0.0f, 0, 0, 8, 8);
    const Rgba colors[] = {{200, 0, 200, 255}, {0, 200, 0, 255}, {30, 60, 90, 255}};
    Completer completer;
    std::vector<std::string> paths;
    for (const Rgba& c : colors) {
        paths.push_back(dir.file("in" + std::to_string(paths.size()) + ".png"));
        ASSERT_TRUE(QvTest::makeImage(paths.back(), 16, 12, QvTest::Rgb{static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b)}));
        const std::string whole = QvTest::readFile(paths.back());
        completer.files.emplace_back(paths.back(), whole);
        QvTest::writeFile(paths.back(), whole.substr(0, 33));  // signature and header chunk
    }
    RenderImageTask task(paths, out);
    task.setRenderDelegate(&completer);
    task.addFilter(filter);
    bool ok = false;
    std::string log = commitAndStart(task, dir, &ok);
    ASSERT_TRUE(ok) << log;
    ASSERT_TRUE(completer.completed);
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        QvImageTest::Image image = QvImageTest::decode(out + "/in" + std::to_string(i) + ".png");
        ASSERT_EQ(16, image.width);
        EXPECT_TRUE(QvImageTest::near(image.at(8, 6), colors[i], 2)) << QvImageTest::describe(image.at(8, 6));
    }
}

// A file that cannot be written stops the run at that image: the images before
// it are written, the ones after it are not, and the run fails.
TEST(ImageTask, UnwritableOutputStopsTheRun) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    mkdir((out + "/second.png").c_str(), 0755);  // a folder where the second output goes
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#FF0000", 0.5f, 0, 0, 8, 8);
    std::vector<std::string> paths = {dir.file("first.png"), dir.file("second.png"), dir.file("third.png")};
    for (const std::string& path : paths) ASSERT_TRUE(QvTest::makeImage(path, 8, 8, {9, 9, 9}));

    RenderImageTask task(paths, out);
    task.addFilter(filter);
    bool ok = true;
    std::string log = commitAndStart(task, dir, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(QvTest::fileExists(out + "/first.png"));
    EXPECT_FALSE(QvTest::fileExists(out + "/third.png"));
    EXPECT_TRUE(contains(log, "write image fail, " + out + "/second.png")) << log;
}

// Without an input left, or with a filter folder that holds no filter
// template, nothing is rendered and the run fails.
TEST(ImageTask, NothingToRenderFails) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 4, 4, {1, 2, 3}));
    {
        RenderImageTask task({dir.file("none.png")}, out);
        bool ok = true;
        commitAndStart(task, dir, &ok);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(task.inputs().empty());
    }
    {
        RenderImageTask task({image}, out);
        task.addFilter(dir.file("no-such-filter"));
        bool ok = true;
        std::string log = commitAndStart(task, dir, &ok);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(QvTest::fileExists(out + "/a.png"));
    }
    {
        // A template of another type is no filter either.
        std::string normal = QvTaskTest::writeSolidTemplate(dir, "normal", 8, 8, 30, 1, "#00FF00");
        RenderImageTask task({image}, out);
        task.addFilter(normal);
        bool ok = true;
        commitAndStart(task, dir, &ok);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(QvTest::fileExists(out + "/a.png"));
    }
}

// The task's own teardown deletes the scene while its GL context is current,
// then releases the GL context, then the filter configurations the scene's
// filters borrow (under the sanitizer any other order shows up as a use after
// free or a leak). The thread is left without a current context, and a later
// task on the same thread renders as the first did.
TEST(ImageTask, TeardownLeavesTheThreadClean) {
    TempDir dir("qvimg");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#FF0000", 0.5f, 0, 0, 8, 8);
    std::string mark = dir.file("mark.png");
    ASSERT_TRUE(QvTest::makeImage(mark, 2, 2, {255, 255, 255}));
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 8, 8, {0, 0, 0}));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            auto* task = new RenderImageTask({image}, out);
            task->addFilter(filter);
            Quorvane::Core::Watermark watermark;
            watermark.imagePaths = {mark};
            watermark.scale = Quorvane::Core::Vec2(1.0f, 1.0f);
            task->addWatermark(watermark);
            bool ok = false;
            commitAndStart(*task, dir, &ok);
            EXPECT_TRUE(ok);
            delete task;
        }
        EXPECT_EQ(EGL_NO_CONTEXT, eglGetCurrentContext());
        QvImageTest::Image result = QvImageTest::decode(out + "/a.png");
        ASSERT_EQ(8, result.width);
        // The watermark's white 2 x 2 in the corner, the tinted black elsewhere.
        EXPECT_TRUE(QvImageTest::near(result.at(0, 0), {255, 255, 255, 255}, 2))
            << QvImageTest::describe(result.at(0, 0));
        EXPECT_TRUE(QvImageTest::near(result.at(5, 5), QvImageTest::tinted({0, 0, 0, 255}, kRed, 0.5f), 2))
            << QvImageTest::describe(result.at(5, 5));
    }
    {
        // Committed but never started: the scene and its GL context still go.
        RenderImageTask task({image}, out);
        task.addFilter(filter);
        commit(task);
    }
    EXPECT_EQ(EGL_NO_CONTEXT, eglGetCurrentContext());
}

}  // namespace
