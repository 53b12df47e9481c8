#include "render/GLShader.h"

#include "core/Color.h"
#include "core/Log.h"
#include "core/Matrix.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

// The engine's shader texts are GLSL ES 1.00 without a #version line. Mesa's
// llvmpipe compiles such text on the desktop compatibility context as GLSL
// 1.10, where lowp/mediump/highp are plain identifiers: "uniform lowp float a;"
// and "precision highp float;" are syntax errors there. The prefix defines the
// three words away; GL_ES is undefined on desktop GL, so the texts' own
// "#ifdef GL_ES precision ... #endif" blocks drop out as well. (Mesa would also
// take "#version 100" through ARB_ES2_compatibility, but that line would have
// to lead the text, in front of the prefix.)
const char* const GLShader::kPrecisionPrefix =
    "#ifndef GL_ES\n#define highp \n#define mediump \n#define lowp \n#endif\n";

namespace {

constexpr int kInfoLogCapacity = 512;

// Compiles one stage; logs the compiler output and returns 0 on failure.
GLuint compileStage(GLenum kind, const std::string& text, const char* tag) {
    GLuint shader = glCreateShader(kind);
    // The prefix goes in front of the compiled text only, so the stored text
    // does not grow when a failed build is tried again.
    const std::string compiled = std::string(GLShader::kPrecisionPrefix) + text;
    const char* source = compiled.c_str();
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        char log[kInfoLogCapacity + 1] = {0};
        GLsizei length = 0;
        glGetShaderInfoLog(shader, kInfoLogCapacity, &length, log);
        log[length < kInfoLogCapacity ? (length < 0 ? 0 : length) : kInfoLogCapacity] = '\0';
        QVPrint("Shader %s error:\n%s\n", tag, log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLShader::GLShader(const std::string& vertex, const std::string& fragment)
    : mVertexSource(vertex), mFragmentSource(fragment) {}

GLShader::~GLShader() {
    if (mProgram != 0) {
        GLint current = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        if (static_cast<uint32_t>(current) == mProgram) glUseProgram(0);
        glDeleteProgram(mProgram);
        mProgram = 0;
    }
}

void GLShader::setSource(const std::string& vertex, const std::string& fragment) {
    mVertexSource = vertex;
    mFragmentSource = fragment;
}

void GLShader::addAttributeBinding(const std::string& name, int location) {
    mAttributeBindings.emplace(name, location);
}

bool GLShader::build() {
    GLuint vertex = compileStage(GL_VERTEX_SHADER, mVertexSource, "vert");
    if (vertex == 0) return false;
    GLuint fragment = compileStage(GL_FRAGMENT_SHADER, mFragmentSource, "frag");
    if (fragment == 0) {
        glDeleteShader(vertex);
        return false;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    for (const auto& binding : mAttributeBindings) {
        glBindAttribLocation(program, static_cast<GLuint>(binding.second), binding.first.c_str());
    }
    glLinkProgram(program);
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    glDetachShader(program, vertex);
    glDetachShader(program, fragment);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    if (status != GL_TRUE) {
        char log[kInfoLogCapacity + 1] = {0};
        GLsizei length = 0;
        glGetProgramInfoLog(program, kInfoLogCapacity, &length, log);
        log[length < kInfoLogCapacity ? (length < 0 ? 0 : length) : kInfoLogCapacity] = '\0';
        QVPrint("Program error:\n%s\n", log);
        glDeleteProgram(program);
        return false;
    }
    mProgram = program;
    return true;
}

void GLShader::useProgram() {
    if (mProgram == 0) build();
    glUseProgram(mProgram);
}

void GLShader::unuseProgram() {
    glUseProgram(0);
}

void GLShader::print() {
    QVPrint("********** begin glsl shader **********");
    QVPrint("**********Vertex Shader:------->\n%s", mVertexSource.c_str());
    QVPrint("**********Fragment Shader:----->\n%s", mFragmentSource.c_str());
    QVPrint("********** end glsl shader **********");
}

int GLShader::getUniformLocation(const std::string& name) {
    if (mProgram == 0) return -1;
    return glGetUniformLocation(mProgram, name.c_str());
}

int GLShader::getAttributeLocation(const std::string& name) {
    return glGetAttribLocation(mProgram, name.c_str());
}

int GLShader::uniformLocation(const std::string& name) {
    return mProgram == 0 ? -1 : glGetUniformLocation(mProgram, name.c_str());
}

#define QV_UNIFORM_GUARD(name)            \
    int location = uniformLocation(name); \
    if (location == -1) return

void GLShader::setUniform1i(const std::string& name, int v0) {
    QV_UNIFORM_GUARD(name);
    glUniform1i(location, v0);
}
void GLShader::setUniform2i(const std::string& name, int v0, int v1) {
    QV_UNIFORM_GUARD(name);
    glUniform2i(location, v0, v1);
}
void GLShader::setUniform3i(const std::string& name, int v0, int v1, int v2) {
    QV_UNIFORM_GUARD(name);
    glUniform3i(location, v0, v1, v2);
}
void GLShader::setUniform4i(const std::string& name, int v0, int v1, int v2, int v3) {
    QV_UNIFORM_GUARD(name);
    glUniform4i(location, v0, v1, v2, v3);
}
void GLShader::setUniform1f(const std::string& name, float v0) {
    QV_UNIFORM_GUARD(name);
    glUniform1f(location, v0);
}
void GLShader::setUniform2f(const std::string& name, float v0, float v1) {
    QV_UNIFORM_GUARD(name);
    glUniform2f(location, v0, v1);
}
void GLShader::setUniform2f(const std::string& name, const Vec2& v) {
    setUniform2f(name, v.x, v.y);
}
void GLShader::setUniform3f(const std::string& name, float v0, float v1, float v2) {
    QV_UNIFORM_GUARD(name);
    glUniform3f(location, v0, v1, v2);
}
void GLShader::setUniform3f(const std::string& name, const Vec3& v) {
    setUniform3f(name, v.x, v.y, v.z);
}
void GLShader::setUniform4f(const std::string& name, float v0, float v1, float v2, float v3) {
    QV_UNIFORM_GUARD(name);
    glUniform4f(location, v0, v1, v2, v3);
}
void GLShader::setUniform4f(const std::string& name, const Vec4& v) {
    setUniform4f(name, v.x, v.y, v.z, v.w);
}
void GLShader::setUniform4f(const std::string& name, const Color& c) {
    setUniform4f(name, c.r, c.g, c.b, c.a);
}
void GLShader::setUniform1iv(const std::string& name, const int* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform1iv(location, count, values);
}
void GLShader::setUniform2iv(const std::string& name, const int* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform2iv(location, count, values);
}
void GLShader::setUniform3iv(const std::string& name, const int* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform3iv(location, count, values);
}
void GLShader::setUniform4iv(const std::string& name, const int* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform4iv(location, count, values);
}
void GLShader::setUniform1fv(const std::string& name, const float* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform1fv(location, count, values);
}
void GLShader::setUniform2fv(const std::string& name, const float* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform2fv(location, count, values);
}
void GLShader::setUniform3fv(const std::string& name, const float* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform3fv(location, count, values);
}
void GLShader::setUniform4fv(const std::string& name, const float* values, int count) {
    QV_UNIFORM_GUARD(name);
    glUniform4fv(location, count, values);
}
void GLShader::setUniformMatrix4f(const std::string& name, const Mat4& matrix, int count) {
    QV_UNIFORM_GUARD(name);
    glUniformMatrix4fv(location, count, GL_FALSE, matrix.m);
}

#undef QV_UNIFORM_GUARD

void GLShader::setUniformTexture(const std::string& name, int target, int texture, int unit) {
    if (mProgram == 0) return;
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
    glBindTexture(static_cast<GLenum>(target), static_cast<GLuint>(texture));
    setUniform1i(name, unit);
}

void GLShader::attribute(int location, int components, GLenum type, const void* pointer, int stride) {
    if (mProgram == 0 || location == -1) return;
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    glVertexAttribPointer(static_cast<GLuint>(location), components, type, GL_FALSE, stride, pointer);
}

void GLShader::setAttribute1fv(const std::string& name, const float* pointer, int stride) {
    if (mProgram == 0) return;
    attribute(getAttributeLocation(name), 1, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute2fv(const std::string& name, const float* pointer, int stride) {
    if (mProgram == 0) return;
    attribute(getAttributeLocation(name), 2, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute3fv(const std::string& name, const float* pointer, int stride) {
    if (mProgram == 0) return;
    attribute(getAttributeLocation(name), 3, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute4fv(const std::string& name, const float* pointer, int stride) {
    if (mProgram == 0) return;
    attribute(getAttributeLocation(name), 4, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute1iv(int location, const int* pointer, int stride) {
    attribute(location, 1, GL_INT, pointer, stride);
}
void GLShader::setAttribute1fv(int location, const float* pointer, int stride) {
    attribute(location, 1, GL_FLOAT, pointer, stride);
}
// A location of -1 is skipped here as well rather than handed to GL, where it
// would only raise GL_INVALID_VALUE.
void GLShader::setAttribute2fv(int location, const float* pointer, int stride) {
    attribute(location, 2, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute3fv(int location, const float* pointer, int stride) {
    attribute(location, 3, GL_FLOAT, pointer, stride);
}
void GLShader::setAttribute4fv(int location, const float* pointer, int stride) {
    attribute(location, 4, GL_FLOAT, pointer, stride);
}

void GLShader::disableVertexAttributeArray(const std::string& name) {
    if (mProgram == 0) return;
    int location = getAttributeLocation(name);
    if (location != -1) glDisableVertexAttribArray(static_cast<GLuint>(location));
}

void GLShader::disableVertexAttributeArray(int location) {
    if (mProgram == 0 || location < 0) return;
    glDisableVertexAttribArray(static_cast<GLuint>(location));
}

namespace {

// A script that keeps changing settings must not pile programs up; the
// engine's own texts come to a few dozen.
constexpr size_t kMaxSharedPrograms = 256;

}  // namespace

std::shared_ptr<GLShader> GLProgramCache::program(const std::string& vertex, const std::string& fragment) {
    std::string key = vertex;
    key += '\0';
    key += fragment;
    auto it = mPrograms.find(key);
    if (it != mPrograms.end()) return it->second;
    if (mPrograms.size() >= kMaxSharedPrograms) mPrograms.clear();
    auto shader = std::make_shared<GLShader>(vertex, fragment);
    shader->addAttributeBinding("position", 0);
    shader->addAttributeBinding("inCoords", 1);
    mPrograms.emplace(std::move(key), shader);
    return shader;
}

}  // namespace Core
}  // namespace Quorvane
