// The render child's delegate: drives one RenderTask with the host's options
// and reports its progress into the message queue.
#pragma once

#include "task/RenderDelegate.h"

namespace Quorvane {
namespace Core {

struct RenderProcessData;
class RenderTask;

class RenderProcessTask : public RenderDelegate {
public:
    explicit RenderProcessTask(RenderProcessData* data) : data_(data) {}
    virtual ~RenderProcessTask() = default;

    void renderStarted() override;
    void renderUpdate(float progress) override;
    void renderEnd(bool ok) override;
    void renderCancelled() override;

    // Takes ownership of the task (which the child never deletes: it exits).
    void setTask(RenderTask* task) { task_ = task; }
    RenderTask* task() const { return task_; }

    // Copies the options into the task and runs it; returns its result.
    bool simple();
    // Sends "duration:", "renderTime:", "encodeTime:" and "totalTime:".
    void sendRenderedInfo();

private:
    void send(const char* text, bool logSuccess);

    RenderProcessData* data_;
    RenderTask* task_ = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
