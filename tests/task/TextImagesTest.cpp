// Texts drawn by the external renderer and host images placed into template
// layers: whole renders with a stand-in renderer (TextStandIn.cpp), checked on
// the written text list, the renderer's arguments and the rendered pixels.
#include <gtest/gtest.h>

#include <rapidjson/document.h>
#include <stb_image.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TaskTestSupport.h"
#include "TextTestSupport.h"
#include "render/Config.h"
#include "support/GLFixture.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"
#include "task/RenderTask.h"
#include "task/TextImages.h"

using namespace Quorvane::Core;
using QvTest::TempDir;
using QvTextTest::ScrivaneMode;

namespace {

class EndRecorder : public RenderDelegate {
public:
    void renderStarted() override { QvTest::GLFixture::keepLoadedLibraries(); }
    void renderEnd(bool ok) override { ended = ok ? "end" : "fail"; }
    std::string ended;
};

std::string layer(const std::string& source, const std::string& uiKey, int x, int y, int frames) {
    return "{\"type\":1,\"uuid\":\"" + uiKey + std::to_string(x) + "_" + std::to_string(y) +
           "\",\"ui_key\":\"" + uiKey + "\",\"source\":\"" + source + "\",\"range\":[0," +
           std::to_string(frames) + "],\"transform\":{\"a\":[0,0,0],\"p\":[" + std::to_string(x) + "," +
           std::to_string(y) + ",0],\"s\":[1,1,1],\"r\":0,\"t\":1}}";
}

// The template's own text image: grey, so that a frame tells a drawn text
// from the template's.
const char* const kTextAsset =
    R"({"type":1,"key":"txt","name":"text.png","ui":{"font":"Sans","default":"Hello","size":[16,16]}})";
const QvTest::Rgb kGrey{128, 128, 128};

// One segment of 128 x 32 whose source composition (32 x 32, at x 0) shows
// the user's file through the anchor layer "img_001"; text layers for the
// prefixes "t" (passes 1 to 3, pass 2 twice) and "cap" (pass 1 and the exact
// key), an image layer "photo001.1" and a text layer "solo".
std::string dynamicTemplate() {
    const int frames = 1;
    std::string segment =
        layer("aS", "img_001", 0, 0, frames) + "," + layer("txt", "t001.1", 32, 0, frames) + "," +
        layer("txt", "t001.2", 48, 0, frames) + "," + layer("txt", "t001.2", 48, 16, frames) + "," +
        layer("txt", "t001.3", 64, 0, frames) + "," + layer("txt", "cap001.1", 80, 0, frames) + "," +
        layer("txt", "cap", 96, 0, frames) + "," + layer("pic", "photo001.1", 112, 0, frames) + "," +
        layer("txt", "solo", 112, 16, frames);
    return std::string(R"({"type":2,"fps":25,"size":[128,32],"bg":"#000000","expand":0,"assets":[)") +
           R"({"type":4,"key":"ph","name":"#808080","size":[32,32]},{"type":3,"key":"aS","name":"S"},)" +
           kTextAsset + R"(,{"type":1,"key":"pic","name":"pic.png"}],)" +
           R"("sources":[{"name":"S","size":[32,32],"duration":1000,"layers":[)" +
           layer("ph", "", 0, 0, 1000) + "]}]," +
           R"("segments":[{"name":"A","size":[128,32],"duration":1,"layers":[)" + segment + "]}]}";
}

std::string normalTemplate() {
    return std::string(R"({"type":1,"fps":25,"main":"main","assets":[)") + kTextAsset +
           R"(],"comps":[{"name":"main","size":[64,32],"bg":"#0000FF","duration":1,"layers":[)" +
           layer("txt", "title", 8, 8, 1) + "]}]}";
}

struct Snapshot {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    uint32_t at(int x, int y) const {
        const unsigned char* p = rgba.data() + (y * width + x) * 4;
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
};

Snapshot loadPng(const std::string& path) {
    Snapshot shot;
    int channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &shot.width, &shot.height, &channels, 4);
    if (pixels) {
        shot.rgba.assign(pixels, pixels + shot.width * shot.height * 4);
        stbi_image_free(pixels);
    }
    return shot;
}

constexpr uint32_t packed(int r, int g, int b) {
    return (uint32_t(r) << 24) | (uint32_t(g) << 16) | (uint32_t(b) << 8) | 0xFF;
}
constexpr uint32_t kGreyPixel = packed(128, 128, 128);

// A template folder of its own, an asset folder and a renderer folder (both
// given as prefixes ending in "/"), and the user's red file.
class TextRender : public ::testing::Test {
protected:
    void SetUp() override {
        templateFolder = QvTextTest::makeFolder(dir.file("template"));
        QvTextTest::makeFolder(templateFolder + "assets");
        ASSERT_TRUE(QvTest::makeImage(templateFolder + "assets/text.png", 16, 16, kGrey));
        ASSERT_TRUE(QvTest::makeImage(templateFolder + "assets/pic.png", 16, 16, kGrey));
        userFile = dir.file("user.png");
        ASSERT_TRUE(QvTest::makeImage(userFile, 32, 32, {255, 0, 0}));
        hostImage = dir.file("host image.png");
        ASSERT_TRUE(QvTest::makeImage(hostImage, 16, 16, {0, 0, 255}));
        record = dir.file("runs");
    }

    // Renders with snapshot of frame 0; the task is kept for inspection.
    Snapshot render(const std::string& json, RenderTask*& task,
                    const std::function<void(RenderTask&)>& options) {
        QvTest::writeFile(templateFolder + "config.json", json);
        output = dir.file("out.mp4");
        task = new RenderTask(templateFolder.c_str(), output.c_str(), &delegate);
        task->setSnapShotDir(dir.file("shot"));
        task->setSnapFrames({0});
        options(*task);
        ok = task->start();
        return loadPng(dir.file("shot0.png"));
    }

    TempDir dir{"qvtext"};
    std::string templateFolder, userFile, hostImage, record, output;
    EndRecorder delegate;
    bool ok = false;
};

// The entry is the layer's configuration, "output" last, the text as the
// "default" of "ui"; configurations without "ui" or "font" add nothing.
TEST(TextJson, EntryKeepsTheLayerConfigurationWithOutputLast) {
    std::string list;
    EXPECT_TRUE(buildTextJson(list,
                              R"({"key":"k","output":"old.png","ui":{"font":"Sans","default":"a"},"n":1})",
                              "/x/\"new\".png", "two \"words\""));
    EXPECT_EQ(R"({"key":"k","ui":{"font":"Sans","default":"two \"words\""},"n":1,"output":"/x/\"new\".png"})",
              list);
    EXPECT_TRUE(buildTextJson(list, R"({"ui":{"font":"Serif"}})", "b.png", "ignored"));
    EXPECT_EQ(R"({"key":"k","ui":{"font":"Sans","default":"two \"words\""},"n":1,"output":"/x/\"new\".png"},)"
              R"({"ui":{"font":"Serif"},"output":"b.png"})",
              list);
    std::string zeroed;
    EXPECT_TRUE(
        buildTextJson(zeroed, R"({"ui":{"font":"Sans","default":""}})", "o.png", std::string("a\0b", 3)));
    EXPECT_EQ(R"({"ui":{"font":"Sans","default":"a\u0000b"},"output":"o.png"})", zeroed);

    const std::string before = list;
    for (const char* broken : {"", "{", "[1]", R"({"ui":3})", R"({"ui":{"default":"a"}})", R"({"x":{}})"}) {
        EXPECT_FALSE(buildTextJson(list, broken, "c.png", "t")) << broken;
    }
    EXPECT_EQ(before, list);

    // Members of the wrong type count as absent; item order is kept with
    // empty texts standing for non-strings.
    rapidjson::Document doc;
    doc.Parse(R"({"img_path":5,"d_key_prefix":"p","replace_key":"r","d_texts":["a",7,"c"]})");
    HostSubEntry entry = readHostSubEntry(doc, "d_texts");
    EXPECT_EQ("", entry.imagePath);
    EXPECT_EQ("p", entry.keyPrefix);
    EXPECT_EQ("r", entry.key);
    EXPECT_EQ((std::vector<std::string>{"a", "", "c"}), entry.items);
    doc.Parse(R"({"d_img_paths":"a.png"})");
    EXPECT_TRUE(readHostSubEntry(doc, "d_img_paths").items.empty());
}

// Script data texts: drawn through a renderer whose folders hold blanks,
// quotes and shell characters, started with exactly three arguments; the first
// placeholder of each key gets its image path, escaped for the JSON it sits in.
TEST_F(TextRender, ScriptDataTextsAreDrawnAndReplaceTheirPlaceholders) {
    const std::string assets = QvTextTest::makeFolder(dir.file("assets \"q\" 'x' ; touch pwned"));
    const std::string scrivane = QvTextTest::makeFolder(dir.file("bin $(touch pwned2) `touch pwned3`"));
    QvTextTest::installScrivane(scrivane, ScrivaneMode::Draw, record);
    const std::string data =
        R"({"zr_sub_texts":[{"replace_key":"t1","d_key_prefix":"title","d_texts":["#00FF00","unused"]},)"
        R"({"replace_key":"t2","d_key_prefix":"missing","d_texts":["x"]},)"
        R"({"replace_key":"t1","d_key_prefix":"title","d_texts":["#FF00FF"]}],)"
        R"("a":"<%t1%>","b":"<%t2%>","c":"<%t1%>"})";
    RenderTask* task = nullptr;
    Snapshot shot = render(normalTemplate(), task, [&](RenderTask& t) {
        t.setAssetDir(assets);
        t.setScrivaneDir(scrivane);
        t.setLuaData(data);
    });
    std::unique_ptr<RenderTask> owner(task);
    EXPECT_TRUE(ok);
    EXPECT_EQ("end", delegate.ended);

    auto runs = QvTextTest::recordedRuns(record);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ((std::vector<std::string>{scrivane + "Scrivane", scrivane + "font_list.json",
                                        assets + "text_list.json"}),
              runs[0]);
    for (const char* name : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(QvTest::fileExists(dir.file(name))) << name;
        EXPECT_FALSE(QvTest::fileExists(name)) << name;
    }

    rapidjson::Document list;
    list.Parse(QvTest::readFile(assets + "text_list.json").c_str());
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(2u, list.Size());  // the entry without a layer has none
    EXPECT_STREQ("#00FF00", list[0]["ui"]["default"].GetString());
    EXPECT_STREQ("#FF00FF", list[1]["ui"]["default"].GetString());
    EXPECT_STREQ("Sans", list[1]["ui"]["font"].GetString());
    EXPECT_STREQ(list[1]["key"].GetString(), list[0]["key"].GetString());  // the asset's own members stay
    EXPECT_STREQ("text.png", list[1]["name"].GetString());

    // The later entry of a key wins; a key without a layer gets the empty
    // text; only the first placeholder is replaced.
    rapidjson::Document replaced;
    replaced.Parse(task->luaData().c_str());
    ASSERT_FALSE(replaced.HasParseError()) << task->luaData();
    const std::string path = replaced["a"].GetString();
    EXPECT_EQ(list[1]["output"].GetString(), path);
    EXPECT_EQ(0u, path.find(assets));
    EXPECT_EQ("-title.png", path.substr(path.size() - 10));
    EXPECT_STREQ("", replaced["b"].GetString());
    EXPECT_STREQ("<%t1%>", replaced["c"].GetString());
    Snapshot image = loadPng(path);
    ASSERT_EQ(16, image.width);
    EXPECT_EQ(packed(255, 0, 255), image.at(3, 3));

    // A normal template's text layers stay as they are: the script places the images.
    ASSERT_EQ(64, shot.width);
    EXPECT_EQ(kGreyPixel, shot.at(12, 12));
    EXPECT_EQ(packed(0, 0, 255), shot.at(40, 20));
}

// A dynamic template: every text reaches the layer it was drawn for, the
// host's image its layer, and the user's file stays in its source layer.
TEST_F(TextRender, DynamicTextsAndImagesReachTheirLayers) {
    const std::string assets = QvTextTest::makeFolder(dir.file("assets"));
    const std::string scrivane = QvTextTest::makeFolder(dir.file("scrivane"));
    QvTextTest::installScrivane(scrivane, ScrivaneMode::Draw, record);
    const std::string texts =
        R"([{"img_path":")" + userFile +
        R"(","d_key_prefix":"t","d_texts":["#00FF00","#FFFF00","#FF00FF","#00FFFF"]},)" + R"({"img_path":")" +
        userFile + R"(","d_key_prefix":"cap","d_texts":["#FF8000","#0080FF"]},)" +
        R"({"img_path":"","d_key_prefix":"solo","d_texts":["#FFFFFF","#000000"]},)" +
        R"({"img_path":"/nowhere.png","d_key_prefix":"t","d_texts":["#123456"]}])";
    const std::string images = R"([{"img_path":")" + userFile +
                               R"(","d_key_prefix":"photo","d_img_paths":[")" + hostImage + R"("]}])";
    RenderTask* task = nullptr;
    Snapshot shot = render(dynamicTemplate(), task, [&](RenderTask& t) {
        t.setAssetDir(assets);
        t.setScrivaneDir(scrivane);
        t.renderConfig()->setReplaceableFilePaths({userFile});
        t.setDynamicSubTextJson(texts);
        t.setDynamicSubImgJson(images);
    });
    std::unique_ptr<RenderTask> owner(task);
    EXPECT_TRUE(ok);
    EXPECT_EQ(1u, QvTextTest::recordedRuns(record).size());

    rapidjson::Document list;
    list.Parse(QvTest::readFile(assets + "text_list.json").c_str());
    ASSERT_TRUE(list.IsArray());
    // "t": passes 1 to 3 serve four layers, the fourth text has none; "cap":
    // its indexed layer, then the exact key ends the entry; "solo": one.
    ASSERT_EQ(7u, list.Size());
    std::vector<std::string> outputs;
    for (const auto& entry : list.GetArray()) outputs.push_back(entry["output"].GetString());
    EXPECT_NE(std::string::npos, outputs[0].find("-img_001_t001.1.png"));
    EXPECT_NE(std::string::npos, outputs[3].find("-img_001_t001.3.png"));
    EXPECT_NE(std::string::npos, outputs[5].find("-cap.png"));
    EXPECT_NE(std::string::npos, outputs[6].find("-solo.png"));
    EXPECT_STREQ("#FF00FF", list[3]["ui"]["default"].GetString()) << "fourth layer, third text";

    ASSERT_EQ(128, shot.width);
    EXPECT_EQ(packed(255, 0, 0), shot.at(16, 16));       // the user's file
    EXPECT_EQ(packed(0, 255, 0), shot.at(40, 8));        // t001.1: text 1
    EXPECT_EQ(packed(255, 255, 0), shot.at(56, 8));      // t001.2: text 2
    EXPECT_EQ(packed(255, 255, 0), shot.at(56, 24));     // the other t001.2
    EXPECT_EQ(packed(255, 0, 255), shot.at(72, 8));      // t001.3: text 3
    EXPECT_EQ(packed(255, 128, 0), shot.at(88, 8));      // cap001.1: text 1
    EXPECT_EQ(packed(255, 128, 0), shot.at(104, 8));     // cap: text 1
    EXPECT_EQ(packed(0, 0, 255), shot.at(120, 8));       // the host's image
    EXPECT_EQ(packed(255, 255, 255), shot.at(120, 24));  // solo
    EXPECT_EQ(packed(0, 0, 0), shot.at(72, 24));         // background

    // The encoded video shows the same frame.
    QvTest::ProgramResult frame = QvTest::runProgram({"ffmpeg", "-v", "error", "-i", output, "-frames:v", "1",
                                                      "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(128u * 32u * 3u, frame.out.size());
    auto rgbAt = [&](int x, int y, int c) {
        return static_cast<unsigned char>(frame.out[(y * 128 + x) * 3 + c]);
    };
    EXPECT_GT(rgbAt(74, 8, 0), 200);
    EXPECT_LT(rgbAt(74, 8, 1), 60);
    EXPECT_GT(rgbAt(74, 8, 2), 200);
}

// Every failure of the text step leaves the template's texts where they
// were, the host's images still placed, and the render finishing. A link
// planted at the text list is replaced by the list, never written through.
TEST_F(TextRender, FailuresLeaveTheTemplateTextsInPlace) {
    struct Case {
        const char* name;
        ScrivaneMode mode;
        bool install;
        std::string texts;
        std::string images;
        const char* log;
        int runs;
        bool linkedList = false;
    };
    const std::string goodTexts =
        R"([{"img_path":")" + userFile + R"(","d_key_prefix":"t","d_texts":["#00FF00"]}])";
    const std::string goodImages = R"([{"img_path":")" + userFile +
                                   R"(","d_key_prefix":"photo","d_img_paths":[")" + hostImage + R"("]}])";
    const std::vector<Case> cases = {
        {"missing program", ScrivaneMode::Draw, false, goodTexts, goodImages, "Run scrivane : -1", 0},
        {"exit code", ScrivaneMode::ExitFailed, true, goodTexts, goodImages, "Run scrivane : 768", 1},
        {"no images drawn", ScrivaneMode::DrawNone, true, goodTexts, goodImages, "not found, layer t001.1",
         1},
        {"broken images drawn", ScrivaneMode::DrawBroken, true, goodTexts, goodImages,
         "cannot be read, layer t001.1 keeps its content", 1},
        {"malformed texts", ScrivaneMode::Draw, true, "[{\"img_path\":", goodImages,
         "sub text json parse error with", 0},
        {"texts not a list", ScrivaneMode::Draw, true, "{\"a\":1}", goodImages,
         "sub text json parse error with 0,", 0},
        {"malformed images", ScrivaneMode::Draw, true, goodTexts, "[1,", "sub img json parse error with", 1},
        {"hostile images", ScrivaneMode::Draw, true, goodTexts,
         R"([{"img_path":")" + userFile +
             R"(","d_key_prefix":"photo","d_img_paths":[3,"/no/such.png"]},)"
             R"({"img_path":[],"d_key_prefix":{},"d_img_paths":{}}, 7, null])",
         "sub image  not found, layer photo001.1", 1},
        {"link at the list", ScrivaneMode::Draw, true, goodTexts, goodImages, "Run scrivane : 0", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir scratch("qvtextcase");
        const std::string assets = QvTextTest::makeFolder(scratch.file("assets"));
        const std::string scrivane = QvTextTest::makeFolder(scratch.file("scrivane"));
        const std::string caseRecord = scratch.file("runs");
        if (c.install) QvTextTest::installScrivane(scrivane, c.mode, caseRecord);
        const std::string outside = scratch.file("outside");
        ASSERT_TRUE(QvTest::writeFile(outside, "kept"));
        if (c.linkedList) ASSERT_EQ(0, symlink(outside.c_str(), (assets + "text_list.json").c_str()));
        RenderTask* task = nullptr;
        QvTaskTest::StderrCapture capture(scratch.file("log"));
        Snapshot shot = render(dynamicTemplate(), task, [&](RenderTask& t) {
            t.setAssetDir(assets);
            t.setScrivaneDir(scrivane);
            t.renderConfig()->setReplaceableFilePaths({userFile});
            t.setDynamicSubTextJson(c.texts);
            t.setDynamicSubImgJson(c.images);
        });
        const std::string log = capture.stop();
        delete task;
        EXPECT_TRUE(ok);
        EXPECT_EQ("end", delegate.ended);
        EXPECT_NE(std::string::npos, log.find(c.log)) << log;
        EXPECT_EQ(static_cast<size_t>(c.runs), QvTextTest::recordedRuns(caseRecord).size());
        ASSERT_EQ(128, shot.width);
        const bool texts = c.mode == ScrivaneMode::Draw && c.install && c.texts == goodTexts;
        EXPECT_EQ(texts ? packed(0, 255, 0) : kGreyPixel, shot.at(40, 8));
        EXPECT_EQ(c.images == goodImages ? packed(0, 0, 255) : kGreyPixel, shot.at(120, 8));
        EXPECT_EQ(packed(255, 0, 0), shot.at(16, 16));
        EXPECT_EQ("kept", QvTest::readFile(outside));
        if (c.linkedList) {
            struct stat list;
            EXPECT_TRUE(lstat((assets + "text_list.json").c_str(), &list) == 0 && S_ISREG(list.st_mode));
        }
    }
}

// Script data whose texts have no layer: the renderer still runs, on an
// empty list, and the placeholder learns that no image was made.
TEST_F(TextRender, UnmatchedTextsStillRunTheRendererOnAnEmptyList) {
    const std::string assets = QvTextTest::makeFolder(dir.file("assets"));
    const std::string scrivane = QvTextTest::makeFolder(dir.file("scrivane"));
    QvTextTest::installScrivane(scrivane, ScrivaneMode::Draw, record);
    RenderTask* task = nullptr;
    render(normalTemplate(), task, [&](RenderTask& t) {
        t.setAssetDir(assets);
        t.setScrivaneDir(scrivane);
        t.setLuaData(
            R"({"zr_sub_texts":[{"replace_key":"k","d_key_prefix":"none","d_texts":["a"]}],"a":"<%k%>"})");
    });
    std::unique_ptr<RenderTask> owner(task);
    EXPECT_TRUE(ok);
    EXPECT_EQ(1u, QvTextTest::recordedRuns(record).size());
    EXPECT_EQ("[]", QvTest::readFile(assets + "text_list.json"));
    EXPECT_EQ(R"({"zr_sub_texts":[{"replace_key":"k","d_key_prefix":"none","d_texts":["a"]}],"a":""})",
              task->luaData());
}

// Without a usable asset or renderer folder nothing is drawn or run; the
// reason is logged.
TEST_F(TextRender, UnusableFoldersSkipTheTexts) {
    const std::string scrivane = QvTextTest::makeFolder(dir.file("scrivane"));
    QvTextTest::installScrivane(scrivane, ScrivaneMode::Draw, record);
    const std::string data =
        R"({"zr_sub_texts":[{"replace_key":"k","d_key_prefix":"title","d_texts":["#00FF00"]}],"a":"<%k%>"})";
    for (const std::string& assets : {std::string(), dir.file("missing/")}) {
        RenderTask* task = nullptr;
        QvTaskTest::StderrCapture capture(dir.file("log"));
        render(normalTemplate(), task, [&](RenderTask& t) {
            t.setAssetDir(assets);
            t.setScrivaneDir(scrivane);
            t.setLuaData(data);
        });
        const std::string log = capture.stop();
        std::unique_ptr<RenderTask> owner(task);
        EXPECT_TRUE(ok);
        EXPECT_NE(std::string::npos, log.find("invalid asset dir " + assets + ", or invalid scrivane dir"))
            << log;
        EXPECT_EQ(data, task->luaData());
    }
    EXPECT_TRUE(QvTextTest::recordedRuns(record).empty());
}

}  // namespace
