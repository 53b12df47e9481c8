#include <gtest/gtest.h>

#include <cmath>

#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/PassTestLayer.h"
#include "render/RotateRenderPass.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::boundFramebuffer;
using QvTest::GLFixture;
using QvTest::PassTestLayer;
using QvTest::Pixels;

namespace {

constexpr int kW = 3;
constexpr int kH = 2;

// Every texel different, alpha included, so any mirror or turn shows.
uint32_t texel(int x, int y) {
    return (uint32_t(10 + 80 * x) << 24) | (uint32_t(20 + 100 * y) << 16) |
           (uint32_t(30 * (x + 3 * y)) << 8) | uint32_t(255 - 40 * (x + kW * y));
}

std::vector<uint8_t> sourceBytes() {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const uint32_t t = texel(x, y);
            bytes.insert(bytes.end(), {uint8_t(t >> 24), uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)});
        }
    }
    return bytes;
}

class CopyRotatePass : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        source_ = uploadTexture(kW, kH, sourceBytes());
    }
    void TearDown() override {
        deleteTexture(source_);
        GLFixture::TearDown();
    }

    // Rotates the given texture (w x h) and returns the result's pixels.
    Pixels rotate(GLuint texture, int w, int h, RotationType rotation) {
        RotateRenderPass pass(w, h, rotation);
        pass.prepareForFrame(0);
        pass.draw(texture);
        return readTexture(pass.getRotatedTexture(), pass.width(), pass.height());
    }

    GLuint source_ = 0;
};

}  // namespace

TEST_F(CopyRotatePass, CopyAndFlippedCopy) {
    GLRenderDestination target(kW, kH);
    target.bindDestination();
    FullScreenRenderPass copy(nullptr, false);
    copy.draw(source_);
    // Cleared to transparent black and copied with (ONE, ONE_MINUS_SRC_ALPHA):
    // the target is the source exactly, translucent texels included.
    Pixels px = readFramebuffer(0, 0, kW, kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) EXPECT_EQ(px.packed(x, y), texel(x, y)) << x << "," << y;
    }

    FullScreenRenderPass flipped(nullptr, true);
    flipped.draw(source_);
    px = readFramebuffer(0, 0, kW, kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) EXPECT_EQ(px.packed(x, y), texel(x, kH - 1 - y)) << x << "," << y;
    }
    // The row at v = 0 is the top row of the target (the highest GL row).
    EXPECT_EQ(px.packed(0, kH - 1), texel(0, 0));

    // The BGRA program is an identity swizzle: same pixels.
    flipped.setOutputBGRA(true);
    flipped.draw(source_);
    EXPECT_EQ(readFramebuffer(0, 0, kW, kH).rgba, px.rgba);
    flipped.setOutputBGRA(false);
    flipped.draw(source_);
    EXPECT_EQ(readFramebuffer(0, 0, kW, kH).rgba, px.rgba);

    // Texture 0 draws nothing, not even the clear.
    flipped.draw(0);
    EXPECT_EQ(readFramebuffer(0, 0, kW, kH).rgba, px.rgba);
}

TEST_F(CopyRotatePass, BackgroundAndBlendingModes) {
    // One half-transparent red texel over an opaque blue background.
    GLuint red = uploadTexture(1, 1, {255, 0, 0, 128});
    GLRenderDestination target(1, 1);
    target.bindDestination();
    const float a = 128.0f / 255.0f;
    auto expectPixel = [&](float r, float g, float b, float alpha, const char* what) {
        Pixels px = readFramebuffer(0, 0, 1, 1);
        const float want[4] = {r, g, b, alpha};
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(px.at(0, 0)[c], std::lround(want[c] * 255.0f), 1) << what << c;
    };

    FullScreenRenderPass pass(nullptr, false);
    pass.setBackgroundColor(Color(0, 0, 1, 1));
    pass.draw(red);  // straight alpha: colour by SRC_ALPHA, alpha by ONE
    expectPixel(a, 0, 1 - a, 1, "straight ");

    pass.setPremultiply(true);
    pass.draw(red);  // premultiplied: colour by ONE
    expectPixel(1, 0, 1 - a, 1, "premultiplied ");

    // Without the clear the texel is laid over what is there.
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    pass.shouldClearColorBuffer(false);
    pass.setPremultiply(false);
    pass.draw(red);
    expectPixel(a, 1 - a, 0, 1, "no clear ");
    EXPECT_TRUE(glIsEnabled(GL_BLEND)) << "blending stays on";
    deleteTexture(red);
}

TEST_F(CopyRotatePass, CopyIntoACallersTexture) {
    GLFrameBufferManager manager;
    PassTestLayer layer(nullptr, kW, kH, &manager);
    GLuint output = uploadTexture(kW, kH, std::vector<uint8_t>(kW * kH * 4, 99));
    GLRenderDestination* below = manager.pushDestination(8, 8);
    {
        FullScreenRenderPass pass(layer.asLayer(), true, output, -1, false);
        EXPECT_TRUE(pass.useCustomOutputDestination());
        EXPECT_TRUE(pass.useNewDestination());
        pass.prepareForFrame(0);
        ASSERT_NE(pass.getDestination(), nullptr);
        EXPECT_EQ(pass.getDestination()->texture(), output);
        pass.draw(source_);
        EXPECT_EQ(boundFramebuffer(), below->framebuffer());
        EXPECT_EQ(pass.getOutputTexture(), output);
        pass.unprepare();
        EXPECT_EQ(pass.getDestination(), nullptr);
    }
    EXPECT_TRUE(glIsTexture(output)) << "the caller's texture is not the pass's to delete";
    Pixels px = readTexture(output, kW, kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) EXPECT_EQ(px.packed(x, y), texel(x, kH - 1 - y)) << x << "," << y;
    }
    FullScreenRenderPass onFramebuffer(layer.asLayer(), false, 0, 0, false);
    EXPECT_TRUE(onFramebuffer.useCustomOutputDestination());
    EXPECT_FALSE(onFramebuffer.useNewDestination());
    onFramebuffer.prepareForFrame(0);
    ASSERT_NE(onFramebuffer.getDestination(), nullptr);
    EXPECT_TRUE(onFramebuffer.getDestination()->isForeignFramebuffer());
    manager.popDestination(true);
    deleteTexture(output);
}

TEST_F(CopyRotatePass, QuarterTurns) {
    GLRenderDestination outside(4, 4);
    outside.bindDestination();
    Pixels r0 = rotate(source_, kW, kH, RotationNone);
    Pixels r1 = rotate(source_, kW, kH, Rotation90);
    Pixels r2 = rotate(source_, kW, kH, Rotation180);
    Pixels r3 = rotate(source_, kW, kH, Rotation270);
    EXPECT_EQ(boundFramebuffer(), outside.framebuffer()) << "the caller's framebuffer is bound again";

    ASSERT_EQ(r1.width, kH);
    ASSERT_EQ(r1.height, kW);
    ASSERT_EQ(r3.width, kH);
    ASSERT_EQ(r2.width, kW);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            EXPECT_EQ(r0.packed(x, y), texel(x, y));
            EXPECT_EQ(r2.packed(x, y), texel(kW - 1 - x, kH - 1 - y));
        }
    }
    // A quarter turn: source column x becomes row x of the result, source
    // row y becomes column (h - 1 - y); three quarters the other way round.
    for (int y = 0; y < kW; ++y) {
        for (int x = 0; x < kH; ++x) {
            EXPECT_EQ(r1.packed(x, y), texel(y, kH - 1 - x)) << x << "," << y;
            EXPECT_EQ(r3.packed(x, y), texel(kW - 1 - y, x)) << x << "," << y;
        }
    }

    // Turns compose: two quarter turns are a half turn, and a quarter turn
    // followed by three quarters is no turn.
    GLuint once = uploadTexture(kH, kW, r1.rgba);
    EXPECT_EQ(rotate(once, kH, kW, Rotation90).rgba, r2.rgba);
    EXPECT_EQ(rotate(once, kH, kW, Rotation270).rgba, r0.rgba);
    deleteTexture(once);
}

TEST_F(CopyRotatePass, RotatedSizeAndReuse) {
    RotateRenderPass pass(1920, 1080, Rotation90);
    EXPECT_EQ(pass.width(), 1080);
    EXPECT_EQ(pass.height(), 1920);
    EXPECT_EQ(pass.getRotatedTexture(), 0u) << "before prepareForFrame";
    pass.prepareForFrame(0);
    const GLuint texture = pass.getRotatedTexture();
    ASSERT_NE(texture, 0u);
    GLint w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(w, 1080);
    EXPECT_EQ(h, 1920);
    pass.prepareForFrame(1);
    EXPECT_EQ(pass.getRotatedTexture(), texture) << "kept across frames";

    RotateRenderPass half(1920, 1080, 180);
    EXPECT_EQ(half.width(), 1920);
    EXPECT_EQ(half.height(), 1080);

    // A zero texture leaves the last result in place.
    RotateRenderPass small(kW, kH, RotationNone);
    small.prepareForFrame(0);
    small.draw(source_);
    small.draw(0);
    Pixels px = readTexture(small.getRotatedTexture(), kW, kH);
    EXPECT_EQ(px.packed(2, 1), texel(2, 1));
    small.unprepare();
    EXPECT_EQ(small.getRotatedTexture(), 0u);
}

TEST(RotateDegrees, NearestQuarterTurn) {
    const std::pair<int, RotationType> cases[] = {
        {0, RotationNone},   {45, RotationNone}, {46, Rotation90},   {90, Rotation90},   {135, Rotation90},
        {136, Rotation180},  {225, Rotation180}, {226, Rotation270}, {315, Rotation270}, {316, RotationNone},
        {359, RotationNone}, {-90, Rotation270}, {450, Rotation90},  {-270, Rotation90}, {720, RotationNone},
    };
    for (const auto& c : cases) EXPECT_EQ(RotateRenderPass::rotationForDegrees(c.first), c.second) << c.first;
}
