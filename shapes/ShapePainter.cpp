#include "shapes/ShapePainter.h"

#include "shapes/Brush.h"
#include "shapes/BrushShader.h"
#include "shapes/DrawableShape.h"

namespace Quorvane {
namespace Core {

namespace {

// Byte offsets of the two attributes inside a ShapeBufferVertex.
const float* const kPositionOffset = nullptr;
const float* const kTexCoordOffset = reinterpret_cast<const float*>(3 * sizeof(float));

}  // namespace

ShapePainter::ShapePainter(Brush* brush, DrawableShape* drawable, bool isFill)
    : RenderPass(drawable->parent(), false, 0, 0), mDrawable(drawable), mBrush(brush) {
    mAntiAlias = drawable->antiAlias();
    mFragData.assign(9, 0.0f);
    mBrushShader = BrushShader::create(BrushShader::getBrushShaderFeatures(brush, mAntiAlias));
    ShapeCache* cache = isFill ? static_cast<ShapeCache*>(drawable->fillCache()) : drawable->strokeCache();
    mStrokeMult =
        isFill ? 1.0f : (0.5f * cache->strokeWidth() + cache->fringeWidth()) / drawable->inverseScale();
    mRangeStart = &cache->vertexRange();
    mPaths = &cache->getCachedPaths();
    if (mPaths->empty()) {
        mSkip = true;
        return;
    }
    mStencilShader = BrushShader::create(
        brush && brush->shouldFlip() ? BrushShader::kStencil | BrushShader::kFlip : BrushShader::kStencil);
    int total = 0;
    for (const PathCache& path : *mPaths) total += path.fillCount + path.strokeCount;
    if (!isFill) {
        mMode = kStroke;
        mSkip = total == 0;
        return;
    }
    if (mPaths->size() == 1 && mPaths->front().convex) {
        mMode = kConvexFill;
        mSkip = total == 0;
        return;
    }
    mMode = kStencilFill;
    const PathCache& last = mPaths->back();
    mCoverOffset = last.strokeOffset + last.strokeCount;
    if (mCoverOffset == 0) mCoverOffset = last.fillOffset + last.fillCount;
    mCoverCount = 6;
}

ShapePainter::~ShapePainter() {
    delete mBrushShader;
    delete mStencilShader;
}

void ShapePainter::drawSelf(unsigned int) {
    if (mSkip) return;
    switch (mMode) {
        case kStencilFill:
            drawFill();
            break;
        case kConvexFill:
            drawConvexFill();
            break;
        case kStroke:
            drawStroke();
            break;
    }
}

void ShapePainter::submitShaderData(BrushShader* shader) {
    if (const Mat4* mvp = mDrawable->mvp()) shader->setUniformMatrix4f("umvp", *mvp);
    shader->setUniform2f("viewPort", static_cast<float>(mDrawable->width()),
                         static_cast<float>(mDrawable->height()));
    if (mBrush) {
        const std::vector<Color>& colors = mBrush->colors();
        if (mColorData.size() < colors.size() * 4) mColorData.resize(colors.size() * 4);
        for (size_t i = 0; i < colors.size(); ++i) {
            mColorData[4 * i] = colors[i].r;
            mColorData[4 * i + 1] = colors[i].g;
            mColorData[4 * i + 2] = colors[i].b;
            mColorData[4 * i + 3] = colors[i].a;
        }
        if (!mColorData.empty()) {
            shader->setUniform4fv("ucolors", mColorData.data(), static_cast<int>(colors.size()));
            const std::vector<float>& stops = mBrush->stopPositions();
            if (!stops.empty())
                shader->setUniform1fv("ucolorStops", stops.data(), static_cast<int>(stops.size()));
        }
        Mat4 inverse;
        mBrush->getXform().getInverse(inverse);
        shader->setUniformMatrix4f("paintMat", inverse);
        // The brush's own alpha is not sent: the program's alpha is 1.
        const Vec2& extent = mBrush->extent();
        const Vec2& point = mBrush->complexPoint();
        const float frag[9] = {extent.x, extent.y, mStrokeMult,      0.0f,
                               point.x,  point.y,  mBrush->radius(), static_cast<float>(mBrush->stopCount()),
                               1.0f};
        mFragData.assign(frag, frag + 9);
        shader->setUniform3fv("ufrag", mFragData.data(), 3);
        shader->setUniformTexture("tex", GL_TEXTURE_2D, mBrush->image(), 0);
    }
    mDrawable->vertexBuffer()->bindShaderVertexBuffer();
    shader->setAttribute3fv(0, kPositionOffset, ShapeVertexBuffer::kStride);
    shader->setAttribute3fv(1, kTexCoordOffset, ShapeVertexBuffer::kStride);
}

void ShapePainter::disableAttributes(BrushShader* shader) {
    shader->disableVertexAttributeArray(0);
    shader->disableVertexAttributeArray(1);
}

void ShapePainter::drawFans() {
    const int start = mRangeStart->start;
    for (const PathCache& path : *mPaths)
        if (path.fillCount > 0) glDrawArrays(GL_TRIANGLE_FAN, start + path.fillOffset, path.fillCount);
}

void ShapePainter::drawStrips() {
    const int start = mRangeStart->start;
    for (const PathCache& path : *mPaths)
        if (path.strokeCount > 0)
            glDrawArrays(GL_TRIANGLE_STRIP, start + path.strokeOffset, path.strokeCount);
}

void ShapePainter::drawFill() {
    glEnable(GL_STENCIL_TEST);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);
    glStencilMask(0xFF);
    glStencilFunc(GL_ALWAYS, 0, 0xFF);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INVERT);

    // Even-odd: a pixel covered by an odd number of fans ends non-zero.
    mStencilShader->useProgram();
    submitShaderData(mStencilShader);
    drawFans();
    disableAttributes(mStencilShader);

    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    mBrushShader->useProgram();
    submitShaderData(mBrushShader);
    if (mAntiAlias) {
        // The fringe, only outside the shape, counted into the stencil.
        glStencilFunc(GL_EQUAL, 0, 0xFF);
        glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
        drawStrips();
    }
    glStencilFunc(GL_NOTEQUAL, 0, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glDrawArrays(GL_TRIANGLES, mRangeStart->start + mCoverOffset, mCoverCount);
    disableAttributes(mBrushShader);
    glDisable(GL_STENCIL_TEST);
}

void ShapePainter::drawConvexFill() {
    glEnable(GL_STENCIL_TEST);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);
    glStencilMask(0xFF);
    glStencilFunc(GL_ALWAYS, 0, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_INVERT);
    mBrushShader->useProgram();
    submitShaderData(mBrushShader);
    drawFans();
    if (mAntiAlias) drawStrips();
    disableAttributes(mBrushShader);
    glDisable(GL_STENCIL_TEST);
}

void ShapePainter::drawStroke() {
    mBrushShader->useProgram();
    submitShaderData(mBrushShader);
    drawStrips();
    disableAttributes(mBrushShader);
}

}  // namespace Core
}  // namespace Quorvane
