// Brushes, brush program features and the shape vertex buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "shapes/Brush.h"
#include "shapes/BrushShader.h"
#include "shapes/ShapeVertexBuffer.h"

using namespace Quorvane::Core;

TEST(BrushTest, FactoriesSettersAndStops) {
    std::unique_ptr<Brush> same(Brush::linearGradient(0, 0, 1, 1, Color(1, 0, 0, 1), Color(1, 0, 0, 1)));
    EXPECT_EQ(same->getStyle(), kBrushSolid);
    Color c;
    EXPECT_TRUE(same->getSolidColor(c));
    EXPECT_TRUE(c.equal(Color(1, 0, 0, 1)));
    EXPECT_FALSE(same->setSimpleGradientEndColor(Color(0, 0, 0, 1)));

    std::unique_ptr<Brush> pattern(Brush::imagePattern(7, Vec2(100, 50), Rect(), 0, 1));
    EXPECT_EQ(pattern->extent(), Vec2(100, 50));
    EXPECT_FLOAT_EQ(pattern->getXform().m[12], 0);
    EXPECT_FLOAT_EQ(pattern->getXform().m[13], 0);
    EXPECT_EQ(pattern->getImagePattern(), 7);
    EXPECT_TRUE(pattern->setImagePattern(9, Vec2(100, 50), Rect(10, 20, 30, 40), 0, 1));
    EXPECT_EQ(pattern->extent(), Vec2(30, 40));
    EXPECT_FLOAT_EQ(pattern->getXform().m[12], 10);
    EXPECT_FLOAT_EQ(pattern->getXform().m[13], 20);
    pattern->setAlpha(1.5f);
    EXPECT_FLOAT_EQ(pattern->getAlpha(), 1.0f);
    pattern->setAlpha(-1);
    EXPECT_FLOAT_EQ(pattern->getAlpha(), 0.0f);
    pattern->setAlpha(NAN);
    EXPECT_FLOAT_EQ(pattern->getAlpha(), 0.0f);
    EXPECT_FALSE(pattern->setSolidColor(Color()));
    EXPECT_EQ(same->getImagePattern(), 0);

    std::unique_ptr<Brush> complex(Brush::complexLinearGradient(0, 0, 10, 0));
    for (int i = 0; i < 21; ++i) EXPECT_TRUE(complex->complexGradientAddColorStop(Color(), i / 20.0f));
    EXPECT_FALSE(complex->complexGradientAddColorStop(Color(), 0.33f));  // the 22nd
    EXPECT_EQ(complex->stopCount(), 21u);
    std::unique_ptr<Brush> stops(Brush::complexSweepGradient(0, 0));
    stops->complexGradientAddColorStop(Color(1, 0, 0, 1), 0.5f);
    stops->complexGradientAddColorStop(Color(0, 1, 0, 1), 0.5f);  // replaces
    stops->complexGradientAddColorStop(Color(0, 0, 1, 1), NAN);   // taken as 0
    EXPECT_EQ(stops->stopCount(), 2u);
    EXPECT_TRUE(stops->getColorForComplexGradientAtIndex(0, c));
    EXPECT_TRUE(c.equal(Color(0, 1, 0, 1)));
    EXPECT_TRUE(stops->setStopForComplexGradientAtIndex(1, 0.75f));
    float position = 0;
    EXPECT_TRUE(stops->getStopForComplexGradientAtIndex(1, position));
    EXPECT_FLOAT_EQ(position, 0.75f);
    EXPECT_FALSE(stops->getStopForComplexGradientAtIndex(5, position));
    EXPECT_FALSE(same->complexGradientAddColorStop(Color(), 0.5f));
}

TEST(BrushTest, ProgramFeaturesAndTexts) {
    std::unique_ptr<Brush> pattern(Brush::imagePattern(0, Vec2(1, 1), Rect(), 0, 1));
    EXPECT_EQ(BrushShader::getBrushShaderFeatures(pattern.get(), true), 0x3001);
    pattern->setShouldFlip(false);
    EXPECT_EQ(BrushShader::getBrushShaderFeatures(pattern.get(), false), 0x1000);
    std::unique_ptr<Brush> solid(Brush::solidColor(Color()));
    EXPECT_EQ(BrushShader::getBrushShaderFeatures(solid.get(), false), 0x2300);
    std::unique_ptr<Brush> radial(Brush::complexRadialGradient(0, 0, 1, 1, 4));
    EXPECT_EQ(BrushShader::getBrushShaderFeatures(radial.get(), true), 0x2A41);

    const std::string stencil = BrushShader::formFragmentString(0x2010);
    EXPECT_EQ(stencil.find("ufrag"), std::string::npos);
    EXPECT_NE(stencil.find("gl_FragColor = vec4(1.0);"), std::string::npos);
    EXPECT_NE(BrushShader::formVertexString(0x2010).find("avertex.xy + vec2(-viewPort.x * 0.5"),
              std::string::npos);
    EXPECT_NE(BrushShader::formVertexString(0).find("viewPort.y * 0.5 - avertex.y"), std::string::npos);
    const std::string aa = BrushShader::formFragmentString(0x3001);
    EXPECT_NE(aa.find("uniform sampler2D tex;"), std::string::npos);
    EXPECT_NE(aa.find("color.a * stroke_mask * alpha"), std::string::npos);
}

TEST(BrushTest, VertexBufferRanges) {
    ShapeVertexBuffer buffer;
    Range a(0, 3), b(0, 2), c(0, 4);
    buffer.allocShaderVertices(&a);
    buffer.allocShaderVertices(&b);
    buffer.allocShaderVertices(&c);
    EXPECT_EQ(b.start, 3);
    EXPECT_EQ(c.start, 5);
    EXPECT_EQ(buffer.vertexCount(), 9u);
    ShapeBufferVertex::SetVertex(buffer.getShaderVertex(b.start), 1, 2, 3, 4);
    ShapeBufferVertex::SetVertex(buffer.getShaderVertex(c.start + 3), 5, 6, 7, 8);
    buffer.removeShaderVertices(&a);
    EXPECT_EQ(b.start, 0);
    EXPECT_EQ(c.start, 2);
    EXPECT_EQ(buffer.vertexCount(), 6u);
    EXPECT_FLOAT_EQ(buffer.vertices()[0].x, 1);
    EXPECT_FLOAT_EQ(buffer.vertices()[0].w, 1);
    EXPECT_FLOAT_EQ(buffer.vertices()[5].v, 8);
    buffer.removeShaderVertices(&a);  // unknown now: nothing happens
    EXPECT_EQ(buffer.vertexCount(), 6u);
    EXPECT_EQ(buffer.getShaderVertex(6), nullptr);
    EXPECT_EQ(buffer.getShaderVertex(-1), nullptr);
    EXPECT_EQ(buffer.getShaderVertexBufferOffset(), 36);
    ShapeBufferVertex source[2];
    EXPECT_THROW(buffer.fillShaderVertices(5, source, 12), std::out_of_range);
    EXPECT_THROW(buffer.fillShaderVertices(6, source, 1), std::out_of_range);
    buffer.fillShaderVertices(4, source, 12);
    buffer.flush();
    EXPECT_EQ(buffer.vertexCount(), 0u);
    EXPECT_TRUE(buffer.ranges().empty());
}
