#include <gtest/gtest.h>

#include "core/Color.h"
#include "core/Matrix.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::GLFixture;

namespace {

// Written as the engine writes its texts: GLSL ES words, no version line.
const char* const kVertex =
    "attribute vec2 position;\nattribute vec4 inCoords;\nvarying vec4 textureCoords;\nuniform mat4 "
    "transform;\n"
    "void main(){gl_Position = transform * vec4(position, 0.0, 1.0); textureCoords = inCoords;}";
const char* const kFragment =
    "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec4 textureCoords;\nuniform lowp float alpha;\n"
    "uniform mediump vec4 tint;\nvoid main(){gl_FragColor = vec4(tint.rgb, alpha * textureCoords.w);}";

// Full-target strip: positions, then coordinates whose w (1) scales alpha.
void drawStrip(GLShader& shader) {
    const float vertices[] = {-1, -1, 0, 0, 0, 1, 1, -1, 0, 0, 0, 1, -1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1};
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
    shader.setAttribute2fv("position", nullptr, 6 * sizeof(float));
    shader.setAttribute4fv("inCoords", reinterpret_cast<const float*>(2 * sizeof(float)), 6 * sizeof(float));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    shader.disableVertexAttributeArray("position");
    shader.disableVertexAttributeArray("inCoords");
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &buffer);
}

}  // namespace

using GLShaderTest = GLFixture;

TEST_F(GLShaderTest, EngineTextsBuildLazilyWithFixedLocations) {
    GLShader shader(kVertex, kFragment);
    shader.addAttributeBinding("position", 0);
    shader.addAttributeBinding("inCoords", 1);
    shader.addAttributeBinding("position", 3);  // the first location stays
    EXPECT_EQ(shader.program(), 0u) << "nothing is built before first use";
    EXPECT_EQ(shader.getUniformLocation("alpha"), -1);

    shader.useProgram();
    ASSERT_NE(shader.program(), 0u);
    EXPECT_EQ(shader.getAttributeLocation("position"), 0);
    EXPECT_EQ(shader.getAttributeLocation("inCoords"), 1);
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), shader.program());
    EXPECT_EQ(shader.fragmentSource(), kFragment) << "the stored text carries no prefix";

    GLRenderDestination dest(4, 4);
    dest.bindDestination();
    glDisable(GL_BLEND);
    shader.setUniformMatrix4f("transform", Mat4(true), 1);
    shader.setUniform1f("alpha", 0.5f);
    shader.setUniform4f("tint", Color(1.0f, 0.0f, 1.0f, 1.0f));
    shader.setUniform1f("noSuchUniform", 1.0f);  // ignored
    drawStrip(shader);
    QvTest::Pixels px = GLFixture::readFramebuffer(0, 0, 4, 4);
    const uint8_t* p = px.at(2, 2);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 255);
    EXPECT_NEAR(p[3], 128, 1);
    shader.unuseProgram();
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    shader.useProgram();  // destroying the current program unbinds it first
}

TEST_F(GLShaderTest, FailedBuildIsReportedRetriedAndDoesNotGrowTheText) {
    const std::string badFragment = "void main(){gl_FragColor = vec4(undefinedThing);}";
    GLShader shader(kVertex, badFragment);
    testing::internal::CaptureStderr();
    shader.useProgram();
    shader.useProgram();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shader.program(), 0u);
    EXPECT_NE(log.find("Shader frag error:\n"), std::string::npos) << log;
    EXPECT_NE(log.find("undefinedThing"), std::string::npos) << log;
    // Two attempts, and the stored texts are still exactly what was given.
    EXPECT_EQ(shader.fragmentSource(), badFragment);
    EXPECT_EQ(shader.vertexSource(), kVertex);

    // Without a program every setter does nothing, and nothing is bound.
    glActiveTexture(GL_TEXTURE3);
    shader.setUniformTexture("tex", GL_TEXTURE_2D, 77, 5);
    GLint unit = 0, bound = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(unit, GL_TEXTURE3);
    EXPECT_EQ(bound, 0);
    shader.setUniform1f("alpha", 1.0f);
    shader.setAttribute2fv(0, nullptr, 0);
    shader.disableVertexAttributeArray(0);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // A broken vertex text is reported as "vert"; a link failure as a program error.
    GLShader badVertex("void main(){gl_Position = nope;}", kFragment);
    GLShader noLink("void notMain(){}", "void main(){gl_FragColor = vec4(1.0);}");
    testing::internal::CaptureStderr();
    badVertex.useProgram();
    noLink.useProgram();
    log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Shader vert error:\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Program error:\n"), std::string::npos) << log;
    EXPECT_EQ(badVertex.program(), 0u);
    EXPECT_EQ(noLink.program(), 0u);
    while (glGetError() != GL_NO_ERROR) {
    }

    // A new text is used by the next build only.
    shader.setSource(kVertex, kFragment);
    shader.useProgram();
    EXPECT_NE(shader.program(), 0u);
    shader.unuseProgram();
}

TEST_F(GLShaderTest, PrintLogsBothTexts) {
    GLShader shader("VERTEX-TEXT", "FRAGMENT-TEXT");
    testing::internal::CaptureStderr();
    shader.print();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("********** begin glsl shader **********"), std::string::npos);
    EXPECT_NE(log.find("**********Vertex Shader:------->\nVERTEX-TEXT"), std::string::npos);
    EXPECT_NE(log.find("**********Fragment Shader:----->\nFRAGMENT-TEXT"), std::string::npos);
    EXPECT_NE(log.find("********** end glsl shader **********"), std::string::npos);
}
