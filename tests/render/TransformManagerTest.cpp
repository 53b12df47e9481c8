// Layer transform tracks: record parsing, frame lookup, growth, loading and
// the lazily built matrices, checked against point mappings computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "ConfigTestSupport.h"
#include "core/Json.h"
#include "render/TransformManager.h"

using Quorvane::Core::Mat4;
using Quorvane::Core::TransformManager;
using Quorvane::Core::Vec3;
using QvTest::TempDir;
using TransformData = TransformManager::TransformData;
namespace Json = Quorvane::Core::Json;

namespace {

constexpr float kPi = 3.14159265358979f;

Json::Document parsed(const std::string& text) {
    Json::Document doc;
    EXPECT_TRUE(Json::parse(doc, text, Json::ByteOrderMark::Reject)) << text;
    return doc;
}

TransformData record(const std::string& text) {
    return TransformData(parsed(text));
}

void expectVec(const Vec3& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// Column-major storage, column vectors: the matrix applied to a point.
Vec3 apply(const Mat4& m, const Vec3& p) {
    return Vec3(m.m[0] * p.x + m.m[4] * p.y + m.m[8] * p.z + m.m[12],
                m.m[1] * p.x + m.m[5] * p.y + m.m[9] * p.z + m.m[13],
                m.m[2] * p.x + m.m[6] * p.y + m.m[10] * p.z + m.m[14]);
}

// The layer transform written out step by step: move the anchor to the
// origin, scale, rotate about z, then y, then x (the matrix Rx Ry Rz), move to
// the position. Angles in degrees.
Vec3 layerMap(const Vec3& p, const Vec3& anchor, const Vec3& position, const Vec3& scale,
              const Vec3& degrees) {
    Vec3 v((p.x - anchor.x) * scale.x, (p.y - anchor.y) * scale.y, (p.z - anchor.z) * scale.z);
    const double rx = degrees.x * kPi / 180, ry = degrees.y * kPi / 180, rz = degrees.z * kPi / 180;
    Vec3 a(float(v.x * cos(rz) - v.y * sin(rz)), float(v.x * sin(rz) + v.y * cos(rz)), v.z);
    Vec3 b(float(a.x * cos(ry) + a.z * sin(ry)), a.y, float(-a.x * sin(ry) + a.z * cos(ry)));
    Vec3 c(b.x, float(b.y * cos(rx) - b.z * sin(rx)), float(b.y * sin(rx) + b.z * cos(rx)));
    return Vec3(c.x + position.x, c.y + position.y, c.z + position.z);
}

// Composition pixels (origin top left, y down) to the centred GL space.
Vec3 toGL(const Vec3& p, float w, float h) {
    return Vec3(p.x - w / 2, h / 2 - p.y, -p.z);
}

bool isIdentity(const Mat4& m) {
    for (int i = 0; i < 16; ++i) {
        if (m.m[i] != (i % 5 == 0 ? 1.0f : 0.0f)) return false;
    }
    return true;
}

const Vec3 kSamples[] = {{0, 0, 0}, {60, 50, 0}, {-13, 7.5f, 3}, {200, 100, -40}};

TEST(TransformRecord, ReadsTheRecordKeys) {
    TransformData d = record(R"({"a":[100,50],"p":[1,2,3],"s":[0.5,0.5],"r":90,"t":0.25,"x":[1]})");
    expectVec(d.anchor(), 100, 50, 0);
    expectVec(d.position(), 1, 2, 3);
    expectVec(d.scale(), 0.5f, 0.5f, 1);
    expectVec(d.rotation(), 0, 0, kPi / 2);
    EXPECT_FLOAT_EQ(d.alpha(), 0.25f);

    TransformData three = record(R"({"r":[90,-45,180],"s":[2,3,4],"a":[1,2,3,4],"t":2})");
    expectVec(three.rotation(), kPi / 2, -kPi / 4, kPi);
    expectVec(three.scale(), 2, 3, 4);
    expectVec(three.anchor(), 0, 0, 0);  // four numbers are passed over
    EXPECT_EQ(three.alpha(), 2.0f);      // stored without clamping

    TransformData repeated = record(R"({"p":[1,1],"p":[5,6],"t":1,"t":0})");
    expectVec(repeated.position(), 5, 6, 0);
    EXPECT_EQ(repeated.alpha(), 0.0f);
}

TEST(TransformRecord, MalformedMembersArePassedOver) {
    for (const char* text :
         {R"({"a":"1","p":[1,"2"],"s":{},"r":"90","t":"x"})",
          R"({"a":[1],"p":null,"s":[[1],[2]],"r":[1,2],"t":[1]})",
          R"({"a":[true,false],"p":[1,2,3,4,5],"s":3,"r":{"z":1},"t":null})", "[1,2]", "7", "null"}) {
        TransformData d = record(text);
        expectVec(d.anchor(), 0, 0, 0);
        expectVec(d.position(), 0, 0, 0);
        expectVec(d.scale(), 1, 1, 1);
        expectVec(d.rotation(), 0, 0, 0);
        EXPECT_EQ(d.alpha(), 1.0f) << text;
        EXPECT_TRUE(isIdentity(*d.aeTransform())) << text;
    }
    // Numbers beyond the float range become infinities instead of undefined
    // conversions.
    TransformData huge = record(R"({"p":[1e300,-1e300],"t":1e39})");
    EXPECT_TRUE(std::isinf(huge.position().x) && huge.position().x > 0);
    EXPECT_TRUE(std::isinf(huge.position().y) && huge.position().y < 0);
    EXPECT_TRUE(std::isinf(huge.alpha()));
}

TEST(TransformTrack, FramesOutsideTheTrackTakeTheLastRecord) {
    TransformManager track;
    track.load(parsed(R"([{"p":[0,0]},{"p":[1,0]},{"p":[2,0],"t":0.5}])"));
    ASSERT_EQ(track.transforms().size(), 3u);
    expectVec(track.position(1), 1, 0, 0);
    expectVec(track.position(10), 2, 0, 0);
    expectVec(track.position(-1), 2, 0, 0);
    expectVec(track.position(INT64_MIN), 2, 0, 0);
    EXPECT_EQ(track.alpha(INT64_MAX), 0.5f);
    EXPECT_EQ(track.aetransform(7), track.transforms()[2]->aeTransform());
}

TEST(TransformTrack, EmptyTrackAnswersIdentity) {
    TransformManager track;
    expectVec(track.anchor(0), 0, 0, 0);
    expectVec(track.position(3), 0, 0, 0);
    expectVec(track.scale(0), 0, 0, 0);  // zero, not one
    expectVec(track.rotation(0), 0, 0, 0);
    EXPECT_EQ(track.alpha(0), 1.0f);
    EXPECT_TRUE(isIdentity(*track.aetransform(0)));
    EXPECT_TRUE(isIdentity(*track.transform(5, 640, 480, true)));
    track.setAnchorOffset(Vec3(4, 4, 0));
    EXPECT_TRUE(isIdentity(track.aetransformWithAnchorOffset(0)));
    EXPECT_TRUE(isIdentity(track.transformWithAnchorOffset(0, 640, 480, false)));

    // Loading something that is no record list leaves it empty.
    for (const char* text : {"[]", "5", "\"x\"", "null"}) {
        track.load(parsed(text));
        EXPECT_TRUE(track.transforms().empty()) << text;
    }
    track.load(parsed(R"({"t":0.5})"));  // one object serves every frame
    ASSERT_EQ(track.transforms().size(), 1u);
    EXPECT_EQ(track.alpha(99), 0.5f);
}

TEST(TransformTrack, SettingAFramePastTheEndGrowsTheTrack) {
    TransformManager track;
    track.load(parsed(R"([{},{},{"p":[7,8],"s":[2,2],"t":0.5}])"));
    track.setAnchorAtTime(Vec3(9, 9, 9), 5);
    ASSERT_EQ(track.transforms().size(), 6u);
    for (int t : {3, 4}) {
        expectVec(track.position(t), 7, 8, 0);
        expectVec(track.anchor(t), 0, 0, 0);
    }
    expectVec(track.anchor(5), 9, 9, 9);
    expectVec(track.position(5), 7, 8, 0);
    expectVec(track.scale(5), 2, 2, 1);
    EXPECT_EQ(track.alpha(5), 0.5f);
    expectVec(track.anchor(2), 0, 0, 0);

    TransformManager empty;
    empty.setScaleAtTime(Vec3(3, 3, 3), 2);
    ASSERT_EQ(empty.transforms().size(), 3u);
    expectVec(empty.scale(0), 1, 1, 1);
    expectVec(empty.scale(1), 1, 1, 1);
    expectVec(empty.scale(2), 3, 3, 3);

    empty.setAlphaAtTime(0.0f, -1);
    empty.setRotationAtTime(Vec3(0, 0, 180), 1);
    EXPECT_EQ(empty.transforms().size(), 3u);
    EXPECT_EQ(empty.alpha(0), 1.0f);
    expectVec(empty.rotation(1), 0, 0, kPi);

    // A frame far past the end costs a record or two, not one per frame
    // between; every frame shows what the per-frame track would show.
    const int64_t far = int64_t(1) << 40, mid = int64_t(1) << 30;
    empty.setPositionAtTime(Vec3(1, 1, 1), far);
    EXPECT_EQ(empty.transforms().size(), 3u);
    EXPECT_EQ(empty.frameCount(), far + 1);
    empty.setPositionAtTime(Vec3(2, 2, 2), mid);
    empty.loadNewData(parsed(R"({"t":0.25})"), mid + 5);
    empty.loadNewData(parsed(R"([{"t":0.5},{"t":0.75}])"), far - 1);
    struct Frame {
        int64_t t;
        float position, alpha;
    };
    for (const Frame& f : {Frame{2, 0, 1}, Frame{3, 0, 1}, Frame{mid - 1, 0, 1}, Frame{mid, 2, 1},
                           Frame{mid + 1, 0, 1}, Frame{mid + 5, 0, 0.25f}, Frame{mid + 6, 0, 1}, Frame{far - 1, 0, 1},
                           Frame{far, 1, 1}, Frame{far + 1, 0, 0.5f}, Frame{far + 2, 0, 0.75f}, Frame{far * 4, 0, 0.75f},
                           Frame{-1, 0, 0.75f}}) {
        EXPECT_EQ(empty.position(f.t).x, f.position) << f.t;
        EXPECT_EQ(empty.alpha(f.t), f.alpha) << f.t;
    }
    EXPECT_EQ(empty.frameCount(), far + 3);
    const TransformManager copy(empty);
    EXPECT_EQ(copy.position(mid).x, 2.0f);
    EXPECT_EQ(copy.alpha(far + 1), 0.5f);
}

TEST(TransformTrack, LoadNewDataReplacesAppendsOrRestarts) {
    const char* five = R"([{"t":0},{"t":0.1},{"t":0.2},{"t":0.3},{"t":0.4}])";
    TransformManager track;
    track.load(parsed(five));
    track.loadNewData(parsed(R"({"t":0.9})"), 2);
    ASSERT_EQ(track.transforms().size(), 5u);
    EXPECT_FLOAT_EQ(track.alpha(2), 0.9f);
    EXPECT_FLOAT_EQ(track.alpha(3), 0.3f);

    track.loadNewData(parsed(R"({"t":0.7})"), 5);
    ASSERT_EQ(track.transforms().size(), 6u);
    EXPECT_FLOAT_EQ(track.alpha(5), 0.7f);

    // Padding with copies of the last record, then an array is appended.
    track.loadNewData(parsed(R"([{"t":0.05},{"t":0.06}])"), 8);
    ASSERT_EQ(track.transforms().size(), 10u);
    EXPECT_FLOAT_EQ(track.alpha(7), 0.7f);
    EXPECT_FLOAT_EQ(track.alpha(8), 0.05f);
    EXPECT_FLOAT_EQ(track.alpha(9), 0.06f);

    // An array at a frame the track already passed follows the old records.
    track.loadNewData(parsed(R"([{"t":0.01}])"), 1);
    ASSERT_EQ(track.transforms().size(), 11u);
    EXPECT_FLOAT_EQ(track.alpha(1), 0.1f);
    EXPECT_FLOAT_EQ(track.alpha(10), 0.01f);

    track.loadNewData(parsed(R"([{"t":0.5}])"), 0);
    ASSERT_EQ(track.transforms().size(), 1u);
    EXPECT_FLOAT_EQ(track.alpha(0), 0.5f);

    TransformManager empty;
    empty.loadNewData(parsed(R"({"t":0.3})"), 2);
    ASSERT_EQ(empty.transforms().size(), 3u);
    EXPECT_EQ(empty.alpha(0), 1.0f);
    EXPECT_FLOAT_EQ(empty.alpha(2), 0.3f);
}

TEST(TransformTrack, DataFilesAreArraysOfRecords) {
    TempDir dir;
    const std::string records = R"([{"p":[1,2]},{"p":[3,4]}])";
    QvTest::writeFile(dir.file("plain.json"), records);
    QvTest::writeFile(dir.file("packed.json"), QvTest::handMadePack(records, "packed.json"));
    QvTest::writeFile(dir.file("bom.json"), "\xEF\xBB\xBF" + records);
    QvTest::writeFile(dir.file("object.json"), R"({"p":[9,9]})");
    QvTest::writeFile(dir.file("broken.json"), records.substr(0, 10));
    QvTest::writeFile(dir.file("deep.json"), std::string(100000, '['));
    QvTest::writeFile(dir.file("tail.json"), records + std::string(1, '\0') + "garbage");
    QvTest::writeFile(dir.file("spaced.json"), "[ {\"k\":\",]}\"} ,\n{\"p\":[3,4]} ]");
    QvTest::writeFile(dir.file("late.json"), R"([{"p":[1,2]},{"p":[3,4]},{"p":[5,6]} x])");

    for (const char* name : {"plain.json", "packed.json", "tail.json", "spaced.json"}) {
        TransformManager track;
        track.load(dir.file(name));
        ASSERT_EQ(track.transforms().size(), 2u) << name;
        expectVec(track.position(1), 3, 4, 0);
    }
    // Anything else leaves the track exactly as it was.
    for (const char* name : {"bom.json", "object.json", "broken.json", "deep.json", "missing.json", "late.json"}) {
        TransformManager track;
        track.load(parsed(R"([{"p":[5,5]},{},{}])"));
        track.load(dir.file(name));
        ASSERT_EQ(track.transforms().size(), 3u) << name;
        expectVec(track.position(0), 5, 5, 0);
    }
    // Frames that show the same share one record (bare numbers are all
    // defaults) until one of them is changed.
    QvTest::writeFile(dir.file("shared.json"), R"([1, 2, {"p":[3,4]}, {"p":[3,4]}, {"p":[3,4]}])");
    TransformManager track;
    track.load(dir.file("shared.json"));
    // Measured, the file's records stay shared: only a change copies them.
    EXPECT_TRUE(track.isShared());
    EXPECT_EQ(track.listedFrames(), 5u);
    EXPECT_EQ(track.recordCount(), 2u);
    EXPECT_TRUE(track.isShared());
    // Reading a matrix caches a copy of the record read, one for the frames
    // that share it, and a copy of the track takes the caches along.
    const size_t cached = track.cacheGrowthAt(0);
    EXPECT_GT(cached, 0u);
    EXPECT_EQ(track.cachedBytes(), 0u);
    track.aetransform(1);
    EXPECT_EQ(track.cachedBytes(), cached);
    EXPECT_EQ(track.cacheGrowthAt(0), 0u);
    EXPECT_EQ(track.cacheGrowthAt(4), cached);
    EXPECT_EQ(TransformManager(track).cachedBytes(), cached);
    ASSERT_EQ(track.transforms().size(), 5u);
    EXPECT_FALSE(track.isShared());
    EXPECT_EQ(track.cachedBytes(), 0u);
    EXPECT_EQ(track.transforms()[0], track.transforms()[1]);
    EXPECT_EQ(track.transforms()[2], track.transforms()[4]);
    track.setPositionAtTime(Vec3(7, 7, 0), 3);
    expectVec(track.position(2), 3, 4, 0);
    expectVec(track.position(3), 7, 7, 0);
    expectVec(track.position(4), 3, 4, 0);
    EXPECT_EQ(track.recordCount(), 4u);
    track.setAlphaAtTime(0.5f, 1000);  // a run past the list
    EXPECT_EQ(track.listedFrames(), 5u);
    EXPECT_EQ(track.recordCount(), 5u);
    TransformManager copy(track);
    EXPECT_EQ(copy.transforms()[0], copy.transforms()[1]);
    expectVec(copy.position(3), 7, 7, 0);
}

TEST(TransformMatrix, LayerMatrixComposesAnchorScaleRotationPosition) {
    TransformData d = record(R"({"a":[50,50],"p":[100,100],"s":[2,2],"r":90})");
    const Mat4& m = *d.aeTransform();
    expectVec(apply(m, Vec3(50, 50, 0)), 100, 100, 0, 1e-4f);
    expectVec(apply(m, Vec3(60, 50, 0)), 100, 120, 0, 1e-4f);

    TransformData noTurn = record(R"({"a":[50,50],"p":[100,100],"s":[2,2]})");
    expectVec(apply(*noTurn.aeTransform(), Vec3(50, 50, 0)), 100, 100, 0, 1e-4f);
    expectVec(apply(*noTurn.aeTransform(), Vec3(60, 50, 0)), 120, 100, 0, 1e-4f);

    // Three axes: the matrix Rx Ry Rz, so z turns first.
    TransformData xyz = record(R"({"r":[90,0,90]})");
    expectVec(apply(*xyz.aeTransform(), Vec3(1, 0, 0)), 0, 0, 1);
    expectVec(apply(*xyz.aeTransform(), Vec3(0, 1, 0)), -1, 0, 0);

    const Vec3 anchor(12, -4, 3), position(300, 200, -50), scale(1.5f, 0.5f, 2), degrees(20, -35, 110);
    TransformData any(parsed(R"({"a":[12,-4,3],"p":[300,200,-50],"s":[1.5,0.5,2],"r":[20,-35,110]})"));
    for (const Vec3& q : kSamples) {
        const Vec3 expected = layerMap(q, anchor, position, scale, degrees);
        expectVec(apply(*any.aeTransform(), q), expected.x, expected.y, expected.z, 1e-3f);
    }
}

TEST(TransformMatrix, GlMatricesWorkInTheCentredDrawingSpace) {
    const float w = 200, h = 100;
    const Vec3 anchor(12, -4, 3), position(30, 20, -5), scale(1.5f, 0.5f, 2), degrees(20, -35, 110);
    const char* json = R"({"a":[12,-4,3],"p":[30,20,-5],"s":[1.5,0.5,2],"r":[20,-35,110]})";
    TransformData layer = record(json);
    TransformData camera = record(json);
    for (const Vec3& q : kSamples) {
        // An ordinary layer: the GL image of a point is the GL image of its
        // composition-space image.
        const Vec3 expected = toGL(layerMap(q, anchor, position, scale, degrees), w, h);
        const Vec3 got = apply(*layer.transform(w, h, false), toGL(q, w, h));
        expectVec(got, expected.x, expected.y, expected.z, 1e-3f);
        // A camera layer: y and z of the drawing space are flipped back into
        // the composition's sense before the layer matrix applies.
        const Vec3 cam = toGL(layerMap(Vec3(q.x, -q.y, -q.z), anchor, position, scale, degrees), w, h);
        const Vec3 gotCam = apply(*camera.transform(w, h, true), q);
        expectVec(gotCam, cam.x, cam.y, cam.z, 1e-3f);
    }
    // A default camera sits at the composition's top left corner.
    TransformData still;
    const Mat4& view = *still.transform(w, h, true);
    expectVec(apply(view, Vec3(0, 0, 0)), -w / 2, h / 2, 0);
    expectVec(apply(view, Vec3(1, 1, 1)), 1 - w / 2, 1 + h / 2, 1);
    EXPECT_TRUE(isIdentity(TransformManager::ConvertCoordinateFrom3DTo2D(Mat4(true), w, h)));
}

TEST(TransformMatrix, AnchorOffsetMovesTheAnchor) {
    const float w = 640, h = 360;
    TransformData d = record(R"({"a":[10,20],"p":[320,180],"r":30,"s":[2,1]})");
    TransformData moved = record(R"({"a":[7,25],"p":[320,180],"r":30,"s":[2,1]})");
    const Vec3 offset(3, -5, 0);
    const Mat4 expectAe = *moved.aeTransform();
    const Mat4 expectGl = *moved.transform(w, h, false);
    EXPECT_TRUE(*d.aeTransformOffset(offset) == expectAe);
    EXPECT_TRUE(*d.transformWithAnchorOffset(offset, w, h, false) == expectGl);
    EXPECT_EQ(d.transformWithAnchorOffset(Vec3(), w, h, false), d.transform(w, h, false));

    TransformManager track;
    track.load(parsed(R"({"a":[10,20],"p":[320,180],"r":30,"s":[2,1]})"));
    track.setAnchorOffset(offset);
    EXPECT_TRUE(track.aetransformWithAnchorOffset(4) == expectAe);
    EXPECT_TRUE(track.transformWithAnchorOffset(4, w, h, false) == expectGl);
}

TEST(TransformMatrix, CachedMatricesFollowChanges) {
    const float w = 100, h = 100;
    TransformManager track;
    track.load(parsed(R"([{"p":[10,10]}])"));
    track.setAnchorOffset(Vec3(1, 1, 0));
    expectVec(apply(*track.transform(0, w, h, false), Vec3(0, 0, 0)), 10, -10, 0);
    track.transformWithAnchorOffset(0, w, h, false);

    const Mat4* before = track.transform(0, w, h, false);
    track.setAlphaAtTime(0.5f, 0);  // opacity is no input of the matrices
    EXPECT_EQ(track.transform(0, w, h, false), before);

    track.setPositionAtTime(Vec3(30, 40, 0), 0);
    expectVec(apply(*track.transform(0, w, h, false), Vec3(0, 0, 0)), 30, -40, 0);
    expectVec(apply(track.transformWithAnchorOffset(0, w, h, false), Vec3(0, 0, 0)), 31, -41, 0);
    expectVec(apply(*track.aetransform(0), Vec3(0, 0, 0)), 30, 40, 0);
}

TEST(TransformTrack, CopiesAreDeepAndDropTheAnchorOffset) {
    TransformManager track;
    track.load(parsed(R"([{"p":[1,1]},{"p":[2,2],"r":45}])"));
    track.setAnchorOffset(Vec3(5, 5, 5));
    const Mat4 built = *track.transform(1, 64, 64, false);  // copied along with the record
    TransformManager copy(track);
    ASSERT_EQ(copy.transforms().size(), 2u);
    expectVec(copy.anchorOffset(), 0, 0, 0);
    EXPECT_NE(copy.transforms()[1], track.transforms()[1]);
    EXPECT_TRUE(*copy.transform(1, 999, 999, false) == built);
    copy.setPositionAtTime(Vec3(8, 8, 8), 0);
    expectVec(track.position(0), 1, 1, 0);
}

}  // namespace
