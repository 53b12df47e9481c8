#include <gtest/gtest.h>

#include "render/PolygonEdgeBuilder.h"

using namespace Quorvane::Core;

namespace {

void expectVec2(const Vec2& got, float x, float y, const char* what, int i) {
    EXPECT_NEAR(got.x, x, 1e-5) << what << " " << i;
    EXPECT_NEAR(got.y, y, 1e-5) << what << " " << i;
}

// The vertex at index k of the strip: x, y, u, v, z, w.
std::vector<float> stripVertex(const std::vector<float>& strip, size_t k) {
    return std::vector<float>(strip.begin() + 6 * k, strip.begin() + 6 * k + 6);
}

}  // namespace

TEST(PolygonEdgeBuilder, SquareGivesInnerAndOuterRings) {
    std::vector<Vec2> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    std::vector<Vec3> coords = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    PolygonEdgeBuilder builder;
    builder.setVertexBuffer(&square);
    builder.setTextureCoordsBuffer3(&coords);
    builder.setEdgeWidth(2.0f);
    EXPECT_EQ(builder.textureCoordSize(), 4u);
    builder.build();

    const float inner[4][2] = {{1, 1}, {9, 1}, {9, 9}, {1, 9}};
    const float outer[4][2] = {{-1, -1}, {11, -1}, {11, 11}, {-1, 11}};
    ASSERT_EQ(builder.innerVertices()->size(), 4u);
    ASSERT_EQ(builder.outerVertices()->size(), 4u);
    for (int i = 0; i < 4; ++i) {
        expectVec2((*builder.innerVertices())[i], inner[i][0], inner[i][1], "inner", i);
        expectVec2((*builder.outerVertices())[i], outer[i][0], outer[i][1], "outer", i);
    }

    const std::vector<float>& strip = *builder.result();
    ASSERT_EQ(strip.size(), 96u) << "16 vertices of 6 floats";
    // Each edge: outer i, inner i, outer j, inner j; both sides sample the
    // vertex's own coordinate, w ramps from 1 inside to 0 outside.
    const int order[16][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1},
                              {2, 0}, {2, 1}, {3, 0}, {3, 1}, {3, 0}, {3, 1}, {0, 0}, {0, 1}};
    for (size_t k = 0; k < 16; ++k) {
        const int vertex = order[k][0];
        const bool isInner = order[k][1] == 1;
        const std::vector<float> v = stripVertex(strip, k);
        const float* p = isInner ? inner[vertex] : outer[vertex];
        EXPECT_NEAR(v[0], p[0], 1e-5) << k;
        EXPECT_NEAR(v[1], p[1], 1e-5) << k;
        EXPECT_EQ(v[2], coords[vertex].x) << k;
        EXPECT_EQ(v[3], coords[vertex].y) << k;
        EXPECT_EQ(v[4], coords[vertex].z) << k;
        EXPECT_EQ(v[5], isInner ? 1.0f : 0.0f) << k;
    }
    EXPECT_EQ(builder.innerCoords()[2].w, 1.0f);
    EXPECT_EQ(builder.outerCoords()[2].w, 0.0f);

    // The opposite winding swaps the sides.
    std::vector<Vec2> reversed = {{0, 0}, {0, 10}, {10, 10}, {10, 0}};
    builder.setVertexBuffer(&reversed);
    builder.build();
    expectVec2((*builder.innerVertices())[0], -1, -1, "reversed inner", 0);
    expectVec2((*builder.outerVertices())[0], 1, 1, "reversed outer", 0);
}

TEST(PolygonEdgeBuilder, RebuildReplacesAndBadInputLeavesEverythingEmpty) {
    std::vector<Vec2> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    std::vector<Vec3> squareCoords(4);
    std::vector<Vec2> triangle = {{0, 0}, {4, 0}, {0, 4}};
    std::vector<Vec3> triangleCoords(3);
    PolygonEdgeBuilder builder;
    builder.build();  // no inputs at all
    EXPECT_TRUE(builder.result()->empty());

    builder.setVertexBuffer(&square);
    builder.setTextureCoordsBuffer3(&squareCoords);
    builder.build();
    EXPECT_EQ(builder.result()->size(), 96u) << "default width 1";
    builder.setVertexBuffer(&triangle);
    builder.setTextureCoordsBuffer3(&triangleCoords);
    builder.build();
    EXPECT_EQ(builder.result()->size(), 72u) << "replaced, not appended";
    EXPECT_EQ(builder.innerVertices()->size(), 3u);

    auto expectEmpty = [&](const char* why) {
        builder.build();
        EXPECT_TRUE(builder.result()->empty()) << why;
        EXPECT_TRUE(builder.innerVertices()->empty()) << why;
        EXPECT_TRUE(builder.outerVertices()->empty()) << why;
        EXPECT_TRUE(builder.innerCoords().empty()) << why;
        EXPECT_TRUE(builder.outerCoords().empty()) << why;
    };
    builder.setEdgeWidth(1e-6f);
    expectEmpty("width not above 2e-6");
    builder.setEdgeWidth(2.0f);
    builder.setTextureCoordsBuffer3(&squareCoords);
    expectEmpty("coordinate count differs from vertex count");
    std::vector<Vec2> two = {{0, 0}, {1, 1}};
    std::vector<Vec3> twoCoords(2);
    builder.setVertexBuffer(&two);
    builder.setTextureCoordsBuffer3(&twoCoords);
    expectEmpty("two vertices");
    std::vector<Vec3> none;
    builder.setTextureCoordsBuffer3(&none);
    builder.setVertexBuffer(&triangle);
    expectEmpty("no coordinates");
}
