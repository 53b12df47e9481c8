// Camera focal lengths from data files, the near plane fitted to a 3D batch,
// and the layer kinds' sizes and distances that depend on their composition.
#include <gtest/gtest.h>

#include <cmath>

#include <rapidjson/document.h>

#include "CompTestRoot.h"
#include "core/Float.h"
#include "scene/RenderAdjustmentLayer.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderNullLayer.h"
#include "support/GLFixture.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;
using QvTest::CompTestRoot;

namespace {

class CameraLayerTest : public QvTest::CompRootFixture {
protected:
    CameraLayerTest() : CompRootFixture(200, 100, 25, 10) {}
    QvTest::TempDir dir;
    void SetUp() override {
        CompRootFixture::SetUp();
        root->dataFolder = dir.path() + "/";
    }
    RenderCameraLayer* camera(const char* json) {
        rapidjson::Document doc;
        doc.Parse(json);
        auto* cam = new RenderCameraLayer(root);
        cam->loadFromJson(doc);
        root->addLayer(cam, false);
        return cam;
    }
    static double FovFor(double filmHeight, double focal) {
        return 2.0 * std::atan(filmHeight * 0.5 / focal) * 180.0 / M_PI;
    }
};

}  // namespace

TEST_F(CameraLayerTest, FocalLengthsFromADataFileDriveTheirFrames) {
    QvTest::writeFile(dir.path() + "/focal.json", "[100, 200, \"x\", 300]");
    QvTest::writeFile(dir.path() + "/object.json", "{\"focal\": 5}");
    QvTest::writeFile(dir.path() + "/broken.json", "[100,");
    // A byte-order mark fails the parse, as in every other data file.
    QvTest::writeFile(dir.path() + "/marked.json", "\xEF\xBB\xBF[100]");
    RenderCameraLayer* cam = camera(R"({"focal": "focal.json"})");
    // The text element is passed over: three values for frames 0, 1 and 2.
    ASSERT_EQ(cam->focalLengths(), (std::vector<float>{100, 200, 300}));
    const float expected[] = {100, 200, 300, 300, 300};
    for (int frame = 0; frame < 5; ++frame) {
        cam->prepareForFrame(frame);
        EXPECT_NEAR(cam->getFov(), FovFor(100, expected[frame]), 1e-3) << frame;
        EXPECT_FLOAT_EQ(cam->getFilmWidth(), 200);  // the composition's size
        EXPECT_FLOAT_EQ(cam->getAspect(), 2);
    }
    for (const char* name : {R"({"focal": "object.json"})", R"({"focal": "broken.json"})",
                             R"({"focal": "marked.json"})", R"({"focal": "absent.json"})", R"({"focal": true})"})
        EXPECT_TRUE(camera(name)->focalLengths().empty()) << name;
}

TEST_F(CameraLayerTest, CopyKeepsTheLensAndTheFlagBits) {
    RenderCameraLayer* cam = camera(R"({"focal": 800, "uuid": "c"})");
    cam->setFar(5000, true);
    RenderCameraLayer copy(*cam);
    EXPECT_EQ(copy.layerID(), "c");
    EXPECT_EQ(copy.focalLengths(), cam->focalLengths());
    EXPECT_FLOAT_EQ(copy.getFar(), 5000);
    EXPECT_EQ(copy.getProjectionMatrix(), cam->getProjectionMatrix());
    EXPECT_EQ(copy.layerType() & (kNullLayer | kCameraLayer), kNullLayer | kCameraLayer);
    EXPECT_FALSE(copy.layerHasContent());
}

TEST_F(CameraLayerTest, NearPlaneFollowsTheNearestLayerOfABatch) {
    RenderAVLayer* layer = root->addSolid(root, "s", Color(1, 0, 0, 1), 20, 20, 0, 0);
    root->contentLoaded();
    // 2D: no distance range.
    Vec2 range = layer->getLimitDistanceToCamera();
    EXPECT_EQ(range.x, Float::max);
    EXPECT_EQ(range.y, -Float::max);

    layer->setLayerType(kThreeDLayer, true);
    RenderCameraLayer* cam = root->getDefaultCamera();
    const float focal = cam->getFocalLength();
    // The layer lies in the composition plane, corners (0..20, 0..20): every
    // corner is `focal` away along the view axis.
    range = layer->getLimitDistanceToCamera();
    EXPECT_NEAR(range.x, focal, 1e-2);
    EXPECT_NEAR(range.y, focal, 1e-2);

    // Half a unit in front of the camera: the near plane stays at 1.
    CompTestRoot::place(layer, Vec3(0, 0, 0), Vec3(0, 0, -focal + 0.5f), 0);
    std::vector<RenderLayer*> batch{layer};
    root->prepareForFrame(0);
    root->drawLayers(batch, nullptr);
    EXPECT_FLOAT_EQ(cam->getNear(), 1);

    CompTestRoot::place(layer, Vec3(0, 0, 0), Vec3(0, 0, 100), 0);
    root->drawLayers(batch, nullptr);
    EXPECT_NEAR(cam->getNear(), focal + 100 - 1, 1e-2);
}

TEST_F(CameraLayerTest, AdjustmentLayerFollowsItsCompositionsSize) {
    auto* adjustment = new RenderAdjustmentLayer(root);
    root->addLayer(adjustment, false);
    EXPECT_EQ(adjustment->width(), 200);
    auto* other = new RenderComp(root, 1280, 720, 5, "other");
    other->addLayer(adjustment, false);
    EXPECT_EQ(adjustment->width(), 1280);
    EXPECT_EQ(adjustment->height(), 720);
    EXPECT_TRUE(root->layers().empty());
    EXPECT_FALSE(adjustment->mask());
}

TEST_F(CameraLayerTest, NextDrawingLayerSkipsLayersThatDrawNothing) {
    RenderAVLayer* a = root->addSolid(root, "a", Color(), 4, 4, 0, 0);
    auto* null = new RenderNullLayer(root);
    null->setLayerDuration(TimeUnit(10, 25));
    root->addLayer(null, false);
    RenderAVLayer* hidden = root->addSolid(root, "hidden", Color(), 4, 4, 0, 0);
    hidden->setEnabled(false);
    RenderAVLayer* late = root->addSolid(root, "late", Color(), 4, 4, 0, 0, 0, 5, 2);
    RenderAVLayer* d = root->addSolid(root, "d", Color(), 4, 4, 0, 0);
    root->contentLoaded();
    EXPECT_EQ(root->nextDrawingLayer(a), d);
    root->setCurrentCompTime(5);
    EXPECT_EQ(root->nextDrawingLayer(a), late);
    EXPECT_EQ(root->nextDrawingLayer(d), nullptr);
    EXPECT_EQ(root->nextDrawingLayer(nullptr), nullptr);
}
