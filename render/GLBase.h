// Root of every class that owns or uses GL objects, and the one place that
// pulls in the GL headers with the prototypes of the post-1.1 entry points
// (glvnd's libOpenGL exports them all, so no loader is needed).
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>

namespace Quorvane {
namespace Core {

class GLBase {
public:
    GLBase() = default;
    virtual ~GLBase() = default;

    // Version code of the current context's GL_VERSION string; 0 without a
    // current context.
    static int getOpenGLVersion();
    // The same mapping for a given version string (null gives 0).
    static int openGLVersionCode(const char* version);
    // Whether the current context names this extension.
    static bool hasExtension(const char* name);
};

}  // namespace Core
}  // namespace Quorvane
