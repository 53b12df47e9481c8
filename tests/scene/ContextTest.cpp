// The render context built from templates written here: frames drawn and read
// back, stepping, what a context that cannot be drawn does, how asset records
// become sources, and teardown of a scene that uses everything at once.
#include <gtest/gtest.h>

#include <memory>

#include "core/FileCodec.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "scene/ContextTestSupport.h"
#include "scene/FilterManager.h"
#include "scene/RenderAVLayer.h"
#include "support/MediaGen.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class ContextTest : public ContextFixture {
protected:
    std::string key(const std::string& name) const { return config->prefix() + name; }
};

}  // namespace

TEST_F(ContextTest, MinimalTemplateDrawsTenFramesOfSolidOverBackground) {
    RenderContext* ctx =
        build(normalTemplate(320, 240, 10, avLayer("red", 0, 10), solidAsset("red", "#FF0000", 160, 120)));
    ASSERT_TRUE(ctx->isLoaded());
    EXPECT_EQ(ctx->width(), 320);
    EXPECT_EQ(ctx->height(), 240);
    EXPECT_EQ(ctx->duration(), 10u);
    int frames = 0;
    do {
        ctx->draw(0);
        Pixels pixels = readContext(*ctx);
        EXPECT_EQ(pixelAt(pixels, 40, 30), kRed) << "frame " << frames;
        EXPECT_EQ(pixelAt(pixels, 240, 180), kBlue) << "frame " << frames;
        // Inside the solid's corner and just outside it (the edge strip is one pixel wide).
        EXPECT_EQ(pixelAt(pixels, 157, 117), kRed) << "frame " << frames;
        EXPECT_EQ(pixelAt(pixels, 162, 122), kBlue) << "frame " << frames;
        EXPECT_EQ(ctx->isComeToEnd(), frames == 9);
        ++frames;
    } while (ctx->stepForward());
    EXPECT_EQ(frames, 10);
    EXPECT_EQ(ctx->currentLocalTime(), 9);
    EXPECT_TRUE(ctx->isComeToEnd());
}

TEST_F(ContextTest, NestedCompositionShowsOnlyOverItsRange) {
    const std::string inner =
        "{\"name\":\"inner\",\"size\":[40,40],\"duration\":10,\"layers\":[" + avLayer("green", 0, 10) + "]}";
    RenderContext* ctx = build(
        normalTemplate(320, 240, 20, avLayer("innerSrc", 5, 10, 160, 120),
                       solidAsset("green", "#00FF00", 40, 40) + "," + compAsset("innerSrc", "inner"), inner));
    ASSERT_TRUE(ctx->isLoaded());
    ASSERT_NE(ctx->comp(key("inner")), nullptr);
    AVSource* src = ctx->source(key("innerSrc"));
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->sourceComp(), ctx->comp(key("inner")));
    int frame = 0;
    do {
        ctx->draw(0);
        Pixels pixels = readContext(*ctx);
        const bool shown = frame >= 5 && frame < 15;
        EXPECT_EQ(pixelAt(pixels, 180, 140), shown ? kGreen : kBlue) << "frame " << frame;
        EXPECT_EQ(pixelAt(pixels, 150, 110), kBlue) << "frame " << frame;
        ++frame;
    } while (ctx->stepForward());
    EXPECT_EQ(frame, 20);
}

TEST_F(ContextTest, ContextBelowOneFrameASecondIsNotLoadedAndDrawsNothing) {
    RenderContext* ctx = build(normalTemplate(320, 240, 10, avLayer("red", 0, 10),
                                              solidAsset("red", "#FF0000", 160, 120), "", 1, "0.5"));
    EXPECT_FALSE(ctx->isLoaded());
    EXPECT_TRUE(ctx->isComeToEnd());
    EXPECT_FALSE(ctx->stepForward());
    EXPECT_FALSE(ctx->stepBackward());
    EXPECT_TRUE(ctx->sources().empty());
    EXPECT_TRUE(ctx->comps().empty());
    EXPECT_TRUE(ctx->layers().empty());
    EXPECT_EQ(ctx->createSolidSource(Color(1, 0, 0, 1), 4, 4, "k", ""), "");
    EXPECT_EQ(ctx->createPreComp(4, 4, 4, "c"), "");
    EXPECT_TRUE(ctx->sources().empty());

    // Whatever is bound stays as it was: nothing is drawn, nothing pushed.
    GLRenderDestination target(16, 16);
    ctx->frameBufferManager()->pushDestination(&target);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ctx->draw(0);
    ctx->beginReadContent();
    EXPECT_EQ(ctx->frameBufferManager()->destinationCount(), 1u);
    Pixels pixels = GLFixture::readFramebuffer(0, 0, 16, 16);
    EXPECT_EQ(pixelAt(pixels, 8, 8), kGreen);
    ctx->endReadContent();
    EXPECT_EQ(ctx->frameBufferManager()->popDestination(false), &target);

    // Neither is a template without a size.
    RenderContext* sizeless = build(normalTemplate(0, 240, 10, "", ""));
    EXPECT_FALSE(sizeless->isLoaded());
}

TEST_F(ContextTest, ContextFromNumbersIsLoadedForAnyPositiveRateAndSomeFrames) {
    RenderContext slow(64, 48, 0.5f, 10, "images", true, 0, -1);
    EXPECT_TRUE(slow.isLoaded());
    EXPECT_EQ(slow.duration(), 10u);
    EXPECT_EQ(slow.name(), "images");
    EXPECT_EQ(slow.config()->templateType(), TemplateTypeInMemory);
    EXPECT_FALSE(slow.isComeToEnd());
    EXPECT_NE(slow.createSolidSource(Color(1, 0, 0, 1), 4, 4, "k", ""), "");

    RenderContext empty(64, 48, 30.0f, 0, "images", true, 0, -1);
    EXPECT_FALSE(empty.isLoaded());
    EXPECT_TRUE(empty.isComeToEnd());
    RenderContext zeroWidth(0, 48, 30.0f, 5, "images", true, 0, -1);
    EXPECT_FALSE(zeroWidth.isLoaded());
    zeroWidth.draw(0);
}

TEST_F(ContextTest, SteppingStopsAtBothEnds) {
    RenderContext* ctx =
        build(normalTemplate(32, 32, 3, avLayer("red", 0, 3), solidAsset("red", "#FF0000", 8, 8)));
    EXPECT_FALSE(ctx->stepBackward());
    EXPECT_EQ(ctx->currentLocalTime(), 0);
    EXPECT_TRUE(ctx->stepForward());
    EXPECT_TRUE(ctx->stepForward());
    EXPECT_TRUE(ctx->isComeToEnd());
    EXPECT_FALSE(ctx->stepForward());
    EXPECT_EQ(ctx->currentLocalTime(), 2);
    EXPECT_TRUE(ctx->stepBackward());
    EXPECT_EQ(ctx->currentLocalTime(), 1);
    EXPECT_FALSE(ctx->isComeToEnd());
}

TEST_F(ContextTest, AssetRecordsBecomeSources) {
    const std::string assets =
        solidAsset("solid", "#00FF00", 7, 5) + "," + compAsset("noComp", "missing") + "," +
        fileAsset("file", "pic.png") + "," + fileAsset("seq", "flare.jpg", 2) + "," +
        "{\"type\":1,\"key\":\"preset\",\"name\":\"pic.png\",\"num\":3,\"preset\":[\"/x/a.png\",\"/x/"
        "b.png\"]}," +
        "{\"type\":1,\"key\":\"presetOne\",\"name\":\"pic.png\",\"preset\":[\"/x/c.png\"]}," +
        fileAsset("noDot", "flare", 3) + "," + fileAsset("huge", "x.png", 2000000000) + "," +
        "{\"type\":7,\"key\":\"other\",\"name\":\"x\"}";
    testing::internal::CaptureStderr();
    RenderContext* ctx = build(normalTemplate(32, 32, 3, "", assets));
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ctx->isLoaded());

    AVSource* solid = ctx->source(key("solid"));
    ASSERT_NE(solid, nullptr);
    EXPECT_EQ(solid->sourceType(), AVSource::kSourceTypeSolid);
    EXPECT_EQ(solid->width(), 7);
    EXPECT_EQ(solid->height(), 5);
    EXPECT_FLOAT_EQ(solid->sourceColor().g, 1.0f);
    EXPECT_NE(solid->getConfigJson().find("#00FF00"), std::string::npos);

    AVSource* noComp = ctx->source(key("noComp"));
    ASSERT_NE(noComp, nullptr);
    EXPECT_EQ(noComp->sourceComp(), nullptr);
    EXPECT_TRUE(ctx->comps().empty());

    ASSERT_NE(ctx->source(key("file")), nullptr);
    EXPECT_EQ(ctx->source(key("file"))->mainFile(), folder.folder() + "assets/pic.png");

    AVSource* seq = ctx->source(key("seq"));
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(seq->imageSequenceFils(), (std::vector<std::string>{folder.folder() + "assets/flare_0.jpg",
                                                                  folder.folder() + "assets/flare_1.jpg"}));
    AVSource* preset = ctx->source(key("preset"));
    ASSERT_NE(preset, nullptr);
    EXPECT_EQ(preset->imageSequenceFils(), (std::vector<std::string>{"/x/a.png", "/x/b.png"}));
    ASSERT_NE(ctx->source(key("presetOne")), nullptr);
    EXPECT_EQ(ctx->source(key("presetOne"))->mainFile(), "/x/c.png");

    // A sequence name without an extension is refused, and says so.
    EXPECT_EQ(ctx->source(key("noDot")), nullptr);
    EXPECT_NE(log.find("image sequence asset " + key("noDot")), std::string::npos) << log;
    EXPECT_EQ(ctx->source(key("other")), nullptr);
    // A count no template needs is refused instead of exhausting memory.
    EXPECT_EQ(ctx->source(key("huge")), nullptr);
    EXPECT_NE(log.find("names 2000000000 files"), std::string::npos) << log;
}

TEST_F(ContextTest, ReadingBeforeTheFirstFrameLeavesTheCallersTargetBound) {
    RenderContext* ctx = build(normalTemplate(32, 32, 3, "", ""));
    GLRenderDestination target(8, 8);
    ctx->frameBufferManager()->pushDestination(&target);
    ctx->beginReadContent();
    ctx->endReadContent();
    EXPECT_EQ(ctx->frameBufferManager()->topDestination(), &target);
    ctx->draw(0);
    ctx->beginReadContent();
    EXPECT_EQ(ctx->frameBufferManager()->destinationCount(), 2u);
    ctx->endReadContent();
    EXPECT_EQ(ctx->frameBufferManager()->popDestination(false), &target);
}

TEST_F(ContextTest, ReplacedAssetUsesItsNameAsAFullPath) {
    folder.writeConfig(
        normalTemplate(32, 32, 3, "", "{\"type\":1,\"key\":\"photo\",\"name\":\"pic.png\",\"ui\":{}}"));
    config.reset(new Config(folder.folder()));
    config->setReplaceableFilePaths({"/elsewhere/mine.png"});
    context.reset(new RenderContext(config.get(), nullptr, true, 0, -1));
    ASSERT_NE(context->source(key("photo")), nullptr);
    EXPECT_EQ(context->source(key("photo"))->mainFile(), "/elsewhere/mine.png");
}

TEST_F(ContextTest, SecondCompositionOfATakenNameIsNeverUsed) {
    const std::string comps = "{\"name\":\"dup\",\"size\":[8,8],\"duration\":3,\"layers\":[" +
                              avLayer("red", 0, 3) +
                              "]},{\"name\":\"dup\",\"size\":[16,16],\"duration\":3,\"layers\":[" +
                              avLayer("red", 0, 3) + "," + avLayer("red", 0, 3) + "]},{\"name\":7}";
    testing::internal::CaptureStderr();
    RenderContext* ctx =
        build(normalTemplate(32, 32, 3, avLayer("dupSrc", 0, 3),
                             solidAsset("red", "#FF0000", 8, 8) + "," + compAsset("dupSrc", "dup"), comps));
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(ctx->comps().size(), 1u);
    RenderComp* dup = ctx->comp(key("dup"));
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup->width(), 8);
    EXPECT_EQ(dup->layers().size(), 1u);
    EXPECT_EQ(ctx->source(key("dupSrc"))->sourceComp(), dup);
    EXPECT_NE(log.find("defined twice"), std::string::npos) << log;
    // Drawing and teardown touch only the composition that was kept (the
    // sanitizer run proves nothing dangles).
    ctx->draw(0);
    ctx->stepForward();
    ctx->draw(0);
}

TEST_F(ContextTest, SettingsBitSwitchesTransparencyAndBackgroundComesFromTemplate) {
    std::string json = normalTemplate(32, 32, 3, "", "");
    json.insert(1, "\"settings\":{\"attr\":1},");
    RenderContext* ctx = build(json);
    ASSERT_TRUE(ctx->isLoaded());
    EXPECT_EQ(config->attrSetttings(), 1);
    ctx->draw(0);
    Pixels pixels = readContext(*ctx);
    EXPECT_EQ(pixelAt(pixels, 16, 16), kBlue);
}

TEST_F(ContextTest, DataFilesComeFromTheTemplateDatasFolder) {
    RenderContext* ctx = build(normalTemplate(32, 32, 3, "", ""));
    EXPECT_EQ(ctx->dataFile("t.json"), folder.folder() + "datas/t.json");
    EXPECT_EQ(ctx->loadDataFile("missing.json"), nullptr);
    writeFile(folder.folder() + "datas/t.json", "[1]");
    std::unique_ptr<FileCodec> codec(ctx->loadDataFile("t.json"));
    EXPECT_NE(codec, nullptr);
    EXPECT_NE(ctx->drawLock(), nullptr);
    EXPECT_TRUE(ctx->enableAdvanceResample());
    ctx->setEnableAdvanceResample(false);
    EXPECT_FALSE(ctx->enableAdvanceResample());
}

// Nested compositions, a source shared by layers of different compositions, a
// video, a watermark and two filters, drawn for a few frames and then deleted
// mid-render. The sanitizer build proves teardown order: nothing touches a
// deleted source, composition or frame-buffer manager.
TEST_F(ContextTest, TeardownOfAFullSceneMidRender) {
    ASSERT_TRUE(makeVideo(folder.asset("clip.mp4"), VideoSpec{32, 32, 25, 1, 12}));
    ASSERT_TRUE(makeImage(folder.asset("mark.png"), 8, 8, Rgb{255, 255, 0}));
    const std::string deep = "{\"name\":\"deep\",\"size\":[32,32],\"duration\":10,\"layers\":[" +
                             avLayer("shared", 0, 10) + "," + avLayer("clip", 0, 10, 4, 4) + "]}";
    const std::string mid = "{\"name\":\"mid\",\"size\":[48,48],\"duration\":10,\"layers\":[" +
                            avLayer("shared", 0, 10, 0, 0, ",\"mask\":[[]]") + "," +
                            avLayer("deepSrc", 2, 8, 8, 8) + "]}";
    RenderContext* ctx = build(normalTemplate(
        64, 64, 10,
        avLayer("shared", 0, 10) + "," + avLayer("midSrc", 0, 10, 8, 8) + "," + avLayer("midSrc", 3, 5),
        solidAsset("shared", "#FF0000", 16, 16) + "," + compAsset("deepSrc", "deep") + "," +
            compAsset("midSrc", "mid") + "," + fileAsset("clip", "clip.mp4"),
        deep + "," + mid));
    ASSERT_TRUE(ctx->isLoaded());
    ASSERT_NE(ctx->addWatermark(folder.asset("mark.png"), Vec2(2, 2), Vec2(0, 0), Vec2(1, 1)), "");

    TemplateFolder filterFolder;
    const std::string filterJson =
        "{\"type\":4,\"main\":\"f\",\"fps\":25,\"assets\":[" + solidAsset("g", "#00FF0080", 8, 8) +
        "],\"comps\":[{\"name\":\"f\",\"size\":[16,16],\"duration\":4,\"layers\":[" + avLayer("g", 0, 4) +
        "]}]}";
    Config filterA(filterJson, filterFolder.folder());
    Config filterB(filterJson, filterFolder.folder());
    ASSERT_NE(ctx->filterManager()->addFilter(&filterA, 0, 0), "");
    ASSERT_NE(ctx->filterManager()->addFilter(&filterB, 3, 3), "");
    for (int i = 0; i < 4; ++i) {
        ctx->draw(0);
        ctx->stepForward();
    }
    context.reset();
}

TEST_F(ContextTest, SharedCompositionsAreVisitedOnce) {
    // Composition i shows composition i + 1 through two layers: 2^levels paths
    // lead to the last one, which every walk must reach once.
    // Searched once per path, each look-up below would take 2^30 steps.
    const int levels = 30;
    std::string assets = solidAsset("red", "#FF0000", 8, 8), comps;
    for (int i = 0; i < levels; ++i) {
        const std::string next = i + 1 < levels ? "k" + std::to_string(i + 1) : "red";
        const std::string layer = avLayer(next, 0, 3, 0, 0, ",\"ui_key\":\"u\"");
        assets += "," + compAsset("k" + std::to_string(i), "c" + std::to_string(i));
        comps += std::string(i ? "," : "") + "{\"name\":\"c" + std::to_string(i) +
                 "\",\"size\":[8,8],\"duration\":3,\"layers\":[" + layer + "," + layer + "]}";
    }
    RenderContext* ctx = build(normalTemplate(8, 8, 3, avLayer("k0", 0, 3), assets, comps));
    std::vector<RenderLayer*> found;
    ctx->digLayersWithUIKeyStartWith("u", found);
    EXPECT_EQ(found.size(), 2u * levels);  // every layer once
    found.clear();
    ctx->digLayersByUIKey("u", found);
    EXPECT_EQ(found.size(), static_cast<size_t>(levels));  // the first of every composition
    EXPECT_FALSE(ctx->hasAnimation());
}

TEST_F(ContextTest, RemovingWhatLayersShowDetachesThem) {
    // Red below a composition whose green solid covers the left half, shown
    // by the main composition and by a second composition.
    const std::string pre = "{\"name\":\"pre\",\"size\":[8,8],\"duration\":5,\"layers\":[" +
                            avLayer("green", 0, 5) + "]},{\"name\":\"other\",\"size\":[8,8],\"duration\":5," +
                            "\"layers\":[" + avLayer("preSrc", 0, 5) + "]}";
    RenderContext* ctx = build(normalTemplate(
        8, 8, 5, avLayer("red", 0, 5) + "," + avLayer("preSrc", 0, 5) + "," + avLayer("otherSrc", 0, 5),
        solidAsset("red", "#FF0000", 8, 8) + "," + solidAsset("green", "#00FF00", 4, 8) + "," +
            compAsset("preSrc", "pre") + "," + compAsset("otherSrc", "other"),
        pre));
    // A composition source draws each frame once: every look is at a new frame.
    auto frame = [&] {
        ctx->draw(0);
        Pixels p = readContext(*ctx);
        ctx->stepForward();
        return std::make_pair(pixelAt(p, 1, 4), pixelAt(p, 6, 4));
    };
    EXPECT_EQ(frame(), std::make_pair(kGreen, kRed));
    ctx->removeComp(key("pre"), true);
    EXPECT_EQ(ctx->comp(key("pre")), nullptr);
    EXPECT_EQ(ctx->source(key("preSrc")), nullptr);
    EXPECT_EQ(frame(), std::make_pair(kRed, kRed));
    ctx->removeSource(key("red"), true);
    EXPECT_EQ(frame(), std::make_pair(kBlue, kBlue));
    ctx->removeComp(key("other"), true);
    EXPECT_EQ(frame(), std::make_pair(kBlue, kBlue));
}
