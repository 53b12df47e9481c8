// The dynamic compositions on their own: a source composition fitting its
// file by fill type (with the blurred copy), the template's marked layers,
// segments finding their source compositions, and copies.
#include <gtest/gtest.h>

#include "DynamicTestSupport.h"
#include "effects/GaussianBlurEffect.h"
#include "render/GLRenderDestination.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class DynamicCompTest : public DynamicFixture {
protected:
    // A template whose one source composition "S" has the given size and layers.
    DynamicSourceComp* sourceComp(int width, int height, const std::string& layers,
                                  const std::string& assets = std::string()) {
        DynamicTemplate t(width, height);
        t.raw("\"others\":[]");
        std::string json = t.json();
        // Replace the empty source list with S of the wanted size.
        const std::string empty = "\"sources\":[]";
        json.replace(json.find(empty), empty.size(),
                     "\"sources\":[" + DynamicTemplate::comp("S", width, height, 10, layers) + "]");
        if (!assets.empty()) json.replace(json.find("\"assets\":["), 10, "\"assets\":[" + assets + ",");
        build(json, {});
        return context->dynamicSourceComp(name("S"));
    }
    std::string image(const std::string& file, int width, int height, Rgb color = {255, 0, 0}) {
        const std::string path = folder.asset(file);
        EXPECT_TRUE(makeImage(path, width, height, color));
        return path;
    }
};

}  // namespace

TEST_F(DynamicCompTest, FillTypesScaleTheFileAndAddTheBlurredCopy) {
    const std::string square = image("square.png", 1080, 1080);
    const std::string half = image("half.png", 960, 1080);
    // 1920 x 1080 composition: the square gives rx 1.7778, ry 1; the half-width image rx 2, ry 1.
    struct Case {
        DynamicSourceFillType type;
        float squareScale, halfScale;
        bool blurred;
    };
    const float wide = 1920.0f / 1080.0f;
    const Case cases[] = {
        {kDynamicFillCover, wide, 2, false},
        {kDynamicFillFitBlurred, 1, 1, true},
        {kDynamicFillFit, 1, 1, false},
        {kDynamicFillWidth, wide, 2, false},
        {kDynamicFillWidthBlurred, wide, 2, true},
        {kDynamicFillHeight, 1, 1, false},
        {kDynamicFillHeightBlurred, 1, 1, true},
    };
    for (const Case& c : cases) {
        for (bool useSquare : {true, false}) {
            DynamicSourceComp* s = sourceComp(1920, 1080, avLayer("ph", 0, 10));
            ASSERT_NE(s, nullptr);
            s->setFillType(c.type);
            s->setNewSourceFile(useSquare ? square : half);
            const float scale = useSquare ? c.squareScale : c.halfScale;
            const float cover = useSquare ? wide : 2.0f;
            ASSERT_EQ(s->layers().size(), c.blurred ? 2u : 1u) << c.type;
            RenderLayer* shown = s->layers().back();
            EXPECT_NEAR(shown->getScale(0).x, scale, 1e-4) << c.type;
            EXPECT_NEAR(shown->getScale(0).y, scale, 1e-4) << c.type;
            EXPECT_EQ(shown->getScale(0).z, 1.0f);
            // Centred: the file's centre on the composition's centre.
            EXPECT_EQ(shown->getAnchor(0).x, useSquare ? 540.0f : 480.0f);
            EXPECT_EQ(shown->getPosition(0).x, 960.0f);
            EXPECT_EQ(shown->getPosition(0).y, 540.0f);
            if (!c.blurred) {
                EXPECT_EQ(s->blurredCopyLayer(), nullptr);
                continue;
            }
            RenderLayer* copy = s->layers().front();
            EXPECT_EQ(copy, s->blurredCopyLayer());
            EXPECT_NEAR(copy->getScale(0).x, cover, 1e-4) << c.type;
            EXPECT_EQ(copy->getPosition(0).x, 960.0f);
            EXPECT_EQ(static_cast<RenderAVLayer*>(copy)->sourceID(),
                      static_cast<RenderAVLayer*>(shown)->sourceID());
            ASSERT_EQ(copy->numEffects(), 1u);
            auto* blur = dynamic_cast<GaussianBlurEffect*>(copy->getEffectByIndex(0));
            ASSERT_NE(blur, nullptr);
            EXPECT_EQ(blur->blurPixels(), 20.0f);
            EXPECT_EQ(blur->sampleRadius(), 36);
            // No records: every frame keeps the 20 pixels.
            copy->prepareForFrame(7);
            EXPECT_EQ(blur->blurPixels(), 20.0f);
        }
    }
}

TEST_F(DynamicCompTest, BlurredCopyFillsTheSidesOnTheRenderedImage) {
    const std::string red = image("red.png", 32, 32);
    for (DynamicSourceFillType type : {kDynamicFillFit, kDynamicFillFitBlurred}) {
        DynamicSourceComp* s = sourceComp(64, 32, avLayer("ph", 0, 10));
        ASSERT_NE(s, nullptr);
        s->setFillType(type);
        s->setNewSourceFile(red);
        s->draw(0);
        ASSERT_NE(s->readDestination(), nullptr);
        const Pixels p = readDestination(s->readDestination());
        EXPECT_EQ(p.packed(32, 16), 0xFF0000FF) << type;
        // Beside the file: nothing for type 2, the blurred copy (red) for type 1.
        EXPECT_EQ(p.packed(4, 16), type == kDynamicFillFit ? 0u : 0xFF0000FFu) << type;
        EXPECT_FALSE(s->sourceIsVideo());
        // A still image is drawn once; drawing again keeps the image.
        s->draw(0);
        EXPECT_EQ(readDestination(s->readDestination()).packed(32, 16), 0xFF0000FF);
    }
}

TEST_F(DynamicCompTest, NewFileReplacesTheBlurredCopy) {
    const std::string red = image("red.png", 32, 32);
    const std::string green = image("green.png", 16, 32, {0, 255, 0});
    DynamicSourceComp* s = sourceComp(64, 32, avLayer("ph", 0, 10));
    ASSERT_NE(s, nullptr);
    s->setFillType(kDynamicFillFitBlurred);
    s->setNewSourceFile(red);
    RenderAVLayer* first = s->blurredCopyLayer();
    ASSERT_NE(first, nullptr);
    const std::string firstKey = first->sourceID();
    s->setNewSourceFile(red);  // the same path again changes nothing
    EXPECT_EQ(s->blurredCopyLayer(), first);
    s->setNewSourceFile(green);
    ASSERT_EQ(s->layers().size(), 2u);
    ASSERT_NE(s->blurredCopyLayer(), nullptr);
    EXPECT_NE(s->blurredCopyLayer()->sourceID(), firstKey);
    EXPECT_EQ(s->blurredCopyLayer()->layerSource()->mainFile(), green);
    EXPECT_EQ(s->sourceFile(), green);
}

TEST_F(DynamicCompTest, MarkedLayersChooseWhereTheFileGoes) {
    const std::string red = image("red.png", 32, 32);
    {
        // "_source_img_" with a source: that source takes the file; nothing else changes.
        DynamicSourceComp* s = sourceComp(
            64, 32, avLayer("ph", 0, 10) + "," + avLayer("ph2", 0, 10, 0, 0, ",\"ui_key\":\"_source_img_\""),
            fileAsset("ph2", "placeholder.png"));
        ASSERT_NE(s, nullptr);
        auto* marked = dynamic_cast<RenderAVLayer*>(s->layers()[1]);
        ASSERT_NE(marked, nullptr);
        ASSERT_NE(marked->layerSource(), nullptr);
        const std::string key = marked->sourceID();
        s->setNewSourceFile(red);
        EXPECT_EQ(marked->sourceID(), key);
        EXPECT_EQ(marked->layerSource()->mainFile(), red);
        EXPECT_EQ(dynamic_cast<RenderAVLayer*>(s->layers()[0])->sourceID(), name("ph"));
    }
    {
        // "_source_img_" without a source falls through: "_dynamic_img_" gets the file.
        DynamicSourceComp* s = sourceComp(
            64, 32,
            avLayer("ph", 0, 10) + "," + avLayer("missing", 0, 10, 0, 0, ",\"ui_key\":\"_source_img_\"") +
                "," + avLayer("ph", 0, 10, 0, 0, ",\"ui_key\":\"_dynamic_img_\""));
        ASSERT_NE(s, nullptr);
        s->setNewSourceFile(red);
        auto* target = dynamic_cast<RenderAVLayer*>(s->layers().back());
        ASSERT_NE(target->layerSource(), nullptr);
        EXPECT_EQ(target->layerSource()->mainFile(), red);
        EXPECT_EQ(dynamic_cast<RenderAVLayer*>(s->layers()[0])->sourceID(), name("ph"));
    }
    {
        // No marked layer: the bottom layer; a null layer there takes nothing but the path is recorded.
        DynamicSourceComp* s = sourceComp(64, 32, "{\"type\":1024,\"range\":[0,10]}," + avLayer("ph", 0, 10));
        ASSERT_NE(s, nullptr);
        s->setNewSourceFile(red);
        EXPECT_EQ(s->sourceFile(), red);
        EXPECT_EQ(dynamic_cast<RenderAVLayer*>(s->layers()[1])->sourceID(), name("ph"));
    }
    {
        // An empty composition only records the path.
        DynamicSourceComp* s = sourceComp(64, 32, "");
        ASSERT_NE(s, nullptr);
        s->setNewSourceFile(red);
        EXPECT_EQ(s->sourceFile(), red);
        EXPECT_TRUE(s->layers().empty());
    }
}

TEST_F(DynamicCompTest, SegmentsFindTheirSourcesAndCopiesKeepTheirKind) {
    DynamicTemplate t(64, 32);
    t.source("S1").source("S2");
    // Two layers show S1 (one replaceable source); S2 sits inside a plain composition.
    const std::string inner = DynamicTemplate::comp("inner", 32, 32, 10, avLayer("aS2", 0, 10));
    t.raw("\"others\":[" + inner + "]");
    std::string segmentLayers =
        avLayer("aS1", 0, 10) + "," + avLayer("aInner", 0, 10, 32, 0) + "," + avLayer("aS1", 0, 10, 16, 0);
    std::string json = t.json();
    json.replace(json.find("\"segments\":[]"), 13,
                 "\"segments\":[" + DynamicTemplate::comp("A", 64, 32, 10, segmentLayers) + "]");
    json.replace(json.find("\"assets\":["), 10, "\"assets\":[" + compAsset("aInner", "inner") + ",");
    const std::vector<std::string> paths = files(4);
    build(json, {});
    auto* segment = dynamic_cast<DynamicSegmentComp*>(context->comp(name("A")));
    ASSERT_NE(segment, nullptr);
    segment->loadSourceComps();
    ASSERT_EQ(segment->replaceableSourceCount(), 2u);
    EXPECT_EQ(segment->sourceComps()[0], context->dynamicSourceComp(name("S1")));
    EXPECT_EQ(segment->sourceComps()[1], context->dynamicSourceComp(name("S2")));
    EXPECT_EQ(segment->sourceLayers()[0], segment->layers()[0]);

    // Fewer files than sources: nothing changes; more: the first ones are used.
    segment->setReplaceableFiles({paths[0]});
    EXPECT_TRUE(segment->sourceComps()[0]->sourceFile().empty());
    segment->setReplaceableFiles(paths);
    EXPECT_EQ(segment->sourceComps()[1]->sourceFile(), paths[1]);
    EXPECT_EQ(segment->getSourceForFile(paths[1]), segment->sourceComps()[1]);
    EXPECT_EQ(segment->getSourceForFile(paths[2]), nullptr);
    EXPECT_EQ(segment->getLayerForFile(paths[0]), segment->layers()[0]);
    EXPECT_EQ(segment->getLayerForFile(""), nullptr);
    std::vector<RenderAVLayer*> users;
    segment->getLayerForFile(paths[0], users);
    // Both layers of the segment that show S1's source.
    EXPECT_EQ(users.size(), 2u);

    // A copy shares the source compositions; a duplicate has its own.
    auto* copy = dynamic_cast<DynamicSegmentComp*>(context->comp(context->duplicateComp(*segment)));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->sourceComps(), segment->sourceComps());
    std::map<std::string, std::string> keys;
    auto* dup = dynamic_cast<DynamicSegmentComp*>(
        context->comp(context->duplicateCompWithReusedSource(segment, keys)));
    ASSERT_NE(dup, nullptr);
    ASSERT_EQ(dup->replaceableSourceCount(), 2u);
    EXPECT_NE(dup->sourceComps()[0], segment->sourceComps()[0]);
    // The duplicated source composition keeps the fill type but not the file.
    EXPECT_EQ(dup->sourceComps()[0]->fillType(), segment->sourceComps()[0]->fillType());
    EXPECT_TRUE(dup->sourceComps()[0]->sourceFile().empty());
    auto* sourceCopy = dynamic_cast<DynamicSourceComp*>(context->comp(context->duplicateComp(name("S1"))));
    ASSERT_NE(sourceCopy, nullptr);
    EXPECT_TRUE(sourceCopy->isDynamic());
    EXPECT_EQ(sourceCopy->dynamicElement(), kDynamicElementSource);
}
