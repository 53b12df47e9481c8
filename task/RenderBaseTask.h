// What every render task shares: the GL context, the render context, the
// delegate, and the filter and watermark lists keyed by generated identifiers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "render/GLBase.h"
#include "task/RenderDelegate.h"
#include "task/RenderScene.h"
#include "task/Watermark.h"

namespace Quorvane {
namespace Core {

struct GLContext;

class RenderBaseTask : public GLBase {
public:
    RenderBaseTask() = default;
    virtual ~RenderBaseTask() = default;
    RenderBaseTask(const RenderBaseTask&) = delete;
    RenderBaseTask& operator=(const RenderBaseTask&) = delete;

    virtual void commit() = 0;
    virtual bool start() = 0;
    virtual bool isRendering() = 0;
    virtual bool cancel() = 0;

    void setRenderDelegate(RenderDelegate* delegate) { delegate_ = delegate; }
    RenderScene* context() { return context_; }

    std::string addFilter(const std::string& path);
    void removeFilter(const std::string& identifier);
    void removeAllFilter() { filters_.clear(); }

    std::string addWatermark(const Watermark& watermark);
    void removeWatermark(const std::string& identifier);
    void removeAllWatermark() { watermarks_.clear(); }

protected:
    GLContext* glContext_ = nullptr;
    RenderScene* context_ = nullptr;
    RenderDelegate* delegate_ = nullptr;
    std::vector<std::pair<std::string, std::string>> filters_;  // (template path, identifier)
    std::vector<std::pair<Watermark, std::string>> watermarks_;
};

}  // namespace Core
}  // namespace Quorvane
