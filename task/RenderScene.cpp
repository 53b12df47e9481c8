#include "task/RenderScene.h"

#if QV_RENDER_SCENE_STAND_IN

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include "render/Config.h"

namespace Quorvane {
namespace Core {

SceneStandIn::SceneStandIn(Config* config, GLContext* glContext, bool, unsigned int, int)
    : glContext_(glContext),
      width_(config->mainCompWidth()),
      height_(config->mainCompHeight()),
      frameRate_(config->frameRate()),
      duration_(static_cast<int64_t>(config->duration())),
      background_(config->backgroundColor()) {}

SceneStandIn::~SceneStandIn() {
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (destination_.texture) glDeleteTextures(1, &destination_.texture);
}

void SceneStandIn::prepare() {
    if (framebuffer_) return;
    glGenTextures(1, &destination_.texture);
    glBindTexture(GL_TEXTURE_2D, destination_.texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, destination_.texture, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void SceneStandIn::draw(unsigned int) {
    if (width_ <= 0 || height_ <= 0) return;
    prepare();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
    glClearColor(background_.r, background_.g, background_.b, background_.a);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

bool SceneStandIn::stepForward() {
    if (frame_ + 1 >= duration_) return false;
    ++frame_;
    return true;
}

void SceneStandIn::beginReadContent() {
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
}

void SceneStandIn::endReadContent() {
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer_));
}

std::string SceneStandIn::addWatermark(const std::vector<std::string>&, Vec2, Vec2, Vec2) {
    return std::string();
}

}  // namespace Core
}  // namespace Quorvane

#endif
