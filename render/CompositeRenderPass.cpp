#include "render/CompositeRenderPass.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Float.h"
#include "core/Log.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

// ---- program text ---------------------------------------------------------------

const char* const kVertex2D =
    "attribute vec2 position;\n"
    "attribute vec4 inCoords;\n"
    "varying vec4 textureCoords;\n"
    "uniform vec2 viewPort;\n"
    "uniform mat4 transform;\n"
    "uniform mat4 projection;\n"
    "void main(){vec2 vertex = position.xy + vec2(-viewPort.x * 0.5, -viewPort.y * 0.5);\n"
    "gl_Position = projection * transform * vec4(vertex.x, -vertex.y, 0.0, 1.0); textureCoords = inCoords;}";

const char* const kVertex3D =
    "attribute vec2 position;\n"
    "attribute vec4 inCoords;\n"
    "varying vec4 textureCoords;\n"
    "uniform vec2 viewPort;\n"
    "uniform mat4 transform;\n"
    "uniform mat4 camera;\n"
    "uniform mat4 projection;\n"
    "void main(){vec2 vertex = vec2(position.x - viewPort.x * 0.5, viewPort.y * 0.5 - position.y);\n"
    "gl_Position = projection * camera * transform * vec4(vertex, 0.0, 1.0); textureCoords = inCoords;}";

const char* const kFragmentHeader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec4 textureCoords;\nuniform sampler2D "
    "previousTexture;\nuniform sampler2D lastDepthTexture;\nuniform sampler2D sourceTexture;\nuniform vec2 "
    "sourceSize;\nuniform lowp float alpha;\nuniform highp vec2 viewPort;\n";

const char* const kFetchExtension = "#extension GL_EXT_shader_framebuffer_fetch : require\n";

const char* const kMatteUniforms =
    "uniform sampler2D matteTexture;\nuniform mat4 matteTransform;\nuniform vec2 matteSize;\n";

// The 16-tap kernels share their loop; only the weight function differs. GLSL
// 1.10 has no implicit int to float conversion, hence the float(m) casts.
#define QV_READ_TEXTURE_HEAD \
    "vec4 ReadTexture( sampler2D textureSampler_i, vec2 texCoord_i, float fWidth, float fHeight ) {\n"
#define QV_KERNEL_LOOP(WEIGHT)                                                                          \
    QV_READ_TEXTURE_HEAD                                                                                \
    "    float a = fract(texCoord_i.x * fWidth);\n"                                                     \
    "    float b = fract(texCoord_i.y * fHeight);\n"                                                    \
    "    int nX = int(texCoord_i.x * fWidth);\n"                                                        \
    "    int nY = int(texCoord_i.y * fHeight);\n"                                                       \
    "    vec2 centre = vec2(float(nX) / fWidth + 0.5 / fWidth, float(nY) / fHeight + 0.5 / fHeight);\n" \
    "    vec4 sum = vec4(0.0);\n"                                                                       \
    "    vec4 denom = vec4(0.0);\n"                                                                     \
    "    for (int m = -1; m <= 2; m++) {\n"                                                             \
    "        for (int n = -1; n <= 2; n++) {\n"                                                         \
    "            vec2 offset = vec2(float(m) / fWidth, float(n) / fHeight);\n"                          \
    "            vec4 texel = texture2D(textureSampler_i, centre + offset);\n"                          \
    "            float w = " WEIGHT "(float(m) - a) * " WEIGHT                                          \
    "(-(float(n) - b));\n"                                                                              \
    "            sum = sum + texel * w;\n"                                                              \
    "            denom = denom + vec4(w);\n"                                                            \
    "        }\n"                                                                                       \
    "    }\n"                                                                                           \
    "    return sum / denom;\n"                                                                         \
    "}\n"

// Indexed by LayerResampleMode.
const char* const kReadTexture[kLayerResampleModeCount] = {
    // 0: plain sampling
    QV_READ_TEXTURE_HEAD "    return texture2D(textureSampler_i, texCoord_i);\n}\n",
    // 1: texel filter between the texel under the coordinate and its right,
    // lower and lower-right neighbours
    QV_READ_TEXTURE_HEAD
    "    int nX = int(texCoord_i.x * fWidth);\n"
    "    int nY = int(texCoord_i.y * fHeight);\n"
    "    vec2 centre = vec2((float(nX) + 0.5) / fWidth, (float(nY) + 0.5) / fHeight);\n"
    "    vec4 p0q0 = texture2D(textureSampler_i, centre);\n"
    "    vec4 p1q0 = texture2D(textureSampler_i, centre + vec2(1.0 / fWidth, 0.0));\n"
    "    vec4 p0q1 = texture2D(textureSampler_i, centre + vec2(0.0, 1.0 / fHeight));\n"
    "    vec4 p1q1 = texture2D(textureSampler_i, centre + vec2(1.0 / fWidth, 1.0 / fHeight));\n"
    "    float a = fract(texCoord_i.x * fWidth);\n"
    "    float b = fract(texCoord_i.y * fHeight);\n"
    "    return mix(mix(p0q0, p1q0, a), mix(p0q1, p1q1, a), b);\n"
    "}\n",
    // 2: triangular kernel
    "float Triangular( float f ) {\n"
    "    f = f / 2.0;\n"
    "    if ( f < 0.0 ) { return f + 1.0; }\n"
    "    return 1.0 - f;\n"
    "}\n" QV_KERNEL_LOOP("Triangular"),
    // 3: bell kernel; squares written as products since pow() of a negative
    // base is undefined in GLSL
    "float BellFunc( float x ) {\n"
    "    float f = ( x / 2.0 ) * 1.5;\n"
    "    if ( f > -1.5 && f < -0.5 ) { return 0.5 * (f + 1.5) * (f + 1.5); }\n"
    "    if ( f > -0.5 && f < 0.5 ) { return 0.75 - f * f; }\n"
    "    if ( f > 0.5 && f < 1.5 ) { return 0.5 * (f - 1.5) * (f - 1.5); }\n"
    "    return 0.0;\n"
    "}\n" QV_KERNEL_LOOP("BellFunc"),
};

#undef QV_KERNEL_LOOP
#undef QV_READ_TEXTURE_HEAD

// Where the source is sampled: [use screen texture][flip source].
const char* const kSourceLine[2][2] = {
    {"vec4 sourceColor = ReadTexture(sourceTexture, textureCoords.xy, sourceSize.x, sourceSize.y);\n",
     "vec4 sourceColor = ReadTexture(sourceTexture, textureCoords.xy, sourceSize.x, sourceSize.y);\n"},
    {"vec4 sourceColor = ReadTexture(sourceTexture, screenCoords, sourceSize.x, sourceSize.y);\n",
     "vec4 sourceColor = ReadTexture(sourceTexture, vec2(screenCoords.x, 1.0 - screenCoords.y), "
     "sourceSize.x, "
     "sourceSize.y);\n"},
};

#define QV_LUMA "(matteColor.r * 0.299 + matteColor.g * 0.587 + matteColor.b * 0.114)"
// The matte's factor on the source alpha, indexed by TrackMatteType.
const char* const kMatteFactor[kTrackMatteTypeCount] = {
    "",
    " * matteColor.a",
    " * (1.0 - matteColor.a)",
    " * " QV_LUMA " * matteColor.a",
    " * (1.0 - " QV_LUMA " * matteColor.a)",
};
#undef QV_LUMA

const char* const kOITTest =
    "vec4 lastDepthVec = texture2D(lastDepthTexture, screenCoords);\nfloat lastDepth = "
    "lastDepthVec.r;\nfloat "
    "currDepth = gl_FragCoord.z;\nif(lastDepth == 0.0 || step(lastDepth, currDepth) == 1.0)\n{discard;}\n";

const char* const kMatteRead =
    "vec2 matteCoords = (matteTransform * vec4(gl_FragCoord.x, viewPort.y - gl_FragCoord.y, 0.0, 1.0)).xy / "
    "matteSize;\nhighp vec4 matteColor =vec4(0.0);\n if(matteCoords.x >=0.0 && matteCoords.y >= 0.0 && "
    "matteCoords.x <= 1.0 && matteCoords.y <= 1.0){matteColor = ReadTexture(matteTexture, matteCoords, "
    "matteSize.x, matteSize.y);}\n";

// Programs are kept per text; a pass whose settings keep changing (a script
// cycling blend modes) must not pile them up.
constexpr size_t kMaxCachedPrograms = 8;

// One composition pixel in layer pixels is 1 / averageScale; at a scale this
// close to zero the strip would be infinitely wide (inf/NaN vertices).
constexpr float kMinEdgeScale = 1e-6f;

// A corner this close to the eye plane (or behind it) has no bounded image.
constexpr float kMinClipW = 1e-6f;

// The quad is drawn at the edge builder's inner corners: its strip lies
// outside the quad as long as they stay strictly inside the w x h source
// rectangle in its own order (an affine placement keeps that).
bool StripLeavesQuad(const std::vector<Vec2>& inner, float w, float h) {
    for (const Vec2& p : inner)
        if (!(p.x > 0.0f && p.x < w && p.y > 0.0f && p.y < h)) return false;
    return inner[0].x < inner[1].x && inner[3].x < inner[2].x && inner[0].y < inner[3].y &&
           inner[1].y < inner[2].y;
}

bool InRange(long long value, int32_t count) {
    return value >= 0 && value < count;
}

}  // namespace

BlendMode CheckedBlendMode(long long value, const char* key) {
    if (InRange(value, kBlendModeCount)) return static_cast<BlendMode>(value);
    QVPrint("layer \"%s\" %lld is out of range, using 0", key, value);
    return BlendMode::Normal;
}

TrackMatteType CheckedMatteType(long long value, const char* key) {
    if (InRange(value, kTrackMatteTypeCount)) return static_cast<TrackMatteType>(value);
    QVPrint("layer \"%s\" %lld is out of range, using 0", key, value);
    return kNoTrackMatte;
}

LayerResampleMode CheckedResampleMode(long long value, const char* key) {
    if (InRange(value, kLayerResampleModeCount)) return static_cast<LayerResampleMode>(value);
    QVPrint("layer \"%s\" %lld is out of range, using 0", key, value);
    return kDefaultResampleMode;
}

CompositeRenderPass::CompositeRenderPass(RenderLayer* parent, BlendMode blendMode, TrackMatteType matteType,
                                         int width, int height, bool useScreenTexture)
    : RenderPass(parent, false, width, height),
      mBlendMode(InRange(static_cast<long long>(blendMode), kBlendModeCount) ? blendMode : BlendMode::Normal),
      mMatteType(InRange(matteType, kTrackMatteTypeCount) ? matteType : kNoTrackMatte),
      mUseScreenTexture(useScreenTexture) {}

CompositeRenderPass::~CompositeRenderPass() {
    mShader = nullptr;
    mProgramCache.clear();
    if (mVertexBuffer) glDeleteBuffers(1, &mVertexBuffer);
    delete mCopyPass;
}

// ---- setters ---------------------------------------------------------------------

void CompositeRenderPass::setBlendMode(BlendMode mode) {
    if (!InRange(static_cast<long long>(mode), kBlendModeCount)) mode = BlendMode::Normal;
    setProgramInput(mBlendMode, mode);
}

void CompositeRenderPass::setMatteType(TrackMatteType type) {
    if (!InRange(type, kTrackMatteTypeCount)) type = kNoTrackMatte;
    setProgramInput(mMatteType, type);
}

void CompositeRenderPass::setResampleMode(LayerResampleMode mode) {
    if (!InRange(mode, kLayerResampleModeCount)) mode = kDefaultResampleMode;
    if (parent() && !parent()->enableAdvanceResample()) mode = kDefaultResampleMode;
    setProgramInput(mResampleMode, mode);
}

void CompositeRenderPass::setUseScreenTexture(bool on) {
    setProgramInput(mUseScreenTexture, on);
}

void CompositeRenderPass::setOITLastDepthTexture(unsigned int texture) {
    setProgramInput(mOITLastDepthTexture, texture);
}

void CompositeRenderPass::setFlipSource(bool on) {
    setProgramInput(mFlipSource, on);
}

void CompositeRenderPass::setMatteTexture(unsigned int texture) {
    if (mMatteType != kNoTrackMatte) mMatteTexture = texture;
}

void CompositeRenderPass::setMatteTransform(const Mat4& m) {
    if (m.getInverse(mMatteTransform)) return;
    // The shader places points of the z = 0 plane and reads x and y only, so a
    // matrix singular through z alone (scale 0 in depth) still places the matte.
    Mat4 flat(m);
    flat.m[2] = flat.m[6] = flat.m[14] = flat.m[8] = flat.m[9] = flat.m[11] = 0.0f;
    flat.m[10] = 1.0f;
    if (flat.getInverse(mMatteTransform)) return;
    // A matte scaled to nothing on an axis covers no pixel: map every point
    // outside it, where the identity would show the layer unmatted.
    mMatteTransform.setZero();
    mMatteTransform.m[12] = mMatteTransform.m[13] = -1.0f;
    mMatteTransform.m[15] = 1.0f;
}

void CompositeRenderPass::setTargetHoldsPrevious() {
    mTargetHoldsPrevious = true;
    mBoxedDrawDone = false;
}

void CompositeRenderPass::setTargetIsPrevious() {
    mTargetHoldsPrevious = true;
    mTargetIsPrevious = true;
    mBoxedDrawDone = false;
}

// ---- frame cycle -------------------------------------------------------------------

void CompositeRenderPass::prepareForFrame(long long) {
    if (!mCopyPass) mCopyPass = new FullScreenRenderPass(parent(), false, 0, -1, false);
}

void CompositeRenderPass::unprepare() {
    RenderPass::unprepare();
    delete mCopyPass;
    mCopyPass = nullptr;
}

// ---- program -----------------------------------------------------------------------

std::string CompositeRenderPass::vertexText() const {
    return parent() && parent()->is3D() ? kVertex3D : kVertex2D;
}

std::string CompositeRenderPass::fragmentText(unsigned int previousTexture) const {
    const bool adjustment = parent() && parent()->isAdjustmentLayer();
    const bool hasPrevious = previousTexture != 0;
    const bool hasMatte = mMatteType != kNoTrackMatte;

    const bool fetch = hasPrevious && mFetchPrevious;
    std::string text = fetch ? std::string(kFetchExtension) + kFragmentHeader : std::string(kFragmentHeader);
    if (mBlendMode != BlendMode::Normal) text += BlendModes::GetBlendDefineStr(BlendMode::Normal);
    text += BlendModes::GetBlendDefineStr(mBlendMode);
    if (hasMatte) text += kMatteUniforms;
    text += kReadTexture[mResampleMode];
    text += "void main(){\nvec2 screenCoords = gl_FragCoord.xy / viewPort;\n";
    if (mOITLastDepthTexture != 0) text += kOITTest;
    if (fetch)
        text += "lowp vec4 previousColor = gl_LastFragData[0];\n";
    else if (hasPrevious)
        text += "lowp vec4 previousColor = texture2D(previousTexture, screenCoords);\n";
    text += kSourceLine[mUseScreenTexture ? 1 : 0][mFlipSource ? 1 : 0];
    if (hasMatte) text += kMatteRead;
    text += adjustment ? "sourceColor.a = sourceColor.a * textureCoords.w"
                       : "sourceColor.a = sourceColor.a * alpha * textureCoords.w";
    text += kMatteFactor[mMatteType];
    text += ";\n";

    if (!hasPrevious) {
        text += adjustment ? "gl_FragColor = sourceColor * alpha;\n}" : "gl_FragColor = sourceColor;\n}";
        return text;
    }
    if (mBlendMode != BlendMode::Normal)
        text += "sourceColor = " + BlendModes::GetBlendName(mBlendMode) + "(previousColor, sourceColor);\n";
    if (adjustment)
        text += "gl_FragColor = previousColor * (1.0 - alpha) + sourceColor * alpha;\n}";
    else
        text += "gl_FragColor = " + BlendModes::GetBlendName(BlendMode::Normal) +
                "(previousColor, sourceColor);\n}";
    return text;
}

void CompositeRenderPass::cacheShader() {
    const std::string vertex = vertexText();
    const std::string fragment = fragmentText(mPreviousTexture);
    for (const std::shared_ptr<GLShader>& program : mProgramCache) {
        if (program->vertexSource() == vertex && program->fragmentSource() == fragment) {
            mShader = program.get();
            mShaderDirty = false;
            return;
        }
    }
    if (mProgramCache.size() >= kMaxCachedPrograms) mProgramCache.clear();
    std::shared_ptr<GLShader> program;
    if (GLFrameBufferManager* manager = frameBufferManager()) {
        program = manager->programCache().program(vertex, fragment);
    } else {
        program = std::make_shared<GLShader>(vertex, fragment);
        program->addAttributeBinding("position", 0);
        program->addAttributeBinding("inCoords", 1);
    }
    mProgramCache.push_back(program);
    mShader = program.get();
    mShaderDirty = false;
}

// ---- geometry ----------------------------------------------------------------------

int CompositeRenderPass::sourceWidth() const {
    return mSourceWidth != 0 ? mSourceWidth : (parent() ? parent()->width() : 0);
}

int CompositeRenderPass::sourceHeight() const {
    return mSourceHeight != 0 ? mSourceHeight : (parent() ? parent()->height() : 0);
}

void CompositeRenderPass::updateBuffer() {
    if (!mVertexBuffer) glGenBuffers(1, &mVertexBuffer);
    const float w = static_cast<float>(sourceWidth());
    const float h = static_cast<float>(sourceHeight());

    mQuadCorners.assign({Vec2(0.0f, 0.0f), Vec2(w, 0.0f), Vec2(w, h), Vec2(0.0f, h)});
    if (mFlipSource)
        mQuadCoords.assign({Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(1, 1, 0), Vec3(0, 1, 0)});
    else
        mQuadCoords.assign({Vec3(0, 1, 0), Vec3(1, 1, 0), Vec3(1, 0, 0), Vec3(0, 0, 0)});

    mEdgeStrip.clear();
    mEdgeOverlapsQuad = false;
    const std::vector<Vec2>* positions = &mQuadCorners;
    if (mDrawEdge) {
        const float scale = mTransform.getAffine().averageScale();
        if (std::isfinite(scale) && scale > kMinEdgeScale) {
            mEdgeBuilder.setVertexBuffer(&mQuadCorners);
            mEdgeBuilder.setTextureCoordsBuffer3(&mQuadCoords);
            mEdgeBuilder.setEdgeWidth(1.0f / scale);
            mEdgeBuilder.build();
            if (mEdgeBuilder.innerVertices()->size() == mQuadCorners.size()) {
                positions = mEdgeBuilder.innerVertices();
                mEdgeStrip = *mEdgeBuilder.result();
                mEdgeOverlapsQuad = !StripLeavesQuad(*positions, w, h);
            }
        }
    }

    // Triangle-strip order c1, c2, c0, c3.
    static const int kOrder[4] = {1, 2, 0, 3};
    static const float kUVFlip[4][2] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    static const float kUVPlain[4][2] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};
    const float(*uv)[2] = mFlipSource ? kUVFlip : kUVPlain;
    mVertexData.clear();
    mVertexData.reserve(24);
    for (int i = 0; i < 4; ++i) {
        const Vec2& p = (*positions)[kOrder[i]];
        mVertexData.insert(mVertexData.end(), {p.x, p.y, uv[i][0], uv[i][1], 0.0f, 1.0f});
    }
}

// ---- drawing -----------------------------------------------------------------------

namespace {

void DrawStrip(unsigned int buffer, const std::vector<float>& data) {
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(data.size() * sizeof(float)), data.data(),
                 GL_DYNAMIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 6 * sizeof(float), reinterpret_cast<const void*>(0));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, 6 * sizeof(float),
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, static_cast<GLsizei>(data.size() / 6));
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
}

}  // namespace

void CompositeRenderPass::drawSelf(unsigned int previousTexture) {
    updateBuffer();
    const bool is3D = parent() && parent()->is3D();
    bool fetch = false;
    if (mTargetIsPrevious) {
        mTargetIsPrevious = false;
        // A pixel that the quad and its edge strip both cover would be blended
        // twice in place, where the ping-pong way blends it once and keeps the
        // last: such a draw (a layer narrower than its edge) reads a copy.
        fetch = !mEdgeOverlapsQuad;
        if (previousTexture != 0 && !fetch) {
            if (GLFrameBufferManager* manager = frameBufferManager())
                previousTexture = manager->copyOfBound();
        }
    }
    setProgramInput(mFetchPrevious, fetch);

    if (mOITLastDepthTexture != 0) {
        glDisable(GL_BLEND);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glDepthFunc(GL_GREATER);
    } else {
        glDepthMask(GL_FALSE);
        glDisable(GL_DEPTH_TEST);
        if (previousTexture != 0 && !mTargetHoldsPrevious) {
            // A draw without prepareForFrame still has to keep what lies below.
            if (!mCopyPass) prepareForFrame(0);
            mCopyPass->draw(previousTexture);
        }
        glDisable(GL_BLEND);
        if (is3D) {
            glDepthMask(GL_TRUE);
            glDepthFunc(GL_LESS);
            glEnable(GL_DEPTH_TEST);
        } else {
            glDepthMask(GL_FALSE);
            glDisable(GL_DEPTH_TEST);
        }
    }
    if (mEnableStencil) {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_NOTEQUAL, 0, 0xFF);
        glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    }

    setProgramInput(mPreviousTexture, previousTexture);
    // The parent's 3D and adjustment bits choose texts too; a loader or script
    // may set them after the program was made.
    const bool adjustment = parent() && parent()->isAdjustmentLayer();
    if (is3D != mProgramIs3D || adjustment != mProgramIsAdjustment) {
        mProgramIs3D = is3D;
        mProgramIsAdjustment = adjustment;
        mShaderDirty = true;
    }
    if (mShaderDirty || !mShader) cacheShader();
    mShader->useProgram();

    int unit = 0;
    if (mOITLastDepthTexture != 0)
        mShader->setUniformTexture("lastDepthTexture", GL_TEXTURE_2D, mOITLastDepthTexture, unit++);
    // In a composition's ping-pong the previous image has the target's size
    // and is read at the centres of its texels.
    GLFrameBufferManager* manager = mTargetHoldsPrevious ? frameBufferManager() : nullptr;
    int previousUnit = -1;
    if (previousTexture != 0 && !fetch) {
        previousUnit = unit;
        mShader->setUniformTexture("previousTexture", GL_TEXTURE_2D, previousTexture, unit++);
        if (manager) glBindSampler(static_cast<GLuint>(previousUnit), manager->texelSampler());
    }
    mShader->setUniformTexture("sourceTexture", GL_TEXTURE_2D, mSourceTexture, unit++);
    if (mMatteType != kNoTrackMatte) {
        mShader->setUniformTexture("matteTexture", GL_TEXTURE_2D, mMatteTexture, unit++);
        mShader->setUniformMatrix4f("matteTransform", mMatteTransform, 1);
        mShader->setUniform2f("matteSize", mMatteSize);
    }

    mShader->setUniformMatrix4f("transform", mTransform, 1);
    if (is3D) mShader->setUniformMatrix4f("camera", mCamera, 1);
    mShader->setUniformMatrix4f("projection", mProjection, 1);
    float viewW = 0.0f, viewH = 0.0f;
    if (RenderLayer* comp = parent() ? parent()->parentCompLayer() : nullptr) {
        viewW = static_cast<float>(comp->width());
        viewH = static_cast<float>(comp->height());
    } else {
        // A free-standing layer composites into whatever target is bound.
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        viewW = static_cast<float>(viewport[2]);
        viewH = static_cast<float>(viewport[3]);
    }
    mShader->setUniform2f("viewPort", viewW, viewH);
    mShader->setUniform2f("sourceSize", static_cast<float>(sourceWidth()),
                          static_cast<float>(sourceHeight()));
    mShader->setUniform1f("alpha", mAlpha);

    DrawStrip(mVertexBuffer, mVertexData);
    if (mDrawEdge && !mEdgeStrip.empty()) DrawStrip(mVertexBuffer, mEdgeStrip);

    if (mEnableStencil) glDisable(GL_STENCIL_TEST);
    if (manager && previousUnit >= 0) glBindSampler(static_cast<GLuint>(previousUnit), 0);
    mShader->unuseProgram();

    if (mTargetHoldsPrevious) {
        mTargetHoldsPrevious = false;
        mDrawnBox = boundsOnTarget(viewW, viewH, is3D || mOITLastDepthTexture != 0);
        mBoxedDrawDone = true;
    }
}

PixelBox CompositeRenderPass::boundsOnTarget(float viewW, float viewH, bool is3D) const {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const PixelBox whole{viewport[0], viewport[1], viewport[0] + viewport[2], viewport[1] + viewport[3]};
    if (is3D) return whole;
    constexpr float kInf = std::numeric_limits<float>::infinity();
    float minX = kInf, minY = kInf, maxX = -kInf, maxY = -kInf;
    // Every vertex drawn, through the vertex program's own steps.
    for (const std::vector<float>* data : {&mVertexData, &mEdgeStrip}) {
        for (size_t i = 0; i + 1 < data->size(); i += 6) {
            const Vec4 vertex((*data)[i] - viewW * 0.5f, -((*data)[i + 1] - viewH * 0.5f), 0.0f, 1.0f);
            const Vec4 clip = mProjection * (mTransform * vertex);
            if (!(clip.w > kMinClipW) || !std::isfinite(clip.x) || !std::isfinite(clip.y)) return whole;
            const float x = static_cast<float>(viewport[0]) + (clip.x / clip.w + 1.0f) * 0.5f * viewport[2];
            const float y = static_cast<float>(viewport[1]) + (clip.y / clip.w + 1.0f) * 0.5f * viewport[3];
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (!(minX <= maxX) || !(minY <= maxY)) return PixelBox();
    // A pixel is drawn when its centre lies inside; one pixel more on each
    // side absorbs the rasteriser's sub-pixel snapping and the different
    // rounding of its matrix products.
    auto clampTo = [](float v, int lo, int hi) {
        return static_cast<int>(std::clamp(v, static_cast<float>(lo), static_cast<float>(hi)));
    };
    PixelBox box;
    box.x0 = clampTo(std::floor(minX) - 1.0f, whole.x0, whole.x1);
    box.x1 = clampTo(std::ceil(maxX) + 1.0f, whole.x0, whole.x1);
    box.y0 = clampTo(std::floor(minY) - 1.0f, whole.y0, whole.y1);
    box.y1 = clampTo(std::ceil(maxY) + 1.0f, whole.y0, whole.y1);
    return box;
}

}  // namespace Core
}  // namespace Quorvane
