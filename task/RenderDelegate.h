// Receiver of a render task's progress. In the render child it is the object
// that turns these calls into queue messages for the parent.
#pragma once

namespace Quorvane {
namespace Core {

class RenderDelegate {
public:
    virtual void renderStarted() {}
    virtual void renderUpdate(float progress) { (void)progress; }  // 0 to 1
    virtual void renderEnd(bool ok) { (void)ok; }
    virtual void renderCancelled() {}

protected:
    // Delegates are never deleted through this base.
    ~RenderDelegate() = default;
};

}  // namespace Core
}  // namespace Quorvane
