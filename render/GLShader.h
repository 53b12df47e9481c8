// The engine's one GLSL program class: built from a vertex and a fragment text
// on the first useProgram, after the owner has fixed its attribute locations;
// uniforms and attributes are set by name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

struct Vec2;
struct Vec3;
struct Vec4;
struct Color;
class Mat4;

class GLShader : public GLBase {
public:
    // Put in front of both texts when they are compiled: makes the GLSL ES
    // precision words harmless on desktop OpenGL.
    static const char* const kPrecisionPrefix;

    GLShader(const std::string& vertex, const std::string& fragment);
    ~GLShader() override;
    GLShader(const GLShader&) = delete;
    GLShader& operator=(const GLShader&) = delete;

    // Replaces both texts; a program already built is not rebuilt.
    void setSource(const std::string& vertex, const std::string& fragment);
    // A name already recorded keeps its first location. Applies at the next build.
    void addAttributeBinding(const std::string& name, int location);

    // Builds the program when there is none yet (also after a failed build),
    // then binds it (program 0 when the build failed).
    void useProgram();
    void unuseProgram();
    void print();

    uint32_t program() const { return mProgram; }
    const std::string& vertexSource() const { return mVertexSource; }
    const std::string& fragmentSource() const { return mFragmentSource; }

    int getUniformLocation(const std::string& name);
    int getAttributeLocation(const std::string& name);

    // Uniform setters: nothing without a program or for a location of -1.
    void setUniform1i(const std::string& name, int v0);
    void setUniform2i(const std::string& name, int v0, int v1);
    void setUniform3i(const std::string& name, int v0, int v1, int v2);
    void setUniform4i(const std::string& name, int v0, int v1, int v2, int v3);
    void setUniform1f(const std::string& name, float v0);
    void setUniform2f(const std::string& name, float v0, float v1);
    void setUniform2f(const std::string& name, const Vec2& v);
    void setUniform3f(const std::string& name, float v0, float v1, float v2);
    void setUniform3f(const std::string& name, const Vec3& v);
    void setUniform4f(const std::string& name, float v0, float v1, float v2, float v3);
    void setUniform4f(const std::string& name, const Vec4& v);
    void setUniform4f(const std::string& name, const Color& c);
    void setUniform1iv(const std::string& name, const int* values, int count);
    void setUniform2iv(const std::string& name, const int* values, int count);
    void setUniform3iv(const std::string& name, const int* values, int count);
    void setUniform4iv(const std::string& name, const int* values, int count);
    void setUniform1fv(const std::string& name, const float* values, int count);
    void setUniform2fv(const std::string& name, const float* values, int count);
    void setUniform3fv(const std::string& name, const float* values, int count);
    void setUniform4fv(const std::string& name, const float* values, int count);
    // Column by column, as the matrix stores it.
    void setUniformMatrix4f(const std::string& name, const Mat4& matrix, int count = 1);
    // Binds texture to target on the unit and points the sampler at it;
    // without a program nothing at all is bound.
    void setUniformTexture(const std::string& name, int target, int texture, int unit);

    // Attribute setters: nothing without a program. The pointer is a byte
    // offset into the bound GL_ARRAY_BUFFER in every engine pass.
    void setAttribute1fv(const std::string& name, const float* pointer, int stride);
    void setAttribute2fv(const std::string& name, const float* pointer, int stride);
    void setAttribute3fv(const std::string& name, const float* pointer, int stride);
    void setAttribute4fv(const std::string& name, const float* pointer, int stride);
    void setAttribute1iv(int location, const int* pointer, int stride);
    void setAttribute1fv(int location, const float* pointer, int stride);
    void setAttribute2fv(int location, const float* pointer, int stride);
    void setAttribute3fv(int location, const float* pointer, int stride);
    void setAttribute4fv(int location, const float* pointer, int stride);
    void disableVertexAttributeArray(const std::string& name);
    void disableVertexAttributeArray(int location);

private:
    bool build();
    void attribute(int location, int components, GLenum type, const void* pointer, int stride);
    int uniformLocation(const std::string& name);

    std::string mVertexSource;
    std::string mFragmentSource;
    uint32_t mProgram = 0;
    std::map<std::string, int32_t> mAttributeBindings;
};

// The programs of one GL context by their texts, so that passes with the same
// settings link one program between them (2000 alike layers would otherwise
// link 4000). Every program has "position" at 0 and "inCoords" at 1. Passes
// keep what they use alive themselves: the cache may forget a program
// without breaking them.
class GLProgramCache {
public:
    std::shared_ptr<GLShader> program(const std::string& vertex, const std::string& fragment);
    size_t size() const { return mPrograms.size(); }

private:
    std::map<std::string, std::shared_ptr<GLShader>> mPrograms;
};

}  // namespace Core
}  // namespace Quorvane
