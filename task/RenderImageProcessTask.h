// The still-image child's driver: hands the host's filters and watermarks to
// one RenderImageTask and runs it. As the task's delegate it passes on only
// that the work has begun and that an image is done, so that the parent's
// watchdog can tell a working child from a hung one; the result is the
// child's exit code.
#pragma once

#include "task/RenderDelegate.h"

namespace Quorvane {
namespace Core {

struct RenderImageProcessData;
class RenderImageTask;

class RenderImageProcessTask : public RenderDelegate {
public:
    // Borrows the record; takes the task.
    RenderImageProcessTask(RenderImageProcessData* data, RenderImageTask* task) : data_(data), task_(task) {}
    virtual ~RenderImageProcessTask();
    RenderImageProcessTask(const RenderImageProcessTask&) = delete;
    RenderImageProcessTask& operator=(const RenderImageProcessTask&) = delete;

    void renderStarted() override;
    void renderUpdate(float) override;
    void renderEnd(bool) override {}
    void renderCancelled() override {}

    // Needs at least one input, an output folder and one filter; then adds the
    // filters and watermarks to the task, commits and starts it. Its result.
    bool simple();

    RenderImageTask* task() const { return task_; }

private:
    void report(char what);

    RenderImageProcessData* data_;
    RenderImageTask* task_;
};

}  // namespace Core
}  // namespace Quorvane
