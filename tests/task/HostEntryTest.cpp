// The C entry functions as a Go host calls them: handle texts, JSON lists,
// text results freed with free(), and what a start hands the native render.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "TaskTestSupport.h"
#include "render/Config.h"
#include "scene/Watermark.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"
#include "task/HostEntry.h"
#include "task/RenderProcess.h"

using Quorvane::Core::FindHostRenderRecord;
using Quorvane::Core::HostRenderRecord;
using Quorvane::Core::RenderProcessData;
using QvTest::TempDir;

namespace {

// A text result, freed as a host frees it (a static or shared text would make
// the sanitizer build fail here).
std::string take(char* text) {
    EXPECT_NE(text, nullptr);
    if (!text) return "<null>";
    std::string copy = text;
    free(text);
    return copy;
}

// A handle that is released when the test ends, whatever happens.
struct Handle {
    explicit Handle(const std::string& folder = "/nowhere/", const std::string& output = "/tmp/qv-host.mp4",
                    int key = 1)
        : text(take(nCreateRenderProcess(folder.c_str(), output.c_str(), key))) {}
    ~Handle() { nRenderProcessRelease(text.c_str()); }
    const char* c_str() const { return text.c_str(); }
    HostRenderRecord& record() const { return *FindHostRenderRecord(text.c_str()); }
    std::string text;
};

RenderProcessData& native(const HostRenderRecord& record) {
    return *reinterpret_cast<RenderProcessData*>(record.slot);
}

// Every function that takes a handle, with valid other arguments; returns how
// many did not answer "no render".
int answersForNoRecord(const char* handle) {
    int wrong = 0;
    auto expectOne = [&](int result) { wrong += result != 1; };
    expectOne(nRenderProcessSetReplaceableFiles(handle, "[\"a\"]"));
    expectOne(nRenderProcessSetDynamicSubFiles(handle, "[]"));
    expectOne(nRenderProcessSetDynamicSubTexts(handle, "[]"));
    expectOne(nRenderProcessSetAssetPath(handle, "/a"));
    expectOne(nRenderProcessSetScrivanePath(handle, "/s"));
    expectOne(nRenderProcessSetScript(handle, "main.lua", "/l", "{}"));
    expectOne(nRenderProcessSetSnapShotPath(handle, "/snap"));
    expectOne(nRenderProcessSetSnapShotFrames(handle, "[1]"));
    expectOne(nRenderProcessSetMusicFile(handle, "m.mp3", 1));
    expectOne(nRenderProcessSetMusicLoop(handle, 1));
    expectOne(nRenderProcessSetMusicVolume(handle, 0.5f));
    expectOne(nRenderProcessSetMusicFadeoutDuration(handle, 2));
    expectOne(nRenderProcessSetBitrateControl(handle, 0.5f));
    expectOne(nRenderProcessAddWatermark(handle, "[\"w.png\"]", 1, 2, 3, 4, 5, 6));
    expectOne(nRenderProcessStart(handle));
    wrong += take(nRenderProcessStatus(handle)) != "";
    wrong += take(nRenderProcessRenderedInfo(handle)) != "";
    nRenderProcessRelease(handle);
    return wrong;
}

}  // namespace

TEST(HostEntry, HandlesThatNameNoRenderAreRefusedEverywhere) {
    for (const char* handle : {"0", "", "abc", "-12", "18446744073709551615", "999999999"}) {
        EXPECT_EQ(0, answersForNoRecord(handle)) << '"' << handle << '"';
    }
    // Released, released twice, and a released handle after new records were
    // made (which may well reuse the freed memory).
    std::string released;
    {
        Handle h;
        released = h.text;
        nRenderProcessRelease(h.c_str());
        nRenderProcessRelease(h.c_str());
    }
    Handle fresh[3];
    for (const Handle& h : fresh) EXPECT_NE(h.text, released);
    EXPECT_EQ(0, answersForNoRecord(released.c_str()));
    for (const Handle& h : fresh) EXPECT_NE(FindHostRenderRecord(h.c_str()), nullptr);
}

TEST(HostEntry, CreateGivesADecimalHandleAndLogsTheVersion) {
    TempDir dir("qvhost");
    QvTaskTest::StderrCapture capture(dir.file("log"));
    Handle h("/t/", "/o.mp4", -7);
    std::string log = capture.stop();
    EXPECT_NE(log.find("Quorvane version : 1.2.0.beta\n"), std::string::npos) << log;
    ASSERT_FALSE(h.text.empty());
    EXPECT_EQ(h.text.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(h.record().key, -7);
    EXPECT_EQ(h.record().templatePath, "/t/");
    // Before a start there is no native render: no status, no information.
    EXPECT_EQ(take(nRenderProcessStatus(h.c_str())), "");
    EXPECT_EQ(take(nRenderProcessRenderedInfo(h.c_str())), "{}");
}

TEST(HostEntry, ListsAppendAndRejectedTextsStoreNothing) {
    TempDir dir("qvhost");
    Handle h;
    QvTaskTest::StderrCapture capture(dir.file("log"));
    EXPECT_EQ(0, nRenderProcessSetReplaceableFiles(h.c_str(), "[\"a\"]"));
    EXPECT_EQ(0, nRenderProcessSetReplaceableFiles(h.c_str(), "[\"b\"]"));
    EXPECT_EQ(0, nRenderProcessSetReplaceableFiles(h.c_str(), "[]"));
    EXPECT_EQ(1, nRenderProcessSetReplaceableFiles(h.c_str(), "{\"a\":1}"));
    EXPECT_EQ(0, nRenderProcessSetReplaceableFiles(h.c_str(), " [\"c\", 7, null, \"d\\u00e9\"] "));
    EXPECT_EQ(0, nRenderProcessSetSnapShotFrames(h.c_str(), "[3,\"4\",5,2.5,4000000000,-1]"));
    EXPECT_EQ(1, nRenderProcessSetSnapShotFrames(h.c_str(), "[1"));

    EXPECT_EQ(1, nRenderProcessAddWatermark(h.c_str(), "[]", 1, 2, 3, 4, 5, 6));
    const std::string logBeforeBadJson = QvTest::readFile(dir.file("log"));
    EXPECT_EQ(1, nRenderProcessAddWatermark(h.c_str(), "not json", 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(1, nRenderProcessAddWatermark(h.c_str(), "[1, false]", 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(1, nRenderProcessAddWatermark(h.c_str(), std::string(100000, '[').c_str(), 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(0,
              nRenderProcessAddWatermark(h.c_str(), "[\"w1.png\",\"w2.png\"]", 10, 20, 1.5f, 2, 0.5f, 0.25f));
    std::string log = capture.stop();

    const HostRenderRecord& r = h.record();
    EXPECT_EQ(r.replaceableFiles, (std::vector<std::string>{"a", "b", "c", "d\xC3\xA9"}));
    EXPECT_EQ(r.snapshotFrames, (std::vector<int32_t>{3, 5, -1}));
    ASSERT_EQ(r.watermarks.size(), 1u);
    const Quorvane::Core::Watermark& w = r.watermarks[0];
    EXPECT_EQ(w.imagePaths, (std::vector<std::string>{"w1.png", "w2.png"}));
    EXPECT_EQ(w.position.x, 10);
    EXPECT_EQ(w.position.y, 20);
    EXPECT_EQ(w.time.x, 1.5f);
    EXPECT_EQ(w.time.y, 2);
    EXPECT_EQ(w.scale.x, 0.5f);
    EXPECT_EQ(w.scale.y, 0.25f);
    // The host's record is the one the render context reads: its time span
    // goes through the scene's rule (1.5 s at 25 fps rounds up to frame 38).
    const Quorvane::Core::Watermark::Span span = Quorvane::Core::Watermark::span(w.time, 25.0f, 100);
    EXPECT_EQ(span.inPoint, 38);
    EXPECT_EQ(span.duration, 50);

    // The empty watermark list is refused silently, the rest with the parser's code
    // (0 for JSON that is no array, 3 for an invalid value, 7 for an unclosed array).
    EXPECT_EQ(logBeforeBadJson.find("watermark"), std::string::npos) << logBeforeBadJson;
    EXPECT_NE(log.find("paths json parse error with 3, will skip set watermark \n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("paths json parse error with 0, will skip set assets \n"), std::string::npos) << log;
    EXPECT_NE(log.find("frames json parse error with 7, will skip set snapshot frames \n"), std::string::npos)
        << log;
}

// Both entry families store any bitrate factor and music volume and say 0
// (no render: 1 and -1); the render child alone decides what it can use, and
// a twenty-fold volume reaches the mux.
TEST(HostEntry, NumberSettersStoreEveryValue) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    using HostSet = int (*)(const char*, float);
    using NativeSet = int (*)(unsigned long*, float);
    struct Case {
        HostSet host;
        NativeSet native;
        float HostRenderRecord::*hostField;
        float RenderProcessData::*nativeField;
        float value;
    };
    const Case bitrate = {nRenderProcessSetBitrateControl, zr_render_process_set_bitrate_control,
                          &HostRenderRecord::bitrateControl, &RenderProcessData::bitrateControl, 0};
    const Case volume = {nRenderProcessSetMusicVolume, zr_render_process_set_music_volume,
                         &HostRenderRecord::musicVolume, &RenderProcessData::musicVolume, 0};
    std::vector<Case> cases;
    for (float value : {0.5f, 24.0f, 0.0f, -1.0f, 25.0f, 1e30f, nan, inf}) {
        cases.push_back(bitrate);
        cases.back().value = value;
    }
    for (float value : {0.0f, 2.5f, 20.0f, -0.5f, 1e9f, nan, -inf}) {
        cases.push_back(volume);
        cases.back().value = value;
    }
    auto same = [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Handle h;
        EXPECT_EQ(0, c.host(h.c_str(), c.value));
        EXPECT_TRUE(same(c.value, h.record().*c.hostField));
        unsigned long slot = 0;
        ASSERT_EQ(0, zr_create_render_process(&slot, "/t/", "/o.mp4", 1));
        EXPECT_EQ(0, c.native(&slot, c.value));
        EXPECT_TRUE(same(c.value, reinterpret_cast<RenderProcessData*>(slot)->*c.nativeField));
        zr_render_process_release(&slot);
        EXPECT_EQ(-1, c.native(&slot, c.value));
    }

    // What the child keeps: a finite volume from 0 to 1e5, a factor in (0, 24].
    Quorvane::Core::Config config(64, 48, 25.0f, 10, "main");
    for (float value : {20.0f, nan, -0.5f, inf, 1.01e5f}) config.setMusicVolume(value);
    EXPECT_EQ(20.0f, config.musicVolume());
    config.setMusicVolume(1e5f);
    EXPECT_EQ(1e5f, config.musicVolume());

    TempDir dir("qvhost");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "loud", 32, 32, 25, 10, "#808080");
    std::string music = dir.file("tone.mp3");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 1.0}}));
    Handle h(folder, dir.file("loud.mp4"), 8);
    ASSERT_EQ(0, nRenderProcessSetMusicFile(h.c_str(), music.c_str(), 0));
    ASSERT_EQ(0, nRenderProcessSetMusicVolume(h.c_str(), 20.0f));
    ASSERT_EQ(0, nRenderProcessSetBitrateControl(h.c_str(), nan));  // not forwarded: the default stays
    QvTaskTest::StderrCapture capture(dir.file("log"));
    EXPECT_EQ(0, nRenderProcessStart(h.c_str()));
    std::string log = capture.stop();
    EXPECT_EQ(take(nRenderProcessStatus(h.c_str())), "end");
    EXPECT_NE(log.find("[0:a]volume=20.000000[a1]"), std::string::npos) << log;
    EXPECT_EQ(log.find("bitrate control"), std::string::npos) << log;
    EXPECT_EQ(QvTest::probe(dir.file("loud.mp4"), "a:0", "codec_name"), "aac");
}

TEST(HostEntry, StartForwardsOnlyWhatWasSet) {
    TempDir dir("qvhost");
    {
        Handle h("/t/", "/o.mp4", 9);
        ASSERT_EQ(0, nRenderProcessSetReplaceableFiles(h.c_str(), "[\"r.png\"]"));
        ASSERT_EQ(0, nRenderProcessSetDynamicSubFiles(h.c_str(), "[{\"k\":1}]"));
        ASSERT_EQ(0, nRenderProcessSetDynamicSubTexts(h.c_str(), "[{\"t\":2}]"));
        ASSERT_EQ(0, nRenderProcessSetAssetPath(h.c_str(), "/assets"));
        ASSERT_EQ(0, nRenderProcessSetScrivanePath(h.c_str(), "/scrivane"));
        ASSERT_EQ(0, nRenderProcessSetScript(h.c_str(), "main.lua", "/lua", "{\"d\":1}"));
        ASSERT_EQ(0, nRenderProcessSetSnapShotPath(h.c_str(), "/snap/s"));
        ASSERT_EQ(0, nRenderProcessSetSnapShotFrames(h.c_str(), "[2,4]"));
        ASSERT_EQ(0, nRenderProcessSetMusicVolume(h.c_str(), 0.5f));
        ASSERT_EQ(0, nRenderProcessSetMusicFadeoutDuration(h.c_str(), 3));
        ASSERT_EQ(0, nRenderProcessSetMusicFile(h.c_str(), "/m.mp3", 0));
        ASSERT_EQ(0, nRenderProcessSetMusicLoop(h.c_str(), 5));
        ASSERT_EQ(0, nRenderProcessSetBitrateControl(h.c_str(), 0.75f));
        ASSERT_EQ(0, nRenderProcessAddWatermark(h.c_str(), "[\"w.png\"]", 1, 2, 3, 4, 5, 6));

        QvTaskTest::StderrCapture capture(dir.file("log"));
        EXPECT_EQ(0, Quorvane::Core::CreateNativeRender(h.record()));
        EXPECT_NE(capture.stop().find("Start process  : start ret : 0 : key 9 \n"), std::string::npos);
        const RenderProcessData& n = native(h.record());
        EXPECT_EQ(n.templatePath, "/t/");
        EXPECT_EQ(n.outputPath, "/o.mp4");
        EXPECT_EQ(n.key, 9);
        EXPECT_EQ(n.replaceableFiles, std::vector<std::string>{"r.png"});
        EXPECT_EQ(n.dynamicSubFiles, "[{\"k\":1}]");
        EXPECT_EQ(n.dynamicSubTexts, "[{\"t\":2}]");
        EXPECT_EQ(n.assetPath, "/assets");
        EXPECT_EQ(n.scrivanePath, "/scrivane");
        EXPECT_EQ(n.luaMainFile, "main.lua");
        EXPECT_EQ(n.luaDir, "/lua");
        EXPECT_EQ(n.luaData, "{\"d\":1}");
        EXPECT_EQ(n.snapshotDir, "/snap/s");
        EXPECT_EQ(n.snapshotFrames, (std::vector<int>{2, 4}));
        EXPECT_EQ(n.musicPath, "/m.mp3");
        EXPECT_TRUE(n.musicLoop);
        EXPECT_EQ(n.musicVolume, 0.5f);
        EXPECT_EQ(n.musicFadeoutDuration, 3);
        EXPECT_EQ(n.bitrateControl, 0.75f);
        ASSERT_EQ(n.watermarks.size(), 1u);
        EXPECT_EQ(n.watermarks[0].scale.y, 6);
        EXPECT_STREQ(n.status.load(), "init");
        EXPECT_EQ(take(nRenderProcessStatus(h.c_str())), "init");

        // A second start replaces the native render instead of losing it.
        EXPECT_EQ(0, Quorvane::Core::CreateNativeRender(h.record()));
        EXPECT_EQ(native(h.record()).replaceableFiles, std::vector<std::string>{"r.png"});
    }
    for (float bitrate : {0.0f, -1.0f}) {
        // Music settings without a music file, script settings without a main
        // file, a snapshot folder without frames, a bitrate of 0 or below: none
        // of them reaches the native render, which keeps its defaults.
        Handle h("/t/", "/o.mp4", -3);
        ASSERT_EQ(0, nRenderProcessSetMusicVolume(h.c_str(), 0.5f));
        ASSERT_EQ(0, nRenderProcessSetMusicFadeoutDuration(h.c_str(), 3));
        ASSERT_EQ(0, nRenderProcessSetMusicLoop(h.c_str(), 1));
        ASSERT_EQ(0, nRenderProcessSetScript(h.c_str(), "", "/lua", "data"));
        ASSERT_EQ(0, nRenderProcessSetSnapShotPath(h.c_str(), "/snap/s"));
        ASSERT_EQ(0, nRenderProcessSetBitrateControl(h.c_str(), bitrate));  // stored, not forwarded
        EXPECT_EQ(1, nRenderProcessAddWatermark(h.c_str(), "[]", 1, 2, 3, 4, 5, 6));
        QvTaskTest::StderrCapture capture(dir.file("log"));
        Quorvane::Core::CreateNativeRender(h.record());
        EXPECT_NE(capture.stop().find("Start process  : start ret : 0 : key -3 \n"), std::string::npos);
        const RenderProcessData& n = native(h.record());
        EXPECT_EQ(n.key, -3);
        EXPECT_FALSE(n.musicLoop);
        EXPECT_EQ(n.musicVolume, 1.0f);
        EXPECT_EQ(n.musicFadeoutDuration, 0);
        EXPECT_EQ(n.luaDir, "");
        EXPECT_EQ(n.luaData, "");
        EXPECT_EQ(n.snapshotDir, "");
        EXPECT_EQ(n.bitrateControl, 0.25f);
        EXPECT_TRUE(n.watermarks.empty());
    }
    {
        Handle h;  // frames without a folder forward neither
        ASSERT_EQ(0, nRenderProcessSetSnapShotFrames(h.c_str(), "[1,2]"));
        Quorvane::Core::CreateNativeRender(h.record());
        EXPECT_TRUE(native(h.record()).snapshotFrames.empty());
    }
}

TEST(HostEntry, MissingTemplateIsCancelledWithZeroInformation) {
    TempDir dir("qvhost");
    // The folder exists (its queue key comes from it) but holds no config.json.
    std::string folder = dir.file("empty") + "/";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    Handle h(folder, dir.file("out.mp4"), 4);
    QvTaskTest::StderrCapture capture(dir.file("log"));
    EXPECT_EQ(0, nRenderProcessStart(h.c_str()));
    EXPECT_EQ(take(nRenderProcessStatus(h.c_str())), "cancel");
    EXPECT_EQ(take(nRenderProcessRenderedInfo(h.c_str())),
              "{\"duration\":\"0.000000\",\"encodeTime\":\"0.000000\",\"renderTime\":\"0.000000\","
              "\"totalTime\":\"0.000000\"}");
    std::string log = capture.stop();
    EXPECT_NE(log.find("] cancel\n"), std::string::npos) << log;
    EXPECT_FALSE(QvTest::fileExists(dir.file("out.mp4")));
}

TEST(HostEntry, SnapshotsReachTheRenderOnlyAsAPair) {
    TempDir dir("qvhost");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "solid", 32, 32, 25, 4, "#3060C0");
    Handle h(folder, dir.file("out.mp4"), 6);
    ASSERT_EQ(0, nRenderProcessSetSnapShotPath(h.c_str(), dir.file("snap-").c_str()));
    ASSERT_EQ(0, nRenderProcessSetSnapShotFrames(h.c_str(), "[1]"));
    ASSERT_EQ(0, nRenderProcessSetSnapShotFrames(h.c_str(), "[3]"));
    EXPECT_EQ(0, nRenderProcessStart(h.c_str()));
    char* status = nRenderProcessStatus(h.c_str());
    ASSERT_NE(status, nullptr);
    EXPECT_GE(malloc_usable_size(status), 12u);
    EXPECT_EQ(take(status), "end");
    EXPECT_TRUE(QvTest::fileExists(dir.file("snap-1.png")));
    EXPECT_TRUE(QvTest::fileExists(dir.file("snap-3.png")));
    EXPECT_FALSE(QvTest::fileExists(dir.file("snap-0.png")));
    EXPECT_FALSE(QvTest::fileExists(dir.file("snap-2.png")));
    EXPECT_EQ(QvTest::probe(dir.file("out.mp4"), "v:0", "width"), "32");
    std::string info = take(nRenderProcessRenderedInfo(h.c_str()));
    EXPECT_EQ(info.rfind("{\"duration\":\"0.160000\",\"encodeTime\":\"", 0), 0u) << info;
}
