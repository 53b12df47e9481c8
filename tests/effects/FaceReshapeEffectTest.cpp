// The face effects on a synthetic 68-point face read from a data file: the
// reshape warps against the warp formulas worked out here, the face limits,
// degenerate faces, and the landmark display's points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "CornerPinEffectPattern.h"
#include "EffectFixture.h"
#include "effects/FaceLandmarkDisplay.h"
#include "effects/FaceReshapeEffect.h"

using namespace Quorvane::Core;
using QvTest::Pixels;

namespace {

constexpr int kSide = 64;

// A frontal face in a 64 x 64 layer, y down: jaw 0-16 (chin 8 at the
// bottom), brows 17-26, nose 27-35 (tip 30), eyes 36-41 and 42-47 (centres
// (22, 26) and (42, 26)), mouth 48-67.
std::string faceJson() {
    std::vector<Vec2> p(68);
    for (int i = 0; i <= 16; ++i) {
        const double a = M_PI * i / 16.0;
        p[i] = Vec2(static_cast<float>(32 - 22 * std::cos(a)), static_cast<float>(22 + 34 * std::sin(a)));
    }
    for (int i = 17; i <= 26; ++i) p[i] = Vec2(14.0f + 4.0f * (i - 17), 18);
    for (int i = 27; i <= 30; ++i) p[i] = Vec2(32, 24.0f + 4.0f * (i - 27));
    for (int i = 31; i <= 35; ++i) p[i] = Vec2(26.0f + 3.0f * (i - 31), 39);
    const Vec2 eyes[2] = {Vec2(22, 26), Vec2(42, 26)};
    for (int e = 0; e < 2; ++e)
        for (int k = 0; k < 6; ++k) {
            const double a = M_PI * k / 3.0;
            p[36 + 6 * e + k] = Vec2(static_cast<float>(eyes[e].x - 4 * std::cos(a)),
                                     static_cast<float>(eyes[e].y - 2 * std::sin(a)));
        }
    for (int k = 0; k < 12; ++k) {
        const double a = M_PI * k / 6.0;
        p[48 + k] = Vec2(static_cast<float>(32 - 8 * std::cos(a)), static_cast<float>(47 - 3 * std::sin(a)));
    }
    for (int k = 0; k < 8; ++k) {
        const double a = M_PI * k / 4.0;
        p[60 + k] = Vec2(static_cast<float>(32 - 5 * std::cos(a)), static_cast<float>(47 - 1 * std::sin(a)));
    }
    std::string text = "[";
    for (int i = 0; i < 68; ++i) {
        char pair[48];
        std::snprintf(pair, sizeof pair, "%s[%.6g,%.6g]", i ? "," : "", p[i].x, p[i].y);
        text += pair;
    }
    return text + "]";
}

class FaceTest : public QvTest::EffectFixture {
protected:
    void SetUp() override {
        EffectFixture::SetUp();
        setLayerSize(kSide, kSide);
        pattern = QvTest::uploadPositionPattern(kSide, kSide);
        QvTest::writeFile(dir.file("face.json"), faceJson());
        landmarks = readLandmarks(dir.file("face.json"));
        ASSERT_EQ(landmarks.size(), 136u);
    }
    void TearDown() override {
        deleteTexture(pattern);
        EffectFixture::TearDown();
    }
    // The host's part: landmark points from a data file, as flat floats.
    static std::vector<float> readLandmarks(const std::string& path) {
        rapidjson::Document doc;
        doc.Parse(QvTest::readFile(path).c_str());
        std::vector<float> out;
        if (!doc.IsArray()) return out;
        for (const auto& point : doc.GetArray()) {
            if (!point.IsArray() || point.Size() != 2 || !point[0].IsNumber() || !point[1].IsNumber())
                continue;
            out.push_back(point[0].GetFloat());
            out.push_back(point[1].GetFloat());
        }
        return out;
    }
    Vec2 point(int i) const { return Vec2(landmarks[2 * i], landmarks[2 * i + 1]); }
    FaceReshapeEffect* reshape() {
        auto* effect = create<FaceReshapeEffect>("ZR_Face_ReShape", "[1, 2]");
        if (effect) effect->addFace(landmarks.data(), landmarks.size());
        return effect;
    }
    // The output is the input, texel for texel.
    static int unchanged(const Pixels& p) {
        int same = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                int sx, sy;
                same += QvTest::sourceAt(p, x, y, sx, sy) && sx == x && sy == y;
            }
        return same;
    }

    GLuint pattern = 0;
    std::vector<float> landmarks;
};

}  // namespace

TEST_F(FaceTest, ZeroStrengthsLeaveTheImageAlone) {
    FaceReshapeEffect* effect = reshape();
    ASSERT_EQ(effect->drawnFaces().size(), 1u);
    const FaceReshapeEffect::FaceInfo& face = *effect->faces()[0];
    EXPECT_FLOAT_EQ(face.leftEyeCenter.x, 22.0f);
    EXPECT_FLOAT_EQ(face.rightEyeCenter.x, 42.0f);
    EXPECT_FLOAT_EQ(face.eyeDistance, 20.0f);
    EXPECT_EQ(face.getLandmark(8).y, point(8).y);
    EXPECT_EQ(unchanged(drawFrame(effect, pattern, 0)), kSide * kSide);
    // Without faces: a copy.
    effect->clearFaces();
    EXPECT_EQ(unchanged(drawFrame(effect, pattern, 0)), kSide * kSide);
}

TEST_F(FaceTest, EyeStrengthMagnifiesOrShrinksAroundTheEye) {
    // Each eye warp is centred a twentieth of the way towards the other eye,
    // radius a third of the eye distance (the other warps are at 0).
    const Vec2 centre = Vec2(22, 26) + (Vec2(42, 26) - Vec2(22, 26)) * 0.05f;
    const double radius = 20.0 * 0.33;
    for (float strength : {1.0f, -1.0f}) {
        FaceReshapeEffect* effect = reshape();
        effect->updateEyeEnlargeStrength(strength);
        const Pixels p = drawFrame(effect, pattern, 0);
        int compared = 0;
        for (int y = 18; y < 34; ++y)
            for (int x = 14; x < 32; ++x) {
                const double cx = x + 0.5 - centre.x, cy = y + 0.5 - centre.y;
                const double d = std::sqrt(cx * cx + cy * cy) / radius;
                double w = std::clamp(1.0 - 0.12 * std::fabs(strength) * (1.0 - d * d), 0.0, 1.0);
                if (strength < 0) w = 1.0 / w;
                const double sx = centre.x + cx * w, sy = centre.y + cy * w;
                // Skip samples on a texel border, where rounding may go either way.
                if (std::fabs(sx - std::round(sx)) < 0.02 || std::fabs(sy - std::round(sy)) < 0.02) continue;
                int gx, gy;
                ASSERT_TRUE(QvTest::sourceAt(p, x, y, gx, gy));
                ASSERT_EQ(gx, static_cast<int>(std::floor(sx))) << strength << " at " << x << "," << y;
                ASSERT_EQ(gy, static_cast<int>(std::floor(sy))) << strength << " at " << x << "," << y;
                ++compared;
            }
        EXPECT_GT(compared, 200);
        // Far from the eyes nothing moves.
        int gx, gy;
        ASSERT_TRUE(QvTest::sourceAt(p, 5, 60, gx, gy));
        EXPECT_EQ(gx, 5);
        EXPECT_EQ(gy, 60);
    }
}

TEST_F(FaceTest, ChinWarpPullsTowardsTheNoseTip) {
    FaceReshapeEffect* effect = reshape();
    effect->updateChinChangeStrength(1.0f);
    const Pixels p = drawFrame(effect, pattern, 0);
    // Origin L8, target L8 + (L30 - L8) * 0.08, radius 1.25 * eye distance.
    const Vec2 origin = point(8);
    const Vec2 move = (point(30) - point(8)) * 0.08f;
    const double radius = 25.0;
    int compared = 0;
    for (int y = 44; y < 64; ++y)
        for (int x = 22; x < 42; ++x) {
            const double dx = x + 0.5 - origin.x, dy = y + 0.5 - origin.y;
            const double f = std::clamp(1.0 - std::sqrt(dx * dx + dy * dy) / radius, 0.0, 1.0);
            const double sx = x + 0.5 - move.x * f, sy = y + 0.5 - move.y * f;
            if (std::fabs(sy - std::round(sy)) < 0.02 || sy >= kSide) continue;
            int gx, gy;
            ASSERT_TRUE(QvTest::sourceAt(p, x, y, gx, gy));
            ASSERT_EQ(gx, static_cast<int>(std::floor(sx))) << x << "," << y;
            ASSERT_EQ(gy, static_cast<int>(std::floor(sy))) << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, 300);
}

TEST_F(FaceTest, OtherWarpsMoveOnlyTheirPartOfTheFace) {
    struct Case {
        void (FaceReshapeEffect::*set)(float);
        int x, y;  // a pixel that must move
    };
    const Case cases[] = {{&FaceReshapeEffect::updateMouthAdjustStrength, 36, 47},
                          {&FaceReshapeEffect::updateNoseWidthStrength, 27, 39},
                          {&FaceReshapeEffect::updateNoseAdjustStrength, 32, 35},
                          {&FaceReshapeEffect::updateFaceSlimStrength, 14, 40},
                          {&FaceReshapeEffect::updateFaceShaveStrength, 18, 50}};
    for (const Case& c : cases) {
        FaceReshapeEffect* effect = reshape();
        (effect->*c.set)(3.0f);
        const Pixels p = drawFrame(effect, pattern, 0);
        const int same = unchanged(p);
        EXPECT_LT(same, kSide * kSide) << c.x;
        EXPECT_GT(same, kSide * kSide / 2) << c.x;
        int gx, gy;
        ASSERT_TRUE(QvTest::sourceAt(p, c.x, c.y, gx, gy)) << c.x;
        EXPECT_TRUE(gx != c.x || gy != c.y) << c.x << "," << c.y;
        ASSERT_TRUE(QvTest::sourceAt(p, 2, 2, gx, gy));
        EXPECT_EQ(gx * 100 + gy, 202);
    }
    // The nose "adjust" setter is the length one.
    FaceReshapeEffect* effect = reshape();
    effect->updateNoseAdjustStrength(0.5f);
    EXPECT_EQ(effect->noseLengthStrength(), 0.5f);
    EXPECT_EQ(effect->noseWidthStrength(), 0.0f);
}

TEST_F(FaceTest, FaceLimitsCopiesAndDegenerateFaces) {
    FaceReshapeEffect* effect = reshape();
    for (int i = 0; i < 3; ++i) effect->addFace(landmarks.data(), landmarks.size());
    EXPECT_EQ(effect->faces().size(), 4u);
    EXPECT_EQ(effect->drawnFaces().size(), 3u);
    effect->addFace(landmarks.data(), 0);  // nothing
    EXPECT_EQ(effect->faces().size(), 4u);

    // A face is warped with its points up to the 68. One of other than 68
    // has no eye centres, so the eye warp (radius 0) leaves it alone.
    effect->clearFaces();
    effect->addFace(landmarks.data(), 20);
    EXPECT_EQ(effect->faces()[0]->eyeDistance, 0.0f);
    EXPECT_EQ(effect->drawnFaces().size(), 1u);
    effect->updateEyeEnlargeStrength(1.0f);
    EXPECT_EQ(unchanged(drawFrame(effect, pattern, 0)), kSide * kSide);
    // The mouth warp needs points 48 to 57 only: 60 points move the mouth as
    // 68 do, and points past the 68 are not read.
    FaceReshapeEffect* whole = reshape();
    whole->updateMouthAdjustStrength(3.0f);
    const Pixels mouth = drawFrame(whole, pattern, 0);
    EXPECT_LT(unchanged(mouth), kSide * kSide);
    std::vector<float> longer = landmarks;
    longer.insert(longer.end(), {1e30f, -1e30f, 5.0f});
    for (size_t count : {size_t(120), longer.size()}) {
        FaceReshapeEffect* part = create<FaceReshapeEffect>("ZR_Face_ReShape", "0");
        part->addFace(longer.data(), count);
        part->updateMouthAdjustStrength(3.0f);
        EXPECT_EQ(drawFrame(part, pattern, 0).rgba, mouth.rgba) << count;
    }
    // Strengths and points beyond float range are held finite: every output
    // pixel still shows some pixel of the input.
    std::vector<float> wild = landmarks;
    wild[2 * 51 + 1] = std::numeric_limits<float>::infinity();
    FaceReshapeEffect* extreme = create<FaceReshapeEffect>("ZR_Face_ReShape", "0");
    extreme->addFace(wild.data(), wild.size());
    extreme->updateFaceSlimStrength(std::numeric_limits<float>::infinity());
    extreme->updateMouthAdjustStrength(-std::numeric_limits<float>::infinity());
    const Pixels held = drawFrame(extreme, pattern, 0);
    int sampled = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            int sx, sy;
            sampled += QvTest::sourceAt(held, x, y, sx, sy);
        }
    EXPECT_EQ(sampled, kSide * kSide);

    // Copies keep the strengths, not the faces.
    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect, layer));
    auto* reshapeCopy = dynamic_cast<FaceReshapeEffect*>(copy.get());
    ASSERT_NE(reshapeCopy, nullptr);
    EXPECT_TRUE(reshapeCopy->faces().empty());
    EXPECT_EQ(reshapeCopy->eyeEnlargeStrength(), 1.0f);
    EXPECT_FALSE(reshapeCopy->hasAnimation());

    // Every point on one spot, strong warps: zero radii and a mouth of no
    // size divide by nothing; the image stays as it was.
    std::vector<float> collapsed(136, 30.0f);
    FaceReshapeEffect* flat = create<FaceReshapeEffect>("ZR_Face_ReShape", "0");
    flat->addFace(collapsed.data(), collapsed.size());
    for (auto set :
         {&FaceReshapeEffect::updateEyeEnlargeStrength, &FaceReshapeEffect::updateMouthAdjustStrength,
          &FaceReshapeEffect::updateChinChangeStrength, &FaceReshapeEffect::updateNoseWidthStrength,
          &FaceReshapeEffect::updateFaceShaveStrength})
        (flat->*set)(-20.0f);
    EXPECT_EQ(unchanged(drawFrame(flat, pattern, 0)), kSide * kSide);
}

TEST_F(FaceTest, LandmarkDisplayDrawsBlackPointsOnItsInput) {
    auto* display = create<FaceLandmarkDisplay>("ZR_Face_Landmark_Display", "[1]");
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(unchanged(drawFrame(display, pattern, 0)), kSide * kSide);

    display->updateLandmark(landmarks.data(), landmarks.size());
    display->setPointSize(3.0f);
    const Pixels p = drawFrame(display, pattern, 0);
    // The chin point (32, 56): a 3 x 3 black square around it, in layer
    // pixels from the top.
    const Vec2 chin = point(8);
    const int cx = static_cast<int>(chin.x), cy = static_cast<int>(chin.y);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const uint8_t* v = p.at(cx + dx, cy + dy);
            EXPECT_EQ(v[0] + v[1] + v[2], 0) << dx << "," << dy;
            EXPECT_EQ(v[3], 255);
        }
    EXPECT_GT(unchanged(p), kSide * kSide - 68 * 9 - 1);
    int sx, sy;
    ASSERT_TRUE(QvTest::sourceAt(p, 2, 2, sx, sy));

    // Fewer points than a face: only those are drawn, nothing past them.
    const float three[6] = {5, 5, 60, 5, 5, 60};
    display->updateLandmark(three, 6);
    const Pixels q = drawFrame(display, pattern, 0);
    EXPECT_EQ(q.at(5, 60)[2], 0);
    EXPECT_EQ(unchanged(q), kSide * kSide - 3 * 9);

    // No input: nothing at all, not the points alone.
    const Pixels none = drawFrame(display, 0, 0);
    EXPECT_EQ(none.at(5, 60)[3], 0);

    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(display, layer));
    auto* displayCopy = dynamic_cast<FaceLandmarkDisplay*>(copy.get());
    ASSERT_NE(displayCopy, nullptr);
    EXPECT_EQ(displayCopy->landmarks().size(), 6u);
    EXPECT_EQ(displayCopy->pointSize(), 3.0f);
    EXPECT_EQ(displayCopy->matchName(), "ZR_Face_Landmark_Display");
}
