#include "task/RenderProcessTask.h"

#include <cstdio>

#include "core/Log.h"
#include "render/Config.h"
#include "task/RenderProcess.h"
#include "task/RenderTask.h"

namespace Quorvane {
namespace Core {

void RenderProcessTask::send(const char* text, bool logSuccess) {
    if (logSuccess) QVPrint("pid %d --> send message :  %s", data_->pid, text);
    if (!SendRenderMessage(data_->queueId, text)) {
        QVPrint("pid %d --> fail send message :  %s %d", data_->pid, text, data_->queueId);
    }
}

void RenderProcessTask::renderStarted() {
    send("start", true);
}

void RenderProcessTask::renderUpdate(float progress) {
    char text[kRenderMessageTextSize];
    snprintf(text, sizeof text, "update:%f", progress);
    send(text, false);
}

void RenderProcessTask::renderEnd(bool ok) {
    sendRenderedInfo();
    send(ok ? "end" : "fail", true);
}

void RenderProcessTask::renderCancelled() {
    sendRenderedInfo();
    send("cancel", true);
}

void RenderProcessTask::sendRenderedInfo() {
    RenderTaskInfo info;
    if (task_ && task_->renderTaskInfo()) info = *task_->renderTaskInfo();
    char text[kRenderMessageTextSize];
    snprintf(text, sizeof text, "duration:%f", info.duration);
    send(text, true);
    snprintf(text, sizeof text, "renderTime:%f", info.renderTime);
    send(text, true);
    snprintf(text, sizeof text, "encodeTime:%f", info.encodeTime);
    send(text, true);
    snprintf(text, sizeof text, "totalTime:%f", info.totalTime);
    send(text, true);
}

bool RenderProcessTask::simple() {
    RenderTask* task = task_;
    Config* config = task->renderConfig();
    task->setLoopAudio(data_->musicLoop);
    if (!data_->musicPath.empty()) {
        task->setAudioFile(data_->musicPath);
        config->setMusicFadeoutDuration(data_->musicFadeoutDuration);
        config->setMusicVolume(data_->musicVolume);
    }
    if (!data_->replaceableFiles.empty()) config->setReplaceableFilePaths(data_->replaceableFiles);
    if (!data_->dynamicSubFiles.empty() && config->templateType() == TemplateTypeDynamic) {
        task->setDynamicSubImgJson(data_->dynamicSubFiles);
    }
    for (const Watermark& watermark : data_->watermarks) task->addWatermark(watermark);
    if (!data_->luaMainFile.empty()) {
        task->setLuaMainFile(data_->luaMainFile);
        task->setLuaDir(data_->luaDir);
        task->setLuaData(data_->luaData);
    }
    task->setScrivaneDir(data_->scrivanePath);
    task->setDynamicSubTextJson(data_->dynamicSubTexts);
    task->setAssetDir(data_->assetPath);
    task->setSnapShotDir(data_->snapshotDir);
    task->setSnapFrames(data_->snapshotFrames);
    task->setBitrateControl(data_->bitrateControl);
    return task->start();
}

}  // namespace Core
}  // namespace Quorvane
