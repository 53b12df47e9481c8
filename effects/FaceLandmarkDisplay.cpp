#include "effects/FaceLandmarkDisplay.h"

#include <algorithm>

#include "effects/CornerPinEffect.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

const char* const kPointVertex =
    "attribute vec2 position;\n"
    "uniform float pointSize;\n"
    "uniform highp vec2 viewPort;\n"
    "uniform mat4 transform;\n"
    "uniform mat4 projection;\n"
    "void main() {\n"
    "    vec2 vertex = position - viewPort * 0.5;\n"
    "    gl_Position = projection * transform * vec4(vertex, 0.0, 1.0);\n"
    "    gl_PointSize = pointSize;\n"
    "}\n";
const char* const kPointFragment =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "void main() { gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0); }\n";

GLShader* newPointShader() {
    auto* shader = new GLShader(kPointVertex, kPointFragment);
    shader->addAttributeBinding("position", 0);
    return shader;
}

}  // namespace

FaceLandmarkDisplay::FaceLandmarkDisplay(RenderLayer* layer)
    : RenderEffect(layer), mShader(newPointShader()), mCopyPass(new FullScreenRenderPass(layer, false)) {}

FaceLandmarkDisplay::FaceLandmarkDisplay(const FaceLandmarkDisplay& other)
    : RenderEffect(other),
      mShader(newPointShader()),
      mLandmarks(other.mLandmarks),
      mPointSize(other.mPointSize),
      mCopyPass(new FullScreenRenderPass(other.parent(), false)) {}

FaceLandmarkDisplay::~FaceLandmarkDisplay() {
    delete mShader;
    delete mCopyPass;
    if (mVertexBuffer != 0) glDeleteBuffers(1, &mVertexBuffer);
}

void FaceLandmarkDisplay::updateLandmark(const float* points, unsigned long count) {
    if (!points) count = 0;
    mLandmarks.assign(points, points + count);
}

void FaceLandmarkDisplay::drawSelf(unsigned int texture) {
    // Like every effect: no input, nothing drawn (not points on transparency).
    if (texture == 0) return;
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    mCopyPass->setParent(parent());
    mCopyPass->draw(texture);
    glDisable(GL_BLEND);
    // One face, and never more points than were given.
    const auto points = static_cast<GLsizei>(std::min(kPointsPerFace, mLandmarks.size() / 2));
    if (points == 0) return;
    if (mVertexBuffer == 0) glGenBuffers(1, &mVertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mLandmarks.size() * sizeof(float)),
                 mLandmarks.data(), GL_STATIC_DRAW);
    mShader->useProgram();
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 2 * sizeof(float), nullptr);
    mShader->setUniform1f("pointSize", mPointSize);
    CornerPinEffect::setLayerSpaceUniforms(*mShader, parent());
    // Desktop GL takes gl_PointSize from the vertex shader only with this
    // switch on (OpenGL ES always does).
    glEnable(GL_PROGRAM_POINT_SIZE);
    glDrawArrays(GL_POINTS, 0, points);
    glDisable(GL_PROGRAM_POINT_SIZE);
    glDisableVertexAttribArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

}  // namespace Core
}  // namespace Quorvane
