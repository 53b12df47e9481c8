// The still-image host interface driven as a host drives it: real forked
// children whose exit code is the result.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>

#include "ImageTestSupport.h"
#include "TaskTestSupport.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"
#include "task/quorvane.h"

using QvImageTest::Rgba;
using QvTest::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Starts with standard error (the child's included) captured.
int startCaptured(unsigned long* handle, const TempDir& dir, std::string* log) {
    QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
    int result = zr_render_image_process_start(handle);
    *log = capture.stop();
    return result;
}

TEST(ImageProcess, NullHandlesAndRecord) {
    unsigned long zero = 0;
    EXPECT_EQ(-1, zr_create_render_image_process(nullptr, {"a.png"}, "/out"));
    EXPECT_EQ(0, zr_render_image_process_start(nullptr));
    EXPECT_EQ(0, zr_render_image_process_start(&zero));
    EXPECT_EQ(-1, zr_render_image_process_set_filters(&zero, {"f"}));
    EXPECT_EQ(0, zr_render_image_process_add_filter(nullptr, "f"));
    EXPECT_EQ(0, zr_render_image_process_add_filter(&zero, "f"));
    EXPECT_EQ(-1, zr_render_image_process_set_watermarks(nullptr, {}));
    EXPECT_EQ(-1, zr_render_image_process_add_watermark(&zero, {"w.png"}, 1, 2, 3, 4, 5, 6));
    zr_render_image_process_release(nullptr);
    zr_render_image_process_release(&zero);

    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_image_process(&handle, {"a.png", "b.jpg"}, "/out"));
    ASSERT_NE(0u, handle);
    auto* data = reinterpret_cast<Quorvane::Core::RenderImageProcessData*>(handle);
    EXPECT_EQ(0, data->pid);
    EXPECT_EQ((std::vector<std::string>{"a.png", "b.jpg"}), data->inputs);
    EXPECT_EQ("/out", data->outputFolder);
    EXPECT_EQ(0, zr_render_image_process_add_filter(&handle, "f1"));
    EXPECT_EQ(0, zr_render_image_process_add_filter(&handle, "f2"));
    EXPECT_EQ((std::vector<std::string>{"f1", "f2"}), data->filters);
    EXPECT_EQ(0, zr_render_image_process_set_filters(&handle, {"f3"}));
    EXPECT_EQ(std::vector<std::string>{"f3"}, data->filters);
    EXPECT_EQ(0, zr_render_image_process_add_watermark(&handle, {"w.png"}, 1, 2, 3, 4, 5, 6));
    ASSERT_EQ(1u, data->watermarks.size());
    const Quorvane::Core::Watermark& mark = data->watermarks[0];
    EXPECT_EQ(std::vector<std::string>{"w.png"}, mark.imagePaths);
    EXPECT_EQ(1.0f, mark.position.x);
    EXPECT_EQ(2.0f, mark.position.y);
    EXPECT_EQ(3.0f, mark.time.x);
    EXPECT_EQ(4.0f, mark.time.y);
    EXPECT_EQ(5.0f, mark.scale.x);
    EXPECT_EQ(6.0f, mark.scale.y);
    EXPECT_EQ(0, zr_render_image_process_set_watermarks(&handle, {}));
    EXPECT_TRUE(data->watermarks.empty());
    zr_render_image_process_release(&handle);
    EXPECT_EQ(0u, handle);
    zr_render_image_process_release(&handle);  // a second release does nothing
}

// No filter, no input or no output folder: the child refuses before reading
// any image and exits with code 1, which is the start's result.
TEST(ImageProcess, MissingFiltersInputsOrFolderGiveOne) {
    TempDir dir("qvimgproc");
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 4, 4, {1, 2, 3}));
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    struct Case {
        std::vector<std::string> inputs;
        std::string folder;
        std::vector<std::string> filters;
        std::string counts;  // inputs, folder length, filters as logged
    };
    const std::vector<Case> cases = {
        {{image}, out, {}, ", 1, " + std::to_string(out.size()) + ", 0\n"},
        {{}, out, {dir.file("f")}, ", 0, " + std::to_string(out.size()) + ", 1\n"},
        {{image}, "", {dir.file("f")}, ", 1, 0, 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counts);
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_image_process(&handle, c.inputs, c.folder));
        zr_render_image_process_set_filters(&handle, c.filters);
        std::string log;
        EXPECT_EQ(1, startCaptured(&handle, dir, &log));
        EXPECT_TRUE(contains(log, "Child RenderImagePocessTask invalid ")) << log;
        EXPECT_TRUE(contains(log, c.counts)) << log;
        EXPECT_FALSE(contains(log, "render image task start()")) << log;
        EXPECT_TRUE(contains(log, "Child process 1 pid ")) << log;
        EXPECT_TRUE(QvTaskTest::childProcesses().empty());
        zr_render_image_process_release(&handle);
    }
    EXPECT_FALSE(QvTest::fileExists(out + "/a.png"));
}

// Every input refused: no render context, start fails with 1.
TEST(ImageProcess, NoAcceptedInputGivesOne) {
    TempDir dir("qvimgproc");
    std::string gif = dir.file("a.gif");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=c=white:s=8x8", "-frames:v", "1", gif}));
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_image_process(&handle, {dir.file("missing.png"), gif}, dir.path()));
    zr_render_image_process_add_filter(&handle, dir.file("filter"));
    std::string log;
    EXPECT_EQ(1, startCaptured(&handle, dir, &log));
    EXPECT_TRUE(contains(log, "图片：" + dir.file("missing.png") + " 不存在")) << log;
    EXPECT_TRUE(contains(log, "图片：" + gif + " 不支持的格式或无后缀名")) << log;
    EXPECT_TRUE(contains(log, "render image task start(), images: 0, filters: 1")) << log;
    zr_render_image_process_release(&handle);
}

// Three inputs of different kinds and sizes through a filter we wrote, next
// to a missing file and a GIF: the three are written under their names, at
// their sizes, tinted by the filter; the refused ones stop nothing.
TEST(ImageProcess, RendersThreeImagesAndSkipsTheRefused) {
    TempDir dir("qvimgproc");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 20, 20, "#0000FF", 0.25f, 0, 0, 20, 20);
    std::string gif = dir.file("c.gif");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=c=white:s=8x8", "-frames:v", "1", gif}));
    const Rgba gray{200, 100, 50, 255};
    std::vector<std::string> inputs = {dir.file("one.png"), dir.file("missing.png"), dir.file("TWO.JPG"), gif,
                                       dir.file("three.bmp")};
    ASSERT_TRUE(QvTest::makeImage(inputs[0], 30, 20, {200, 100, 50}));
    ASSERT_TRUE(QvTest::makeImage(inputs[2], 16, 40, {200, 100, 50}));
    ASSERT_TRUE(QvTest::makeImage(inputs[4], 50, 10, {200, 100, 50}));

    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_image_process(&handle, inputs, out));
    zr_render_image_process_add_filter(&handle, filter);
    std::string log;
    EXPECT_EQ(0, startCaptured(&handle, dir, &log)) << log;
    EXPECT_TRUE(contains(log, "Start render image process for output:" + out)) << log;
    EXPECT_TRUE(contains(log, "render image task start(), images: 3, filters: 1")) << log;
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    zr_render_image_process_release(&handle);

    struct Expected {
        std::string name;
        int width, height, tolerance;
    };
    Rgba expected = QvImageTest::tinted(gray, {0, 0, 255, 255}, 0.25f);
    for (const Expected& e : {Expected{"one.png", 30, 20, 2}, Expected{"TWO.jpg", 16, 40, 12},
                              Expected{"three.bmp", 50, 10, 2}}) {
        SCOPED_TRACE(e.name);
        QvImageTest::Image image = QvImageTest::decode(out + "/" + e.name);
        ASSERT_EQ(e.width, image.width);
        ASSERT_EQ(e.height, image.height);
        // The plate's edges lie on the image's border, where the compositing
        // pass fades every layer over an anti-aliasing strip: look inside.
        for (int y : {2, e.height / 2, e.height - 3}) {
            for (int x : {2, e.width / 2, e.width - 3}) {
                EXPECT_TRUE(QvImageTest::near(image.at(x, y), expected, e.tolerance))
                    << x << "," << y << ": " << QvImageTest::describe(image.at(x, y));
            }
        }
    }
    EXPECT_FALSE(QvTest::fileExists(out + "/missing.png"));
    EXPECT_FALSE(QvTest::fileExists(out + "/c.png"));
}

unsigned long gImageHandle = 0;
std::atomic<int> gNestedImageStart{-1};

void startImagesFromCallback(unsigned long*, const char* status) {
    if (strcmp(status, "cancel") == 0) gNestedImageStart = zr_render_image_process_start(&gImageHandle);
}

// A video render's status callback runs inside the fork gate: an image start
// from there is refused with 1 instead of waiting for itself for ever.
TEST(ImageProcess, StartFromAVideoCallbackIsRefused) {
    TempDir dir("qvimgproc");
    std::string folder = dir.file("absent") + "/";
    mkdir(folder.c_str(), 0755);
    unsigned long video = 0;
    ASSERT_EQ(0, zr_create_render_process(&video, folder.c_str(), dir.file("a.mp4").c_str(), 21));
    ASSERT_EQ(0, zr_create_render_image_process(&gImageHandle, {dir.file("a.png")}, dir.path()));
    zr_render_image_process_add_filter(&gImageHandle, dir.file("f"));
    std::string log;
    {
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        EXPECT_EQ(0, zr_render_process_start(&video, startImagesFromCallback));
        log = capture.stop();
    }
    EXPECT_EQ(1, gNestedImageStart.load());
    EXPECT_TRUE(contains(log, "Start render image process refused: called from a status callback")) << log;
    EXPECT_EQ(0, reinterpret_cast<Quorvane::Core::RenderImageProcessData*>(gImageHandle)->pid);
    zr_render_image_process_release(&gImageHandle);
    zr_render_process_release(&video);
}

// A child held before its work begins. One ended by SIGTERM reports through
// its own handler and exits with 1; one killed outright or stopped gives 1 as
// well; one left alone never reports that its work began, so the parent's
// watchdog kills it at the start limit (with its log line), which gives 1.
TEST(ImageProcess, SignalledStoppedOrNeverStartedChildGivesOne) {
    TempDir dir("qvimgproc");
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 4, 4, {1, 2, 3}));
    std::string filter = dir.file("filter") + "/";

    constexpr int kLeftAlone = 0;
    for (int signo : {SIGTERM, SIGKILL, SIGSTOP, kLeftAlone}) {
        SCOPED_TRACE(signo);
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_image_process(&handle, {image}, dir.path()));
        zr_render_image_process_add_filter(&handle, filter);
        std::atomic<int> result{-1};
        std::string log;
        {
            QvTaskTest::ChildHold hold;
            QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
            QvImageTest::HostThread host([&] { result = zr_render_image_process_start(&handle); });
            ASSERT_TRUE(hold.waitUntilHeld());
            int child = QvImageTest::waitForOneChild();
            ASSERT_GT(child, 0);
            if (signo != kLeftAlone) kill(child, signo);
            host.join();
            log = capture.stop();
        }
        EXPECT_EQ(1, result.load());
        EXPECT_TRUE(contains(log, "Child process 1 pid ")) << log;
        if (signo == SIGTERM) {
            EXPECT_TRUE(contains(log, "Child receive signo  pid  ")) << log;
            EXPECT_TRUE(contains(log, ", signo = 15\n")) << log;
            // No queue: the report ends with the log line.
            EXPECT_FALSE(contains(log, "send message")) << log;
        } else {
            EXPECT_TRUE(contains(log, " killed by 9")) << log;
        }
        EXPECT_EQ(signo == kLeftAlone, contains(log, "Child process start failed, kill child pid : ")) << log;
        EXPECT_TRUE(QvTaskTest::childProcesses().empty());
        zr_render_image_process_release(&handle);
    }
}

// A filter whose config.json is a FIFO nobody writes is refused unread, as no
// filter template: the child ends by itself with 1 (no watchdog, no signal)
// and writes nothing.
TEST(ImageProcess, FifoFilterConfigIsRefusedUnread) {
    TempDir dir("qvimgproc");
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 4, 4, {1, 2, 3}));
    std::string filter = dir.file("blocking") + "/";
    mkdir(filter.c_str(), 0755);
    ASSERT_EQ(0, mkfifo((filter + "config.json").c_str(), 0644));
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_image_process(&handle, {image}, dir.file("out")));
    zr_render_image_process_add_filter(&handle, filter);
    std::string log;
    EXPECT_EQ(1, startCaptured(&handle, dir, &log));
    EXPECT_TRUE(contains(log, "render image task: " + filter + " is no filter template")) << log;
    EXPECT_TRUE(contains(log, "exitcode : 1, exitstatus : 1")) << log;
    EXPECT_FALSE(contains(log, "kill child pid")) << log;
    EXPECT_FALSE(contains(log, " killed by ")) << log;
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    EXPECT_FALSE(QvTest::fileExists(dir.file("out/a.png")));
    zr_render_image_process_release(&handle);
}

}  // namespace
