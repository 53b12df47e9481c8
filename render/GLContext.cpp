#include "render/GLContext.h"

#ifndef EGL_NO_X11
#define EGL_NO_X11 1
#endif
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>

namespace Quorvane {
namespace Core {

namespace {

constexpr EGLint kMaxDevices = 8;

// clang-format off
const EGLint kConfigAttributes[] = {
    EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
    EGL_BUFFER_SIZE, 32,
    EGL_ALPHA_SIZE, 8,
    EGL_BLUE_SIZE, 8,
    EGL_GREEN_SIZE, 8,
    EGL_RED_SIZE, 8,
    EGL_DEPTH_SIZE, 24,
    EGL_STENCIL_SIZE, 8,
    EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
    EGL_NONE,
};
// clang-format on
static_assert(sizeof kConfigAttributes / sizeof kConfigAttributes[0] == 19, "19 config attribute integers");

const EGLint kContextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};

// Undoes whatever GLContextGet made so far and frees the record.
void releaseContext(GLContext* ctx) {
    EGLDisplay display = static_cast<EGLDisplay>(ctx->display);
    if (display != EGL_NO_DISPLAY) {
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (ctx->context) eglDestroyContext(display, static_cast<EGLContext>(ctx->context));
        if (ctx->surface) eglDestroySurface(display, static_cast<EGLSurface>(ctx->surface));
        eglTerminate(display);
        eglReleaseThread();
    }
    delete ctx;
}

}  // namespace

GLContext* GLContextGet(int width, int height, void* shared) {
    GLContext* ctx = new GLContext();
    ctx->width = width;
    ctx->height = height;
    ctx->shared = shared;

    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!queryDevices || !getPlatformDisplay) {
        printf("Fail to create EGLDisplay\n");
        releaseContext(ctx);
        return nullptr;
    }

    EGLDeviceEXT devices[kMaxDevices];
    EGLint deviceCount = 0;
    if (queryDevices(kMaxDevices, devices, &deviceCount) != EGL_TRUE) deviceCount = 0;
    printf("Detected %d display devices\n", deviceCount);
    if (deviceCount <= 0) {
        printf("Fail to create EGLDisplay\n");
        releaseContext(ctx);
        return nullptr;
    }

    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[0], nullptr);
    printf("Create EGL Display:%p error:%x\n", display, eglGetError());
    if (display == EGL_NO_DISPLAY) {
        printf("Fail to create EGLDisplay\n");
        releaseContext(ctx);
        return nullptr;
    }
    ctx->display = display;

    EGLint major = 0, minor = 0;
    if (eglInitialize(display, &major, &minor) == EGL_TRUE) {
        printf("EGL init success:major:%d, minor:%d\n", major, minor);
    } else {
        printf("EGL init fail\n");
        releaseContext(ctx);
        return nullptr;
    }

    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (eglChooseConfig(display, kConfigAttributes, &config, 1, &configCount) != EGL_TRUE ||
        configCount < 1) {
        printf("EGL choose config fail\n");
        releaseContext(ctx);
        return nullptr;
    }

    const EGLint pbufferAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, pbufferAttributes);
    ctx->surface = surface;
    printf("Create EGL Surface:%p error:%x\n", surface, eglGetError());
    if (surface == EGL_NO_SURFACE) {
        releaseContext(ctx);
        return nullptr;
    }

    if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
        printf("EGL bind API fail\n");
        releaseContext(ctx);
        return nullptr;
    }

    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, kContextAttributes);
    ctx->context = context;
    printf("Create EGL Context:%p error:%x\n", context, eglGetError());
    if (context == EGL_NO_CONTEXT) {
        releaseContext(ctx);
        return nullptr;
    }
    fflush(stdout);
    return ctx;
}

void GLContextMakeCurrent(GLContext* ctx) {
    puts("Begin make context current");
    bool ok =
        ctx && eglMakeCurrent(static_cast<EGLDisplay>(ctx->display), static_cast<EGLSurface>(ctx->surface),
                              static_cast<EGLSurface>(ctx->surface),
                              static_cast<EGLContext>(ctx->context)) != EGL_FALSE;
    puts(ok ? "Make context current success" : "Make context current fail");
    fflush(stdout);
}

void GLContextDoneUse(GLContext* ctx) {
    if (!ctx) return;
    releaseContext(ctx);
}

}  // namespace Core
}  // namespace Quorvane
