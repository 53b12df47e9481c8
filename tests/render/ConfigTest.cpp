// Loading a template configuration: fields per template type, storage forms,
// music, paths, data files and the user's replaceable files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "ConfigTestSupport.h"
#include "core/FileCodec.h"
#include "core/Json.h"
#include "core/Log.h"
#include "render/Config.h"

using Quorvane::Core::Color;
using Quorvane::Core::Config;
using QvTest::TempDir;
namespace Json = Quorvane::Core::Json;

namespace {

const char kNormal[] = R"({
  "type": 1, "version": "2.3.0", "description": "Birthday card",
  "fps": 25, "main": "main", "settings": {"attr": 5, "other": true}, "expand": 9, "size": [1, 1],
  "assets": [
    {"key": "img1", "name": "photo.png", "type": 1, "size": [640, 480], "ui_key": "photo",
     "ui_extra": "portrait", "ui": {"hint": "face"}},
    {"key": "seq", "name": "spark.png", "type": 1, "num": 12, "fps": 12.5, "preset": ["a.png", "b.png"]},
    {"key": "pre", "name": "intro", "type": 3},
    {"key": "solid", "name": "#ff8000", "type": 4, "size": [100, 100], "ui": {}}
  ],
  "comps": [
    {"name": "intro", "size": [320, 240], "duration": 50, "bg": "#000000",
     "layers": [{"uuid": "l1", "source": "img1"}, {"source": "seq", "parent": 0}]},
    {"name": "main", "size": [1280, 720], "duration": 250, "bg": "#336699",
     "layers": [{"uuid": "bg", "source": "solid"}, {"uuid": "pc", "source": "pre", "parent": "bg"}]}
  ]
})";

std::string withBom(const std::string& s) {
    return "\xEF\xBB\xBF" + s;
}

void expectColor(const Color& c, float r, float g, float b, float a) {
    EXPECT_NEAR(c.r, r, 1e-6);
    EXPECT_NEAR(c.g, g, 1e-6);
    EXPECT_NEAR(c.b, b, 1e-6);
    EXPECT_NEAR(c.a, a, 1e-6);
}

TEST(Config, NormalTemplateTakesItsFactsFromRootAndMainComposition) {
    TempDir dir;
    QvTest::writeTemplate(dir.path(), kNormal);
    Config c(dir.path());
    const std::string p = c.prefix();
    EXPECT_EQ(c.templateType(), Quorvane::Core::TemplateTypeNormal);
    EXPECT_EQ(c.version(), "2.3.0");
    EXPECT_EQ(c.description(), "Birthday card");
    EXPECT_EQ(c.frameRate(), 25.0f);
    EXPECT_EQ(c.attrSetttings(), 5);
    EXPECT_EQ(c.mainCompName(), p + "main");
    // Size, background and duration come from the composition named by "main"
    // only; the root "size" and "expand" belong to dynamic templates.
    EXPECT_EQ(c.mainCompWidth(), 1280);
    EXPECT_EQ(c.mainCompHeight(), 720);
    EXPECT_EQ(c.duration(), 250u);
    EXPECT_EQ(c.expand(), 0);
    expectColor(c.backgroundColor(), 0x33 / 255.0f, 0x66 / 255.0f, 0x99 / 255.0f, 1.0f);
    EXPECT_EQ(c.finalDuration(), 0u);
    EXPECT_TRUE(c.isTemplateValid());
    EXPECT_EQ(c.templatePath(), dir.path() + "/");

    ASSERT_EQ(c.assets().size(), 4u);
    EXPECT_EQ(c.assets()[0]->key, p + "img1");
    EXPECT_EQ(c.assets()[0]->width, 640);
    EXPECT_TRUE(c.assets()[0]->hasUI);
    EXPECT_EQ(c.assets()[1]->num, 12);
    EXPECT_EQ(c.assets()[2]->name, p + "intro");
    EXPECT_EQ(c.assets()[3]->name, "#ff8000");

    c.setFinalDuration(240);
    EXPECT_EQ(c.finalDuration(), 240u);
}

TEST(Config, ConfigContentIsCompactAndHoldsThePrefixedDocument) {
    Config c(std::string(kNormal), "/nonexistent");
    const std::string& text = c.configContent();
    EXPECT_EQ(text.find_first_of(" \n\t"), text.find(" card"));  // the only blank is inside a string
    Json::Document parsed, original;
    ASSERT_TRUE(Json::parse(parsed, text, Json::ByteOrderMark::Reject));
    ASSERT_TRUE(Json::parse(original, std::string(kNormal), Json::ByteOrderMark::Reject));
    const std::string p = c.prefix();
    // Undo exactly the rewrites and the one generated identifier: the rest must
    // be the file's document, member for member and in order.
    auto& layers = parsed["comps"][0]["layers"];
    ASSERT_TRUE(layers[1].HasMember("uuid"));
    EXPECT_EQ(std::string(layers[1]["parent"].GetString()), p + "l1");
    layers[1].RemoveMember("uuid");
    layers[1]["parent"].SetInt(0);
    std::string undone = Json::write(parsed);
    for (size_t at; (at = undone.find(p)) != std::string::npos;) undone.erase(at, p.size());
    EXPECT_EQ(undone, Json::write(original));
}

TEST(Config, PlainByteOrderMarkAndPackedFilesLoadAlike) {
    TempDir plain, bom, packed, encoded, packedWithBom;
    QvTest::writeTemplate(plain.path(), kNormal);
    QvTest::writeTemplate(bom.path(), withBom(kNormal));
    QvTest::writeTemplate(packed.path(), QvTest::handMadePack(kNormal, "config.json"));
    QvTest::writeTemplate(packedWithBom.path(), QvTest::handMadePack(withBom(kNormal), "config.json", false));
    {
        TempDir source;
        QvTest::writeFile(source.file("config.json"), kNormal);
        FileCodec writer(FileCodecVersion1);
        ASSERT_TRUE(writer.createPack(source.path(), "config.json", encoded.file("config.json")));
    }
    ASSERT_EQ(FileCodec::getFileCodecVersion(packed.file("config.json")), FileCodecVersion1);

    // Each loads in a fresh process, so all draw the same prefix.
    const std::string expected = QvTest::describeInFreshProcess(plain.path());
    ASSERT_NE(expected.find("\nprefix=2&\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("\nvalid=1\n"), std::string::npos) << expected;
    for (const TempDir* dir : {&bom, &packed, &encoded, &packedWithBom}) {
        EXPECT_EQ(QvTest::describeInFreshProcess(dir->path()), expected) << dir->path();
    }
}

TEST(Config, FolderWithOrWithoutSlashGivesTheSamePathsAndMusic) {
    TempDir dir;
    QvTest::writeTemplate(dir.path(), kNormal);
    QvTest::writeFile(dir.file("music.mp3"), "x");
    Config a(dir.path());
    Config b(dir.path() + "/");
    EXPECT_EQ(a.templatePath(), b.templatePath());
    EXPECT_EQ(a.musicFile(), dir.path() + "/music.mp3");
    EXPECT_EQ(a.musicFile(), b.musicFile());
    EXPECT_EQ(a.assetFolder(), dir.path() + "/assets/");
    EXPECT_EQ(a.assetFile("x.png"), dir.path() + "/assets/x.png");
    EXPECT_EQ(a.dataFile("t.json"), dir.path() + "/datas/t.json");

    QvTest::writeFile(dir.file("music.aac"), "x");
    EXPECT_EQ(Config(dir.path()).musicFile(), dir.path() + "/music.aac");

    TempDir silent;
    QvTest::writeTemplate(silent.path(), kNormal);
    EXPECT_EQ(Config(silent.path()).musicFile(), "");
    EXPECT_EQ(Config(std::string("{}"), "").templatePath(), "/");
}

TEST(Config, MusicSettersCheckTheExtensionAndExistence) {
    TempDir dir;
    Config c(640, 360, 30.0f, 90, "main");
    c.setMusicFile("/x/song.MP3");
    EXPECT_EQ(c.musicFile(), "/x/song.MP3");
    c.setMusicFile("/x/song.wav");
    c.setMusicFile("/x.aac/song");  // only the text after the last dot counts
    EXPECT_EQ(c.musicFile(), "/x/song.MP3");
    c.setMusicFile("AaC");  // no dot: the whole path is compared
    EXPECT_EQ(c.musicFile(), "AaC");
    c.setMusicFile("");  // neither mp3 nor aac: nothing changes
    EXPECT_EQ(c.musicFile(), "AaC");

    c.setMusicPath(dir.file("missing.aac"));
    EXPECT_EQ(c.musicFile(), "AaC");
    QvTest::writeFile(dir.file("tune.Aac"), "x");
    QvTest::writeFile(dir.file("tune.ogg"), "x");
    c.setMusicPath(dir.file("tune.ogg"));
    EXPECT_EQ(c.musicFile(), "AaC");
    c.setMusicPath(dir.file("tune.Aac"));
    EXPECT_EQ(c.musicFile(), dir.file("tune.Aac"));
    c.clearMusicFile();  // the engine's own: the render goes without music
    EXPECT_EQ(c.musicFile(), "");

    c.setMusicLoop(true);
    c.setMusicVolume(0.5f);
    c.setMusicFadeoutDuration(3);
    EXPECT_TRUE(c.musicLoop());
    EXPECT_EQ(c.musicVolume(), 0.5f);
    EXPECT_EQ(c.musicFadeoutDuration(), 3);
}

TEST(Config, InMemoryConfigurationReadsNoFile) {
    Config c(1920, 1080, 29.97f, 300, "stage");
    EXPECT_EQ(c.templateType(), Quorvane::Core::TemplateTypeInMemory);
    EXPECT_EQ(c.version(), Quorvane::Core::QVVersion());
    EXPECT_EQ(c.mainCompName(), "stage");
    EXPECT_EQ(c.prefix(), "");
    EXPECT_EQ(c.configContent(), "");
    EXPECT_EQ(c.musicFile(), "");
    EXPECT_EQ(c.duration(), 300u);
    EXPECT_TRUE(c.isTemplateValid());
    EXPECT_FALSE(Config(1920, 0, 30.0f, 1, "m").isTemplateValid());
    EXPECT_FALSE(Config(1920, 1080, 0.0f, 1, "m").isTemplateValid());
    EXPECT_FALSE(Config(-1920, 1080, 30.0f, 1, "m").isTemplateValid());
    EXPECT_TRUE(Config(2, 2, std::nanf(""), 1, "m").isTemplateValid());
}

TEST(Config, DynamicTemplateReadsRootSizeAndIgnoresMainComposition) {
    Config c(std::string(R"({"type":2,"fps":30.0,"size":[720,1280],"bg":"#f00","expand":2,
        "main":"m","comps":[{"name":"m","size":[10,10],"duration":7}],
        "assets":[{"key":"a"}],"description":"d","version":"9"})"),
             "/t");
    EXPECT_EQ(c.templateType(), Quorvane::Core::TemplateTypeDynamic);
    EXPECT_EQ(c.mainCompWidth(), 720);
    EXPECT_EQ(c.mainCompHeight(), 1280);
    EXPECT_EQ(c.frameRate(), 30.0f);
    EXPECT_EQ(c.expand(), 2);
    EXPECT_EQ(c.duration(), 0u);
    EXPECT_EQ(c.mainCompName(), "");
    expectColor(c.backgroundColor(), 1, 0, 0, 1);
    EXPECT_EQ(c.assets().size(), 1u);
    EXPECT_EQ(c.description(), "d");
    EXPECT_EQ(c.version(), "9");

    c.setReplaceableFilePaths({"/u/1.jpg", "", "/u/3.mp4"});
    EXPECT_EQ(c.replaceableFilePaths(), (std::vector<std::string>{"/u/1.jpg", "", "/u/3.mp4"}));
    EXPECT_FALSE(c.assets()[0]->replaced);
}

TEST(Config, FrameRateTakesIntegersAndFloatsOnly) {
    auto fps = [](const std::string& value) {
        return Config(R"({"type":1,"fps":)" + value + "}", "/t").frameRate();
    };
    EXPECT_EQ(fps("25"), 25.0f);
    EXPECT_EQ(fps("25.0"), 25.0f);
    EXPECT_EQ(fps("23.976"), 23.976f);
    EXPECT_EQ(fps("\"25\""), 0.0f);
    EXPECT_EQ(fps("1e39"), 0.0f);        // beyond the float range
    EXPECT_EQ(fps("3000000000"), 0.0f);  // an integer beyond 32 bits
    EXPECT_EQ(fps("-5"), -5.0f);
    // A repeated key is read again in document order.
    EXPECT_EQ(Config(std::string(R"({"type":4,"fps":24,"fps":"x","fps":50})"), "/t").frameRate(), 50.0f);
}

TEST(Config, MainCompositionIsTheFirstObjectWithThePrefixedName) {
    Config c(std::string(R"({"type":4,"fps":24,"main":"m","comps":[
        7, {"name":"n","size":[1,1]}, {"name":"m","size":[64,48,99],"duration":-3,"bg":5},
        {"name":"m","size":[32,32],"duration":10}]})"),
             "/t");
    EXPECT_EQ(c.mainCompWidth(), 64);
    EXPECT_EQ(c.mainCompHeight(), 48);
    // A negative duration is refused instead of wrapping to 2^64 - 3 frames.
    EXPECT_EQ(c.duration(), 0u);
    expectColor(c.backgroundColor(), 1, 1, 1, 1);
}

TEST(Config, ReplaceableFilesGoToAssetsWithUiInOrder) {
    Config c(std::string(R"({"type":1,"assets":[
        {"key":"a","name":"a.png","num":3,"ui":{}},
        {"key":"b","name":"b.png"},
        {"key":"c","name":"c.png","ui":{}},
        {"key":"d","name":"d.png","ui":{}},
        {"key":"e","name":"e.png","ui":{}}]})"),
             "/t");
    c.setReplaceableFilePaths({"/u/1.png", "", "/u/3.png"});
    const auto& a = c.assets();
    EXPECT_EQ(a[0]->name, "/u/1.png");
    EXPECT_EQ(a[0]->num, 1);
    EXPECT_TRUE(a[0]->replaced);
    EXPECT_EQ(a[1]->name, "b.png");
    EXPECT_FALSE(a[1]->replaced);
    EXPECT_EQ(a[2]->name, "c.png");  // took the empty path
    EXPECT_FALSE(a[2]->replaced);
    EXPECT_EQ(a[3]->name, "/u/3.png");
    EXPECT_EQ(a[4]->name, "e.png");  // the paths ran out
    EXPECT_TRUE(c.replaceableFilePaths().empty());

    Config filter(std::string(R"({"type":4,"assets":[{"key":"a","name":"a.png","ui":{}}]})"), "/t");
    filter.setReplaceableFilePaths({"/u/1.png"});
    EXPECT_EQ(filter.assets()[0]->name, "a.png");
    EXPECT_TRUE(filter.replaceableFilePaths().empty());
}

TEST(Config, AssetsAreFoundByUiKey) {
    Config c(std::string(kNormal), "/t");
    EXPECT_EQ(c.getExtraDataForUIKey("photo"), "portrait");
    EXPECT_EQ(c.getAssetJsonForUIKey("photo"), c.assets()[0]->json);
    EXPECT_EQ(c.getAssetJsonForUIKey(""), "");
    EXPECT_EQ(c.getExtraDataForUIKey("nope"), "");
    EXPECT_FALSE(c.setFileForAsset("", "/u/x.png"));
    EXPECT_FALSE(c.setFileForAsset("nope", "/u/x.png"));
    EXPECT_TRUE(c.setFileForAsset("photo", "/u/x.png"));
    EXPECT_EQ(c.assets()[0]->name, "/u/x.png");
    EXPECT_TRUE(c.assets()[0]->replaced);
    EXPECT_EQ(c.assets()[0]->num, 1);
}

TEST(Config, DataFilesAreDecodedForTheCaller) {
    TempDir dir;
    QvTest::writeTemplate(dir.path(), kNormal);
    Config c(dir.path());
    EXPECT_EQ(c.loadDataFile("t.json"), nullptr);
    std::filesystem::create_directory(dir.file("datas"));
    QvTest::writeFile(dir.file("datas/plain.json"), "[1,2]");
    QvTest::writeFile(dir.file("datas/packed.json"), QvTest::handMadePack("[3,4]", "packed.json"));
    std::unique_ptr<FileCodec> plain(c.loadDataFile("plain.json"));
    std::unique_ptr<FileCodec> packed(c.loadDataFile("packed.json"));
    ASSERT_TRUE(plain && packed);
    EXPECT_EQ(plain->content.substr(0, plain->size), "[1,2]");
    EXPECT_EQ(packed->content.substr(0, packed->size), "[3,4]");
}

}  // namespace
