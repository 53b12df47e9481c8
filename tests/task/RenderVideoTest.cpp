// Whole renders through the host interface: forked children render templates
// we write, and the videos, snapshots and leftovers are checked from outside.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "TaskTestSupport.h"
#include "support/TestSupport.h"
#include "task/quorvane.h"

using QvTaskTest::CallbackRecorder;
using QvTest::TempDir;

namespace {

struct Rgba {
    int r, g, b, a;
};

// Every pixel of the PNG, compared with one colour.
void expectPngFilledWith(const std::string& path, int width, int height, Rgba expected) {
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &w, &h, &channels, 0);
    ASSERT_NE(nullptr, pixels) << path;
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    EXPECT_EQ(4, channels);
    int wrong = 0;
    for (int i = 0; i < w * h && channels == 4; ++i) {
        const unsigned char* p = pixels + i * 4;
        if (p[0] != expected.r || p[1] != expected.g || p[2] != expected.b || p[3] != expected.a) ++wrong;
    }
    EXPECT_EQ(0, wrong) << path;
    stbi_image_free(pixels);
}

// The first decoded frame, as RGB, averaged over the picture.
void expectVideoColour(const std::string& file, int r, int g, int b) {
    QvTest::ProgramResult decoded = QvTest::runProgram(
        {"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(0, decoded.exitCode);
    ASSERT_GE(decoded.out.size(), 3u);
    double sum[3] = {0, 0, 0};
    size_t pixels = decoded.out.size() / 3;
    for (size_t i = 0; i < pixels * 3; ++i) sum[i % 3] += static_cast<unsigned char>(decoded.out[i]);
    // H.264 4:2:0 in limited range: a few steps off at most.
    EXPECT_NEAR(r, sum[0] / pixels, 4.0);
    EXPECT_NEAR(g, sum[1] / pixels, 4.0);
    EXPECT_NEAR(b, sum[2] / pixels, 4.0);
}

void expectNothingLeftBehind(const std::string& folder, int key, const std::string& output) {
    EXPECT_FALSE(QvTaskTest::queueExists(folder, key)) << key;
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    EXPECT_FALSE(QvTest::fileExists(output + ".h264"));
    EXPECT_FALSE(QvTest::fileExists(output + ".aac"));
}

TEST(RenderVideo, TenFramesWithSnapshots) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "orange", 64, 48, 25, 10, "#FF8000");
    std::string output = dir.file("orange.mp4");
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 31));
    ASSERT_EQ(0, zr_render_process_set_snapshot_dir(&handle, dir.file("shot-")));
    ASSERT_EQ(0, zr_render_process_set_snapshot_frames(&handle, {0, 5, 5}));

    EXPECT_EQ(0, zr_render_process_start(&handle, CallbackRecorder::callback));
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    std::vector<std::string> expected = {"start"};
    expected.insert(expected.end(), 10, "update");
    expected.push_back("end");
    EXPECT_EQ(expected, CallbackRecorder::instance().words(&handle));
    EXPECT_FLOAT_EQ(0.9f, zr_render_process_progress(&handle));
    auto info = zr_render_process_rendered_info(&handle);
    EXPECT_EQ("0.400000", info["duration"]);
    for (const char* key : {"renderTime", "encodeTime", "totalTime"}) {
        ASSERT_EQ(1u, info.count(key)) << key;
        EXPECT_GE(atof(info[key].c_str()), 0.0);
    }

    EXPECT_EQ("h264", QvTest::probe(output, "v:0", "codec_name"));
    EXPECT_EQ("64", QvTest::probe(output, "v:0", "width"));
    EXPECT_EQ("48", QvTest::probe(output, "v:0", "height"));
    EXPECT_EQ("10", QvTest::probe(output, "v:0", "nb_read_frames"));
    EXPECT_EQ("25/1", QvTest::probe(output, "v:0", "r_frame_rate"));
    expectVideoColour(output, 255, 128, 0);

    // Frame 5 asked twice gives one file; the folder text is a plain prefix.
    std::vector<std::string> shots;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        std::string name = entry.path().filename().string();
        if (name.rfind("shot-", 0) == 0) shots.push_back(name);
    }
    std::sort(shots.begin(), shots.end());
    EXPECT_EQ((std::vector<std::string>{"shot-0.png", "shot-5.png"}), shots);
    expectPngFilledWith(dir.file("shot-0.png"), 64, 48, {255, 128, 0, 255});
    expectPngFilledWith(dir.file("shot-5.png"), 64, 48, {255, 128, 0, 255});
    expectNothingLeftBehind(folder, 31, output);
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// A host whose callback is slow still gets every word before start returns:
// the receiver reads up to the child's final word after the child has ended.
std::atomic<int> gSlowCalls{0};
void slowCallback(unsigned long* handle, const char* status) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ++gSlowCalls;
    CallbackRecorder::callback(handle, status);
}

TEST(RenderVideo, SlowCallbackLosesNoFinalWord) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "slow", 32, 32, 25, 8, "#00FF00");
    std::string output = dir.file("slow.mp4");
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 32));
    EXPECT_EQ(0, zr_render_process_start(&handle, slowCallback));
    // Read before release: release would wait for the receiver anyway.
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    EXPECT_EQ(10, gSlowCalls.load());
    auto words = CallbackRecorder::instance().words(&handle);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ("end", words.back());
    EXPECT_EQ(4u, zr_render_process_rendered_info(&handle).size());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// Terminates the render child at its first progress report, from the
// receiver thread: the child is then inside its frame loop.
std::atomic<bool> gTerminated{false};
void terminateOnFirstUpdate(unsigned long* handle, const char* status) {
    CallbackRecorder::callback(handle, status);
    if (strcmp(status, "update") != 0 || gTerminated.exchange(true)) return;
    for (int child : QvTaskTest::childProcesses()) kill(child, SIGTERM);
}

TEST(RenderVideo, ChildTerminatedMidRenderLeavesNothingBehind) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "long", 128, 128, 25, 3000, "#808080");
    std::string output = dir.file("long.mp4");
    int descriptors = QvTaskTest::openDescriptorCount();
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 33));
    EXPECT_EQ(1, zr_render_process_start(&handle, terminateOnFirstUpdate));
    EXPECT_STREQ("crash", zr_render_process_status(&handle));
    auto words = CallbackRecorder::instance().words(&handle);
    ASSERT_GE(words.size(), 4u);
    EXPECT_EQ("start", words.front());
    EXPECT_EQ((std::vector<std::string>{"crash", "crash"}),
              std::vector<std::string>(words.end() - 2, words.end()));
    // The raw stream the child had begun is gone with it.
    expectNothingLeftBehind(folder, 33, output);
    EXPECT_FALSE(QvTest::fileExists(output));
    EXPECT_EQ(descriptors, QvTaskTest::openDescriptorCount());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

TEST(RenderVideo, TwentyRendersInARowLeaveNothingBehind) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "tiny", 32, 32, 25, 2, "#202020");
    std::string output = dir.file("tiny.mp4");
    int descriptors = QvTaskTest::openDescriptorCount();
    for (int i = 0; i < 20; ++i) {
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 40));
        EXPECT_EQ(0, zr_render_process_start(&handle, nullptr)) << i;
        EXPECT_STREQ("end", zr_render_process_status(&handle)) << i;
        zr_render_process_release(&handle);
        expectNothingLeftBehind(folder, 40, output);
        EXPECT_EQ(descriptors, QvTaskTest::openDescriptorCount()) << i;
    }
    EXPECT_EQ("2", QvTest::probe(output, "v:0", "nb_read_frames"));
}

TEST(RenderVideo, FourRendersAtOnceWithDifferentKeys) {
    TempDir dir("qvrender");
    // One template folder for all four: the keys alone keep their queues apart.
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "shared", 48, 32, 20, 6, "#0040C0");
    constexpr int kRenders = 4;
    unsigned long handles[kRenders] = {};
    int results[kRenders];
    for (int i = 0; i < kRenders; ++i) {
        std::string output = dir.file("out" + std::to_string(i) + ".mp4");
        ASSERT_EQ(0, zr_create_render_process(&handles[i], folder.c_str(), output.c_str(), 50 + i));
    }
    // The host threads begin and end together, so no thread of the test is
    // being created or torn down (which takes runtime locks) while a render forks.
    QvTaskTest::Rendezvous begin(kRenders), end(kRenders);
    std::vector<std::thread> hosts;
    for (int i = 0; i < kRenders; ++i) {
        hosts.emplace_back([&, i] {
            begin.arriveAndWait();
            results[i] = zr_render_process_start(&handles[i], CallbackRecorder::callback);
            end.arriveAndWait();
        });
    }
    for (auto& host : hosts) host.join();
    for (int i = 0; i < kRenders; ++i) {
        std::string output = dir.file("out" + std::to_string(i) + ".mp4");
        EXPECT_EQ(0, results[i]) << i;
        EXPECT_STREQ("end", zr_render_process_status(&handles[i])) << i;
        auto words = CallbackRecorder::instance().words(&handles[i]);
        EXPECT_EQ(8u, words.size()) << i;  // start, six updates, end: no word of another render
        EXPECT_EQ("6", QvTest::probe(output, "v:0", "nb_read_frames")) << i;
        expectVideoColour(output, 0, 64, 192);
        expectNothingLeftBehind(folder, 50 + i, output);
        CallbackRecorder::instance().clear(&handles[i]);
        zr_render_process_release(&handles[i]);
    }
}

}  // namespace
