// The headless rendering context: one EGL display on the first EGL device, one
// pbuffer surface and one desktop OpenGL context.
#pragma once

#include <cstdint>

namespace Quorvane {
namespace Core {

// EGL handles are kept as plain pointers (EGLDisplay, EGLSurface and
// EGLContext are void* typedefs) so that this header does not drag the EGL
// platform headers, and with them X11's macros, into every includer.
struct GLContext {
    void* display = nullptr;
    void* surface = nullptr;
    void* context = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    void* shared = nullptr;  // stored only; the context is created without sharing
};

// Creates display, pbuffer surface and context; does not make them current.
// Returns null, with everything it made released again, when any step fails
// (no device, no display, failed initialisation, no config, surface or context).
GLContext* GLContextGet(int width, int height, void* shared);
// Binds context and surface (draw and read) on the calling thread.
void GLContextMakeCurrent(GLContext* ctx);
// Releases everything and frees the record; null is ignored.
void GLContextDoneUse(GLContext* ctx);

}  // namespace Core
}  // namespace Quorvane
