// Whole renders through the host interface: forked children render templates
// we write, and the videos, snapshots and leftovers are checked from outside.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "TaskTestSupport.h"
#include "support/AudioGen.h"
#include "support/MediaGen.h"
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

void expectNothingLeftBehind(unsigned long handle, const std::string& output) {
    EXPECT_FALSE(QvTaskTest::queueExists(QvTaskTest::renderQueue(handle))) << output;
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    EXPECT_FALSE(QvTaskTest::workFolderLeft(output)) << output;
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
    expectNothingLeftBehind(handle, output);
    CallbackRecorder::instance().clear(&handle);
    // The status is a constant word, not text of the record: it outlives it.
    const char* status = zr_render_process_status(&handle);
    zr_render_process_release(&handle);
    EXPECT_STREQ("end", status);
}

// The first decoded frame as RGB rows, top row first.
std::string firstFrameRgb(const std::string& file) {
    return QvTest::runProgram({"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-f", "rawvideo",
                               "-pix_fmt", "rgb24", "-"})
        .out;
}

// A red solid in the top-left corner of a blue frame: the video and the
// snapshot both show it there, the right way up and in the right colours.
TEST(RenderVideo, SnapshotAndVideoShowTheSceneUpright) {
    TempDir dir("qvrender");
    std::string folder = dir.file("corner") + "/";
    mkdir(folder.c_str(), 0755);
    QvTest::writeFile(folder + "config.json",
                      R"({"type":1,"fps":25,"main":"main",
                          "assets":[{"key":"red","type":4,"name":"#FF0000","size":[32,24]}],
                          "comps":[{"name":"main","size":[128,96],"bg":"#0000FF","duration":2,"layers":[
                            {"type":1,"uuid":"s","source":"red","range":[0,2],
                             "transform":{"a":[0,0],"p":[0,0],"s":[1,1],"r":0,"t":1}}]}]})");
    std::string output = dir.file("corner.mp4");
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 34));
    zr_render_process_set_snapshot_dir(&handle, dir.file("c"));
    zr_render_process_set_snapshot_frames(&handle, {1});
    EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    zr_render_process_release(&handle);

    int w = 0, h = 0, channels = 0;
    unsigned char* shot = stbi_load(dir.file("c1.png").c_str(), &w, &h, &channels, 4);
    ASSERT_NE(nullptr, shot);
    ASSERT_EQ(128, w);
    ASSERT_EQ(96, h);
    auto shotAt = [&](int x, int y) {
        const unsigned char* p = shot + (y * w + x) * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ((std::vector<int>{255, 0, 0, 255}), shotAt(4, 4));
    EXPECT_EQ((std::vector<int>{255, 0, 0, 255}), shotAt(30, 22));
    EXPECT_EQ((std::vector<int>{0, 0, 255, 255}), shotAt(34, 4));
    EXPECT_EQ((std::vector<int>{0, 0, 255, 255}), shotAt(4, 26));
    EXPECT_EQ((std::vector<int>{0, 0, 255, 255}), shotAt(120, 90));
    stbi_image_free(shot);

    std::string frame = firstFrameRgb(output);
    ASSERT_EQ(128u * 96u * 3u, frame.size());
    auto videoRedAt = [&](int x, int y) { return static_cast<unsigned char>(frame[(y * 128 + x) * 3]); };
    EXPECT_GT(videoRedAt(4, 4), 240);
    EXPECT_LT(videoRedAt(4, 90), 16);
    EXPECT_LT(videoRedAt(120, 4), 16);
}

// A host's watermark lies over the frames of its time span only: at 2 fps a
// start of 1 s and a duration of 1 s cover frames 2 and 3 of four.
TEST(RenderVideo, WatermarkShowsDuringItsSpan) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "marked", 128, 96, 2, 4, "#0000FF");
    std::string mark = dir.file("mark.png");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=white:s=16x16", "-frames:v", "1", mark}));
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("marked.mp4").c_str(), 35));
    ASSERT_EQ(0, zr_render_process_add_watermark(&handle, {mark}, 8, 8, 1.0f, 1.0f, 1, 1));
    zr_render_process_set_snapshot_dir(&handle, dir.file("m"));
    zr_render_process_set_snapshot_frames(&handle, {0, 1, 2, 3});
    EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    zr_render_process_release(&handle);
    for (int frame = 0; frame < 4; ++frame) {
        int w = 0, h = 0, channels = 0;
        std::string file = dir.file("m" + std::to_string(frame) + ".png");
        unsigned char* shot = stbi_load(file.c_str(), &w, &h, &channels, 4);
        ASSERT_NE(nullptr, shot) << file;
        const unsigned char* inside = shot + (14 * w + 14) * 4;
        const unsigned char* outside = shot + (60 * w + 60) * 4;
        bool marked = frame >= 2;
        EXPECT_EQ(marked ? 255 : 0, inside[0]) << frame;
        EXPECT_EQ(255, inside[2]) << frame;
        EXPECT_EQ(0, outside[0]) << frame;
        EXPECT_EQ(255, outside[2]) << frame;
        stbi_image_free(shot);
    }
}

// Odd sizes are encoded one column and row larger with the last ones repeated,
// so every template pixel comes out right; a rate of 29.97 is encoded as
// 30000/1001, so the video lasts what the rendered information says.
TEST(RenderVideo, OddSizesAndNtscRatesKeepPixelsAndDuration) {
    TempDir dir("qvrender");
    struct Case {
        const char* name;
        int width, height, frames;
        const char* fps;
        const char* rate;      // as ffprobe gives it
        const char* duration;  // rendered information
        int codedWidth, codedHeight;
    };
    const Case cases[] = {
        {"odd", 65, 49, 2, "25", "25/1", "0.080000", 66, 50},
        {"ntsc", 32, 32, 300, "29.97", "30000/1001", "10.010010", 32, 32},
    };
    int key = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Blue, red from column x0 on, green from row y0 on: the last column
        // and row lie in flat colours, so 4:2:0 keeps them exactly unless the
        // padding brings in another colour. Edges inside the picture blur
        // over a few pixels in any 4:2:0 video and are not looked at.
        const int x0 = c.width / 2 & ~1, y0 = c.height / 2 & ~1;
        char json[1024];
        snprintf(json, sizeof json,
                 R"({"type":1,"fps":%s,"main":"main","assets":[
                       {"key":"col","type":4,"name":"#FF0000","size":[%d,%d]},
                       {"key":"row","type":4,"name":"#00FF00","size":[%d,%d]}],
                     "comps":[{"name":"main","size":[%d,%d],"bg":"#0000FF","duration":%d,"layers":[
                       {"type":1,"uuid":"c","source":"col","transform":{"a":[0,0],"p":[%d,0],"s":[1,1],"r":0,"t":1}},
                       {"type":1,"uuid":"r","source":"row","transform":{"a":[0,0],"p":[0,%d],"s":[1,1],"r":0,"t":1}}]}]})",
                 c.fps, c.width - x0, c.height, c.width, c.height - y0, c.width, c.height, c.frames, x0, y0);
        std::string folder = dir.file(c.name) + "/";
        mkdir(folder.c_str(), 0755);
        QvTest::writeFile(folder + "config.json", json);
        std::string output = dir.file(std::string(c.name) + ".mp4");
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), ++key));
        EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
        EXPECT_STREQ("end", zr_render_process_status(&handle));
        EXPECT_EQ(c.duration, zr_render_process_rendered_info(&handle)["duration"]);
        zr_render_process_release(&handle);

        EXPECT_EQ(std::to_string(c.codedWidth), QvTest::probe(output, "v:0", "width"));
        EXPECT_EQ(std::to_string(c.codedHeight), QvTest::probe(output, "v:0", "height"));
        EXPECT_EQ(std::to_string(c.frames), QvTest::probe(output, "v:0", "nb_read_frames"));
        EXPECT_EQ(c.rate, QvTest::probe(output, "v:0", "r_frame_rate"));
        EXPECT_NEAR(atof(c.duration), QvTest::probeDuration(output), 0.002);
        std::string frame = firstFrameRgb(output);
        ASSERT_EQ(static_cast<size_t>(c.codedWidth * c.codedHeight * 3), frame.size());
        int wrong = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                if (std::abs(x - x0) < 4 || std::abs(y - y0) < 4) continue;
                const unsigned char* p =
                    reinterpret_cast<const unsigned char*>(&frame[(y * c.codedWidth + x) * 3]);
                Rgba want =
                    y >= y0 ? Rgba{0, 255, 0, 0} : (x >= x0 ? Rgba{255, 0, 0, 0} : Rgba{0, 0, 255, 0});
                // H.264 4:2:0 in limited range: a few steps off at most.
                if (std::abs(p[0] - want.r) > 8 || std::abs(p[1] - want.g) > 8 ||
                    std::abs(p[2] - want.b) > 8) {
                    if (wrong++ < 6)
                        ADD_FAILURE()
                            << x << "," << y << ": " << int(p[0]) << " " << int(p[1]) << " " << int(p[2]);
                }
            }
        }
        EXPECT_EQ(0, wrong);
    }
}

// The user's file replacing a template asset is never lost silently: a
// missing one fails the render and is named in the log; an empty path keeps
// the template's own file.
TEST(RenderVideo, LostReplaceableFileFailsTheRender) {
    TempDir dir("qvrender");
    std::string folder = dir.file("replace") + "/";
    mkdir(folder.c_str(), 0755);
    mkdir((folder + "assets").c_str(), 0755);
    ASSERT_TRUE(QvTest::makeImage(folder + "assets/own.png", 8, 8, {255, 0, 0}));
    QvTest::writeFile(folder + "config.json",
                      R"({"type":1,"fps":25,"main":"main",
                          "assets":[{"key":"img","type":1,"name":"own.png","ui":{}}],
                          "comps":[{"name":"main","size":[32,32],"bg":"#0000FF","duration":2,"layers":[
                            {"type":1,"uuid":"i","source":"img"}]}]})");
    const std::string missing = dir.file("no-such-photo.png");
    // A photo cut short: its header reads (256 x 256), its pixels do not.
    const std::string cut = dir.file("cut-photo.png");
    ASSERT_TRUE(QvTest::makeImage(cut, 256, 256, {0, 255, 0}));
    ASSERT_EQ(0, truncate(cut.c_str(), 120));
    // The user's photo named as the output too: refused before anything is
    // drawn, and the photo stays.
    const std::string photo = dir.file("photo.png");
    ASSERT_TRUE(QvTest::makeImage(photo, 8, 8, {0, 255, 0}));
    const std::string photoBytes = QvTest::readFile(photo);
    struct Case {
        std::string file;
        const char* status;
    };
    int key = 50;
    for (const Case& c : {Case{missing, "fail"}, Case{cut, "fail"}, Case{"", "end"}, Case{photo, "cancel"}}) {
        SCOPED_TRACE(c.file);
        const bool onItself = std::string(c.status) == "cancel";
        std::string output = onItself ? photo : dir.file("replace.mp4");
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), ++key));
        std::vector<std::string> files = {c.file};
        ASSERT_EQ(0, zr_render_process_set_replaceable_files(&handle, &files));
        std::string log;
        {
            QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
            zr_render_process_start(&handle, nullptr);
            log = capture.stop();
        }
        EXPECT_STREQ(c.status, zr_render_process_status(&handle));
        expectNothingLeftBehind(handle, output);
        zr_render_process_release(&handle);
        if (onItself) {
            EXPECT_EQ(photoBytes, QvTest::readFile(photo));
            EXPECT_NE(std::string::npos, log.find("Invalid output path " + photo)) << log;
            continue;
        }
        EXPECT_EQ(c.file.empty(), QvTest::fileExists(output));
        if (!c.file.empty()) {
            EXPECT_NE(std::string::npos, log.find("replaceable file " + c.file)) << log;
        }
        remove(output.c_str());
    }
}

// A hostile template tries to bring files of the host into its video: each
// attempt is refused like a missing file, the render ends, and the video
// shows only the template's own content. The last row is the host's own
// photo, named in the script data, which the script may show.
TEST(RenderVideo, TemplateReadsNothingOfTheHost) {
    TempDir dir("qvescape");
    const std::string secret = dir.file("secret") + "/";
    mkdir(secret.c_str(), 0755);
    const QvTest::Rgb magenta{255, 0, 255};
    ASSERT_TRUE(QvTest::makeImage(secret + "secret.png", 64, 48, magenta));
    QvTest::VideoSpec clip;
    clip.width = 64;
    clip.height = 48;
    clip.frames = 5;
    ASSERT_TRUE(QvTest::makeVideo(secret + "secret.mp4", clip));
    ASSERT_TRUE(QvTest::writeTones(secret + "secret.m4a", {QvTest::Tone{1000.0, 0.5}}));
    ASSERT_TRUE(QvTest::ffmpeg({"-i", secret + "secret.m4a", "-c:a", "aac", "-f", "mpegts", secret + "secret.ts"}));
    // A script track started past its own end: the mix gives no sound.
    const std::string tone = dir.file("user-tone.m4a");
    ASSERT_TRUE(QvTest::writeTones(tone, {QvTest::Tone{440.0, 0.5}}));
    const std::string silentTrack = "AudioManager.setStartTime(ctx, AudioManager.addTrack(ctx, "
                                    "data:match('\"tone\":\"([^\"]+)\"')), 1048576)";
    ASSERT_TRUE(QvTest::writeFile(secret + "x.json", "[1,2,3]"));
    ASSERT_EQ(0, mkfifo((secret + "pipe.ts").c_str(), 0644));
    // A video whose header announces 16000 x 16000 frames, held three times
    // (decoded, converted, texture): 3 GB, past the picture budget.
    const std::string bomb = dir.file("bomb.mov");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "color=c=magenta:s=16x16:d=0.08:r=25", "-c:v", "png", bomb}));
    std::string bytes = QvTest::readFile(bomb);
    const size_t entry = bytes.find("png ");
    ASSERT_NE(std::string::npos, entry);
    bytes.replace(entry + 28, 4, std::string("\x3e\x80\x3e\x80", 4));
    const std::string user = dir.file("user-photo.png");
    ASSERT_TRUE(QvTest::makeImage(user, 64, 48, {0, 255, 0}));
    const std::string secretBefore = QvTest::readFile(secret + "x.json") + QvTest::readFile(secret + "secret.png");

    auto playlist = [](const std::string& target) {
        return "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + target + "\n#EXT-X-ENDLIST\n";
    };
    const std::string leak = "ctx:getLayerByUIKey('hero'):setSourceID("
                             "ctx:createSolidSource(Color.create('#FF00FF'), 64, 48))";
    const QvTest::Rgb red{255, 0, 0}, blue{0, 0, 255}, green{0, 255, 0};
    auto config = [](const std::string& asset, const std::string& bg, const std::string& transform) {
        return R"({"type":1,"fps":25,"main":"main","assets":[{"key":"img","type":1,"name":")" + asset +
               R"("}],"comps":[{"name":"main","size":[64,48],"bg":")" + bg + R"(","duration":3,"layers":[
                 {"type":1,"uuid":"h","ui_key":"hero","source":"img","range":[0,3],"transform":)" +
               transform + "}]}]}";
    };
    const std::string still = R"({"a":[0,0],"p":[0,0],"s":[1,1],"r":0,"t":1})";
    // A host template and a transform track that would show in the frames.
    ASSERT_TRUE(QvTest::writeFile(secret + "config.json", config("secret.png", "#FF00FF", still)));
    ASSERT_TRUE(
        QvTest::writeFile(secret + "away.json", R"([{"a":[0,0],"p":[64,48],"s":[1,1],"r":0,"t":1}])"));
    struct Link {
        std::string name;  // in the template, replacing what is there
        std::string target;
        bool deep;  // through folders deeper than PATH_MAX
    };
    struct Row {
        const char* name;
        std::string asset;                          // the layer's file, under assets/
        std::vector<std::pair<std::string, std::string>> files;  // written in the template
        std::string link;                           // datas/<link> -> the secret folder's x.json or itself
        std::string script;                         // body of main(ctx, data)
        std::string data;
        QvTest::Rgb expected;
        const char* logged;
        const char* status = "end";
        std::vector<Link> links = {};
        std::string transform = R"({"a":[0,0],"p":[0,0],"s":[1,1],"r":0,"t":1})";
        bool snapshot = false;  // frame 0's snapshot name is a link to the secret folder's x.json
    };
    const std::vector<Row> rows = {
        {"dotdot asset", "../../secret/secret.png", {}, "", "", "", blue, "lies outside"},
        {"linked data file", "own.png", {}, "x.json", "if ctx:loadDataFile('x.json') then " + leak + " end", "",
         red, "data file"},
        {"linked data folder", "own.png", {}, "etc", "if ctx:loadDataFile('etc/x.json') then " + leak + " end",
         "", red, "data file"},
        {"script source", "own.png", {}, "",
         "ctx:getLayerByUIKey('hero'):setSourceID(ctx:createAVFileSource('" + secret + "secret.png'))", "", blue,
         "media file"},
        {"script track", "own.png", {}, "", "AudioManager.addTrack(ctx, '" + secret + "secret.m4a')", "", red,
         "audio track"},
        {"playlist of an outside file", "list.mp4", {{"assets/list.mp4", playlist(secret + "secret.mp4")}}, "", "",
         "", blue, "cannot decode video"},
        {"playlist of a FIFO", "list.mp4", {{"assets/list.mp4", playlist(secret + "pipe.ts")}}, "", "", "", blue,
         "cannot decode video"},
        {"decompression bomb", "bomb.mov", {{"assets/bomb.mov", bytes}}, "", "", "", blue, "picture budget"},
        {"playlist as music", "own.png", {{"music.aac", playlist(secret + "secret.m4a")}}, "", "", "", red,
         "cannot be read as audio", "fail"},
        {"silent script tracks, playlist as music", "own.png", {{"music.aac", playlist(secret + "secret.ts")}}, "",
         silentTrack, "{\"tone\":\"" + tone + "\"}", red, "cannot be read as audio", "fail"},
        {"silent script tracks, playlist of a FIFO as music", "own.png",
         {{"music.aac", playlist(secret + "pipe.ts")}}, "", silentTrack, "{\"tone\":\"" + tone + "\"}", red,
         "cannot be read as audio", "fail"},
        {"photo named in the script data", "own.png", {}, "",
         "ctx:getLayerByUIKey('hero'):setSourceID(ctx:createAVFileSource(data:match('\"photo\":\"([^\"]+)\"')))",
         "{\"photo\":\"" + user + "\"}", green, ""},
        // Links whose lookup passes folders deeper than PATH_MAX, to each reader.
        {"deep image", "deep.png", {}, "", "", "", blue, "media file", "end",
         {{"assets/deep.png", secret + "secret.png", true}}},
        {"deep video", "deep.mp4", {}, "", "", "", blue, "media file", "end",
         {{"assets/deep.mp4", secret + "secret.mp4", true}}},
        {"deep script source", "own.png", {}, "",
         "ctx:getLayerByUIKey('hero'):setSourceID(ctx:createAVFileSource('TPL/lua/deep.png'))", "", blue,
         "media file", "end", {{"lua/deep.png", secret + "secret.png", true}}},
        {"deep music", "own.png", {}, "", "", "", red, "music", "end",
         {{"music.aac", secret + "secret.m4a", true}}},
        {"deep track", "own.png", {}, "", "AudioManager.addTrack(ctx, 'TPL/lua/deep.m4a')", "", red,
         "audio track", "end", {{"lua/deep.m4a", secret + "secret.m4a", true}}},
        {"deep transform data", "own.png", {}, "", "", "", red, "data file", "end",
         {{"datas/deep.json", secret + "away.json", true}}, "\"deep.json\""},
        {"deep data file", "own.png", {}, "", "if ctx:loadDataFile('deep.json') then " + leak + " end", "", red,
         "data file", "end", {{"datas/deep.json", "/proc/self/environ", true}}},
        {"config.json linked out", "own.png", {}, "", "", "", red, "config.json", "cancel",
         {{"config.json", secret + "config.json", false}}},
        {"snapshot over a link", "own.png", {}, "", "", "", red, "", "end", {}, still, true},
    };
    int key = 70;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = dir.file(std::string("tpl-") + std::to_string(key)) + "/";
        for (const char* sub : {"", "assets", "datas", "lua"}) mkdir((folder + sub).c_str(), 0755);
        ASSERT_TRUE(QvTest::makeImage(folder + "assets/own.png", 64, 48, red));
        for (const auto& file : row.files) ASSERT_TRUE(QvTest::writeFile(folder + file.first, file.second));
        if (!row.link.empty()) {
            const std::string target = row.link == "etc" ? secret : secret + row.link;
            ASSERT_EQ(0, symlink(target.c_str(), (folder + "datas/" + row.link).c_str()));
        }
        QvTest::writeFile(folder + "config.json", config(row.asset, "#0000FF", row.transform));
        for (const Link& link : row.links) {
            unlink((folder + link.name).c_str());
            ASSERT_TRUE(link.deep ? QvTest::makeDeepLink(folder + link.name, link.target)
                                  : symlink(link.target.c_str(), (folder + link.name).c_str()) == 0);
        }
        const std::string output = dir.file("escape.mp4");
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), ++key));
        const std::string shot = folder + "shot-";
        if (row.snapshot) {
            ASSERT_EQ(0, symlink((secret + "x.json").c_str(), (shot + "0.png").c_str()));
            ASSERT_EQ(0, zr_render_process_set_snapshot_dir(&handle, shot));
            ASSERT_EQ(0, zr_render_process_set_snapshot_frames(&handle, {0}));
        }
        if (!row.script.empty()) {
            std::string script = row.script;
            const size_t at = script.find("TPL/");
            if (at != std::string::npos) script.replace(at, 4, folder);
            QvTest::writeFile(folder + "lua/main.lua", "function main(ctx, data)\n" + script + "\nend\n");
            zr_render_process_set_lua_main_file(&handle, folder + "lua/main.lua");
            zr_render_process_set_lua_dir(&handle, folder + "lua");
            zr_render_process_set_lua_data(&handle, row.data);
        }
        std::string log;
        const auto begin = std::chrono::steady_clock::now();
        {
            QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
            zr_render_process_start(&handle, nullptr);
            log = capture.stop();
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        EXPECT_LT(took.count(), 120.0) << "the render hung on the input";
        EXPECT_STREQ(row.status, zr_render_process_status(&handle)) << log;
        expectNothingLeftBehind(handle, output);
        zr_render_process_release(&handle);
        if (*row.logged) EXPECT_NE(std::string::npos, log.find(row.logged)) << log;
        const std::vector<QvTest::Rgb> frames = QvTest::frameColors(output);
        EXPECT_EQ(std::string(row.status) == "end" ? 3u : 0u, frames.size());
        for (const QvTest::Rgb& c : frames) {
            EXPECT_NEAR(row.expected.r, c.r, 12);
            EXPECT_NEAR(row.expected.g, c.g, 12);
            EXPECT_NEAR(row.expected.b, c.b, 12);
        }
        EXPECT_EQ("", QvTest::probe(output, "a:0", "codec_name")) << "no audio of the host";
        if (row.snapshot) expectPngFilledWith(shot + "0.png", 64, 48, {255, 0, 0, 255});
        remove(output.c_str());
    }
    EXPECT_EQ(secretBefore, QvTest::readFile(secret + "x.json") + QvTest::readFile(secret + "secret.png"));
}

// A dynamic template of one-file segments over a background of `backgroundFrames`
// frames: an entrance of `entranceFrames` frames and an exit that starts
// `exitOffset` frames after it.
std::string dynamicJson(int entranceFrames, int backgroundFrames, long long exitOffset) {
    auto layer = [](const std::string& source, int frames) {
        return "{\"type\":1,\"source\":\"" + source + "\",\"range\":[0," + std::to_string(frames) +
               "],\"transform\":{\"a\":[0,0,0],\"p\":[0,0,0],\"s\":[1,1,1],\"r\":0,\"t\":1}}";
    };
    auto comp = [&](const std::string& name, int frames, const std::string& source) {
        return "{\"name\":\"" + name + "\",\"size\":[64,48],\"duration\":" + std::to_string(frames) +
               ",\"layers\":[" + layer(source, frames) + "]}";
    };
    return R"({"type":2,"fps":25,"size":[64,48],"bg":"#000000","assets":[
                {"type":4,"key":"ph","name":"#808080","size":[64,48]},
                {"type":4,"key":"bgs","name":"#2040A0","size":[64,48]},{"type":3,"key":"aS","name":"S"}],
              "sources":[)" +
           comp("S", 1000, "ph") + "],\"entrance\":" + comp("E", entranceFrames, "ph") +
           ",\"exit\":" + comp("X", 5, "ph") + ",\"background\":" + comp("B", backgroundFrames, "bgs") +
           ",\"segments\":[" + comp("A", 10, "aS") + "],\"offsets\":{\"X\":" + std::to_string(exitOffset) + "}}";
}

// Thirty red 16x16 solids that all take their transform from "datas/move.json".
// Layer i names the track as "./" i times then "move.json" when `spellings`.
std::string sharedTrackJson(bool spellings = false) {
    std::string layers;
    std::string name = "move.json";
    for (int i = 0; i < 30; ++i) {
        layers += std::string(i ? "," : "") + "{\"type\":1,\"uuid\":\"l" + std::to_string(i) +
                  "\",\"source\":\"red\",\"transform\":\"" + name + "\"}";
        if (spellings) name = "./" + name;
    }
    return R"({"type":1,"fps":25,"main":"main","assets":[{"key":"red","type":4,"name":"#FF0000","size":[16,16]}],)"
           R"("comps":[{"name":"main","size":[64,48],"bg":"#336699","duration":5,"layers":[)" +
           layers + "]}]}";
}

// Every template the check lets through renders whole, or is refused before
// "start" with its reason: tiny pictures, extreme rates and factors, huge
// solids, timelines no host can want (given, assembled or set by a script),
// a large data file that many layers name.
TEST(RenderVideo, EveryAcceptedTemplateRendersOrIsRefused) {
    TempDir dir("qvrender");
    auto solid = [](int width, int height, const std::string& fps, long long frames, const std::string& extra) {
        return "{\"type\":1,\"fps\":" + fps + ",\"main\":\"main\",\"assets\":[" + extra +
               "],\"comps\":[{\"name\":\"main\",\"size\":[" + std::to_string(width) + "," + std::to_string(height) +
               "],\"bg\":\"#336699\",\"duration\":" + std::to_string(frames) + ",\"layers\":[" +
               (extra.empty() ? "" : "{\"type\":1,\"uuid\":\"s\",\"source\":\"big\"}") + "]}]}";
    };
    const std::string huge = R"({"key":"big","type":4,"name":"#FF0000","size":[100000000,100000000]})";
    struct Case {
        const char* name;
        std::string config;
        float bitrate;       // 0: the default
        const char* script;  // the body of main(c), or null
        const char* status;
        // "end": decoded frames, coded size and duration; otherwise the reason logged.
        int frames, width, height;
        const char* duration;
        const char* reason;  // also: a line that an "end" logs
        float musicVolume = 0;              // above 0: the host's music at this volume
        std::string muxProgram = "";        // a stand-in for ffmpeg's mux, on PATH
        // "datas/move.json", when given; and a pixel of the first frame that must be red.
        std::string data = "";
        int redX = -1, redY = -1;
        int stallLimitMs = 0;               // above 0: the parent's silence limit, shortened
        int muxFloorMs = 1500;              // with a stand-in: the shortest mux time limit
    };
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    // Slower than the shortened silence limit, then the real mux.
    const std::string slowMux = "sleep 6\nPATH='" + path + "'\nexec ffmpeg \"$@\"";
    const std::string music = dir.file("music.mp3");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 1.0}}));
    const std::string track = QvTest::largeTrack(24u << 20);
    const Case cases[] = {
        {"one fps", solid(64, 48, "1", 3, ""), 0, nullptr, "end", 3, 64, 48, "3.000000", ""},
        {"one pixel", solid(1, 1, "25", 5, ""), 0, nullptr, "end", 5, 2, 2, "0.200000", ""},
        {"three pixels", solid(3, 3, "25", 5, ""), 0, nullptr, "end", 5, 4, 4, "0.200000", ""},
        {"smallest factor", solid(64, 48, "25", 5, ""), 0.01f, nullptr, "end", 5, 64, 48, "0.200000", ""},
        {"1000 fps", solid(64, 48, "1000", 12, ""), 0, nullptr, "end", 12, 64, 48, "0.012000", ""},
        {"one frame at 1000 fps", solid(64, 48, "1000", 1, ""), 0, nullptr, "end", 1, 64, 48, "0.001000", ""},
        {"7 fps", solid(64, 48, "7", 12, ""), 0, nullptr, "end", 12, 64, 48, "1.714286", ""},
        {"script moves on", solid(64, 48, "25", 10, ""), 0, "c:setCurrentCompTime(9)", "end", 1, 64, 48,
         "0.040000", ""},
        {"huge solid", solid(64, 48, "25", 5, huge), 0, nullptr, "cancel", 0, 0, 0, "",
         "has a side of 100000000 pixels, above the largest"},
        {"years of frames", solid(64, 48, "25", 1ll << 40, ""), 0, nullptr, "cancel", 0, 0, 0, "",
         "timeline of 1099511627776 frames is longer than the longest, 2160000"},
        {"a day and a frame", solid(64, 48, "25", 2160001, ""), 0, nullptr, "cancel", 0, 0, 0, "",
         "longer than the longest"},
        {"far exit", dynamicJson(10, 40, 2147483647), 0, nullptr, "cancel", 0, 0, 0, "",
         "longer than the longest"},
        {"short tiles", dynamicJson(20000000, 1, 0), 0, nullptr, "cancel", 0, 0, 0, "",
         "longer than the longest"},
        {"many tiles", dynamicJson(65600, 1, 0), 0, nullptr, "cancel", 0, 0, 0, "",
         "would be repeated more than 65536 times"},
        {"tiled dynamic", dynamicJson(30, 8, 0), 0, nullptr, "end", 35, 64, 48, "1.400000", ""},
        {"script empties", solid(64, 48, "25", 10, ""), 0, "c:setCompDuration(0)", "fail", 0, 0, 0, "",
         "after the scripts, the main timeline has no frame"},
        // A day at 1 fps is 86400 frames; a script may ask for 2^20.
        {"script stretches", solid(64, 48, "1", 10, ""), 0, "c:setCompDuration(1 << 20)", "fail", 0, 0, 0, "",
         "after the scripts, the main timeline of 1048576 frames is longer than the longest, 86400"},
        // Past what the AAC encoder holds (it fails, or spins for ever): kept out.
        {"music volume 1e10", solid(64, 48, "25", 5, ""), 0, nullptr, "end", 5, 64, 48, "0.200000",
         "is not a finite gain from 0 to 100000, 1.000000 kept", 1e10f},
        {"music volume 1e11", solid(64, 48, "25", 5, ""), 0, nullptr, "end", 5, 64, 48, "0.200000",
         "is not a finite gain from 0 to 100000, 1.000000 kept", 1e11f},
        {"mux past its limit", solid(64, 48, "25", 5, ""), 0, nullptr, "fail", 0, 0, 0, "",
         "ffmpeg command ran past its time limit of 1500 ms and was killed", 0, "exec sleep 100"},
        // A mux may outlast the silence limit: the child repeats its progress meanwhile.
        {"mux longer than the silence limit", solid(64, 48, "25", 5, ""), 0, nullptr, "end", 5, 64, 48,
         "0.200000", "", 0, slowMux, "", -1, -1, 2500, 60000},
        {"mux past its limit, longer than the silence limit", solid(64, 48, "25", 5, ""), 0, nullptr, "fail",
         0, 0, 0, "", "ffmpeg command ran past its time limit of 6000 ms and was killed", 0, "exec sleep 100",
         "", -1, -1, 2500, 6000},
        // Read once for all the layers: read for each, it kept the render from "start" in time.
        {"thirty layers, one track", sharedTrackJson(), 0, nullptr, "end", 5, 64, 48, "0.200000", "", 0, "",
         track, 48, 32},
        // Read once for the file, not once for each way of spelling its name.
        {"thirty layers, thirty spellings of one track", sharedTrackJson(true), 0, nullptr, "end", 5, 64, 48,
         "0.200000", "", 0, "", track, 48, 32},
    };
    TempDir standIn("qvmux");
    int key = 700;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.file(std::to_string(key)) + "/";
        ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
        ASSERT_TRUE(QvTest::writeFile(folder + "config.json", c.config));
        if (!c.data.empty()) {
            ASSERT_EQ(0, mkdir((folder + "datas").c_str(), 0755));
            ASSERT_TRUE(QvTest::writeFile(folder + "datas/move.json", c.data));
        }
        const std::string output = dir.file(std::to_string(key) + ".mp4");
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), ++key));
        if (c.bitrate > 0) ASSERT_EQ(0, zr_render_process_set_bitrate_control(&handle, c.bitrate));
        if (c.musicVolume > 0) {
            ASSERT_EQ(0, zr_render_process_set_music_path(&handle, music, false));
            ASSERT_EQ(0, zr_render_process_set_music_volume(&handle, c.musicVolume));
        }
        if (!c.muxProgram.empty()) {
            ASSERT_TRUE(QvTest::writeFile(standIn.file("ffmpeg"), "#!/bin/sh\n" + c.muxProgram + "\n"));
            chmod(standIn.file("ffmpeg").c_str(), 0755);
            ASSERT_TRUE(QvTest::writeFile(output, "an older video"));
            setenv("PATH", (standIn.path() + ":" + path).c_str(), 1);
            Quorvane::Core::SetMuxTimeFloorForTesting(std::chrono::milliseconds(c.muxFloorMs));
        }
        Quorvane::Core::SetRenderStallLimitForTesting(std::chrono::milliseconds(c.stallLimitMs));
        if (c.script) {
            ASSERT_TRUE(QvTest::writeFile(folder + "main.lua", std::string("function main(c) ") + c.script + " end"));
            zr_render_process_set_lua_main_file(&handle, folder + "main.lua");
        }
        std::string log;
        {
            QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
            // A generous outer guard: a render that hangs fails here, not the suite's timeout.
            std::promise<void> done;
            std::future<void> finished = done.get_future();
            std::thread host([&] {
                zr_render_process_start(&handle, CallbackRecorder::callback);
                done.set_value();
            });
            if (finished.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
                ADD_FAILURE() << "the render still runs after 120 s";
                for (int child : QvTaskTest::childProcesses()) kill(child, SIGKILL);
            }
            host.join();
            log = capture.stop();
        }
        setenv("PATH", path.c_str(), 1);
        Quorvane::Core::SetMuxTimeFloorForTesting(std::chrono::milliseconds(0));
        Quorvane::Core::SetRenderStallLimitForTesting(std::chrono::milliseconds(0));
        EXPECT_STREQ(c.status, zr_render_process_status(&handle)) << log;
        EXPECT_NE(std::string::npos, log.find(c.reason)) << log;
        if (std::string(c.status) == "end") {
            EXPECT_EQ(c.duration, zr_render_process_rendered_info(&handle)["duration"]);
            EXPECT_EQ(std::to_string(c.frames), QvTest::probe(output, "v:0", "nb_read_frames"));
            EXPECT_EQ(std::to_string(c.width), QvTest::probe(output, "v:0", "width"));
            EXPECT_EQ(std::to_string(c.height), QvTest::probe(output, "v:0", "height"));
            EXPECT_NEAR(atof(c.duration), QvTest::probeDuration(output), c.musicVolume > 0 ? 0.05 : 0.002);
            EXPECT_EQ(c.musicVolume > 0 ? "aac" : "", QvTest::probe(output, "a:0", "codec_name"));
            if (!c.muxProgram.empty()) {
                // The last frame's progress, repeated while the slow mux ran, reached the host as
                // further updates; the final word still came last.
                const std::vector<std::string> words = CallbackRecorder::instance().words(&handle);
                ASSERT_FALSE(words.empty());
                EXPECT_EQ("end", words.back());
                EXPECT_GT(std::count(words.begin(), words.end(), "update"), c.frames);
                EXPECT_FLOAT_EQ((c.frames - 1.0f) / c.frames, zr_render_process_progress(&handle));
            }
            if (c.redX >= 0) {
                // Red where the track puts every layer, the background colour where none is.
                const std::string rgb = firstFrameRgb(output);
                ASSERT_EQ(64u * 48u * 3u, rgb.size());
                auto channel = [&rgb](int x, int y, int i) { return static_cast<unsigned char>(rgb[(y * 64 + x) * 3 + i]); };
                EXPECT_GE(channel(c.redX, c.redY, 0), 240);
                EXPECT_LE(channel(c.redX, c.redY, 1), 15);
                EXPECT_NEAR(0x33, channel(8, 8, 0), 4);
                EXPECT_NEAR(0x99, channel(8, 8, 2), 4);
            }
        } else if (!c.muxProgram.empty()) {
            EXPECT_EQ("an older video", QvTest::readFile(output));
        } else {
            EXPECT_FALSE(QvTest::fileExists(output));
        }
        if (std::string(c.status) == "cancel") {
            EXPECT_NE(std::string::npos, log.find("Invalid template: ")) << log;
            // Refused before "start": the host heard nothing else.
            EXPECT_EQ(std::vector<std::string>{"cancel"}, CallbackRecorder::instance().words(&handle));
        }
        CallbackRecorder::instance().clear(&handle);
        expectNothingLeftBehind(handle, output);
        zr_render_process_release(&handle);
    }
}

// The host's music, shorter than the video and looped, runs to the video's end.
TEST(RenderVideo, LoopedHostMusicFillsTheVideo) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "music", 64, 48, 25, 75, "#406080");
    std::string music = dir.file("tone.aac");
    ASSERT_TRUE(QvTest::ffmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=1", "-c:a", "aac", music}));
    std::string output = dir.file("music.mp4");
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 36));
    ASSERT_EQ(0, zr_render_process_set_music_path(&handle, music, true));
    ASSERT_EQ(0, zr_render_process_set_music_volume(&handle, 0.5f));
    ASSERT_EQ(0, zr_render_process_set_music_fadeout_duration(&handle, 1));
    EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    zr_render_process_release(&handle);
    EXPECT_EQ("aac", QvTest::probe(output, "a:0", "codec_name"));
    EXPECT_NEAR(3.0, atof(QvTest::probe(output, "a:0", "duration").c_str()), 0.1);
    EXPECT_EQ("75", QvTest::probe(output, "v:0", "nb_read_frames"));
    EXPECT_TRUE(QvTest::fileExists(music));  // the host's file is left alone
}

// A host whose callback is slow still gets every word before start returns:
// the receiver reads up to the child's final word after the child has ended.
std::atomic<int> gSlowCalls{0};
void slowCallback(unsigned long* handle, const char* status) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ++gSlowCalls;
    CallbackRecorder::callback(handle, status);
}

// Renders an eight-frame green template through `callback`; the handle (the
// slot the callback is given) is left for the caller to read and release.
struct GreenRender {
    std::string output;
    unsigned long handle = 0;
    int result = -1;
};
void renderGreen(const TempDir& dir, const std::string& name, zr_render_process_callback callback,
                 GreenRender* render) {
    std::string folder = QvTaskTest::writeSolidTemplate(dir, name, 32, 32, 25, 8, "#00FF00");
    render->output = dir.file(name + ".mp4");
    if (zr_create_render_process(&render->handle, folder.c_str(), render->output.c_str(), 32) == 0)
        render->result = zr_render_process_start(&render->handle, callback);
}

TEST(RenderVideo, SlowCallbackLosesNoFinalWord) {
    TempDir dir("qvrender");
    GreenRender render;
    renderGreen(dir, "slow", slowCallback, &render);
    unsigned long& handle = render.handle;
    EXPECT_EQ(0, render.result);
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
    expectNothingLeftBehind(handle, output);
    EXPECT_FALSE(QvTest::fileExists(output));
    EXPECT_EQ(descriptors, QvTaskTest::openDescriptorCount());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// An older file at the output path stays, byte for byte, until the new video
// is complete: the mux writes beside it and the finished video replaces it.
// A render that is refused, fails or is killed leaves it as it was.
TEST(RenderVideo, AnOlderOutputStaysUntilTheNewVideoIsComplete) {
    TempDir dir("qvrender");
    const char kOlder[] = "an older video\0\xff\x01 with bytes of every kind";
    const std::string older(kOlder, sizeof kOlder - 1);
    std::string solid = QvTaskTest::writeSolidTemplate(dir, "solid", 32, 32, 25, 8, "#00FF00");
    std::string longer = QvTaskTest::writeSolidTemplate(dir, "long", 128, 128, 25, 3000, "#808080");
    struct Case {
        const char* name;
        std::string folder;
        std::string output;
        zr_render_process_callback callback;
        const char* status;
    } cases[] = {
        {"the render ends", solid, dir.file("ends.mp4"), nullptr, "end"},
        {"the template is refused", dir.file("none") + "/", dir.file("refused.mp4"), nullptr, "cancel"},
        // ffmpeg cannot put H.264 into Ogg: it fails after creating its output.
        {"the mux fails", solid, dir.file("mux.ogg"), nullptr, "fail"},
        {"the child is terminated", longer, dir.file("terminated.mp4"), terminateOnFirstUpdate, "crash"},
    };
    int key = 70;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QvTest::writeFile(c.output, older));
        gTerminated = false;
        unsigned long handle = 0;
        ASSERT_EQ(0, zr_create_render_process(&handle, c.folder.c_str(), c.output.c_str(), ++key));
        zr_render_process_start(&handle, c.callback);
        EXPECT_STREQ(c.status, zr_render_process_status(&handle));
        expectNothingLeftBehind(handle, c.output);
        if (c.status == std::string("end")) {
            EXPECT_EQ("8", QvTest::probe(c.output, "v:0", "nb_read_frames"));
        } else {
            EXPECT_EQ(older, QvTest::readFile(c.output));
        }
        CallbackRecorder::instance().clear(&handle);
        zr_render_process_release(&handle);
    }
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
        expectNothingLeftBehind(handle, output);
        zr_render_process_release(&handle);
        EXPECT_EQ(descriptors, QvTaskTest::openDescriptorCount()) << i;
    }
    EXPECT_EQ("2", QvTest::probe(output, "v:0", "nb_read_frames"));
}

// One template folder for all four, with equal keys and keys equal modulo
// 256: each render's queue is its own all the same.
TEST(RenderVideo, FourRendersAtOnceWithCollidingKeys) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "shared", 48, 32, 20, 6, "#0040C0");
    constexpr int kRenders = 4;
    const int keys[kRenders] = {50, 50, 1, 257};
    unsigned long handles[kRenders] = {};
    int results[kRenders];
    for (int i = 0; i < kRenders; ++i) {
        std::string output = dir.file("out" + std::to_string(i) + ".mp4");
        ASSERT_EQ(0, zr_create_render_process(&handles[i], folder.c_str(), output.c_str(), keys[i]));
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
        expectNothingLeftBehind(handles[i], output);
        CallbackRecorder::instance().clear(&handles[i]);
        zr_render_process_release(&handles[i]);
    }
}

// The host releases its render from inside its first "update": the release
// waits until the start returns, no word reaches the released handle, and
// the render still completes its video.
std::atomic<bool> gReleased{false};
std::atomic<int> gWordsAfterRelease{0};
std::atomic<int> gReleasedQueue{0};
void releaseOnFirstUpdate(unsigned long* handle, const char* status) {
    if (gReleased) {
        ++gWordsAfterRelease;
        return;
    }
    if (strcmp(status, "update") != 0) return;
    gReleasedQueue = QvTaskTest::renderQueue(*handle);
    gReleased = true;
    zr_render_process_release(handle);
}

TEST(RenderVideo, ReleaseFromInsideTheCallback) {
    TempDir dir("qvrender");
    GreenRender render;
    renderGreen(dir, "released", releaseOnFirstUpdate, &render);
    const std::string& output = render.output;
    unsigned long& handle = render.handle;
    EXPECT_EQ(0, render.result);
    EXPECT_TRUE(gReleased.load());
    EXPECT_EQ(0u, handle);
    EXPECT_EQ(0, gWordsAfterRelease.load());
    EXPECT_FALSE(QvTaskTest::queueExists(gReleasedQueue));
    EXPECT_EQ("8", QvTest::probe(output, "v:0", "nb_read_frames"));
    zr_render_process_release(&handle);  // the slot is 0: nothing
}

// A child that falls silent after "start" (its text program hangs) is killed
// once the stall limit has passed: "crash"; its partial work is gone and the
// older file at the output path is kept as it was.
TEST(RenderVideo, ChildStalledAfterStartIsKilled) {
    TempDir dir("qvrender");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "stall", 32, 32, 25, 4, "#00FF00");
    std::string output = dir.file("stall.mp4");
    ASSERT_TRUE(QvTest::writeFile(output, "an older video"));
    std::string assets = dir.file("assets") + "/";
    std::string scrivane = dir.file("scrivane") + "/";
    mkdir(assets.c_str(), 0755);
    mkdir(scrivane.c_str(), 0755);
    // Two minutes: the outer limit of this test. Should the watchdog miss the
    // stall, the render goes on after it and ends otherwise than "crash".
    ASSERT_TRUE(QvTest::writeFile(scrivane + "Scrivane", "#!/bin/sh\nexec sleep 120\n"));
    chmod((scrivane + "Scrivane").c_str(), 0755);
    ASSERT_TRUE(QvTest::writeFile(scrivane + "font_list.json", "[]"));

    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 35));
    zr_render_process_set_lua_main_file(&handle, dir.file("none.lua"));
    zr_render_process_set_lua_data(
        &handle, R"({"zr_sub_texts":[{"replace_key":"k","d_key_prefix":"none","d_texts":["a"]}],"a":"<%k%>"})");
    zr_render_process_set_asset_path(&handle, assets);
    zr_render_process_set_scrivane_path(&handle, scrivane);
    Quorvane::Core::SetRenderStallLimitForTesting(std::chrono::milliseconds(1500));
    QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
    int result = zr_render_process_start(&handle, CallbackRecorder::callback);
    std::string log = capture.stop();
    Quorvane::Core::SetRenderStallLimitForTesting(std::chrono::milliseconds(0));
    EXPECT_EQ(1, result);
    EXPECT_STREQ("crash", zr_render_process_status(&handle)) << "the watchdog did not end the stalled child";
    EXPECT_EQ((std::vector<std::string>{"start", "crash", "crash"}), CallbackRecorder::instance().words(&handle));
    EXPECT_NE(std::string::npos, log.find("Child process stalled for 1500 ms, kill child pid : ")) << log;
    expectNothingLeftBehind(handle, output);
    EXPECT_EQ("an older video", QvTest::readFile(output));
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

}  // namespace
