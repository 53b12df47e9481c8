#include "support/GLFixture.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>

#include "render/GLContext.h"
#include "render/GLRenderDestination.h"
#include "support/TestSupport.h"

namespace QvTest {

using Quorvane::Core::GLContext;

namespace {
constexpr int kContextSize = 64;
constexpr const char* kChildVariable = "QV_TEST_CHILD";
}  // namespace

GLContext* GLFixture::sharedContext() {
    static GLContext* context = [] {
        GLContext* ctx = Quorvane::Core::GLContextGet(kContextSize, kContextSize, nullptr);
        if (ctx) Quorvane::Core::GLContextMakeCurrent(ctx);
        return ctx;
    }();
    return context;
}

void GLFixture::SetUp() {
    ASSERT_NE(sharedContext(), nullptr) << "headless EGL device unavailable";
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    while (glGetError() != GL_NO_ERROR) {
    }
}

void GLFixture::TearDown() {
    // Every test leaves GL without errors behind; a test that expects one
    // reads it itself.
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glUseProgram(0);
    glDisable(GL_BLEND);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_DEPTH_TEST);
}

static GLuint makeTexture(int width, int height, GLint internalFormat, GLenum type, const void* data) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, GL_RGBA, type, data);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

GLuint GLFixture::uploadTexture(int width, int height, const std::vector<uint8_t>& rgba) {
    EXPECT_EQ(rgba.size(), static_cast<size_t>(width) * height * 4);
    return makeTexture(width, height, GL_RGBA8, GL_UNSIGNED_BYTE, rgba.data());
}

GLuint GLFixture::uploadFloatTexture(int width, int height, const std::vector<float>& rgba) {
    EXPECT_EQ(rgba.size(), static_cast<size_t>(width) * height * 4);
    return makeTexture(width, height, GL_RGBA32F, GL_FLOAT, rgba.data());
}

void GLFixture::deleteTexture(GLuint texture) {
    if (texture != 0) glDeleteTextures(1, &texture);
}

Pixels GLFixture::readFramebuffer(int x, int y, int width, int height) {
    Pixels out;
    out.width = width;
    out.height = height;
    out.rgba.assign(static_cast<size_t>(width) * height * 4, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data());
    return out;
}

GLuint boundFramebuffer() {
    GLint id = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &id);
    return static_cast<GLuint>(id);
}

Pixels GLFixture::readDestination(Quorvane::Core::GLRenderDestination* destination) {
    GLint saved = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved);
    destination->bindDestination();
    Pixels out = readFramebuffer(0, 0, destination->width(), destination->height());
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved));
    return out;
}

Pixels GLFixture::readTexture(GLuint texture, int width, int height) {
    GLint saved = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    Pixels out = readFramebuffer(0, 0, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved));
    glDeleteFramebuffers(1, &framebuffer);
    return out;
}

void GLFixture::keepLoadedLibraries() {
    dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && info->dlpi_name[0] != '\0') {
                // RTLD_NOLOAD only takes another reference to what is loaded;
                // the handle is kept on purpose.
                dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

bool GLFixture::isChild() {
    return getenv(kChildVariable) != nullptr;
}

bool GLFixture::runInChild(const std::string& testName, std::string* output,
                           const std::vector<std::string>& extraEnv) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return false;
    exe[n] = '\0';
    std::vector<std::string> argv = {"env", std::string(kChildVariable) + "=1"};
    argv.insert(argv.end(), extraEnv.begin(), extraEnv.end());
    argv.insert(argv.end(), {exe, "--gtest_filter=" + testName});
    ProgramResult result = runProgram(argv);
    if (output) *output = result.out + result.err;
    return result.exitCode == 0 && result.out.find("[  PASSED  ] 1 test") != std::string::npos;
}

}  // namespace QvTest
