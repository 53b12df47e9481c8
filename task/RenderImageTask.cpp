#include "task/RenderImageTask.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#endif
#include <GL/gl.h>

#include <stb_image.h>

#include "core/FileManager.h"
#include "core/Log.h"
#include "core/TimeUnit.h"
#include "core/Unique.h"
#include "media/AVSource.h"
#include "render/Config.h"
#include "render/GLContext.h"
#include "scene/FilterManager.h"
#include "scene/RenderAVLayer.h"
#include "task/RenderOutput.h"

namespace Quorvane {
namespace Core {

namespace {

constexpr float kFrameRate = 30.0f;
// The render context's output pass draws into a destination of its own.
constexpr unsigned int kOwnOutputTexture = 0xFFFFFFFFu;

struct ImageFormat {
    const char* inputSuffix;
    const char* outputSuffix;
    ImageFileKind kind;
};

const ImageFormat kFormats[] = {
    {"png", ".png", ImageFileKind::Png}, {"psd", ".png", ImageFileKind::Png},
    {"jpg", ".jpg", ImageFileKind::Jpg}, {"jpeg", ".jpg", ImageFileKind::Jpg},
    {"bmp", ".bmp", ImageFileKind::Bmp}, {"tga", ".tga", ImageFileKind::Tga},
};

const ImageFormat* formatFor(const std::string& suffix) {
    for (const ImageFormat& format : kFormats) {
        if (suffix == format.inputSuffix) return &format;
    }
    return nullptr;
}

// The resolved folders of the filter templates; one that does not resolve is
// left out (its template did not load either).
std::vector<std::string> resolvedFolders(const std::vector<std::pair<std::string, std::string>>& filters) {
    std::vector<std::string> folders;
    for (const auto& filter : filters) {
        std::string resolved = FileManager::resolvedPath(filter.first);
        if (!resolved.empty()) folders.push_back(std::move(resolved));
    }
    return folders;
}

// True when the output file would be one of these folders' files: an
// output folder inside a filter template would overwrite the filter itself.
// An output folder that cannot be resolved may be one of them.
bool landsInFolders(const std::string& file, const std::vector<std::string>& folders) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos) return false;
    std::string real;
    switch (FileManager::resolvePath(file.substr(0, slash + 1), &real)) {
        case FileManager::Resolution::Missing:
            return false;
        case FileManager::Resolution::Failed:
            return !folders.empty();
        case FileManager::Resolution::Resolved:
            break;
    }
    const std::string resolved = real + "/" + file.substr(slash + 1);
    for (const std::string& folder : folders) {
        if (FileManager::liesWithin(resolved, folder)) return true;
    }
    return false;
}

// The header size of an input the task can render; logs the reason for one it
// refuses. Only the header is read: the pixels are decoded when the image's
// frame is drawn, after the task has reported that its work began.
bool checkInput(const std::string& input, int* width, int* height) {
    const char* path = input.c_str();
    const InputFileStatus status = FileManager::checkInput(input);
    if (status == InputFileStatus::TooLarge) {
        QVPrint("render image task: %s is too large: above %llu bytes", path,
                static_cast<unsigned long long>(kMaxInputFileBytes));
        return false;
    }
    if (status != InputFileStatus::Ok) {
        QVPrint("图片：%s 不存在", path);
        return false;
    }
    if (!formatFor(RenderImageTask::getSuffix(input))) {
        QVPrint("图片：%s 不支持的格式或无后缀名", path);
        return false;
    }
    int components = 0;
    // A header that cannot be read is no image of a supported kind; taken as
    // 0 x 0 it would pass the size check and fail its write later, ending the
    // run before the images after it.
    if (!stbi_info(path, width, height, &components) || *width <= 0 || *height <= 0) {
        QVPrint("图片：%s 不支持的格式或无后缀名", path);
        return false;
    }
    if (*width > RenderImageTask::kMaxImageSide || *height > RenderImageTask::kMaxImageSide) {
        QVPrint("图片：%s 大小：[%d,%d] 超过了最大值:%d", path, *width, *height,
                RenderImageTask::kMaxImageSide);
        return false;
    }
    return true;
}

}  // namespace

RenderImageTask::RenderImageTask(const std::vector<std::string>& inputs, const std::string& outputFolder)
    : inputs_(inputs), outputFolder_(outputFolder) {}

RenderImageTask::~RenderImageTask() {
    // The scene's GL objects belong to this task's GL context: it must be
    // current while the scene goes, and released only afterwards.
    if (glContext_) GLContextMakeCurrent(glContext_);
    releaseScene();
    if (glContext_) {
        GLContextDoneUse(glContext_);
        glContext_ = nullptr;
    }
}

void RenderImageTask::releaseScene() {
    // The filters borrow their configurations: the context goes first.
    delete context_;
    context_ = nullptr;
    filterNames_.clear();
    for (Config* config : filterConfigs_) delete config;
    filterConfigs_.clear();
}

int RenderImageTask::setJpgQuality(int quality) {
    jpgQuality_ = std::min(100, std::max(1, quality));
    return jpgQuality_;
}

bool RenderImageTask::cancel() {
    if (rendering_) cancelled_ = true;
    return rendering_;
}

std::string RenderImageTask::getSuffix(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string suffix = path.substr(dot + 1);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return suffix;
}

std::string RenderImageTask::outputFileFor(const std::string& outputFolder, const std::string& input) {
    const ImageFormat* format = formatFor(getSuffix(input));
    if (!format) return std::string();
    return outputFolder + FileManager::getOsSeprator() + FileManager::getFileName(input, false) +
           format->outputSuffix;
}

void RenderImageTask::commit() {
    if (context_ || !filterConfigs_.empty()) releaseScene();
    sizes_.clear();
    if (inputs_.empty()) return;

    int largestWidth = 0;
    int largestHeight = 0;
    for (auto it = inputs_.begin(); it != inputs_.end();) {
        int width = 0;
        int height = 0;
        if (!checkInput(*it, &width, &height)) {
            it = inputs_.erase(it);
            continue;
        }
        largestWidth = std::max(largestWidth, width);
        largestHeight = std::max(largestHeight, height);
        sizes_.emplace_back(width, height);
        ++it;
    }
    if (largestWidth == 0 || largestHeight == 0) return;
    if (!buildScene(largestWidth, largestHeight)) releaseScene();
}

bool RenderImageTask::buildScene(int width, int height) {
    // Sources and compositions may make GL objects while the scene is built,
    // so the GL context is current from here on.
    if (!glContext_) {
        glContext_ = GLContextGet(width, height, nullptr);
        if (!glContext_) {
            QVPrint("render image task: no GL context of %d x %d", width, height);
            return false;
        }
    }
    GLContextMakeCurrent(glContext_);

    unsigned long count = inputs_.size();
    context_ = new RenderContext(width, height, kFrameRate, count, "images", true, kOwnOutputTexture, -1);
    context_->setGLContext(glContext_);
    // The context's configuration is built in memory, and a scope without a
    // folder would let a filter's assets name any file of the machine. The
    // filters may read their own folders; the host's images and watermarks
    // are read wherever they are.
    InputScope& scope = context_->config()->inputScope();
    for (const auto& filter : filters_) scope.addFolder(filter.first);
    for (const std::string& path : inputs_) scope.addFile(path);
    for (const auto& entry : watermarks_) {
        for (const std::string& path : entry.first.imagePaths) scope.addFile(path);
    }

    // Frame j shows input j at its natural size in the top-left corner.
    long long made = 0;
    sourceKeys_.clear();
    for (const std::string& path : inputs_) {
        std::string key = Unique::GenerateID();
        sourceKeys_.push_back(key);
        context_->createAVFileSource(path, key, 0.0f, std::string());
        auto* layer = new RenderAVLayer(context_);
        layer->setSourceID(key, true);
        layer->setLayerInPoint(TimeUnit(made, kFrameRate));
        layer->setLayerDuration(TimeUnit(1, kFrameRate));
        layer->setTransformAtTime(Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 0.0f, 0.0f),
                                  Vec3(1.0f, 1.0f, 1.0f), 0);
        context_->addLayer(layer, false);
        layer->contentLoaded();
        ++made;
    }
    context_->setCompDuration(static_cast<unsigned long>(made));

    for (const auto& filter : filters_) {
        auto* config = new Config(filter.first);
        filterConfigs_.push_back(config);
        std::string name = context_->filterManager()->addFilter(config, 0.0f, 0.0f);
        // Images rendered without a filter they were meant to get would be a
        // failure reported as success.
        if (name.empty()) {
            QVPrint("render image task: %s is no filter template", filter.first.c_str());
            return false;
        }
        filterNames_.emplace_back(name, config);
    }
    for (const auto& entry : watermarks_) {
        const Watermark& watermark = entry.first;
        context_->addWatermark(watermark.imagePaths, watermark.position, watermark.time, watermark.scale);
    }
    return true;
}

void RenderImageTask::fitFilters(int width, int height) {
    for (const auto& filter : filterNames_) {
        RenderAVLayer* layer = context_->filterManager()->filterLayer(filter.first);
        if (!layer) continue;
        float filterWidth = static_cast<float>(filter.second->mainCompWidth());
        float filterHeight = static_cast<float>(filter.second->mainCompHeight());
        layer->setTransformAtTime(
            Vec3(filterWidth / 2.0f, filterHeight / 2.0f, 0.0f),
            Vec3(static_cast<float>(width) / 2.0f, static_cast<float>(height) / 2.0f, 0.0f),
            Vec3(0.0f, 0.0f, 0.0f),
            Vec3(static_cast<float>(width) / filterWidth, static_cast<float>(height) / filterHeight, 1.0f),
            0);
    }
}

bool RenderImageTask::start() {
    QVPrint("render image task start(), images: %d, filters: %d", static_cast<int>(inputs_.size()),
            static_cast<int>(filters_.size()));
    cancelled_ = false;
    if (!context_ || inputs_.empty()) return false;

    if (!glContext_) {
        glContext_ = GLContextGet(context_->width(), context_->height(), nullptr);
        if (!glContext_) return false;
        GLContextMakeCurrent(glContext_);
        context_->setGLContext(glContext_);
    }
    rendering_ = true;
    if (delegate_) delegate_->renderStarted();
    lastWidth_ = 0;
    lastHeight_ = 0;

    bool result = false;
    bool ended = false;
    bool cancelled = false;
    // An input whose header promised an image its data does not hold (a cut
    // file, a header larger than its data): its layer showed nothing, so
    // nothing is written for it and the run reports failure.
    bool undecodable = false;
    // An output that would land in a filter's folder is not written (it
    // would replace the filter's own file); the others still are.
    bool refused = false;
    const std::vector<std::string> filterFolders = resolvedFolders(filters_);
    std::map<std::string, std::string> writers;  // output file -> the input last written there
    std::vector<uint8_t> pixels;
    for (size_t i = 0; i < inputs_.size() && !ended; ++i) {
        const std::string& path = inputs_[i];
        int width = sizes_[i].first;
        int height = sizes_[i].second;
        if (width != lastWidth_ || height != lastHeight_) {
            fitFilters(width, height);
            lastWidth_ = width;
            lastHeight_ = height;
        }
        context_->draw(0);
        glFinish();

        AVSource* source = context_->source(sourceKeys_[i]);
        bool saved = true;
        const std::string file = outputFileFor(outputFolder_, path);
        if (source && source->decodeFailed()) {
            QVPrint("图片：%s 不支持的格式或无后缀名", path.c_str());
            undecodable = true;
        } else if (landsInFolders(file, filterFolders)) {
            QVPrint("render image task: %s for %s lies in a filter template's folder, not written",
                    file.c_str(), path.c_str());
            refused = true;
        } else {
            pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
            context_->beginReadContent();
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
            context_->endReadContent();

            const ImageFormat* format = formatFor(getSuffix(path));
            // Two inputs of one name (x.png and x.psd, or one path given
            // twice) write the same file: the later one replaces the earlier.
            auto earlier = writers.find(file);
            if (earlier != writers.end()) {
                QVPrint("render image task: %s replaces %s written for %s", path.c_str(), file.c_str(),
                        earlier->second.c_str());
            }
            saved = format && WriteImageFile(file, format->kind, width, height, pixels.data(), jpgQuality_);
            if (saved) {
                writers[file] = path;
            } else {
                QVPrint("write image fail, %s", file.c_str());
            }
        }

        if (delegate_) {
            delegate_->renderUpdate(static_cast<float>(context_->currentLocalTime()) /
                                    static_cast<float>(context_->duration()));
        }
        if (!saved) {
            ended = true;
        } else if (cancelled_) {
            if (delegate_) delegate_->renderCancelled();
            result = true;
            cancelled = true;
            ended = true;
        } else if (!context_->stepForward()) {
            result = true;
            ended = true;
        }
    }
    // Inputs that ran out while the context still had frames leave result false.
    if (undecodable || refused) result = false;
    if (!cancelled && delegate_) delegate_->renderEnd(result);
    cancelled_ = false;
    rendering_ = false;
    return result;
}

}  // namespace Core
}  // namespace Quorvane
