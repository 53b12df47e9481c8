#include <gtest/gtest.h>

#include "render/GLBase.h"
#include "render/GLContext.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::GLFixture;

TEST(GLVersionCode, MapsTheVersionStrings) {
    struct Case {
        const char* text;
        int code;
    };
    const Case cases[] = {
        {nullptr, 0},
        {"OpenGL ES 3.2 Mesa 22.3.6", 5},
        {"OpenGL ES 3.1 NVIDIA 470", 4},
        {"OpenGL ES 3.0 build", 3},
        {"OpenGL ES 2.0 Mesa", 2},
        {"OpenGL ES 1.1", 1},
        {"OpenGL ES-CM 1.1", 5},  // names "OpenGL ES" but none of the listed versions
        {"1.0", 20},
        {"1.5.1", 25},
        {"2.0.0", 26},
        {"2.1 Mesa", 27},
        {"3.0", 28},
        {"3.3.0 NVIDIA", 31},
        {"4.0.0", 32},
        {"4.5 (Compatibility Profile) Mesa 22.3.6", 33},
        {"4.6.0 NVIDIA 535", 33},
        {"", 33},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GLBase::openGLVersionCode(c.text), c.code) << (c.text ? c.text : "(null)");
    }
}

// Children: each creates and tears down a display of its own, which must not
// happen beside the shared context of the parent test program.
TEST(GLContextChild, CreateUseRelease) {
    if (!GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    GLContext* ctx = GLContextGet(32, 16, reinterpret_cast<void*>(0x1234));
    ASSERT_NE(ctx, nullptr);
    GLFixture::keepLoadedLibraries();
    EXPECT_NE(ctx->display, nullptr);
    EXPECT_NE(ctx->surface, nullptr);
    EXPECT_NE(ctx->context, nullptr);
    EXPECT_EQ(ctx->width, 32);
    EXPECT_EQ(ctx->height, 16);
    EXPECT_EQ(ctx->shared, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(GLBase::getOpenGLVersion(), 0) << "not current yet";
    GLContextMakeCurrent(ctx);
    EXPECT_GE(GLBase::getOpenGLVersion(), 32) << glGetString(GL_VERSION);
    // The pbuffer is the default framebuffer and has the requested size.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 32);
    EXPECT_EQ(viewport[3], 16);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    QvTest::Pixels px = GLFixture::readFramebuffer(31, 15, 1, 1);
    EXPECT_EQ(px.packed(0, 0), 0x00FF00FFu);
    GLContextDoneUse(ctx);
    EXPECT_EQ(GLBase::getOpenGLVersion(), 0) << "released";
    GLContextDoneUse(nullptr);
}

TEST(GLContextChild, FailureGivesNull) {
    if (!GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    // A negative pbuffer size makes the surface fail: the caller must see null
    // (and the process must go on).
    GLContext* probe = GLContextGet(1, 1, nullptr);
    ASSERT_NE(probe, nullptr);
    GLFixture::keepLoadedLibraries();
    GLContextDoneUse(probe);
    EXPECT_EQ(GLContextGet(-1, -1, nullptr), nullptr);
    // The display is usable again afterwards.
    GLContext* ctx = GLContextGet(8, 8, nullptr);
    ASSERT_NE(ctx, nullptr);
    GLContextDoneUse(ctx);
}

TEST(GLContextChild, NoDeviceGivesNull) {
    if (!GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    EXPECT_EQ(GLContextGet(8, 8, nullptr), nullptr);
}

TEST(GLContext, CreateMakeCurrentAndRelease) {
    std::string out;
    EXPECT_TRUE(GLFixture::runInChild("GLContextChild.CreateUseRelease", &out)) << out;
    EXPECT_NE(out.find("Detected 1 display devices\n"), std::string::npos) << out;
    EXPECT_NE(out.find("EGL init success:major:1, minor:"), std::string::npos) << out;
    EXPECT_NE(out.find("Create EGL Display:0x"), std::string::npos) << out;
    EXPECT_NE(out.find("Create EGL Surface:0x"), std::string::npos) << out;
    EXPECT_NE(out.find("Create EGL Context:0x"), std::string::npos) << out;
    EXPECT_NE(out.find("Begin make context current\nMake context current success\n"), std::string::npos)
        << out;
}

TEST(GLContext, FailedSurfaceReturnsNullInsteadOfEnding) {
    std::string out;
    EXPECT_TRUE(GLFixture::runInChild("GLContextChild.FailureGivesNull", &out)) << out;
    EXPECT_NE(out.find("Create EGL Surface:(nil) error:300c"), std::string::npos) << out;
}

TEST(GLContext, NoEGLDeviceReturnsNullInsteadOfEnding) {
    std::string out;
    // glvnd finds no vendor library: no device can be enumerated.
    EXPECT_TRUE(GLFixture::runInChild("GLContextChild.NoDeviceGivesNull", &out,
                                      {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/vendor.json"}))
        << out;
    EXPECT_NE(out.find("Fail to create EGLDisplay"), std::string::npos) << out;
}

TEST_F(GLFixture, SharedContextIsDesktopGL) {
    EXPECT_GE(GLBase::getOpenGLVersion(), 32);
}
