#include "task/RenderImageProcessTask.h"

#include "core/Log.h"
#include "task/RenderImageProcess.h"
#include "task/RenderImageTask.h"

namespace Quorvane {
namespace Core {

RenderImageProcessTask::~RenderImageProcessTask() {
    delete task_;
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
