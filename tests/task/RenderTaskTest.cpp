// The video render task driven in this process (no fork): its option lists,
// its refusal of broken templates, and a render with mixed audio, where the
// audio thread and the frame loop hand over through the two semaphores.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cmath>
#include <cstring>
#include <map>

#include "TaskTestSupport.h"
#include "render/Config.h"
#include "render/GLContext.h"
#include "support/GLFixture.h"
#include "support/TestSupport.h"
#include "task/RenderTask.h"

using namespace Quorvane::Core;
using QvTest::TempDir;

namespace {

class RecordingDelegate : public RenderDelegate {
public:
    void renderStarted() override {
        // The task releases its GL context after the last frame, which would
        // unload the driver and leave its lifetime allocations unattributable.
        QvTest::GLFixture::keepLoadedLibraries();
        words.push_back("start");
    }
    void renderUpdate(float progress) override {
        words.push_back("update");
        lastProgress = progress;
    }
    void renderEnd(bool ok) override { words.push_back(ok ? "end" : "fail"); }
    void renderCancelled() override { words.push_back("cancel"); }

    std::vector<std::string> words;
    float lastProgress = -1.0f;
};

TEST(RenderTask, OptionListsAndSnapshotSelection) {
    TempDir dir("qvtask");
    RenderTask task(dir.file("none").c_str(), dir.file("out.mp4").c_str(), nullptr);
    EXPECT_FALSE(task.cancel());  // not rendering: nothing to cancel
    EXPECT_FALSE(task.isRendering());

    task.setSnapFrames({3, 5, 3, 7});
    EXPECT_FALSE(task.shouldSnapThisFrame(4, true));
    EXPECT_TRUE(task.shouldSnapThisFrame(3, false));
    EXPECT_TRUE(task.shouldSnapThisFrame(3, true));
    EXPECT_TRUE(task.shouldSnapThisFrame(3, true));  // the second 3
    EXPECT_FALSE(task.shouldSnapThisFrame(3, true));
    EXPECT_TRUE(task.shouldSnapThisFrame(7, true));
    EXPECT_TRUE(task.shouldSnapThisFrame(5, true));

    std::string a = task.addFilter("a/");
    std::string b = task.addFilter("b/");
    EXPECT_NE(a, b);
    task.removeFilter("unknown");
    task.removeFilter(a);
    Watermark mark;
    mark.imagePaths = {"w.png"};
    std::string w1 = task.addWatermark(mark);
    std::string w2 = task.addWatermark(mark);
    EXPECT_NE(w1, w2);
    task.removeWatermark(w1);
    task.removeAllWatermark();
    task.removeAllFilter();

    EXPECT_EQ("a,b,c", implode(",", {"a", "b", "c"}));
    EXPECT_EQ("b", implode(",", {"", "b"}));  // no separator before the text has begun
    EXPECT_EQ("", implode(",", {}));
    EXPECT_TRUE(file_exists(dir.path()));
    EXPECT_FALSE(file_exists(dir.file("none")));
    EXPECT_GT(getCurrentTime(), 1600000000000LL);

    std::vector<std::string> ips, macs;
    get_ips(ips);
    get_mac_addresses(macs);
    for (const std::string& ip : ips) {
        in_addr address;
        EXPECT_EQ(1, inet_pton(AF_INET, ip.c_str(), &address)) << ip;
        EXPECT_NE("127.0.0.1", ip);
    }
    for (const std::string& mac : macs) {
        unsigned parts[6];
        EXPECT_EQ(6, sscanf(mac.c_str(), "%2X:%2X:%2X:%2X:%2X:%2X", &parts[0], &parts[1], &parts[2],
                            &parts[3], &parts[4], &parts[5]))
            << mac;
        EXPECT_EQ(17u, mac.size());
    }
}

// Every template a render cannot take is refused before anything is made for
// it (no GL context for a size or rate, no "start", no frame drawn or
// reported, no side file), with the invalid-template line and a reason; the
// child then says "cancel".
TEST(RenderTask, BrokenTemplatesAreRefusedBeforeAnything) {
    TempDir dir("qvtask");
    // Some refusals come after the task made its GL context: the driver stays
    // loaded, so that leak reports keep naming it (see keepLoadedLibraries).
    Quorvane::Core::GLContext* probe = Quorvane::Core::GLContextGet(1, 1, nullptr);
    QvTest::GLFixture::keepLoadedLibraries();
    Quorvane::Core::GLContextDoneUse(probe);
    // A template of one null layer whose transform track is a data file.
    auto json = [](const std::string& fps, const std::string& size, const std::string& mainExtra,
                   const std::string& transform) {
        return "{\"type\":1,\"fps\":" + fps +
               ",\"main\":\"main\",\"comps\":[{\"name\":\"main\",\"size\":" + size + mainExtra +
               ",\"layers\":[{\"type\":1024,\"transform\":\"" + transform + "\"}]}]}";
    };
    const std::string frames = ",\"duration\":10";
    struct Case {
        const char* name;
        std::string config;  // "" for none, "FIFO", "/dev/zero" for a link, else the text
        std::string data;    // datas/t.json likewise
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"missing", "", "", "has no config.json"},
        {"garbage", "{not json", "", "holds no JSON object"},
        {"nosize", json("25", "[0,48]", frames, "t.json"), "", "no positive size"},
        {"huge", json("25", "[30000,30000]", frames, "t.json"), "", "30000 pixels"},
        {"nofps", json("0", "[64,48]", frames, "t.json"), "", "\"fps\" 0 is not"},
        {"halffps", json("0.5", "[64,48]", frames, "t.json"), "", "\"fps\" 0.5 is not"},
        {"negfps", json("-5", "[64,48]", frames, "t.json"), "", "\"fps\" -5 is not"},
        {"fastfps", json("2000", "[64,48]", frames, "t.json"), "", "\"fps\" 2000 is not"},
        {"mainfps", json("25", "[64,48]", frames + ",\"fps\":0", "t.json"), "", "composition's \"fps\" 0"},
        {"noframes", json("25", "[64,48]", ",\"duration\":0", "t.json"), "", "no frame"},
        {"negframes", json("25", "[64,48]", ",\"duration\":-4", "t.json"), "", "no frame"},
        {"textframes", json("25", "[64,48]", ",\"duration\":\"9\"", "t.json"), "", "no frame"},
        {"dynamicframes", "{\"type\":2,\"fps\":25,\"size\":[64,48],\"offsets\":{}}", "", "no frame"},
        {"fifoconfig", "FIFO", "", "config.json is not a regular file"},
        {"zeroconfig", "/dev/zero", "", "config.json is not a regular file"},
        {"fifodata", json("25", "[64,48]", frames, "t.json"), "FIFO",
         "data file t.json is not a regular file"},
        {"zerodata", json("25", "[64,48]", frames, "t.json"), "/dev/zero",
         "data file t.json is not a regular"},
        {"outside", json("25", "[64,48]", frames, "../../../../../../../../dev/zero"), "",
         "outside the data"},
    };
    auto place = [](const std::string& path, const std::string& what) {
        if (what == "FIFO") return mkfifo(path.c_str(), 0644) == 0;
        if (what == "/dev/zero") return symlink("/dev/zero", path.c_str()) == 0;
        return what.empty() || QvTest::writeFile(path, what);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = dir.file(c.name) + "/";
        if (c.name != std::string("missing")) {
            ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
            ASSERT_EQ(0, mkdir((folder + "datas").c_str(), 0755));
            ASSERT_TRUE(place(folder + "config.json", c.config));
            ASSERT_TRUE(place(folder + "datas/t.json", c.data));
        }
        RecordingDelegate delegate;
        std::string output = dir.file("out.mp4");
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        bool started;
        {
            RenderTask task(folder.c_str(), output.c_str(), &delegate);
            started = task.start();
            EXPECT_FALSE(task.isRendering());
            EXPECT_EQ(nullptr, task.context());
        }
        std::string log = capture.stop();
        EXPECT_FALSE(started);
        EXPECT_TRUE(delegate.words.empty());  // neither "start" nor a frame's progress
        EXPECT_NE(std::string::npos,
                  log.find("Invalid template, please check template path or template config.json"));
        EXPECT_NE(std::string::npos, log.find("Invalid template: ")) << log;
        EXPECT_NE(std::string::npos, log.find(c.reason)) << log;
        EXPECT_FALSE(QvTest::fileExists(output));
        EXPECT_FALSE(QvTest::fileExists(output + ".h264"));
    }
}

// Mean absolute sample value of the first audio stream, decoded to s16 mono.
double audioLevel(const std::string& file) {
    QvTest::ProgramResult decoded =
        QvTest::runProgram({"ffmpeg", "-v", "error", "-i", file, "-map", "0:a:0", "-ac", "1", "-f", "s16le",
                            "-acodec", "pcm_s16le", "-"});
    if (decoded.exitCode != 0 || decoded.out.size() < 2) return -1.0;
    size_t count = decoded.out.size() / 2;
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        int16_t sample;
        memcpy(&sample, decoded.out.data() + i * 2, 2);
        sum += std::abs(static_cast<int>(sample));
    }
    return sum / static_cast<double>(count);
}

TEST(RenderTask, AudioTracksAreMixedIntoTheVideo) {
    TempDir dir("qvtask");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "tone", 64, 64, 25, 25, "#3366CC");
    std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(
        QvTest::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2", tone}));
    std::string output = dir.file("tone.mp4");

    RecordingDelegate delegate;
    RenderTask task(folder.c_str(), output.c_str(), &delegate);
    AudioTrackInfo track;
    track.filePath = tone;
    track.duration = 2.0f;
    track.outPoint = 2.0f;
    track.volume = 1.0f;
    task.renderConfig()->audioTracks().push_back(track);
    // A track starting after the video's end is skipped, not mixed into silence.
    AudioTrackInfo late = track;
    late.inPoint = 5.0f;
    task.renderConfig()->audioTracks().push_back(late);
    task.setSnapShotDir(dir.file("snap"));
    task.setSnapFrames({24});

    ASSERT_TRUE(task.start());
    ASSERT_EQ(27u, delegate.words.size());
    EXPECT_EQ("start", delegate.words.front());
    EXPECT_EQ("end", delegate.words.back());
    EXPECT_FLOAT_EQ(24.0f / 25.0f, delegate.lastProgress);
    EXPECT_FLOAT_EQ(1.0f, task.renderTaskInfo()->duration);
    EXPECT_GE(task.renderTaskInfo()->totalTime, task.renderTaskInfo()->renderTime);
    EXPECT_EQ(nullptr, task.context());  // deleted after the last frame

    EXPECT_EQ("25", QvTest::probe(output, "v:0", "nb_read_frames"));
    EXPECT_EQ("aac", QvTest::probe(output, "a:0", "codec_name"));
    EXPECT_NEAR(1.0, QvTest::probeDuration(output), 0.1);
    // A full-scale sine averages about 0.64 of its peak; anything audible will do.
    EXPECT_GT(audioLevel(output), 1000.0);
    EXPECT_TRUE(QvTest::fileExists(dir.file("snap24.png")));
    EXPECT_FALSE(QvTest::fileExists(output + ".h264"));
    EXPECT_FALSE(QvTest::fileExists(output + ".aac"));
}

// The output path and the files beside it. A link or a folder where the raw
// stream and the mixed audio were once written is never written through: the
// render works in a folder of its own. An output path that is no regular file,
// lies in no writable folder or is one of the render's inputs is refused
// before anything is drawn, and what is there stays as it was.
TEST(RenderTask, OutputPathAndSideFilesTouchNothingElse) {
    TempDir dir("qvtask");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "tone", 32, 32, 25, 5, "#3366CC");
    ASSERT_TRUE(QvTest::writeFile(folder + "music.aac", "the template's music"));
    std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(
        QvTest::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1", tone}));
    std::string target = dir.file("target");
    const std::string targetBytes = "a file that a planted link leads to";
    ASSERT_TRUE(QvTest::writeFile(target, targetBytes));
    std::string fifo = dir.file("fifo.mp4");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    std::string linkToConfig = dir.file("config-link.mp4");
    ASSERT_EQ(0, symlink((folder + "config.json").c_str(), linkToConfig.c_str()));
    // The host's asset and script folders, read by names learned while the
    // render runs, and replaceable files no asset of the template takes.
    const std::string hostAssets = dir.file("host-assets") + "/";
    const std::string scripts = dir.file("lua") + "/";
    ASSERT_EQ(0, mkdir(hostAssets.c_str(), 0755));
    ASSERT_EQ(0, mkdir(scripts.c_str(), 0755));
    ASSERT_TRUE(QvTest::writeFile(scripts + "main.lua", "function main(ctx, data) end\n"));
    const std::vector<std::string> unused = {dir.file("user-clip.mp4"), dir.file("user-0.png")};
    std::map<std::string, std::string> kept;
    for (const std::string& file : {hostAssets + "clip.mp4", hostAssets + "0.png", scripts + "intro.mp4",
                                    scripts + "0.png", unused[0], unused[1]}) {
        kept[file] = "the user's " + file;
        ASSERT_TRUE(QvTest::writeFile(file, kept[file]));
    }

    struct Case {
        const char* name;
        std::string output;
        bool renders;
        std::string snapshot = {};  // where frame 0's snapshot would go, and must not
    } cases[] = {
        {"links and folders at the old side-file names", dir.file("planted.mp4"), true},
        {"a FIFO", fifo, false},
        {"the template's config.json", folder + "config.json", false},
        {"the template's music", folder + "music.aac", false},
        {"a link to the template's config.json", linkToConfig, false},
        {"the host's audio track", tone, false},
        {"a folder", dir.path(), false},
        {"a missing folder", dir.file("none/out.mp4"), false},
        // Made by the first render, replaced by the second: the render does not read it.
        {"a file inside the template that nothing reads", folder + "preview.mp4", true},
        {"the same file again", folder + "preview.mp4", true},
        {"a clip of the host's asset folder", hostAssets + "clip.mp4", false},
        {"a clip of the script folder", scripts + "intro.mp4", false},
        {"a replaceable file no asset took", unused[0], false},
        {"a snapshot over a picture of the host's asset folder", dir.file("shot-a.mp4"), true,
         hostAssets + "0.png"},
        {"a snapshot over a picture of the script folder", dir.file("shot-b.mp4"), true, scripts + "0.png"},
        {"a snapshot over a replaceable file no asset took", dir.file("shot-c.mp4"), true, unused[1]},
    };
    ASSERT_EQ(0, symlink(target.c_str(), (cases[0].output + ".h264").c_str()));
    ASSERT_EQ(0, mkdir((cases[0].output + ".aac").c_str(), 0755));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct stat before;
        const bool existed = stat(c.output.c_str(), &before) == 0;
        const std::string bytes = existed && S_ISREG(before.st_mode) ? QvTest::readFile(c.output) : "";
        RecordingDelegate delegate;
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        bool ok;
        {
            RenderTask task(folder.c_str(), c.output.c_str(), &delegate);
            task.setAudioFile(tone);
            AudioTrackInfo track;
            track.filePath = tone;
            track.duration = 1.0f;
            track.outPoint = 1.0f;
            task.renderConfig()->audioTracks().push_back(track);
            task.setAssetDir(hostAssets);
            task.setLuaMainFile(scripts + "main.lua");
            task.setLuaDir(scripts);
            task.renderConfig()->setReplaceableFilePaths(unused);
            if (!c.snapshot.empty()) {
                task.setSnapShotDir(c.snapshot.substr(0, c.snapshot.size() - strlen("0.png")));
                task.setSnapFrames({0});
            }
            ok = task.start();
        }
        std::string log = capture.stop();
        EXPECT_EQ(c.renders, ok) << log;
        EXPECT_FALSE(QvTaskTest::workFolderLeft(c.output));
        if (c.renders) {
            ASSERT_FALSE(delegate.words.empty());
            EXPECT_EQ("end", delegate.words.back());
            EXPECT_EQ("5", QvTest::probe(c.output, "v:0", "nb_read_frames"));
            EXPECT_EQ("aac", QvTest::probe(c.output, "a:0", "codec_name"));
            if (!c.snapshot.empty())
                EXPECT_NE(std::string::npos, log.find("snapshot " + c.snapshot + " not written: ")) << log;
            continue;
        }
        // Refused before "start": nothing drawn, nothing at the path changed.
        EXPECT_TRUE(delegate.words.empty());
        EXPECT_NE(std::string::npos, log.find("Invalid output path " + c.output + ": ")) << log;
        struct stat after;
        EXPECT_EQ(existed, stat(c.output.c_str(), &after) == 0);
        if (existed) {
            EXPECT_EQ(before.st_ino, after.st_ino);
            EXPECT_EQ(before.st_mode, after.st_mode);
        }
        if (!bytes.empty()) {
            EXPECT_EQ(bytes, QvTest::readFile(c.output));
        }
    }
    for (const auto& file : kept)
        EXPECT_TRUE(file.second == QvTest::readFile(file.first)) << file.first << " changed";
    // The planted link still leads to an untouched file; the folder is still there.
    char linked[4096] = {};
    EXPECT_GT(readlink((cases[0].output + ".h264").c_str(), linked, sizeof linked - 1), 0);
    EXPECT_EQ(target, linked);
    EXPECT_EQ(targetBytes, QvTest::readFile(target));
    struct stat info;
    EXPECT_TRUE(stat((cases[0].output + ".aac").c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

}  // namespace
