// Composition data without drawing: durations between rates, the current
// frame of ordinary and looping compositions, loading layers from JSON and
// refusing malformed elements, copies and duplicates, UI-key look-ups, and
// compositions that would show themselves.
#include <gtest/gtest.h>

#include <cmath>

#include <rapidjson/document.h>

#include "CompTestRoot.h"
#include "media/AVSource.h"
#include "scene/RenderAdjustmentLayer.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderNullLayer.h"
#include "shapes/MaskRender.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::CompTestRoot;

namespace {

rapidjson::Document Parse(const char* text) {
    rapidjson::Document doc;
    doc.Parse(text);
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

class CompTest : public QvTest::CompRootFixture {
protected:
    CompTest() : CompRootFixture(64, 48, 50, 200) {}
    // A registered composition loaded from JSON text.
    RenderComp* load(const std::string& name, const char* json) {
        auto* comp = new RenderComp(root, name);
        comp->loadFromJson(Parse(json));
        return comp;
    }
};

}  // namespace

TEST_F(CompTest, DurationConvertsFromTheCompositionRateToTheContextRate) {
    RenderComp* comp = load("c", R"({"fps": 25, "duration": 50})");
    EXPECT_EQ(comp->duration(), 100u);  // 50 frames of 1/25 s at 50 fps
    RenderComp* plain = load("d", R"({"duration": 50})");
    EXPECT_EQ(plain->duration(), 50u);  // rate 0: taken as it is
    RenderComp* faster = load("e", R"({"fps": 100, "duration": 51})");
    EXPECT_EQ(faster->duration(), 25u);  // 25.5 truncated
    RenderComp* negative = load("f", R"({"fps": 25, "duration": -4})");
    EXPECT_EQ(negative->duration(), 0u);  // refused, not wrapped to a huge count
    EXPECT_EQ(root->comp("c"), comp);
}

TEST_F(CompTest, CurrentFrameOfOrdinaryAndLoopingCompositions) {
    RenderComp* comp = load("c", R"({"duration": 10})");
    EXPECT_TRUE(comp->setCurrentCompTime(9));
    EXPECT_FALSE(comp->setCurrentCompTime(10));
    EXPECT_FALSE(comp->setCurrentCompTime(-1));
    EXPECT_FALSE(comp->setCurrentCompTime(9));  // already there
    EXPECT_EQ(comp->currentLocalTime(), 9);

    comp->setCompType(kCompTypeLoop);
    EXPECT_TRUE(comp->setCurrentCompTime(23));
    EXPECT_EQ(comp->currentLocalTime(), 3);
    EXPECT_TRUE(comp->setCurrentCompTime(23));  // compared with 3, not 23
    EXPECT_FALSE(comp->setCurrentCompTime(3));
    EXPECT_EQ(comp->currentLocalTime(), 3);
}

TEST_F(CompTest, LoopingCompositionWithoutLengthRefusesEveryFrame) {
    RenderComp* noDuration = load("a", "{}");
    RenderComp* zero = load("b", R"({"duration": 0})");
    for (RenderComp* comp : {noDuration, zero}) {
        comp->setCompType(kCompTypeLoop);
        EXPECT_FALSE(comp->setCurrentCompTime(1));
        EXPECT_FALSE(comp->setCurrentCompTime(12345));
        EXPECT_EQ(comp->currentLocalTime(), 0);
    }
}

TEST_F(CompTest, LayerTypesChooseTheClassAndMalformedElementsAreSkipped) {
    RenderComp* comp = load("c", R"({"size": [32, 16], "layers": [
        {"type": 1025, "uuid": "null"},
        {"type": 516, "uuid": "adjust"},
        {"type": 4, "uuid": "cam"},
        {"type": 65537, "uuid": "av3d"},
        {"uuid": "untyped"},
        {"type": "1", "uuid": "text-type"},
        {"type": 65536, "uuid": "no-kind"},
        {"type": 131073, "uuid": "collapsed"},
        7
    ]})");
    ASSERT_EQ(comp->layers().size(), 5u);
    EXPECT_NE(dynamic_cast<RenderNullLayer*>(comp->layer("null")), nullptr);
    EXPECT_EQ(dynamic_cast<RenderCameraLayer*>(comp->layer("null")), nullptr);
    EXPECT_NE(dynamic_cast<RenderAdjustmentLayer*>(comp->layer("adjust")), nullptr);
    EXPECT_NE(dynamic_cast<RenderCameraLayer*>(comp->layer("cam")), nullptr);
    ASSERT_EQ(comp->cameras().size(), 1u);
    EXPECT_EQ(comp->cameras()[0], comp->layer("cam"));
    RenderLayer* av3d = comp->layer("av3d");
    ASSERT_NE(dynamic_cast<RenderAVLayer*>(av3d), nullptr);
    EXPECT_TRUE(av3d->is3D());
    EXPECT_TRUE(comp->layer("collapsed")->isCollapse());
    EXPECT_EQ(comp->layer("untyped"), nullptr);
    EXPECT_EQ(comp->layer("no-kind"), nullptr);
    EXPECT_EQ(comp->width(), 32);
    EXPECT_EQ(comp->layer("adjust")->width(), 32);  // follows its composition

    // A second load without "layers" still forgets the cameras.
    comp->loadFromJson(Parse("{}"));
    EXPECT_TRUE(comp->cameras().empty());
}

TEST_F(CompTest, SizeNeedsTwoPositiveIntegers) {
    for (const char* json : {R"({"size": [100]})", R"({"size": []})", R"({"size": [100, "x"]})",
                             R"({"size": [0, 10]})", R"({"size": [-5, 10]})"}) {
        RenderComp* comp = load(json, json);
        comp->setCompSize(20, 10);
        comp->loadFromJson(Parse(json));
        EXPECT_EQ(comp->width(), 20) << json;
        EXPECT_EQ(comp->height(), 10) << json;
    }
    RenderComp* comp = load("ok", R"({"size": [7, 9, 3]})");
    EXPECT_EQ(comp->width(), 7);
    EXPECT_EQ(comp->height(), 9);
}

TEST_F(CompTest, BackgroundOnlyForTheMainComposition) {
    RenderComp* comp = load("c", R"({"bg": "#ff0000"})");
    EXPECT_TRUE(comp->backgroundColor().equal(Color()));  // default opaque white kept
    comp->setCompType(kCompTypeMain);
    comp->loadFromJson(Parse(R"({"bg": "#ff0000"})"));
    EXPECT_TRUE(comp->backgroundColor().equal(Color(1, 0, 0, 1)));
}

TEST_F(CompTest, CopySharesSourcesWhileDuplicateMakesNewOnes) {
    root->solid("red", Color(1, 0, 0, 1), 8, 8);
    RenderComp* comp = load("c", R"({"duration": 12, "size": [16, 16], "layers": [
        {"type": 1, "uuid": "a", "source": "red"},
        {"type": 1, "uuid": "b", "source": "red"},
        {"type": 4, "uuid": "cam"}]})");
    comp->contentLoaded();
    auto* a = static_cast<RenderAVLayer*>(comp->layer("a"));
    ASSERT_NE(a->layerSource(), nullptr);

    RenderComp* copy = root->comp(root->duplicateComp(*comp));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->name(), comp->name());
    EXPECT_EQ(copy->duration(), 12u);
    ASSERT_EQ(copy->layers().size(), 3u);
    EXPECT_EQ(copy->cameras().size(), 1u);
    EXPECT_EQ(static_cast<RenderAVLayer*>(copy->layer("a"))->layerSource(), a->layerSource());

    std::map<std::string, std::string> keys;
    RenderComp* dup = root->comp(root->duplicateCompWithReusedSource(comp, keys));
    ASSERT_NE(dup, nullptr);
    auto* dupA = static_cast<RenderAVLayer*>(dup->layer("a"));
    auto* dupB = static_cast<RenderAVLayer*>(dup->layer("b"));
    ASSERT_NE(dupA->layerSource(), nullptr);
    EXPECT_NE(dupA->layerSource(), a->layerSource());
    EXPECT_EQ(dupA->layerSource(), dupB->layerSource());  // one source stays one source
    EXPECT_TRUE(dupA->layerSource()->sourceColor().equal(Color(1, 0, 0, 1)));
    EXPECT_EQ(keys.size(), 1u);
}

TEST_F(CompTest, DuplicateCopiesNestedCompositionsOnce) {
    RenderComp* inner = load("inner", R"({"duration": 5, "size": [8, 8]})");
    root->createCompSource(inner, "innerSource", "");
    RenderComp* outer = load("outer", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1, "uuid": "x", "source": "innerSource"},
        {"type": 1, "uuid": "y", "source": "innerSource"}]})");
    inner->contentLoaded();
    outer->contentLoaded();
    std::map<std::string, std::string> keys;
    RenderComp* dup = root->comp(root->duplicateCompWithReusedSource(outer, keys));
    ASSERT_NE(dup, nullptr);
    AVSource* shown = static_cast<RenderAVLayer*>(dup->layer("x"))->layerSource();
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(shown->sourceComp(), nullptr);
    EXPECT_NE(shown->sourceComp(), inner);
    EXPECT_EQ(shown, static_cast<RenderAVLayer*>(dup->layer("y"))->layerSource());
}

TEST_F(CompTest, CompositionShowingItselfIsRefused) {
    // Directly: a layer of "self" shows "self".
    RenderComp* self = load("self", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1, "uuid": "loop", "source": "selfSource"}]})");
    root->createCompSource(self, "selfSource", "");
    // Through others: a -> b -> a.
    RenderComp* a = load("a", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1, "uuid": "toB", "source": "bSource"}]})");
    RenderComp* b = load("b", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1, "uuid": "toA", "source": "aSource"}]})");
    root->createCompSource(a, "aSource", "");
    root->createCompSource(b, "bSource", "");
    for (RenderComp* comp : {self, a, b}) comp->contentLoaded();

    auto* loop = static_cast<RenderAVLayer*>(self->layer("loop"));
    EXPECT_EQ(loop->layerSource(), nullptr);
    EXPECT_FALSE(loop->layerHasContent());
    // The first link of the ring is attached; the one that closes it is not.
    EXPECT_NE(static_cast<RenderAVLayer*>(a->layer("toB"))->layerSource(), nullptr);
    EXPECT_EQ(static_cast<RenderAVLayer*>(b->layer("toA"))->layerSource(), nullptr);

    // Look-ups and drawing terminate.
    std::vector<RenderLayer*> found;
    a->digLayersWithUIKeyStartWith("", found);
    EXPECT_FALSE(a->hasAnimation());
    a->draw(0);
    // A duplicate of a composition whose layer still names the refused key
    // terminates too.
    std::map<std::string, std::string> keys;
    EXPECT_NE(root->comp(root->duplicateCompWithReusedSource(b, keys)), nullptr);
}

TEST_F(CompTest, UIKeyLookUpsDescendIntoShownCompositions) {
    RenderComp* inner = load("inner", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1024, "uuid": "i1", "ui_key": "photo_2"},
        {"type": 1024, "uuid": "i2", "ui_key": "photo"}]})");
    root->createCompSource(inner, "innerSource", "");
    RenderComp* outer = load("outer", R"({"duration": 5, "size": [8, 8], "layers": [
        {"type": 1024, "uuid": "o1", "ui_key": "photo"},
        {"type": 1, "uuid": "o2", "source": "innerSource", "ui_key": "ph"},
        {"type": 1, "uuid": "o3", "ui_key": "photo_1"}]})");
    inner->contentLoaded();
    outer->contentLoaded();

    EXPECT_EQ(outer->getLayerByUIKey("photo"), outer->layer("o1"));
    EXPECT_EQ(outer->getLayerByUIKey(""), nullptr);
    std::vector<RenderLayer*> found;
    outer->digLayersByUIKey("photo", found);
    EXPECT_EQ(found, (std::vector<RenderLayer*>{outer->layer("o1"), inner->layer("i2")}));
    found.clear();
    outer->digLayersWithUIKeyStartWith("photo", found);
    EXPECT_EQ(found, (std::vector<RenderLayer*>{outer->layer("o1"), outer->layer("o3"), inner->layer("i1"),
                                                inner->layer("i2")}));
    found.clear();
    outer->getLayersWithUIKeyStartWith("", found);
    EXPECT_TRUE(found.empty());
}

TEST_F(CompTest, AVLayerKeysMaskAndSourceRegistration) {
    root->solid("red", Color(1, 0, 0, 1), 8, 4);
    RenderComp* comp = load("c", R"({"duration": 5, "size": [16, 16], "layers": [
        {"type": 1, "uuid": "a", "source": "red", "blend": 3, "matte": 1, "range": [0, 0],
         "mask": [[{"hole": false}], [{"hole": true}]]},
        {"type": 1, "uuid": "b", "source": "red", "blend": 99, "matte": "x", "mask": []}]})");
    auto* a = static_cast<RenderAVLayer*>(comp->layer("a"));
    auto* b = static_cast<RenderAVLayer*>(comp->layer("b"));
    EXPECT_EQ(a->sourceID(), "red");
    EXPECT_EQ(a->layerSource(), nullptr);  // attached at contentLoaded
    EXPECT_EQ(a->blendMode(), static_cast<BlendMode>(3));
    EXPECT_EQ(a->matteType(), kAlphaMatte);
    EXPECT_EQ(b->blendMode(), BlendMode::Normal);
    EXPECT_EQ(b->matteType(), kNoTrackMatte);
    ASSERT_TRUE(a->hasMask());
    EXPECT_EQ(a->mask()->maskCount(), 2u);
    EXPECT_TRUE(a->mask()->flip());
    EXPECT_FALSE(b->hasMask());  // an empty array makes no mask
    // A second "mask" key replaces the first (the old one is freed: the
    // sanitizer build reports a leak otherwise).
    a->loadFromJson(Parse(R"({"mask": [[], [], []]})"));
    EXPECT_EQ(a->mask()->maskCount(), 3u);
    EXPECT_EQ(a->matteLayer(), b);
    EXPECT_TRUE(b->isMatteLayer());
    EXPECT_EQ(b->matteLayer(), nullptr);

    comp->contentLoaded();
    AVSource* red = root->source("red");
    ASSERT_EQ(a->layerSource(), red);
    EXPECT_EQ(a->width(), 8);
    EXPECT_EQ(a->height(), 4);
    EXPECT_EQ(a->layerType() & (kAVLayer | kSolidLayer), kAVLayer | kSolidLayer);
    EXPECT_EQ(a->layerDuration().frameCount(), 1);  // "range" gave none: the source's length
    EXPECT_EQ(red->passesUseThisSource().size(), 2u);

    // Destroying a layer takes it out of its source's users.
    comp->removeLayer(a);
    delete a;
    ASSERT_EQ(red->passesUseThisSource().size(), 1u);
    EXPECT_EQ(red->passesUseThisSource()[0], static_cast<RenderPass*>(b));
    b->removeSource();
    EXPECT_TRUE(red->noneUseThisSource());
}

TEST_F(CompTest, CameraDefaultsFocalLengthsAndProjection) {
    RenderComp* comp = load("c", R"({"duration": 5, "size": [1920, 1080], "layers": [
        {"type": 4, "uuid": "cam", "focal": 1000},
        {"type": 4, "uuid": "bad", "focal": "missing.json"}]})");
    auto* cam = static_cast<RenderCameraLayer*>(comp->layer("cam"));
    RenderCameraLayer fresh(comp);
    EXPECT_FLOAT_EQ(fresh.getFov(), 45);
    EXPECT_FLOAT_EQ(fresh.getNear(), 1);
    EXPECT_FLOAT_EQ(fresh.getFar(), 20000);
    EXPECT_FLOAT_EQ(fresh.getAspect(), 16.0f / 9.0f);
    EXPECT_NEAR(fresh.getFocalLength(), 540.0 / std::tan(22.5 * M_PI / 180.0), 0.01);
    // Frustum of fov 45, aspect 16/9, near 1, far 20000: element [5] is
    // near / top = 1 / tan(22.5 degrees).
    EXPECT_NEAR(fresh.getProjectionMatrix().m[5], 1.0 / std::tan(22.5 * M_PI / 180.0), 1e-4);
    EXPECT_NEAR(fresh.getProjectionMatrix().m[0], 1.0 / std::tan(22.5 * M_PI / 180.0) * 9.0 / 16.0, 1e-4);

    cam->prepareForFrame(0);
    EXPECT_NEAR(cam->getFov(), 2.0 * std::atan(540.0 / 1000.0) * 180.0 / M_PI, 1e-3);
    cam->prepareForFrame(7);
    EXPECT_NEAR(cam->getFov(), 56.7, 0.05);
    EXPECT_TRUE(static_cast<RenderCameraLayer*>(comp->layer("bad"))->focalLengths().empty());

    // The same value does not rebuild the projection, another one does.
    Mat4 before = fresh.getProjectionMatrix();
    fresh.setNear(1, true);
    EXPECT_EQ(fresh.getProjectionMatrix(), before);
    fresh.setNear(2, true);
    EXPECT_NE(fresh.getProjectionMatrix(), before);
}
