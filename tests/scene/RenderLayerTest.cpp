#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/TestComp.h"

using namespace Quorvane::Core;
using QvTest::TestComp;

namespace {

rapidjson::Document Parse(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

// A layer of `comp` loaded from the JSON text.
RenderLayer* AddLayer(TestComp& comp, const std::string& json) {
    auto* layer = new RenderLayer(&comp, kAVLayer, false);
    layer->loadFromJson(Parse(json));
    comp.addLayer(layer, false);
    return layer;
}

int VisibleFrames(RenderLayer* layer, long long upTo, long long* first = nullptr) {
    int count = 0;
    for (long long t = 0; t < upTo; ++t) {
        if (!layer->visibleAt(t)) continue;
        if (count++ == 0 && first) *first = t;
    }
    return count;
}

// An effect that only records its parameter; registered under a test name.
class RecordingEffect : public RenderEffect {
public:
    using RenderEffect::RenderEffect;
    std::string matchName() const override { return "QvTestRecording"; }
    void loadFromJson(const rapidjson::Value& v) override {
        if (v.HasMember("v") && v["v"].IsInt()) value = v["v"].GetInt();
    }
    int value = 0;
};

void RegisterRecordingEffect() {
    RenderEffectManager::registerEffect(
        "QvTestRecording",
        [](RenderLayer* layer) -> void* { return static_cast<RenderEffect*>(new RecordingEffect(layer)); },
        [](RenderEffect* effect, RenderLayer* layer) -> void* {
            auto* copy = new RecordingEffect(*static_cast<RecordingEffect*>(effect));
            copy->setParent(layer);
            return static_cast<RenderEffect*>(copy);
        });
}

// q = P + R(r) (s * (p - A)), rotation about z in degrees: the layer matrix
// computed by hand.
Vec3 LayerMap(Vec3 p, Vec3 anchor, Vec3 position, Vec3 scale, float degrees) {
    const double rad = degrees * M_PI / 180.0;
    const double x = scale.x * (p.x - anchor.x), y = scale.y * (p.y - anchor.y);
    return Vec3(static_cast<float>(position.x + std::cos(rad) * x - std::sin(rad) * y),
                static_cast<float>(position.y + std::sin(rad) * x + std::cos(rad) * y),
                static_cast<float>(position.z + scale.z * (p.z - anchor.z)));
}

void ExpectNear(const Vec3& a, const Vec3& b, float tol = 1e-3f) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

TEST(RenderLayerJson, RangeOfTwoNumbersAtTheContextRate) {
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, R"({"range":[10,50]})");
    EXPECT_EQ(layer->layerStartTime().frameCount(), 10);
    EXPECT_EQ(layer->layerInPoint().frameCount(), 10);
    EXPECT_EQ(layer->layerDuration().frameCount(), 50);
    EXPECT_FLOAT_EQ(layer->frameRate(), 25.0f);
    long long first = -1;
    EXPECT_EQ(VisibleFrames(layer, 200, &first), 50);
    EXPECT_EQ(first, 10);
    EXPECT_TRUE(layer->visibleAt(59));
    EXPECT_FALSE(layer->visibleAt(60));
    comp.frame = 10;
    EXPECT_EQ(layer->currentLocalTime(), 0);
    EXPECT_TRUE(layer->visibleAtCurrentTime());
    EXPECT_EQ(layer->localTimeToParentTime(0), 10);
}

TEST(RenderLayerJson, RangeOfThreeAndFourNumbers) {
    TestComp comp(640, 360, 25);
    RenderLayer* three = AddLayer(comp, R"({"range":[0,12,30]})");
    long long first = -1;
    EXPECT_EQ(VisibleFrames(three, 200, &first), 30);
    EXPECT_EQ(first, 12);
    EXPECT_FALSE(three->visibleAt(42));
    comp.frame = 20;
    EXPECT_EQ(three->currentLocalTime(), 20);

    // Times given at 50 fps last half as many frames of a 25 fps context.
    RenderLayer* four = AddLayer(comp, R"({"range":[0,0,48,50]})");
    EXPECT_FLOAT_EQ(four->frameRate(), 50.0f);
    EXPECT_FLOAT_EQ(four->layerDuration().fps(), 50.0f);
    EXPECT_EQ(VisibleFrames(four, 200), 24);

    RenderLayer* text = AddLayer(comp, R"({"range":[0,0,48,"x"]})");
    EXPECT_FLOAT_EQ(text->frameRate(), 25.0f);
    EXPECT_EQ(VisibleFrames(text, 200), 48);

    RenderLayer* five = AddLayer(comp, R"({"range":[2,3,10,50,99]})");
    EXPECT_FLOAT_EQ(five->frameRate(), 25.0f);
    EXPECT_EQ(VisibleFrames(five, 200), 10);
}

TEST(RenderLayerJson, UnusableRangesLeaveTheTimes) {
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, R"({"range":[4,8]})");
    layer->loadFromJson(Parse(R"({"range":[7]})"));
    layer->loadFromJson(Parse(R"({"range":[]})"));
    layer->loadFromJson(Parse(R"({"range":[1.5,9]})"));
    EXPECT_EQ(layer->layerInPoint().frameCount(), 4);
    EXPECT_EQ(layer->layerDuration().frameCount(), 8);

    // A rate of 0 or below would divide by zero when converting to the
    // context's frames; the context's rate is used instead.
    RenderLayer* zero = AddLayer(comp, R"({"range":[0,0,48,0]})");
    EXPECT_FLOAT_EQ(zero->frameRate(), 25.0f);
    EXPECT_EQ(VisibleFrames(zero, 200), 48);
    RenderLayer* negative = AddLayer(comp, R"({"range":[0,0,48,-30]})");
    EXPECT_EQ(VisibleFrames(negative, 200), 48);
}

TEST(RenderLayerJson, KeysAndWrongTypes) {
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, R"({"uuid":"L7","ui_key":"photo","ui_extra":"x=1","parent":"P",
        "enabled":false,"resample":2,"anchor_offset":[1,2.5,3,4]})");
    EXPECT_EQ(layer->layerID(), "L7");
    EXPECT_EQ(layer->uiKey(), "photo");
    EXPECT_EQ(layer->extraData(), "x=1");
    EXPECT_EQ(layer->linkedLayerID(), "P");
    EXPECT_FALSE(layer->enabled());
    EXPECT_EQ(layer->resampleMode(), kBiCubicTriangluarResampleMode);
    ExpectNear(layer->transformManager()->anchorOffset(), Vec3(1, 2.5f, 3));

    layer->loadFromJson(Parse(R"({"uuid":5,"enabled":"yes","resample":"3","ui_key":null})"));
    EXPECT_EQ(layer->layerID(), "L7");
    EXPECT_FALSE(layer->enabled());
    EXPECT_EQ(layer->resampleMode(), kBiCubicTriangluarResampleMode);
    EXPECT_EQ(layer->uiKey(), "photo");

    // A layer without "uuid" gets a fresh counter id.
    RenderLayer fresh(&comp, kAVLayer, false);
    EXPECT_EQ(fresh.layerID().rfind("add_new_layer_", 0), 0u);
}

TEST(RenderLayerJson, ResampleOutsideTheKnownModesBecomesZero) {
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, R"({"resample":9})");
    EXPECT_EQ(layer->resampleMode(), kDefaultResampleMode);
    layer->loadFromJson(Parse(R"({"resample":3})"));
    EXPECT_EQ(layer->resampleMode(), kBiCubicBellShapedResampleMode);
    layer->loadFromJson(Parse(R"({"resample":-1})"));
    EXPECT_EQ(layer->resampleMode(), kDefaultResampleMode);
    layer->setResampleMode(static_cast<LayerResampleMode>(12));
    EXPECT_EQ(layer->resampleMode(), kDefaultResampleMode);
}

TEST(RenderLayerJson, LocalNeedsExactlySixteenNumbers) {
    TestComp comp(640, 360, 25);
    RenderLayer* fifteen = AddLayer(comp, R"({"local":[1,0,0,0, 0,1,0,0, 0,0,1,0, 5,6,7]})");
    EXPECT_EQ(fifteen->getLayerLocalAETransform(), Mat4());
    EXPECT_EQ(fifteen->getLayerLocalTransform(), Mat4());
    RenderLayer* text = AddLayer(comp, R"({"local":[1,0,0,0, 0,1,0,0, 0,0,1,0, 5,6,"7",1]})");
    EXPECT_EQ(text->getLayerLocalAETransform(), Mat4());

    const int marks = comp.dirtyMarks;
    RenderLayer* sixteen = AddLayer(comp, R"({"local":[2,0,0,0, 0,2,0,0, 0,0,1,0, 5,6,7,1]})");
    EXPECT_GT(comp.dirtyMarks, marks);
    ExpectNear(sixteen->getLayerLocalAETransform() * Vec3(1, 1, 0), Vec3(7, 8, 7));
    // The drawing-space form moves y the other way and flips z.
    ExpectNear(sixteen->getLayerLocalTransform() * Vec3(0, 0, 0), Vec3(5, -6, -7));
}

TEST(RenderLayerJson, EffectsSkipUnknownNamesAndBrokenItems) {
    RegisterRecordingEffect();
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(
        comp, R"({"effects":[{"name":"NoSuchEffect"},{"name":"QvTestRecording","v":3},5,{"name":7},{},
                             {"name":"QvTestRecording","v":4}]})");
    ASSERT_EQ(layer->numEffects(), 2u);
    EXPECT_EQ(static_cast<RecordingEffect*>(layer->getEffectByIndex(0))->value, 3);
    EXPECT_EQ(static_cast<RecordingEffect*>(layer->getEffectByIndex(1))->value, 4);
    EXPECT_EQ(layer->getEffectByIndex(2), nullptr);
}

TEST(RenderLayerTransform, WorldTransformFollowsTheLinkedParent) {
    TestComp comp(640, 360, 25);
    AddLayer(comp, R"({"uuid":"P","transform":{"a":[5,5],"p":[200,100],"s":[1.5,1.5],"r":-45}})");
    RenderLayer* child = AddLayer(
        comp, R"({"uuid":"C","parent":"P","transform":{"a":[10,20],"p":[100,50],"s":[2,0.5],"r":30}})");
    ASSERT_NE(child->linkedLayer(), nullptr);

    const Vec3 p(7, 3, 0);
    const Vec3 inParent = LayerMap(p, Vec3(10, 20, 0), Vec3(100, 50, 0), Vec3(2, 0.5f, 1), 30);
    const Vec3 expected = LayerMap(inParent, Vec3(5, 5, 0), Vec3(200, 100, 0), Vec3(1.5f, 1.5f, 1), -45);
    ExpectNear(child->localPointToCompPoint(p, kAfterEffectsSpaceMode, 0), expected);
    ExpectNear(child->getCurrentWorldAETransform() * p, expected);

    // Drawing space: the same mapping seen through the composition's
    // centred, y-up frame.
    const Mat4 k = Mat4::getAEToGLConversionMatrix(640, 360);
    ExpectNear(child->localPointToCompPoint(k * p, kOpenGLSpaceMode, 0), k * expected);

    for (CoordinateSystemMode mode : {kAfterEffectsSpaceMode, kOpenGLSpaceMode}) {
        const Vec3 there = child->localPointToCompPoint(p, mode, 0);
        ExpectNear(child->compPointToLocalPoint(there, mode, 0), p);
    }
    EXPECT_EQ(child->compPointToLocalPoint(p, static_cast<CoordinateSystemMode>(5), 0).x, p.x);
}

TEST(RenderLayerTransform, MissingOrLoopingParents) {
    TestComp comp(640, 360, 25);
    RenderLayer* orphan = AddLayer(comp, R"({"parent":"nobody","transform":{"p":[3,4]}})");
    EXPECT_EQ(orphan->linkedLayer(), nullptr);
    EXPECT_EQ(orphan->getWorldAETransform(0, false), orphan->getAETransform(0, false));

    // A layer naming itself, or two naming each other, must not recurse
    // without end.
    RenderLayer* self = AddLayer(comp, R"({"uuid":"S","parent":"S","transform":{"p":[1,0]}})");
    AddLayer(comp, R"({"uuid":"A","parent":"B","transform":{"p":[1,0]}})");
    RenderLayer* b = AddLayer(comp, R"({"uuid":"B","parent":"A","transform":{"p":[1,0]}})");
    EXPECT_TRUE(std::isfinite(self->getWorldTransform(0, false).m[12]));
    EXPECT_TRUE(std::isfinite(b->getWorldAETransform(0, false).m[12]));
}

TEST(RenderLayerTransform, CollapseLayerFoldsInTransformAndOpacity) {
    TestComp outer(640, 360, 25);
    AddLayer(outer, R"({"uuid":"C","transform":{"p":[50,60],"t":0.5}})");
    TestComp inner(640, 360, 25, &outer);
    RenderLayer* layer = AddLayer(inner, R"({"transform":{"p":[1,2],"t":0.8}})");
    layer->setCollapseCompLayerID("C");
    ASSERT_NE(layer->collapseCompLayer(), nullptr);
    EXPECT_NEAR(layer->getAlpha(0), 0.4f, 1e-6f);
    ExpectNear(layer->getWorldAETransform(0, false) * Vec3(0, 0, 0), Vec3(51, 62, 0));
}

TEST(RenderLayerCopy, KeepsIdTrackAndEffectsButNotLocalMatrices) {
    RegisterRecordingEffect();
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, R"({"uuid":"orig","ui_key":"k","range":[3,9],"resample":1,
        "transform":{"p":[1,2]},"local":[1,0,0,0, 0,1,0,0, 0,0,1,0, 5,6,7,1],
        "effects":[{"name":"QvTestRecording","v":8}]})");
    layer->setLayerType(kThreeDLayer, true);
    layer->setPositionAtTime(Vec3(3, 4, 0), 1);

    RenderLayer copy(*layer);
    EXPECT_EQ(copy.layerID(), "orig");
    EXPECT_EQ(copy.uiKey(), "k");
    EXPECT_EQ(copy.layerInPoint().frameCount(), 3);
    EXPECT_EQ(copy.resampleMode(), kBiCubicLinearResampleMode);
    EXPECT_TRUE(copy.is3D());
    EXPECT_EQ(copy.parentCompLayer(), &comp);
    ExpectNear(copy.getPosition(1), Vec3(3, 4, 0));
    EXPECT_EQ(copy.getLayerLocalAETransform(), Mat4());
    EXPECT_TRUE(copy.hasAnimation());
    ASSERT_EQ(copy.numEffects(), 1u);
    EXPECT_NE(copy.getEffectByIndex(0), layer->getEffectByIndex(0));
    EXPECT_EQ(copy.getEffectByIndex(0)->parent(), &copy);
    EXPECT_EQ(static_cast<RecordingEffect*>(copy.getEffectByIndex(0))->value, 8);
}

TEST(RenderLayerEffects, ChainEditing) {
    RegisterRecordingEffect();
    TestComp comp(640, 360, 25);
    RenderLayer* layer = AddLayer(comp, "{}");
    auto* e1 = new RecordingEffect(layer);
    auto* e2 = new RecordingEffect(layer);
    auto* e3 = new RecordingEffect(layer);
    layer->addEffect(e1);
    layer->addEffect(e1);
    EXPECT_EQ(layer->numEffects(), 1u);
    layer->addEffect(e2);
    layer->insertEffectAt(e3, 10);
    EXPECT_EQ(layer->getEffectByIndex(2), e3);

    const int marks = comp.dirtyMarks;
    RecordingEffect stranger(layer);
    layer->removeEffect(&stranger, false);
    EXPECT_EQ(comp.dirtyMarks, marks);
    layer->removeEffect(e2, false);
    EXPECT_GT(comp.dirtyMarks, marks);
    EXPECT_EQ(layer->numEffects(), 2u);
    delete e2;
    layer->removeEffect(e1, true);
    EXPECT_EQ(layer->getEffectByIndex(0), e3);

    // shouldCollapse needs the collapse bit, effects, a 2D layer and a solid
    // or composition source.
    layer->setLayerType(kCollapseLayer | kSolidLayer, true);
    EXPECT_TRUE(layer->shouldCollapse());
    layer->setLayerType(kThreeDLayer, true);
    EXPECT_FALSE(layer->shouldCollapse());
    layer->setLayerType(kThreeDLayer, false);
    layer->removeEffect(e3, true);
    EXPECT_FALSE(layer->shouldCollapse());
}
