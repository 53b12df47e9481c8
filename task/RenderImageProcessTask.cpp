#include "task/RenderImageProcessTask.h"

#include <sys/socket.h>

#include "core/Log.h"
#include "task/RenderImageProcess.h"
#include "task/RenderImageTask.h"

namespace Quorvane {
namespace Core {

RenderImageProcessTask::~RenderImageProcessTask() {
    delete task_;
}

void RenderImageProcessTask::report(char what) {
    // Never blocks and never raises SIGPIPE: a parent that is gone or slow to
    // read misses a report, not the render.
    if (data_->reportFd >= 0) send(data_->reportFd, &what, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void RenderImageProcessTask::renderStarted() {
    report(kImageReportStarted);
}

void RenderImageProcessTask::renderUpdate(float) {
    report(kImageReportProgress);
}

bool RenderImageProcessTask::simple() {
    if (!task_ || data_->inputs.empty() || data_->outputFolder.empty() || data_->filters.empty()) {
        QVPrint("Child RenderImagePocessTask invalid %d, %d, %d, %d", data_->pid,
                static_cast<int>(data_->inputs.size()), static_cast<int>(data_->outputFolder.size()),
                static_cast<int>(data_->filters.size()));
        return false;
    }
    for (const std::string& filter : data_->filters) task_->addFilter(filter);
    for (const Watermark& watermark : data_->watermarks) task_->addWatermark(watermark);
    task_->commit();
    return task_->start();
}

}  // namespace Core
}  // namespace Quorvane
