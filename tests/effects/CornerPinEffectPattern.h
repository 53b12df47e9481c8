// What the geometry effect tests share: a texture whose every texel tells its
// own position (red = column, green = row counted from the layer's top, blue
// 255), the decoding of a read pixel back to that position, and the plane
// homography of the unit square onto a quad, solved here independently of the
// effects' own projective arithmetic.
#pragma once

#include <array>
#include <cmath>
#include <vector>

#include "core/Vector.h"
#include "support/GLFixture.h"

namespace QvTest {

// Row 0 of the texture is the layer's top row, as images are decoded.
inline GLuint uploadPositionPattern(int width, int height) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 255, 255});
    return GLFixture::uploadTexture(width, height, rgba);
}

// The source texel shown at a pixel; false where the pixel is not an opaque
// texel of the pattern (outside the image, or on an anti-aliased edge).
inline bool sourceAt(const Pixels& p, int x, int y, int& sx, int& sy) {
    const uint8_t* v = p.at(x, y);
    if (v[2] != 255 || v[3] != 255) return false;
    sx = v[0];
    sy = v[1];
    return true;
}

// Maps (s, t) of the unit square to the quad tl, tr, br, bl (in that order):
// the 3x3 matrix of the standard square-to-quad construction.
struct Homography {
    double m[9];

    static Homography squareToQuad(const Quorvane::Core::Vec2 q[4]) {
        const double x0 = q[0].x, y0 = q[0].y, x1 = q[1].x, y1 = q[1].y;
        const double x2 = q[2].x, y2 = q[2].y, x3 = q[3].x, y3 = q[3].y;
        const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
        const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        const double den = dx1 * dy2 - dx2 * dy1;
        const double g = (sx * dy2 - dx2 * sy) / den;
        const double h = (dx1 * sy - sx * dy1) / den;
        return Homography{
            {x1 - x0 + g * x1, x3 - x0 + h * x3, x0, y1 - y0 + g * y1, y3 - y0 + h * y3, y0, g, h, 1}};
    }
    Quorvane::Core::Vec2 apply(double s, double t) const {
        const double w = m[6] * s + m[7] * t + m[8];
        return {static_cast<float>((m[0] * s + m[1] * t + m[2]) / w),
                static_cast<float>((m[3] * s + m[4] * t + m[5]) / w)};
    }
    // (s, t) for a point of the quad.
    void invert(double x, double y, double& s, double& t) const {
        const double* a = m;
        const double i0 = a[4] * a[8] - a[5] * a[7], i1 = a[2] * a[7] - a[1] * a[8],
                     i2 = a[1] * a[5] - a[2] * a[4];
        const double i3 = a[5] * a[6] - a[3] * a[8], i4 = a[0] * a[8] - a[2] * a[6],
                     i5 = a[2] * a[3] - a[0] * a[5];
        const double i6 = a[3] * a[7] - a[4] * a[6], i7 = a[1] * a[6] - a[0] * a[7],
                     i8 = a[0] * a[4] - a[1] * a[3];
        const double w = i6 * x + i7 * y + i8;
        s = (i0 * x + i1 * y + i2) / w;
        t = (i3 * x + i4 * y + i5) / w;
    }
};

// Every pixel of the output that lies well inside the quad shows the texel
// the homography puts there, within `tolerance` texels: nearest sampling
// takes the texel below the exact position (1), and every anti-aliased band
// (the effect's own unless the layer's scale makes it vanish, the
// composition's) draws the image half an output pixel in from its outline.
// Answers how many pixels were compared.
inline int expectHomography(const Pixels& p, const Quorvane::Core::Vec2 quad[4], float offsetX, float offsetY,
                            int srcW, int srcH, double tolerance = 1.01) {
    const double kTolerance = tolerance;
    const Homography hom = Homography::squareToQuad(quad);
    int compared = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            double s, t;
            hom.invert(x + 0.5 - offsetX, y + 0.5 - offsetY, s, t);
            const double margin = 2.5 / std::min(srcW, srcH);
            if (!(s > margin && s < 1 - margin && t > margin && t < 1 - margin)) continue;
            int sx, sy;
            EXPECT_TRUE(sourceAt(p, x, y, sx, sy)) << "no texel at " << x << "," << y;
            if (!sourceAt(p, x, y, sx, sy)) return compared;
            EXPECT_NEAR(sx, s * srcW, kTolerance) << "at " << x << "," << y;
            EXPECT_NEAR(sy, t * srcH, kTolerance) << "at " << x << "," << y;
            if (std::fabs(sx - s * srcW) > kTolerance || std::fabs(sy - t * srcH) > kTolerance)
                return compared;
            ++compared;
        }
    }
    return compared;
}

}  // namespace QvTest
