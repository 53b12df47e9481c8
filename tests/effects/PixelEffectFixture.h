// What the tests of the per-pixel effects share: float input images kept on
// the processor for the reference computations, a comparison of a drawn
// destination with a reference image, a draw into a float target that shows
// the values before the 8-bit destination clamps them (NaN included), and the
// registration check.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EffectFixture.h"
#include "render/GLShader.h"

namespace QvTest {

using Rgba = std::array<float, 4>;

// Row 0 lies at texture coordinate v = 0, as the GL fixture uploads it.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;

    static Image make(int width, int height, const std::function<Rgba(int x, int y)>& at) {
        Image image{width, height, std::vector<float>(static_cast<size_t>(width) * height * 4)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const Rgba v = at(x, y);
                std::copy(v.begin(), v.end(), image.rgba.begin() + 4 * (static_cast<size_t>(y) * width + x));
            }
        return image;
    }
    // Clamped to the edge, as the textures are.
    Rgba at(int x, int y) const {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        const float* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
        return {p[0], p[1], p[2], p[3]};
    }
};

class PixelEffectFixture : public EffectFixture {
protected:
    void TearDown() override {
        for (GLuint t : textures) deleteTexture(t);
        textures.clear();
        EffectFixture::TearDown();
    }

    // A float texture of the image, nearest filtered unless asked otherwise;
    // deleted with the test.
    GLuint upload(const Image& image, bool linear = false) {
        GLuint texture = uploadFloatTexture(image.width, image.height, image.rgba);
        if (linear) {
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
        textures.push_back(texture);
        return texture;
    }

    // A layer-sized image of many colours: every channel runs through 0..1
    // (exact 0, 0.5 and 1 included), greys among them; alpha 1 unless asked.
    Image colours(bool varyAlpha = false) const {
        return Image::make(kWidth, kHeight, [&](int x, int y) -> Rgba {
            const float r = static_cast<float>(x % 17) / 16.0f;
            const float g = static_cast<float>(y % 9) / 8.0f;
            const float b = static_cast<float>((x * 5 + y * 3) % 13) / 12.0f;
            const float a = varyAlpha ? static_cast<float>((x + 2 * y) % 5) / 4.0f : 1.0f;
            if (x % 8 == 3) return {g, g, g, a};  // a grey column
            return {r, g, b, a};
        });
    }

    // Every pixel of the drawn image against the reference (components
    // clamped to 0..1, as the destination stores them) within `tolerance`
    // 8-bit steps; `skip` leaves out pixels whose reference is ambiguous.
    // Reports the first mismatch and the count.
    static void expectImage(const Pixels& p, const std::function<Rgba(int x, int y)>& expected,
                            const std::string& what, float tolerance = 2.0f,
                            const std::function<bool(int x, int y)>& skip = nullptr) {
        int mismatches = 0;
        std::string first;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                if (skip && skip(x, y)) continue;
                const Rgba want = expected(x, y);
                for (int c = 0; c < 4; ++c) {
                    const float w = std::clamp(want[c], 0.0f, 1.0f) * 255.0f;
                    if (std::fabs(p.at(x, y)[c] - w) > tolerance) {
                        if (mismatches++ == 0)
                            first = "at " + std::to_string(x) + "," + std::to_string(y) + " channel " +
                                    std::to_string(c) + ": got " + std::to_string(p.at(x, y)[c]) + ", want " +
                                    std::to_string(w);
                    }
                }
            }
        EXPECT_EQ(mismatches, 0) << what << ": first " << first;
    }

    // The effect's own program drawn for the frame into a float target of the
    // layer's size, bypassing the 8-bit destination; row-major floats.
    std::vector<float> drawUnclamped(Quorvane::Core::RenderEffect* effect, GLuint texture, long long frame) {
        effect->prepareForFrame(frame);
        const int w = layer->width();
        const int h = layer->height();
        GLuint target = 0;
        GLuint framebuffer = 0;
        glGenTextures(1, &target);
        glBindTexture(GL_TEXTURE_2D, target);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, w, h, 0, GL_RGBA, GL_FLOAT, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
        glViewport(0, 0, w, h);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        effect->drawSelf(texture);
        std::vector<float> out(static_cast<size_t>(w) * h * 4);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_FLOAT, out.data());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteTextures(1, &target);
        return out;
    }

    // The program compiles and no component of the unclamped output is NaN.
    template <typename Effect>
    void expectNoNaN(Effect* effect, GLuint texture, long long frame, const std::string& what) {
        const std::vector<float> out = drawUnclamped(effect, texture, frame);
        ASSERT_NE(effect->shader(), nullptr) << what;
        EXPECT_NE(effect->shader()->program(), 0u) << what;
        const size_t nans =
            static_cast<size_t>(std::count_if(out.begin(), out.end(), [](float v) { return std::isnan(v); }));
        EXPECT_EQ(nans, 0u) << what;
    }

    // Created by the name, answering it, and cloned through it onto another
    // layer; the copy is handed back.
    template <typename Effect>
    std::unique_ptr<Quorvane::Core::RenderEffect> expectRegistered(const std::string& name,
                                                                   Quorvane::Core::RenderEffect* source) {
        using Quorvane::Core::RenderEffectManager;
        std::unique_ptr<Quorvane::Core::RenderEffect> fresh(RenderEffectManager::createEffect(name, layer));
        EXPECT_NE(dynamic_cast<Effect*>(fresh.get()), nullptr) << name;
        if (fresh) {
            EXPECT_EQ(fresh->matchName(), name);
        }
        auto* other = new Quorvane::Core::RenderLayer(&comp, Quorvane::Core::kAVLayer, false);
        comp.addLayer(other, true);
        std::unique_ptr<Quorvane::Core::RenderEffect> copy(RenderEffectManager::cloneEffect(source, other));
        EXPECT_NE(dynamic_cast<Effect*>(copy.get()), nullptr) << name;
        if (copy) {
            EXPECT_EQ(copy->parent(), other);
            // The copy draws for the effect's own layer in these tests.
            copy->setParent(layer);
        }
        return copy;
    }

    // Luminance with HDTV (BT.709) weights, as the colour effects use it.
    static float luminance(const Rgba& c) { return 0.2125f * c[0] + 0.7154f * c[1] + 0.0721f * c[2]; }
    static float mixf(float a, float b, float t) { return a + (b - a) * t; }

    std::vector<GLuint> textures;
};

// A pixel effect test drawn on colours(true), uploaded afresh for each test.
class ColourImageFixture : public PixelEffectFixture {
protected:
    void SetUp() override {
        PixelEffectFixture::SetUp();
        image = colours(true);
        input = upload(image);
    }

    Image image;
    GLuint input = 0;
};

}  // namespace QvTest
