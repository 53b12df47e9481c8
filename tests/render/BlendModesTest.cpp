#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "render/BlendModes.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::GLFixture;

namespace {

struct RGBA {
    float r, g, b, a;
};

// ---- Reference formulas, written from the mode descriptions ----

using Channel = std::function<float(float, float)>;

float lighten(float a, float b) {
    return std::max(a, b);
}
float darken(float a, float b) {
    return std::min(a, b);
}
float screen(float a, float b) {
    return 1.0f - (1.0f - a) * (1.0f - b);
}
float overlay(float a, float b) {
    return a < 0.5f ? 2.0f * a * b : 1.0f - 2.0f * (1.0f - a) * (1.0f - b);
}
float softLight(float a, float b) {
    return b < 0.5f ? 2.0f * a * b + a * a * (1.0f - 2.0f * b)
                    : std::sqrt(a) * (2.0f * b - 1.0f) + 2.0f * a * (1.0f - b);
}
float colorDodge(float a, float b) {
    return b == 1.0f ? b : std::min(a / (1.0f - b), 1.0f);
}
float colorBurn(float a, float b) {
    return b == 0.0f ? b : std::max(1.0f - (1.0f - a) / b, 0.0f);
}
float linearLight(float a, float b) {
    return b < 0.5f ? std::max(a + 2.0f * b - 1.0f, 0.0f) : std::min(a + 2.0f * (b - 0.5f), 1.0f);
}
float vividLight(float a, float b) {
    return b < 0.5f ? colorBurn(a, 2.0f * b) : colorDodge(a, 2.0f * (b - 0.5f));
}
float pinLight(float a, float b) {
    return b < 0.5f ? darken(a, 2.0f * b) : lighten(a, 2.0f * (b - 0.5f));
}
float hardMix(float a, float b) {
    return vividLight(a, b) < 0.5f ? 0.0f : 1.0f;
}
float reflect(float a, float b) {
    return b == 1.0f ? b : std::min(a * a / (1.0f - b), 1.0f);
}

struct HSL {
    float h, s, l;
};

HSL toHSL(float r, float g, float b) {
    const float lo = std::min({r, g, b}), hi = std::max({r, g, b});
    const float delta = hi - lo;
    HSL out{0.0f, 0.0f, (hi + lo) / 2.0f};
    if (delta == 0.0f) return out;
    out.s = out.l < 0.5f ? delta / (hi + lo) : delta / (2.0f - hi - lo);
    const float dr = ((hi - r) / 6.0f + delta / 2.0f) / delta;
    const float dg = ((hi - g) / 6.0f + delta / 2.0f) / delta;
    const float db = ((hi - b) / 6.0f + delta / 2.0f) / delta;
    if (r == hi) {
        out.h = db - dg;
    } else if (g == hi) {
        out.h = 1.0f / 3.0f + dr - db;
    } else {
        out.h = 2.0f / 3.0f + dg - dr;
    }
    if (out.h < 0.0f) {
        out.h += 1.0f;
    } else if (out.h > 1.0f) {
        out.h -= 1.0f;
    }
    return out;
}

float hueChannel(float f1, float f2, float hue) {
    if (hue < 0.0f) {
        hue += 1.0f;
    } else if (hue > 1.0f) {
        hue -= 1.0f;
    }
    if (6.0f * hue < 1.0f) return f1 + (f2 - f1) * 6.0f * hue;
    if (2.0f * hue < 1.0f) return f2;
    if (3.0f * hue < 2.0f) return f1 + (f2 - f1) * (2.0f / 3.0f - hue) * 6.0f;
    return f1;
}

RGBA fromHSL(HSL c, float alpha) {
    if (c.s == 0.0f) return {c.l, c.l, c.l, alpha};
    const float f2 = c.l < 0.5f ? c.l * (1.0f + c.s) : (c.l + c.s) - c.s * c.l;
    const float f1 = 2.0f * c.l - f2;
    return {hueChannel(f1, f2, c.h + 1.0f / 3.0f), hueChannel(f1, f2, c.h),
            hueChannel(f1, f2, c.h - 1.0f / 3.0f), alpha};
}

float sign(float v) {
    return v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f);
}

RGBA perChannel(const RGBA& base, const RGBA& blend, const Channel& f) {
    return {f(base.r, blend.r), f(base.g, blend.g), f(base.b, blend.b), blend.a};
}

RGBA reference(int mode, const RGBA& base, const RGBA& blend) {
    const HSL bh = toHSL(base.r, base.g, base.b);
    const HSL lh = toHSL(blend.r, blend.g, blend.b);
    switch (mode) {
        case 0: {
            const float t = std::max(blend.a, 1.0f - sign(base.a));
            return {base.r + (blend.r - base.r) * t, base.g + (blend.g - base.g) * t,
                    base.b + (blend.b - base.b) * t, blend.a + (1.0f - blend.a) * base.a};
        }
        case 1:
            return perChannel(base, blend, lighten);
        case 2:
            return perChannel(base, blend, darken);
        case 3:
            return perChannel(base, blend, [](float a, float b) { return a * b; });
        case 4:
            return perChannel(base, blend, [](float a, float b) { return (a + b) / 2.0f; });
        case 5:
        case 16:
            return perChannel(base, blend, [](float a, float b) { return std::min(a + b, 1.0f); });
        case 6:
        case 17:
            return perChannel(base, blend, [](float a, float b) { return std::max(a + b - 1.0f, 0.0f); });
        case 7:
            return perChannel(base, blend, [](float a, float b) { return std::fabs(a - b); });
        case 8:
            return perChannel(base, blend, [](float a, float b) { return 1.0f - std::fabs(1.0f - a - b); });
        case 9:
            return perChannel(base, blend, [](float a, float b) { return a + b - 2.0f * a * b; });
        case 10:
            return perChannel(base, blend, screen);
        case 11:
        case 13:
            return perChannel(base, blend, overlay);
        case 12:
            return perChannel(base, blend, softLight);
        case 14:
            return perChannel(base, blend, colorDodge);
        case 15:
            return perChannel(base, blend, colorBurn);
        case 18:
            return perChannel(base, blend, linearLight);
        case 19:
            return perChannel(base, blend, vividLight);
        case 20:
            return perChannel(base, blend, pinLight);
        case 21:
            return perChannel(base, blend, hardMix);
        case 22:
        case 23:
            return perChannel(base, blend, reflect);
        case 24:
            return perChannel(base, blend,
                              [](float a, float b) { return std::min(a, b) - std::max(a, b) + 1.0f; });
        case 25: {
            const float t = blend.a;
            return {base.r + (blend.r - base.r) * t, base.g + (blend.g - base.g) * t,
                    base.b + (blend.b - base.b) * t, blend.a};
        }
        case 26:
            return fromHSL({lh.h, bh.s * sign(lh.s) * sign(lh.l), bh.l}, blend.a);
        case 27:
            return fromHSL({bh.h, lh.s, bh.l}, blend.a);
        case 28:
            return fromHSL({lh.h, lh.s, bh.l}, blend.a);
        case 29:
            return fromHSL({bh.h, bh.s, lh.l}, blend.a);
    }
    return {0, 0, 0, 0};
}

int quantise(float v) {
    return static_cast<int>(std::lround(std::min(std::max(v, 0.0f), 1.0f) * 255.0f));
}

// ---- The grid of colour pairs ----

struct Grid {
    std::vector<RGBA> base;
    std::vector<RGBA> blend;
};

Grid makeGrid() {
    // 0, 0.5 and 1, values beside the 0.5 branch point, and two in between.
    const float v[] = {0.0f, 0.25f, 0.49f, 0.5f, 0.51f, 0.75f, 1.0f};
    const float baseAlpha[] = {1.0f, 0.5f, 0.0f};
    const float blendAlpha[] = {1.0f, 0.25f, 0.5f, 0.0f};
    const int n = 7;
    Grid grid;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            grid.base.push_back({v[i], v[j], v[(i + 2 * j) % n], baseAlpha[(i + j) % 3]});
            grid.blend.push_back({v[j], v[(i + j) % n], v[i], blendAlpha[(2 * i + j) % 4]});
        }
    }
    // Greys (no saturation) against colours, both ways, and equal colours.
    grid.base.push_back({0.2f, 0.6f, 0.9f, 1.0f});
    grid.blend.push_back({0.4f, 0.4f, 0.4f, 1.0f});
    grid.base.push_back({0.3f, 0.3f, 0.3f, 1.0f});
    grid.blend.push_back({0.9f, 0.1f, 0.5f, 1.0f});
    grid.base.push_back({0.8f, 0.4f, 0.1f, 1.0f});
    grid.blend.push_back({0.8f, 0.4f, 0.1f, 0.75f});
    grid.base.push_back({0.1f, 0.9f, 0.6f, 0.25f});
    grid.blend.push_back({0.7f, 0.2f, 0.95f, 1.0f});
    return grid;
}

std::vector<float> flatten(const std::vector<RGBA>& colours) {
    std::vector<float> out;
    for (const RGBA& c : colours) out.insert(out.end(), {c.r, c.g, c.b, c.a});
    return out;
}

const char* const kVertex =
    "attribute vec2 position;\nattribute vec2 inCoords;\nvarying vec2 textureCoords;\n"
    "void main(){gl_Position = vec4(position, 0.0, 1.0); textureCoords = inCoords;}";

class BlendPixels : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        grid_ = makeGrid();
        count_ = static_cast<int>(grid_.base.size());
        baseTexture_ = uploadFloatTexture(count_, 1, flatten(grid_.base));
        blendTexture_ = uploadFloatTexture(count_, 1, flatten(grid_.blend));
        const float strip[] = {-1, -1, 0, 0, 1, -1, 1, 0, -1, 1, 0, 1, 1, 1, 1, 1};
        glGenBuffers(1, &buffer_);
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        glBufferData(GL_ARRAY_BUFFER, sizeof strip, strip, GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    void TearDown() override {
        deleteTexture(baseTexture_);
        deleteTexture(blendTexture_);
        glDeleteBuffers(1, &buffer_);
        GLFixture::TearDown();
    }

    // Runs the mode's GLSL function over the grid, the way the compositing
    // pass assembles it (Normal's text first for every other mode).
    QvTest::Pixels run(BlendMode mode) {
        std::string fragment =
            "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec2 textureCoords;\n"
            "uniform sampler2D baseTexture;\nuniform sampler2D blendTexture;\n";
        if (mode != BlendMode::Normal) fragment += BlendModes::GetBlendDefineStr(BlendMode::Normal);
        fragment += BlendModes::GetBlendDefineStr(mode);
        fragment +=
            "void main(){\nlowp vec4 base = texture2D(baseTexture, textureCoords);\n"
            "vec4 blend = texture2D(blendTexture, textureCoords);\ngl_FragColor = " +
            BlendModes::GetBlendName(mode) + "(base, blend);\n}";
        GLShader shader(kVertex, fragment);
        shader.addAttributeBinding("position", 0);
        shader.addAttributeBinding("inCoords", 1);
        GLRenderDestination dest(count_, 1);
        dest.bindDestination();
        glDisable(GL_BLEND);
        shader.useProgram();
        EXPECT_NE(shader.program(), 0u) << fragment;
        shader.setUniformTexture("baseTexture", GL_TEXTURE_2D, static_cast<int>(baseTexture_), 0);
        shader.setUniformTexture("blendTexture", GL_TEXTURE_2D, static_cast<int>(blendTexture_), 1);
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        shader.setAttribute2fv(0, nullptr, 4 * sizeof(float));
        shader.setAttribute2fv(1, reinterpret_cast<const float*>(2 * sizeof(float)), 4 * sizeof(float));
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        shader.disableVertexAttributeArray(0);
        shader.disableVertexAttributeArray(1);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        shader.unuseProgram();
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, 0);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, 0);
        QvTest::Pixels px = readFramebuffer(0, 0, count_, 1);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return px;
    }

    Grid grid_;
    int count_ = 0;
    GLuint baseTexture_ = 0;
    GLuint blendTexture_ = 0;
    GLuint buffer_ = 0;
};

}  // namespace

TEST(BlendModeTexts, NamesAndDisplayNames) {
    const char* names[] = {
        "BlendNormal",    "BlendLighten",     "BlendDarken",     "BlendMultiply",    "BlendAverage",
        "BlendAdd",       "BlendSubtract",    "BlendDifference", "BlendNegation",    "BlendExclusion",
        "BlendScreen",    "BlendOverlay",     "BlendSoftLight",  "BlendHardLight",   "BlendColorDodge",
        "BlendColorBurn", "BlendLinearDodge", "BlendLinearBurn", "BlendLinearLight", "BlendVividLight",
        "BlendPinLight",  "BlendHardMix",     "BlendReflect",    "BlendGlow",        "BlendPhoenix",
        "BlendOpacity ",  "BlendHue",         "BlendSaturation", "BlendColor",       "BlendLuminosity"};
    const char* display[] = {"Normal",     "Lighten",      "Darken",      "Multiply",     "Average",
                             "Add",        "Subtract",     "Difference",  "Negation",     "Exclusion",
                             "Screen",     "Overlay",      "Soft Light",  "Hard Light",   "Color Dodge",
                             "Color Burn", "Linear Dodge", "Linear Burn", "Linear Light", "Vivid Light",
                             "Pin Light",  "Hard Mix",     "Reflect",     "Glow",         "Phoenix",
                             "Opacity ",   "Hue",          "Saturation",  "Color",        "Luminosity"};
    for (int i = 0; i < kBlendModeCount; ++i) {
        const BlendMode mode = static_cast<BlendMode>(i);
        EXPECT_EQ(BlendModes::GetBlendName(mode), names[i]);
        EXPECT_EQ(BlendModes::GetBlendDisplayName(mode), display[i]);
        const std::string text = BlendModes::GetBlendDefineStr(mode);
        std::string defined = names[i];
        while (defined.back() == ' ') defined.pop_back();
        EXPECT_NE(text.find("vec4 " + defined + "(vec4 base, vec4 blend) { "), std::string::npos) << text;
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
    }
    EXPECT_EQ(
        BlendModes::GetBlendDefineStr(BlendMode::Normal),
        "vec4 BlendNormal(vec4 base, vec4 blend) { return vec4(mix(base.rgb, blend.rgb, max(blend.a, 1.0 - "
        "sign(base.a))), blend.a + (1.0 - blend.a) * base.a);}\n");
    EXPECT_EQ(BlendModes::GetBlendDefineStr(BlendMode::Lighten),
              "float BlendLightenf(float base, float blend) { return max(blend, base);}\n"
              "vec4 BlendLighten(vec4 base, vec4 blend) { return vec4(BlendLightenf(base.r, blend.r), "
              "BlendLightenf(base.g, blend.g), BlendLightenf(base.b, blend.b), blend.a);}\n");
}

TEST(BlendModeTexts, OutOfRangeModesGiveEmptyTexts) {
    for (int value : {-1, 30, 31, 1000, -2147483647}) {
        const BlendMode mode = static_cast<BlendMode>(value);
        EXPECT_EQ(BlendModes::GetBlendName(mode), "") << value;
        EXPECT_EQ(BlendModes::GetBlendDefineStr(mode), "") << value;
        EXPECT_EQ(BlendModes::GetBlendDisplayName(mode), "") << value;
    }
}

TEST_F(BlendPixels, EveryModeMatchesItsReference) {
    for (int m = 0; m < kBlendModeCount; ++m) {
        QvTest::Pixels px = run(static_cast<BlendMode>(m));
        int mismatches = 0;
        for (int i = 0; i < count_ && mismatches < 5; ++i) {
            const RGBA& base = grid_.base[i];
            const RGBA& blend = grid_.blend[i];
            const RGBA want = reference(m, base, blend);
            const float wanted[4] = {want.r, want.g, want.b, want.a};
            const float baseC[4] = {base.r, base.g, base.b, base.a};
            const float blendC[4] = {blend.r, blend.g, blend.b, blend.a};
            for (int c = 0; c < 4; ++c) {
                const int got = px.at(i, 0)[c];
                // Hard Mix jumps from 0 to 1 where Vivid Light crosses 0.5:
                // right at the jump either side is a correct rounding.
                if (m == 21 && c < 3 && std::fabs(vividLight(baseC[c], blendC[c]) - 0.5f) < 1e-4f &&
                    (got == 0 || got == 255)) {
                    continue;
                }
                if (std::abs(got - quantise(wanted[c])) > 1) {
                    ++mismatches;
                    ADD_FAILURE() << "mode " << m << " ("
                                  << BlendModes::GetBlendDisplayName(static_cast<BlendMode>(m)) << ") pair "
                                  << i << " channel " << c << ": base (" << base.r << ", " << base.g << ", "
                                  << base.b << ", " << base.a << ") blend (" << blend.r << ", " << blend.g
                                  << ", " << blend.b << ", " << blend.a << ") got " << got << " want "
                                  << quantise(wanted[c]);
                }
            }
        }
    }
}

TEST_F(BlendPixels, AliasedModesGiveIdenticalPixels) {
    const std::pair<BlendMode, BlendMode> aliases[] = {
        {BlendMode::HardLight, BlendMode::Overlay},
        {BlendMode::Glow, BlendMode::Reflect},
        {BlendMode::LinearDodge, BlendMode::Add},
        {BlendMode::LinearBurn, BlendMode::Subtract},
    };
    for (const auto& alias : aliases) {
        EXPECT_EQ(run(alias.first).rgba, run(alias.second).rgba) << static_cast<int>(alias.first);
    }
}

TEST(BlendModeReference, DocumentedCornerCases) {
    // Normal over a transparent base takes the layer whole; over an opaque
    // base it mixes by the layer's alpha.
    RGBA over = reference(0, {0.2f, 0.4f, 0.6f, 0.0f}, {0.9f, 0.1f, 0.3f, 0.4f});
    EXPECT_FLOAT_EQ(over.r, 0.9f);
    EXPECT_FLOAT_EQ(over.a, 0.4f);
    over = reference(0, {0.2f, 0.4f, 0.6f, 1.0f}, {1.0f, 0.0f, 0.2f, 0.25f});
    EXPECT_FLOAT_EQ(over.r, 0.4f);
    EXPECT_FLOAT_EQ(over.a, 1.0f);
    // A grey layer under Hue leaves the grey of the base's lightness.
    RGBA hue = reference(26, {0.2f, 0.6f, 0.9f, 1.0f}, {0.4f, 0.4f, 0.4f, 1.0f});
    EXPECT_NEAR(hue.r, 0.55f, 1e-6);
    EXPECT_NEAR(hue.g, 0.55f, 1e-6);
    EXPECT_NEAR(hue.b, 0.55f, 1e-6);
}
