// Pixels of the layer compositing pass against values computed here from the
// blend, matte, opacity and resampling formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "render/CompositeRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "support/GLFixture.h"
#include "support/TestComp.h"

using namespace Quorvane::Core;
using QvTest::TestComp;

namespace {

using RGBA = std::array<double, 4>;   // 0..1
using Pixels = std::vector<uint8_t>;  // rows top first, RGBA8

constexpr int kSize = 8;

RGBA FromBytes(const uint8_t* p) {
    return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
}

Pixels Flat(int w, int h, const std::array<uint8_t, 4>& c) {
    Pixels p(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < p.size(); i += 4) std::copy(c.begin(), c.end(), p.begin() + i);
    return p;
}

// ---- reference formulas ------------------------------------------------------

double Clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}
double Burn(double b, double s) {
    return s == 0.0 ? s : std::max(1.0 - (1.0 - b) / s, 0.0);
}
double Dodge(double b, double s) {
    return s == 1.0 ? s : std::min(b / (1.0 - s), 1.0);
}
double Vivid(double b, double s) {
    return s < 0.5 ? Burn(b, 2 * s) : Dodge(b, 2 * (s - 0.5));
}
double Overlay(double b, double s) {
    return b < 0.5 ? 2 * b * s : 1 - 2 * (1 - b) * (1 - s);
}
double Reflect(double b, double s) {
    return s == 1.0 ? s : std::min(b * b / (1 - s), 1.0);
}

std::array<double, 3> ToHSL(double r, double g, double b) {
    double mn = std::min({r, g, b}), mx = std::max({r, g, b}), d = mx - mn, l = (mx + mn) / 2;
    if (d == 0) return {0, 0, l};
    double s = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
    double dr = ((mx - r) / 6 + d / 2) / d, dg = ((mx - g) / 6 + d / 2) / d, db = ((mx - b) / 6 + d / 2) / d;
    double h = r == mx ? db - dg : g == mx ? 1.0 / 3 + dr - db : 2.0 / 3 + dg - dr;
    if (h < 0)
        h += 1;
    else if (h > 1)
        h -= 1;
    return {h, s, l};
}

double HueToRGB(double f1, double f2, double h) {
    if (h < 0)
        h += 1;
    else if (h > 1)
        h -= 1;
    if (6 * h < 1) return f1 + (f2 - f1) * 6 * h;
    if (2 * h < 1) return f2;
    if (3 * h < 2) return f1 + (f2 - f1) * (2.0 / 3 - h) * 6;
    return f1;
}

std::array<double, 3> FromHSL(std::array<double, 3> hsl) {
    double h = hsl[0], s = hsl[1], l = hsl[2];
    if (s == 0) return {l, l, l};
    double f2 = l < 0.5 ? l * (1 + s) : (l + s) - s * l, f1 = 2 * l - f2;
    return {HueToRGB(f1, f2, h + 1.0 / 3), HueToRGB(f1, f2, h), HueToRGB(f1, f2, h - 1.0 / 3)};
}

double Sign(double v) {
    return v > 0 ? 1 : v < 0 ? -1 : 0;
}

// Colour of blend mode `mode` for base b and layer colour s (alpha is s's).
RGBA BlendReference(int mode, const RGBA& b, const RGBA& s) {
    if (mode == 0) {
        double t = std::max(s[3], 1 - Sign(b[3]));
        RGBA o;
        for (int i = 0; i < 3; ++i) o[i] = b[i] + (s[i] - b[i]) * t;
        o[3] = s[3] + (1 - s[3]) * b[3];
        return o;
    }
    std::function<double(double, double)> channel;
    switch (mode) {
        case 1:
            channel = [](double x, double y) { return std::max(y, x); };
            break;
        case 2:
            channel = [](double x, double y) { return std::min(y, x); };
            break;
        case 3:
            channel = [](double x, double y) { return x * y; };
            break;
        case 4:
            channel = [](double x, double y) { return (x + y) / 2; };
            break;
        case 5:
        case 16:
            channel = [](double x, double y) { return std::min(x + y, 1.0); };
            break;
        case 6:
        case 17:
            channel = [](double x, double y) { return std::max(x + y - 1, 0.0); };
            break;
        case 7:
            channel = [](double x, double y) { return std::abs(x - y); };
            break;
        case 8:
            channel = [](double x, double y) { return 1 - std::abs(1 - x - y); };
            break;
        case 9:
            channel = [](double x, double y) { return x + y - 2 * x * y; };
            break;
        case 10:
            channel = [](double x, double y) { return 1 - (1 - x) * (1 - y); };
            break;
        case 11:
        case 13:
            channel = Overlay;
            break;
        case 12:
            channel = [](double x, double y) {
                return y < 0.5 ? 2 * x * y + x * x * (1 - 2 * y)
                               : std::sqrt(x) * (2 * y - 1) + 2 * x * (1 - y);
            };
            break;
        case 14:
            channel = Dodge;
            break;
        case 15:
            channel = Burn;
            break;
        case 18:
            channel = [](double x, double y) {
                return y < 0.5 ? std::max(x + 2 * y - 1, 0.0) : std::min(x + 2 * (y - 0.5), 1.0);
            };
            break;
        case 19:
            channel = Vivid;
            break;
        case 20:
            channel = [](double x, double y) {
                return y < 0.5 ? std::min(2 * y, x) : std::max(2 * (y - 0.5), x);
            };
            break;
        case 21:
            channel = [](double x, double y) { return Vivid(x, y) < 0.5 ? 0.0 : 1.0; };
            break;
        case 22:
        case 23:
            channel = Reflect;
            break;
        case 24:
            channel = [](double x, double y) { return std::min(x, y) - std::max(x, y) + 1; };
            break;
        case 25: {
            double a = s[3];
            channel = [a](double x, double y) { return x + (y - x) * a; };
            break;
        }
        default:
            break;
    }
    RGBA o{0, 0, 0, s[3]};
    if (channel) {
        for (int i = 0; i < 3; ++i) o[i] = channel(b[i], s[i]);
        return o;
    }
    auto bh = ToHSL(b[0], b[1], b[2]), sh = ToHSL(s[0], s[1], s[2]);
    std::array<double, 3> rgb;
    if (mode == 26) rgb = FromHSL({sh[0], bh[1] * Sign(sh[1]) * Sign(sh[2]), bh[2]});
    if (mode == 27) rgb = FromHSL({bh[0], sh[1], bh[2]});
    if (mode == 28) rgb = FromHSL({sh[0], sh[1], bh[2]});
    if (mode == 29) rgb = FromHSL({bh[0], bh[1], sh[2]});
    for (int i = 0; i < 3; ++i) o[i] = rgb[i];
    return o;
}

// An ordinary layer over an opaque or transparent previous colour.
RGBA LayerOver(int mode, const RGBA& b, RGBA s, double alphaFactor) {
    s[3] *= alphaFactor;
    RGBA blended = mode == 0 ? s : BlendReference(mode, b, s);
    return BlendReference(0, b, blended);
}

::testing::AssertionResult Near(const uint8_t* got, const RGBA& want, int tolerance = 2) {
    for (int i = 0; i < 4; ++i) {
        int w = static_cast<int>(std::lround(Clamp01(want[i]) * 255));
        if (std::abs(got[i] - w) > tolerance)
            return ::testing::AssertionFailure()
                   << "channel " << i << ": got " << int(got[i]) << ", want " << w << " (" << want[i] << ")";
    }
    return ::testing::AssertionSuccess();
}

// ---- GL set-up -------------------------------------------------------------------

class CompositeTest : public QvTest::GLFixture {
protected:
    void SetUp() override {
        QvTest::GLFixture::SetUp();
        comp = std::make_unique<TestComp>(kSize, kSize, 25);
        comp->manager = &manager;
        layer = new RenderLayer(comp.get(), kAVLayer, false);
        comp->addLayer(layer, false);
        pass = std::make_unique<CompositeRenderPass>(layer, BlendMode::Normal, kNoTrackMatte, 0, 0, false);
        Mat4 ortho;
        ortho.setOrtho(-kSize / 2.0f, kSize / 2.0f, kSize / 2.0f, -kSize / 2.0f, -1, 100);
        pass->setProjection(ortho);
        pass->setDrawEdge(false);
        pass->setSourceSize(kSize, kSize);
    }

    void TearDown() override {
        pass.reset();
        comp.reset();
        for (GLuint t : textures) deleteTexture(t);
        QvTest::GLFixture::TearDown();
    }

    GLuint Texture(int w, int h, const Pixels& pixels) {
        textures.push_back(uploadTexture(w, h, pixels));
        return textures.back();
    }

    // Composites into a cleared target of the composition's size and reads it
    // back, top row first.
    Pixels Draw(GLuint previous) {
        GLRenderDestination* target = manager.pushDestination(kSize, kSize);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        pass->prepareForFrame(0);
        pass->draw(previous);
        QvTest::Pixels read = readFramebuffer(0, 0, kSize, kSize);
        manager.popDestination(true);
        (void)target;
        Pixels out(kSize * kSize * 4);
        for (int y = 0; y < kSize; ++y)
            std::copy_n(read.at(0, kSize - 1 - y), kSize * 4, out.begin() + y * kSize * 4);
        return out;
    }

    static const uint8_t* At(const Pixels& p, int x, int y) { return p.data() + (y * kSize + x) * 4; }

    GLFrameBufferManager manager;
    std::unique_ptr<TestComp> comp;
    RenderLayer* layer = nullptr;
    std::unique_ptr<CompositeRenderPass> pass;
    std::vector<GLuint> textures;
};

// Base and layer colours chosen away from the thresholds of the piecewise
// modes (hard mix, overlay, soft light), so rounding to 8 bits cannot flip a
// branch.
const std::array<uint8_t, 4> kBase = {200, 64, 204, 255};
const std::array<uint8_t, 4> kLayer = {90, 179, 38, 204};

}  // namespace

TEST_F(CompositeTest, EveryBlendModeOverAPreviousTexture) {
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    const RGBA b = FromBytes(kBase.data()), s = FromBytes(kLayer.data());
    for (int mode = 0; mode < kBlendModeCount; ++mode) {
        pass->setBlendMode(static_cast<BlendMode>(mode));
        Pixels out = Draw(previous);
        EXPECT_TRUE(Near(At(out, 3, 4), LayerOver(mode, b, s, 1.0), 3)) << "blend mode " << mode;
    }
}

TEST_F(CompositeTest, OpacityAndTheEndingWithoutPreviousTexture) {
    const std::array<uint8_t, 4> opaque = {90, 179, 38, 255};
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, opaque)));
    pass->setAlpha(0.25f);
    const RGBA b = FromBytes(kBase.data()), s = FromBytes(opaque.data());
    Pixels out = Draw(previous);
    RGBA want{b[0] + (s[0] - b[0]) * 0.25, b[1] + (s[1] - b[1]) * 0.25, b[2] + (s[2] - b[2]) * 0.25, 1.0};
    EXPECT_TRUE(Near(At(out, 5, 5), want));

    // Nothing below: the layer's colour with its scaled alpha, as it is.
    out = Draw(0);
    EXPECT_TRUE(Near(At(out, 5, 5), RGBA{s[0], s[1], s[2], 0.25}));
}

TEST_F(CompositeTest, TrackMatteTypesInsideAndOutsideTheMatte) {
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    const std::array<uint8_t, 4> matte = {230, 128, 51, 179};
    GLuint matteTexture = Texture(4, 4, Flat(4, 4, matte));
    const RGBA b = FromBytes(kBase.data()), s = FromBytes(kLayer.data()), m = FromBytes(matte.data());
    const double luma = m[0] * 0.299 + m[1] * 0.587 + m[2] * 0.114;
    // The matte layer covers the top-left 4 x 4 pixels of the composition.
    const double inside[5] = {1.0, m[3], 1 - m[3], luma * m[3], 1 - luma * m[3]};
    const double outside[5] = {1.0, 0.0, 1.0, 0.0, 1.0};

    pass->setMatteTexture(matteTexture);  // ignored while the type is 0
    EXPECT_EQ(pass->matteTexture(), 0u);
    for (int type = 1; type < kTrackMatteTypeCount; ++type) {
        pass->setMatteType(static_cast<TrackMatteType>(type));
        pass->setMatteTexture(matteTexture);
        pass->setMatteTransform(Mat4());
        pass->setMatteSize(Vec2(4, 4));
        Pixels out = Draw(previous);
        EXPECT_TRUE(Near(At(out, 1, 2), LayerOver(0, b, s, inside[type]))) << "inside, matte type " << type;
        EXPECT_TRUE(Near(At(out, 6, 6), LayerOver(0, b, s, outside[type]))) << "outside, matte type " << type;
    }

    // A matte layer moved right by 4 pixels covers the top-right quadrant.
    pass->setMatteType(kAlphaMatte);
    Mat4 moved;
    moved.setTranslate(4, 0, 0);
    pass->setMatteTransform(moved);
    Pixels out = Draw(previous);
    EXPECT_TRUE(Near(At(out, 6, 1), LayerOver(0, b, s, m[3])));
    EXPECT_TRUE(Near(At(out, 1, 1), b));

    // Scale 0 in depth alone still places the matte; scale 0 on x or y leaves
    // no matte, so an alpha matte hides the layer and an inverted one shows it.
    struct Scaled {
        Vec3 scale;
        TrackMatteType type;
        double topLeft;
    };
    for (const Scaled& c : {Scaled{{1, 1, 0}, kAlphaMatte, m[3]}, Scaled{{0, 1, 1}, kAlphaMatte, 0.0},
                            Scaled{{1, 0, 1}, kAlphaMatte, 0.0}, Scaled{{0, 0, 1}, kInverseAlphaMatte, 1.0}}) {
        pass->setMatteType(c.type);
        pass->setMatteTexture(matteTexture);
        Mat4 scaled;
        scaled.setScale(c.scale);
        pass->setMatteTransform(scaled);
        out = Draw(previous);
        EXPECT_TRUE(Near(At(out, 1, 1), LayerOver(0, b, s, c.topLeft))) << c.scale.x << c.scale.y << c.scale.z;
        EXPECT_TRUE(Near(At(out, 6, 6), LayerOver(0, b, s, c.type == kAlphaMatte ? 0.0 : 1.0)));
    }
}

TEST_F(CompositeTest, AdjustmentLayerMixesByOpacity) {
    layer->setLayerType(kAdjustmentLayer, true);
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    pass->setAlpha(0.4f);
    const RGBA b = FromBytes(kBase.data()), s = FromBytes(kLayer.data());
    auto mix = [](const RGBA& x, const RGBA& y, double t) {
        RGBA o;
        for (int i = 0; i < 4; ++i) o[i] = x[i] * (1 - t) + y[i] * t;
        return o;
    };
    EXPECT_TRUE(Near(At(Draw(previous), 2, 2), mix(b, s, 0.4)));
    pass->setBlendMode(BlendMode::Multiply);
    EXPECT_TRUE(Near(At(Draw(previous), 2, 2), mix(b, BlendReference(3, b, s), 0.4)));
    // Nothing below: the processed image scaled by the opacity, alpha included.
    RGBA scaled{s[0] * 0.4, s[1] * 0.4, s[2] * 0.4, s[3] * 0.4};
    EXPECT_TRUE(Near(At(Draw(0), 2, 2), scaled));
}

TEST_F(CompositeTest, ResampleModes) {
    // A source of varied texels at the composition's size: every fragment
    // centre falls on a texel centre, where the filter and the kernels still
    // reach the neighbours (clamped at the border).
    Pixels source(kSize * kSize * 4);
    // Pseudo-random, so that no kernel's symmetry hides a wrong weight.
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    pass->setSourceTexture(Texture(kSize, kSize, source));
    auto texel = [&](int x, int y, int c) {
        x = std::clamp(x, 0, kSize - 1);
        y = std::clamp(y, 0, kSize - 1);
        return source[(y * kSize + x) * 4 + c] / 255.0;
    };
    auto triangular = [](double f) {
        f /= 2;
        return f < 0 ? f + 1 : 1 - f;
    };
    auto bell = [](double x) {
        double f = x / 2 * 1.5;
        if (f > -1.5 && f < -0.5) return 0.5 * (f + 1.5) * (f + 1.5);
        if (f > -0.5 && f < 0.5) return 0.75 - f * f;
        if (f > 0.5 && f < 1.5) return 0.5 * (f - 1.5) * (f - 1.5);
        return 0.0;
    };
    auto reference = [&](int mode, int x, int y) {
        RGBA o{};
        const double a = 0.5, b = 0.5;  // fract(u * width) at a texel centre
        for (int c = 0; c < 4; ++c) {
            if (mode == 0) o[c] = texel(x, y, c);
            if (mode == 1) {
                double top = texel(x, y, c) * (1 - a) + texel(x + 1, y, c) * a;
                double bottom = texel(x, y + 1, c) * (1 - a) + texel(x + 1, y + 1, c) * a;
                o[c] = top * (1 - b) + bottom * b;
            }
            if (mode >= 2) {
                double sum = 0, weights = 0;
                for (int m = -1; m <= 2; ++m)
                    for (int n = -1; n <= 2; ++n) {
                        double w = mode == 2 ? triangular(m - a) * triangular(-(n - b))
                                             : bell(m - a) * bell(-(n - b));
                        sum += texel(x + m, y + n, c) * w;
                        weights += w;
                    }
                o[c] = sum / weights;
            }
        }
        return o;
    };
    for (int mode = 0; mode < kLayerResampleModeCount; ++mode) {
        pass->setResampleMode(static_cast<LayerResampleMode>(mode));
        ASSERT_EQ(pass->resampleMode(), mode);
        Pixels out = Draw(0);
        for (auto [x, y] : {std::pair{0, 0}, {3, 2}, {7, 5}, {5, 7}})
            EXPECT_TRUE(Near(At(out, x, y), reference(mode, x, y)))
                << "mode " << mode << " at " << x << "," << y;
    }

    // A context without advanced resampling samples plainly.
    comp->advancedResample = false;
    pass->setResampleMode(kBiCubicTriangluarResampleMode);
    EXPECT_EQ(pass->resampleMode(), kDefaultResampleMode);
    EXPECT_TRUE(Near(At(Draw(0), 3, 2), reference(0, 3, 2)));
}

TEST_F(CompositeTest, ThreeDLayerWithIdentityCameraMatchesTheFlatLayer) {
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    pass->setSourceSize(4, 4);
    pass->setBlendMode(BlendMode::Multiply);
    Pixels flat = Draw(previous);
    layer->setLayerType(kThreeDLayer, true);
    pass->setCamera(Mat4());
    Pixels deep = Draw(previous);
    for (auto [x, y] : {std::pair{1, 1}, {3, 3}, {5, 2}, {6, 6}})
        EXPECT_TRUE(Near(At(deep, x, y), FromBytes(At(flat, x, y)), 1)) << x << "," << y;
    EXPECT_TRUE(Near(At(deep, 1, 1), LayerOver(3, FromBytes(kBase.data()), FromBytes(kLayer.data()), 1.0)));
}

TEST_F(CompositeTest, OutOfRangeModesCompositeAsNormal) {
    EXPECT_EQ(CheckedBlendMode(30), BlendMode::Normal);
    EXPECT_EQ(CheckedBlendMode(-1), BlendMode::Normal);
    EXPECT_EQ(CheckedBlendMode(29), BlendMode::Luminosity);
    EXPECT_EQ(CheckedMatteType(5), kNoTrackMatte);
    EXPECT_EQ(CheckedMatteType(4), kInverseLumaMatte);
    EXPECT_EQ(CheckedResampleMode(4), kDefaultResampleMode);

    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    pass->setBlendMode(static_cast<BlendMode>(47));
    pass->setMatteType(static_cast<TrackMatteType>(9));
    pass->setResampleMode(static_cast<LayerResampleMode>(-3));
    const RGBA b = FromBytes(kBase.data()), s = FromBytes(kLayer.data());
    EXPECT_TRUE(Near(At(Draw(previous), 4, 4), LayerOver(0, b, s, 1.0)));
}

TEST_F(CompositeTest, PingPongOfPreviousTexturesReusesPrograms) {
    GLuint a = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    GLuint b = Texture(kSize, kSize, Flat(kSize, kSize, {10, 20, 30, 255}));
    pass->setSourceTexture(Texture(kSize, kSize, Flat(kSize, kSize, kLayer)));
    pass->setBlendMode(BlendMode::Screen);
    const RGBA s = FromBytes(kLayer.data());
    const std::array<uint8_t, 4> other = {10, 20, 30, 255};
    for (int frame = 0; frame < 6; ++frame) {
        GLuint previous = frame % 3 == 2 ? 0 : (frame % 2 ? b : a);
        Pixels out = Draw(previous);
        RGBA want = s;
        if (previous) want = LayerOver(10, FromBytes(previous == a ? kBase.data() : other.data()), s, 1.0);
        EXPECT_TRUE(Near(At(out, 1, 6), want)) << "frame " << frame;
    }
    // Two texts: with and without a previous texture.
    EXPECT_EQ(pass->cachedProgramCount(), 2u);
}

TEST_F(CompositeTest, EdgeStripFadesTheBorderAndSkipsNearZeroScale) {
    pass->setDrawEdge(true);
    pass->setSourceTexture(Texture(4, 4, Flat(4, 4, {255, 255, 255, 255})));
    pass->setSourceSize(4, 4);
    // Half a pixel to the right: the quad's left and right edges run through
    // pixel centres, where the strip's ramp is half way.
    Mat4 shift;
    shift.setTranslate(0.5f, 0, 0);
    pass->setTransform(shift);
    Pixels out = Draw(0);
    EXPECT_NEAR(At(out, 0, 2)[3], 128, 16);
    EXPECT_NEAR(At(out, 4, 2)[3], 128, 16);
    EXPECT_EQ(At(out, 2, 2)[3], 255);
    EXPECT_EQ(At(out, 6, 2)[3], 0);
    EXPECT_EQ(pass->edgeStripData().size(), 96u);

    // Outside the quad the composition drawn so far is kept (copied in).
    GLuint previous = Texture(kSize, kSize, Flat(kSize, kSize, kBase));
    out = Draw(previous);
    EXPECT_TRUE(Near(At(out, 6, 2), FromBytes(kBase.data())));
    EXPECT_TRUE(Near(At(out, 2, 6), FromBytes(kBase.data())));
    EXPECT_TRUE(Near(At(out, 2, 2), RGBA{1, 1, 1, 1}));

    // A scale of (almost) zero would make the strip infinitely wide.
    for (float scale : {0.0f, 1e-7f, 1e-5f}) {
        Mat4 tiny;
        tiny.setScale(scale, scale, 1);
        pass->setTransform(tiny);
        Draw(0);
        EXPECT_TRUE(pass->edgeStripData().empty()) << scale;
        for (float v : pass->vertexData()) EXPECT_TRUE(std::isfinite(v)) << scale;
    }
}
