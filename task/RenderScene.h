// The scene a video render draws.
//
// SEAM: the render task drives the scene through RenderContext
// (scene/RenderContext.h). Until that class is in the tree, builds use
// SceneStandIn below: a scene of the template's main composition size that
// shows nothing but the template's background colour, with exactly the calls
// the render task makes. Once the scene's implementation is in the tree
// (scene/RenderContext.cpp; task/CMakeLists.txt then defines
// QV_HAVE_RENDER_CONTEXT for the library and everything linking it), the real
// context is used and the stand-in is no longer compiled; then this file can
// shrink to the include and the alias.
#pragma once

#if defined(QV_HAVE_RENDER_CONTEXT)

#include "render/FullScreenRenderPass.h"
#include "render/GLRenderDestination.h"
#include "scene/RenderContext.h"

namespace Quorvane {
namespace Core {
using RenderScene = RenderContext;
}  // namespace Core
}  // namespace Quorvane

#define QV_RENDER_SCENE_STAND_IN 0

#else

#include <cstdint>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class Config;
struct GLContext;

class SceneStandIn {
public:
    struct ReadDestination {
        unsigned int texture = 0;
        unsigned int grabTextureForRead(bool) const { return texture; }
    };
    struct OutputPass {
        void setOutputBGRA(bool) {}  // the copy is channel-for-channel either way
    };

    SceneStandIn(Config* config, GLContext* glContext, bool flip, unsigned int outputTexture,
                 int outputFramebuffer);
    ~SceneStandIn();
    SceneStandIn(const SceneStandIn&) = delete;
    SceneStandIn& operator=(const SceneStandIn&) = delete;

    void setGLContext(GLContext* glContext) { glContext_ = glContext; }
    void draw(unsigned int texture);
    bool stepForward();
    void beginReadContent();
    void endReadContent();
    std::string addWatermark(const std::vector<std::string>& paths, Vec2 position, Vec2 time, Vec2 scale);

    int width() const { return width_; }
    int height() const { return height_; }
    float frameRate() const { return frameRate_; }
    int64_t duration() const { return duration_; }
    int64_t currentLocalTime() const { return frame_; }
    ReadDestination* readDestination() { return &destination_; }
    OutputPass* flipVerticalPass() { return &outputPass_; }

private:
    void prepare();

    GLContext* glContext_;
    int width_;
    int height_;
    float frameRate_;
    int64_t duration_;
    int64_t frame_ = 0;
    Color background_;
    unsigned int framebuffer_ = 0;
    int previousFramebuffer_ = 0;
    ReadDestination destination_;
    OutputPass outputPass_;
};

using RenderScene = SceneStandIn;

}  // namespace Core
}  // namespace Quorvane

#define QV_RENDER_SCENE_STAND_IN 1

#endif
