#include "render/FullScreenRenderPass.h"

#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

const char* const FullScreenRenderPass::kCopyVertex =
    "attribute vec2 position;\n attribute vec2 inCoords;\n varying vec2 textureCoords;\nvoid "
    "main(){gl_Position "
    "= vec4(position, 0.0, 1.0); textureCoords = inCoords;}";
const char* const FullScreenRenderPass::kCopyFragment =
    "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec2 textureCoords;\n uniform sampler2D "
    "texture;\nvoid main(){gl_FragColor = texture2D(texture, textureCoords);\n}";

namespace {

const char* const kCopyFragmentBGRA =
    "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec2 textureCoords;\n uniform sampler2D "
    "texture;\nvoid main(){gl_FragColor = texture2D(texture, textureCoords).rgba;\n}";

const float kPositions[8] = {1, 1, 1, -1, -1, 1, -1, -1};
const float kCopyUV[8] = {1, 1, 1, 0, 0, 1, 0, 0};
const float kFlippedUV[8] = {1, 0, 1, 1, 0, 0, 0, 1};

constexpr GLsizei kStride = 4 * sizeof(float);

// A texture of the viewport's size, stretched over it, is read at the centres
// of its texels.
bool SizedLikeViewport(unsigned int texture) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLint width = 0, height = 0;
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    return width == viewport[2] && height == viewport[3];
}

}  // namespace

GLShader* FullScreenRenderPass::newCopyShader(bool bgra) {
    auto* shader = new GLShader(kCopyVertex, bgra ? kCopyFragmentBGRA : kCopyFragment);
    shader->addAttributeBinding("position", 0);
    shader->addAttributeBinding("inCoords", 1);
    return shader;
}

uint32_t FullScreenRenderPass::newStripBuffer(const float uv[8]) {
    float data[16];
    for (int i = 0; i < 4; ++i) {
        data[4 * i] = kPositions[2 * i];
        data[4 * i + 1] = kPositions[2 * i + 1];
        data[4 * i + 2] = uv[2 * i];
        data[4 * i + 3] = uv[2 * i + 1];
    }
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof data, data, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return buffer;
}

void FullScreenRenderPass::drawStrip(GLShader* shader, uint32_t buffer, unsigned int texture) {
    shader->useProgram();
    shader->setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    shader->setAttribute2fv(0, nullptr, kStride);
    shader->setAttribute2fv(1, reinterpret_cast<const float*>(2 * sizeof(float)), kStride);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    shader->disableVertexAttributeArray(0);
    shader->disableVertexAttributeArray(1);
    shader->unuseProgram();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

FullScreenRenderPass::FullScreenRenderPass(RenderLayer* parent, bool flipY, unsigned int outputTexture,
                                           int outputFramebuffer, bool premultiplied)
    : RenderPass(parent, outputTexture != 0, 0, 0),
      mShader(newCopyShader(false)),
      mOutputTexture(outputTexture),
      mOutputFramebuffer(outputFramebuffer),
      mFlipY(flipY),
      mPremultiplied(premultiplied) {}

FullScreenRenderPass::~FullScreenRenderPass() {
    delete mShader;
    if (mVertexBuffer != 0) glDeleteBuffers(1, &mVertexBuffer);
}

void FullScreenRenderPass::prepareForFrame(long long) {
    if (useCustomOutputDestination() && !mDestination) {
        mDestination = new GLRenderDestination(width(), height(), static_cast<int>(mOutputTexture), false,
                                               mOutputFramebuffer);
    }
}

void FullScreenRenderPass::unprepare() {
    RenderPass::unprepare();
    if (mVertexBuffer != 0) {
        glDeleteBuffers(1, &mVertexBuffer);
        mVertexBuffer = 0;
    }
}

void FullScreenRenderPass::setOutputBGRA(bool bgra) {
    delete mShader;
    mShader = newCopyShader(bgra);
    mSharedShader.reset();
}

void FullScreenRenderPass::drawSelf(unsigned int texture) {
    if (texture == 0) return;
    if (mVertexBuffer == 0) mVertexBuffer = newStripBuffer(mFlipY ? kFlippedUV : kCopyUV);

    if (mClearColorBuffer) {
        if (mBackgroundColor.a == 0.0f) {
            glClearColor(0, 0, 0, 0);
            glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        } else {
            glClearColor(mBackgroundColor.r, mBackgroundColor.g, mBackgroundColor.b, mBackgroundColor.a);
            if (mPremultiplied) {
                glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            } else {
                glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            }
        }
        glEnable(GL_BLEND);
        glClear(GL_COLOR_BUFFER_BIT);
    } else {
        glEnable(GL_BLEND);
        if (mPremultiplied) {
            glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        } else {
            glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        }
    }
    GLShader* shader = mShader;
    GLFrameBufferManager* manager = frameBufferManager();
    if (manager) {
        if (!mSharedShader)
            mSharedShader = manager->programCache().program(mShader->vertexSource(), mShader->fragmentSource());
        shader = mSharedShader.get();
    }
    const bool texelForTexel = manager && SizedLikeViewport(texture);
    if (texelForTexel) glBindSampler(0, manager->texelSampler());
    drawStrip(shader, mVertexBuffer, texture);
    if (texelForTexel) glBindSampler(0, 0);
}

}  // namespace Core
}  // namespace Quorvane
