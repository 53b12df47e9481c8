#include "media/AVSource.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "stb_image.h"

#include "core/FileManager.h"
#include "core/Log.h"
#include "core/Unique.h"
#include "media/ImageStream.h"
#include "media/VideoSourceProvider.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/RotateRenderPass.h"
#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

namespace {

struct ExtensionKind {
    const char* extension;
    AVSource::FileType type;
};

const ExtensionKind kExtensions[] = {
    {"mp4", AVSource::kFileTypeVideo},  {"mov", AVSource::kFileTypeVideo}, {"m4a", AVSource::kFileTypeVideo},
    {"avi", AVSource::kFileTypeVideo},  {"png", AVSource::kFileTypeImage}, {"jpg", AVSource::kFileTypeImage},
    {"jpeg", AVSource::kFileTypeImage}, {"psd", AVSource::kFileTypeImage}, {"bmp", AVSource::kFileTypeImage},
    {"tga", AVSource::kFileTypeImage},
};

AVSource::FileType fileTypeOfPath(const std::string& path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return AVSource::kFileTypeNone;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const auto& row : kExtensions) {
        if (ext == row.extension) return row.type;
    }
    return AVSource::kFileTypeNone;
}

// Frames in the stream: its duration at its own frame rate.
long streamFrameCount(const VideoSourceMetadata& metadata) {
    double n = std::round(static_cast<double>(metadata.duration) / 1000.0 * metadata.frameRate);
    if (!std::isfinite(n) || n <= 0) return 0;
    return n > static_cast<double>(INT_MAX) ? INT_MAX : static_cast<long>(n);
}

int desiredComponents(AVSource::ColorFormat format) {
    if (format == AVSource::kColorFormatRGBA) return 4;
    if (format == AVSource::kColorFormatRGB24) return 3;
    return 0;
}

// Rows of a streamed image uploaded at once: a few megabytes at most.
constexpr int kBandRows = 64;

// A video frame is held three times: as decoded, converted to RGBA and in
// its texture.
constexpr int kVideoFrameCopies = 3;

long wrapIndex(long frame, long count) {
    return ((frame % count) + count) % count;
}

void setTextureParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// Averages every box of source pixels into one, shrinking each axis to at most
// its limit.
std::vector<unsigned char> shrinkImage(const unsigned char* pixels, int width, int height, int components,
                                       int newWidth, int newHeight) {
    std::vector<unsigned char> out(static_cast<size_t>(newWidth) * newHeight * components);
    std::vector<unsigned> sum(static_cast<size_t>(components));
    for (int y = 0; y < newHeight; ++y) {
        const int64_t y0 = int64_t(y) * height / newHeight, y1 = std::max(y0 + 1, int64_t(y + 1) * height / newHeight);
        for (int x = 0; x < newWidth; ++x) {
            const int64_t x0 = int64_t(x) * width / newWidth, x1 = std::max(x0 + 1, int64_t(x + 1) * width / newWidth);
            std::fill(sum.begin(), sum.end(), 0u);
            for (int64_t sy = y0; sy < y1; ++sy) {
                const unsigned char* row = pixels + (sy * width + x0) * components;
                for (int64_t i = 0; i < (x1 - x0) * components; ++i) sum[i % components] += row[i];
            }
            const unsigned count = static_cast<unsigned>((y1 - y0) * (x1 - x0));
            unsigned char* dst = &out[(static_cast<size_t>(y) * newWidth + x) * components];
            for (int c = 0; c < components; ++c) dst[c] = static_cast<unsigned char>((sum[c] + count / 2) / count);
        }
    }
    return out;
}

// ---- Composition sources ----------------------------------------------------
// What a composition source asks of the composition it shows.
void compSize(RenderComp* comp, int* width, int* height) {
    if (!comp || comp->width() <= 0 || comp->height() <= 0) return;
    *width = comp->width();
    *height = comp->height();
}
unsigned int compOutputTexture(RenderComp* comp) {
    return comp ? comp->getOutputTexture() : 0;
}
TimeUnit compDuration(RenderComp* comp, float fps) {
    return TimeUnit(comp ? static_cast<long long>(comp->duration()) : 1, fps);
}
bool compHasAnimation(RenderComp* comp) {
    return comp && comp->hasAnimation();
}
void compShowFrame(RenderComp* comp, int frame, bool draw) {
    if (!comp) return;
    comp->setCurrentCompTime(frame);
    if (draw) comp->draw(0);
}
void compUnprepare(RenderComp* comp) {
    if (comp) comp->unprepare();
}
// The copy is made and registered by the render context the composition
// belongs to.
RenderComp* compDuplicate(AVSourceContext* /*context*/, RenderComp* comp) {
    return comp->comp(comp->duplicateComp(*comp));
}

}  // namespace

bool PictureBudget::reserve(uint64_t bytes) {
    if (bytes > limit_ || held_ > limit_ - bytes) return false;
    held_ += bytes;
    return true;
}

void PictureBudget::release(uint64_t bytes) {
    held_ -= std::min(bytes, held_);
}

// Only a regular file of the render's inputs is opened: a FIFO or a device
// would block or never end, a file elsewhere is not the template's to show.
// Images are decoded whole into memory, videos streamed. The name returned is
// the one the scope checked, so the decoders open what was checked.
std::string AVSource::readableMedia(const std::string& path) const {
    const InputScope* scope = context_ ? context_->inputScope() : nullptr;
    std::string opened = path;
    if (scope && !scope->allows(path, "media file", &opened)) return std::string();
    const uint64_t cap = fileTypeOfPath(path) == AVSource::kFileTypeVideo ? kMaxMediaFileBytes : kMaxInputFileBytes;
    const InputFileStatus status = FileManager::checkInput(opened, cap);
    if (status == InputFileStatus::Ok) return opened;
    QVPrint("AVSource %s: %s is %s", key_.c_str(), path.c_str(), FileManager::describe(status));
    return std::string();
}

namespace {

FILE* openForReading(const std::string& name) {
    return name.empty() ? nullptr : fopen(name.c_str(), "rb");
}

}  // namespace

bool AVSource::chargePicture(int64_t width, int64_t height, int copies, const std::string& what) {
    releasePicture();
    PictureBudget* budget = context_ ? context_->pictureBudget() : nullptr;
    if (!budget || width <= 0 || height <= 0) return true;
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u * copies;
    if (!budget->reserve(bytes)) {
        QVPrint("AVSource %s: %s of %lldx%lld would pass the render's picture budget (%llu of %llu MB held), "
                "refused",
                key_.c_str(), what.c_str(), static_cast<long long>(width), static_cast<long long>(height),
                static_cast<unsigned long long>(budget->held() >> 20),
                static_cast<unsigned long long>(budget->limit() >> 20));
        return false;
    }
    pictureBytes_ = bytes;
    return true;
}

void AVSource::releasePicture() {
    PictureBudget* budget = context_ ? context_->pictureBudget() : nullptr;
    if (budget) budget->release(pictureBytes_);
    pictureBytes_ = 0;
}

AVSource::AVSource(std::string key, AVSourceContext* context, SourceType type, float fps)
    : fps_(fps), key_(std::move(key)), sourceType_(type), context_(context) {}

AVSource::AVSource(std::string key, AVSourceContext* context, const char* bytes, int64_t length)
    : AVSource(std::move(key), context, kSourceTypeFile, 0.0f) {
    fileType_ = kFileTypeImage;
    memoryBytes_ = bytes;
    memoryLength_ = length;
    int w = 0, h = 0, n = 0;
    // stb_image takes an int length: larger buffers are refused, not truncated.
    if (bytes && length > 0 && length <= INT_MAX &&
        stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes), static_cast<int>(length), &w, &h,
                              &n)) {
        width_ = w;
        height_ = h;
    } else {
        QVPrint("AVSource %s: image bytes cannot be read", key_.c_str());
    }
    if (context_) context_->addSource(this);
}

AVSource::AVSource(std::string key, AVSourceContext* context, unsigned int texture, ColorFormat format,
                   int width, int height)
    : AVSource(std::move(key), context, kSourceTypeTexture, 0.0f) {
    texture_ = texture;
    colorFormat_ = format;
    width_ = width;
    height_ = height;
    if (context_) context_->addSource(this);
}

AVSource::AVSource(std::string key, AVSourceContext* context, const Color& color, int width, int height)
    : AVSource(std::move(key), context, kSourceTypeSolid, 0.0f) {
    color_ = color;
    width_ = width;
    height_ = height;
    if (context_) context_->addSource(this);
}

AVSource::AVSource(std::string key, AVSourceContext* context, const std::string& path, float fps)
    : AVSource(std::move(key), context, kSourceTypeFile, fps) {
    mainFile_ = path;
    if (context_) context_->addSource(this);
    loadSourceInfo();
}

AVSource::AVSource(std::string key, AVSourceContext* context, BaseVideoSourceProvider* provider, float fps)
    : AVSource(std::move(key), context, kSourceTypeProvider, fps) {
    provider_ = provider;
    if (context_) context_->addSource(this);
    loadSourceInfo();
}

AVSource::AVSource(std::string key, AVSourceContext* context, const std::vector<std::string>& files,
                   float fps)
    : AVSource(std::move(key), context, kSourceTypeFile, fps) {
    fileType_ = kFileTypeImageSequence;
    sequenceFiles_ = files;
    if (!files.empty()) mainFile_ = files.front();
    if (context_) context_->addSource(this);
    loadSourceInfo();
}

AVSource::AVSource(std::string key, AVSourceContext* context, RenderComp* comp)
    : AVSource(std::move(key), context, kSourceTypeComp, 0.0f) {
    compSize(comp, &width_, &height_);
    if (context_) context_->addSource(this);
    setSourceComp(comp);
}

AVSource::AVSource(const AVSource& other)
    : GLBase(),
      width_(other.width_),
      height_(other.height_),
      fps_(other.fps_),
      key_(Unique::GenerateID()),
      mainFile_(other.mainFile_),
      memoryBytes_(other.memoryBytes_),
      memoryLength_(other.memoryLength_),
      configJson_(other.configJson_),
      sequenceFiles_(other.sequenceFiles_),
      colorFormat_(other.colorFormat_),
      fileType_(other.fileType_),
      sourceType_(other.sourceType_),
      color_(other.color_),
      pixelAspectRatio_(other.pixelAspectRatio_),
      context_(other.context_),
      streamFrames_(other.streamFrames_) {
    // The host's texture and the host's provider are shared, not copied.
    if (sourceType_ == kSourceTypeTexture) texture_ = other.texture_;
    if (sourceType_ == kSourceTypeProvider) provider_ = other.provider_;
    if (sourceType_ == kSourceTypeComp) comp_ = other.comp_ ? compDuplicate(context_, other.comp_) : nullptr;
    if (context_) context_->addSource(this);
}

AVSource::~AVSource() {
    forceUnload(false);
}

void AVSource::createVideoProvider() {
    // The frame size is checked against what the budget has left from the
    // container's header, before the reader decodes a frame to probe it.
    PictureBudget* budget = context_ ? context_->pictureBudget() : nullptr;
    releasePicture();
    const uint64_t room = budget ? (budget->limit() - std::min(budget->held(), budget->limit())) /
                                       (4u * kVideoFrameCopies)
                                 : UINT64_MAX;
    provider_ =
        new VideoSourceProvider(readableMedia(mainFile_), context_ ? context_->glContext() : nullptr, room);
    if (!provider_->isValid()) {
        QVPrint("AVSource %s: cannot decode video %s", key_.c_str(), mainFile_.c_str());
        return;
    }
    const VideoSourceMetadata& metadata = provider_->getMetadata();
    if (!chargePicture(metadata.width, metadata.height, kVideoFrameCopies, "video " + mainFile_)) {
        delete provider_;
        provider_ = new VideoSourceProvider(std::string(), nullptr, 0);
    }
}

void AVSource::adoptProviderMetadata() {
    delete rotatePass_;
    rotatePass_ = nullptr;
    prepareRotatePass();
    pixelAspectRatio_ = provider_->getMetadata().pixelAspectRatio;
    streamFrames_ = streamFrameCount(provider_->getMetadata());
}

void AVSource::loadSourceInfo() {
    switch (sourceType_) {
        case kSourceTypeFile: {
            FileType type = fileTypeOfPath(mainFile_);
            if (type == kFileTypeVideo) {
                fileType_ = kFileTypeVideo;
                if (!provider_) createVideoProvider();
                adoptProviderMetadata();
            } else if (type == kFileTypeImage) {
                fileType_ = sequenceFiles_.empty() ? kFileTypeImage : kFileTypeImageSequence;
                int w = 0, h = 0, n = 0;
                FILE* file = openForReading(readableMedia(mainFile_));
                if (file && stbi_info_from_file(file, &w, &h, &n)) {
                    width_ = w;
                    height_ = h;
                } else {
                    QVPrint("AVSource %s: cannot read image %s", key_.c_str(), mainFile_.c_str());
                }
                if (file) fclose(file);
            } else {
                fileType_ = kFileTypeNone;
                if (!mainFile_.empty()) {
                    QVPrint("AVSource %s: unknown media type %s", key_.c_str(), mainFile_.c_str());
                }
            }
            colorFormat_ = kColorFormatRGBA;
            break;
        }
        case kSourceTypeComp:
            compSize(comp_, &width_, &height_);
            colorFormat_ = kColorFormatRGBA;
            break;
        case kSourceTypeProvider:
            if (provider_) adoptProviderMetadata();
            colorFormat_ = kColorFormatRGBA;
            break;
        default:
            break;
    }
}

void AVSource::prepareRotatePass() {
    if (rotatePass_ || !provider_) return;
    const VideoSourceMetadata& metadata = provider_->getMetadata();
    double rotation = std::isfinite(metadata.rotation) ? metadata.rotation : 0.0;
    int64_t angle = static_cast<int64_t>(std::fmod(rotation, 360.0));
    angle = ((angle % 360) + 360) % 360;
    if (angle >= 46 && angle <= 315) {
        RotationType type = angle < 136 ? Rotation90 : (angle < 226 ? Rotation180 : Rotation270);
        rotatePass_ = new RotateRenderPass(metadata.width, metadata.height, type);
        width_ = rotatePass_->width();
        height_ = rotatePass_->height();
    } else {
        width_ = metadata.width;
        height_ = metadata.height;
    }
    if ((width_ <= 0 || height_ <= 0) && context_) context_->sourceFailed(this);
}

int AVSource::mapFrame(int frame) const {
    const float contextFps = context_ ? context_->frameRate() : 0.0f;
    if (fps_ == 0.0f || !(contextFps > 0.0f)) return frame;
    float mapped = roundf(static_cast<float>(frame) / contextFps * fps_);
    if (!std::isfinite(mapped)) return frame;
    return static_cast<int>(
        std::clamp(mapped, static_cast<float>(INT_MIN), static_cast<float>(INT_MAX) - 128.0f));
}

void AVSource::storeFrames(int layerFrame, int sourceFrame) {
    lastLayerFrame_ = layerFrame;
    lastSourceFrame_ = sourceFrame;
}

void AVSource::uploadProviderFrame() {
    if (!provider_->updateTextureWithCurrentFrameData(&texture_)) return;
    if (rotatePass_) {
        rotatePass_->prepareForFrame(0);
        rotatePass_->draw(texture_);
    }
}

void AVSource::updateFromProvider(int frame) {
    const long count = streamFrameCount(provider_->getMetadata());
    const int sourceFrame = mapFrame(frame);
    if (count == 0) {
        // No usable length (no container duration, or a start at or past the
        // end): show the first frame that decodes, once, and keep it.
        if (lastSourceFrame_ < 0) {
            // The provider is fresh here (an unload deletes it), so its next
            // frame is its first; such inputs often cannot seek at all.
            if (provider_->readNextFrame(0) || provider_->seekToFrame(0)) uploadProviderFrame();
        }
        storeFrames(frame, 0);
        return;
    }
    if (sourceFrame == lastSourceFrame_) {
        lastLayerFrame_ = frame;
        return;
    }
    const long index = wrapIndex(sourceFrame, count);
    const long lastIndex = lastSourceFrame_ < 0 ? -2 : wrapIndex(lastSourceFrame_, count);
    if (index == lastIndex + 1) {
        if (!provider_->readNextFrame(index)) return;
    } else {
        provider_->seekToFrame(index);
    }
    storeFrames(frame, sourceFrame);
    uploadProviderFrame();
}

void AVSource::updateFromLiveProvider(int frame) {
    if (frame != lastLayerFrame_ + 1) {
        provider_->seekToFrame(frame);
        storeFrames(frame, frame);
        uploadProviderFrame();
        return;
    }
    if (!provider_->readNextFrame(frame)) {
        if (!provider_->seekToFrame(0)) return;
        storeFrames(0, 0);
    }
    storeFrames(lastLayerFrame_ + 1, lastSourceFrame_ + 1);
    uploadProviderFrame();
}

void AVSource::updateImageSequence(int frame) {
    if (sequenceFiles_.empty()) return;
    const int sourceFrame = mapFrame(frame);
    if (sourceFrame == lastSourceFrame_) {
        lastLayerFrame_ = frame;
        return;
    }
    const uint64_t index = static_cast<uint64_t>(static_cast<int64_t>(sourceFrame)) % sequenceFiles_.size();
    updateImageTexture(sequenceFiles_[index]);
    storeFrames(frame, sourceFrame);
}

void AVSource::updateStillImage(int frame) {
    if (texture_ == 0) {
        if (mainFile_.empty() && memoryBytes_) {
            updateImageTexture(reinterpret_cast<const unsigned char*>(memoryBytes_), memoryLength_);
        } else {
            updateImageTexture(mainFile_);
        }
    }
    storeFrames(frame, mapFrame(frame));
}

void AVSource::updateSolid(int frame) {
    if (texture_ == 0 && width_ > 0 && height_ > 0) {
        // One colour fills the texture, so one no larger than GL takes draws
        // the same over the layer's whole size; a larger one would reach the
        // driver unchecked.
        GLint maxSide = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
        const int side = maxSide > 0 ? static_cast<int>(maxSide) : 1;
        const int texWidth = std::min(width_, side), texHeight = std::min(height_, side);
        if (texWidth != width_ || texHeight != height_) {
            QVPrint("solid %s of %d x %d is kept in a %d x %d texture", key_.c_str(), width_, height_, texWidth,
                    texHeight);
        }
        texture_ = createEmptyTexture(texWidth, texHeight, true);
        // Every texel is the same colour, so any filter reads exactly that
        // colour; the nearest texel is the cheapest to fetch.
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glBindTexture(GL_TEXTURE_2D, 0);
        auto* destination = new GLRenderDestination(texWidth, texHeight, static_cast<int>(texture_), false, -1);
        GLFrameBufferManager* manager = context_ ? context_->frameBufferManager() : nullptr;
        GLint previous = 0;
        if (manager) {
            manager->pushDestination(destination);
        } else {
            glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
            destination->bindDestination();
        }
        glClearColor(color_.r, color_.g, color_.b, color_.a);
        glClear(GL_COLOR_BUFFER_BIT);
        if (manager) {
            manager->popDestination(false);
        } else {
            glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
        }
        delete destination;
    }
    storeFrames(frame, frame);
}

void AVSource::update(int frame, bool force, RenderPass* user) {
    if (users_.empty()) return;
    // A layer asks once when it stops showing the source, not on every frame
    // it is hidden: the other users' requests stand until they show it again.
    if (user)
        unloadRequests_.erase(user);
    else
        unloadRequests_.clear();
    if (frame == lastLayerFrame_) return;
    switch (sourceType_) {
        case kSourceTypeFile:
            if (fileType_ == kFileTypeVideo) {
                if (!provider_) createVideoProvider();
                prepareRotatePass();
                updateFromProvider(frame);
            } else if (fileType_ == kFileTypeImageSequence) {
                updateImageSequence(frame);
            } else if (fileType_ == kFileTypeImage) {
                updateStillImage(frame);
            }
            break;
        case kSourceTypeComp:
            compShowFrame(comp_, frame, force);
            storeFrames(frame, frame);
            break;
        case kSourceTypeSolid:
            updateSolid(frame);
            break;
        case kSourceTypeProvider:
            if (!provider_) break;
            prepareRotatePass();
            if (streamFrameCount(provider_->getMetadata()) != 0) {
                updateFromProvider(frame);
            } else {
                updateFromLiveProvider(frame);
            }
            break;
        case kSourceTypeTexture:
            break;
    }
}

unsigned int AVSource::glTexture() {
    if (sourceType_ == kSourceTypeComp) return compOutputTexture(comp_);
    if (rotatePass_) return rotatePass_->getRotatedTexture();
    return texture_;
}

void AVSource::useThisSource(RenderPass* pass) {
    if (userSet_.insert(pass).second) users_.push_back(pass);
}

void AVSource::unuseThisSource(RenderPass* pass) {
    unloadRequests_.erase(pass);
    if (userSet_.erase(pass) == 0) return;
    // Searched from the end: the latest users (a dynamic template's tiles,
    // dropped last first) go first.
    users_.erase(std::prev(std::find(users_.rbegin(), users_.rend(), pass).base()));
}

void AVSource::unload(RenderPass* pass) {
    if (users_.empty()) {
        forceUnload(true);
        return;
    }
    if (userSet_.count(pass) == 0) return;
    if (!unloadRequests_.insert(pass).second) return;
    if (unloadRequests_.size() >= users_.size()) forceUnload(true);
}

void AVSource::forceUnload(bool withComp) {
    if (sourceType_ != kSourceTypeTexture && texture_ != 0) {
        glDeleteTextures(1, &texture_);
        texture_ = 0;
        textureWidth_ = textureHeight_ = 0;
    }
    if (sourceType_ == kSourceTypeComp && withComp) compUnprepare(comp_);
    if (sourceType_ == kSourceTypeFile) {
        delete provider_;
        provider_ = nullptr;
    }
    releasePicture();
    delete rotatePass_;
    rotatePass_ = nullptr;
    // Both frames are forgotten: with only the layer frame reset, an update
    // that maps to the same source frame would keep the deleted texture away.
    lastLayerFrame_ = -1;
    lastSourceFrame_ = -1;
}

TimeUnit AVSource::sourceDuration() {
    const float contextFps = context_ ? context_->frameRate() : 0.0f;
    if (sourceType_ == kSourceTypeComp) return compDuration(comp_, contextFps);
    if (sourceType_ == kSourceTypeFile && fileType_ == kFileTypeImageSequence) {
        return TimeUnit(static_cast<long long>(sequenceFiles_.size()), contextFps);
    }
    const bool video = sourceType_ == kSourceTypeFile && fileType_ == kFileTypeVideo;
    if (sourceType_ == kSourceTypeProvider && provider_) {
        return TimeUnit(streamFrameCount(provider_->getMetadata()), contextFps);
    }
    if (video) return TimeUnit(streamFrames_, contextFps);
    return TimeUnit(1, contextFps);
}

bool AVSource::hasAnimatedSource() {
    switch (sourceType_) {
        case kSourceTypeComp:
            return compHasAnimation(comp_);
        case kSourceTypeProvider:
            return true;
        case kSourceTypeFile:
            return fileType_ == kFileTypeVideo ||
                   (fileType_ == kFileTypeImageSequence && sequenceFiles_.size() >= 2);
        default:
            return false;
    }
}

void AVSource::setMainMediaFile(const std::string& path) {
    if (sourceType_ != kSourceTypeFile) return;
    mainFile_ = path;
    forceUnload(true);
    loadSourceInfo();
}

void AVSource::setImageSequenceFiles(const std::vector<std::string>& files) {
    if (sourceType_ != kSourceTypeFile || fileType_ != kFileTypeImageSequence || files.empty()) return;
    sequenceFiles_ = files;
    setMainMediaFile(files.front());
}

void AVSource::setSourceComp(RenderComp* comp) {
    if (sourceType_ != kSourceTypeComp || !comp) return;
    comp_ = comp;
    loadSourceInfo();
}

void AVSource::setMainTexture(unsigned int texture) {
    if (sourceType_ == kSourceTypeTexture) texture_ = texture;
}

std::string AVSource::getFullFilePath(int index) const {
    if (fileType_ != kFileTypeImageSequence || sequenceFiles_.empty()) return mainFile_;
    if (index < 0) return sequenceFiles_.front();
    if (static_cast<size_t>(index) >= sequenceFiles_.size()) return sequenceFiles_.back();
    return sequenceFiles_[static_cast<size_t>(index)];
}

unsigned int AVSource::createEmptyTexture(int width, int height, bool /*alpha*/) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    setTextureParameters();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

void AVSource::ensureFallbackTexture() {
    // An image that cannot be decoded shows as one transparent pixel, so that
    // glTexture() always names a complete texture.
    if (texture_ != 0) return;
    const unsigned char clear[4] = {0, 0, 0, 0};
    texture_ = createEmptyTexture(1, 1, true);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, clear);
    glBindTexture(GL_TEXTURE_2D, 0);
    textureWidth_ = textureHeight_ = 1;
}

bool AVSource::uploadDecodedImage(unsigned char* pixels, int width, int height, int components) {
    // The file's own layout is uploaded as it is, so every component count
    // reads exactly width x height x components bytes.
    static const GLenum kFormats[] = {GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
    components = std::clamp(components, 1, 4);
    const GLenum format = kFormats[components - 1];
    // A texture larger than the driver allows would stay empty: shrink the
    // image to fit (the layer still draws it at the image's own size).
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    std::vector<unsigned char> shrunk;
    if (maxSize > 0 && (width > maxSize || height > maxSize)) {
        const int newWidth = std::min(width, maxSize), newHeight = std::min(height, maxSize);
        QVPrint("AVSource %s: image of %dx%d shrunk to %dx%d, the largest texture size", key_.c_str(), width,
                height, newWidth, newHeight);
        shrunk = shrinkImage(pixels, width, height, components, newWidth, newHeight);
        stbi_image_free(pixels);
        pixels = nullptr;
        width = newWidth;
        height = newHeight;
    }
    const unsigned char* data = pixels ? pixels : shrunk.data();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (texture_ != 0 && width == textureWidth_ && height == textureHeight_) {
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_UNSIGNED_BYTE, data);
    } else {
        if (texture_ == 0) glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        setTextureParameters();
        glTexImage2D(GL_TEXTURE_2D, 0, format == GL_RGB ? GL_RGB : GL_RGBA, width, height, 0, format,
                     GL_UNSIGNED_BYTE, data);
        textureWidth_ = width;
        textureHeight_ = height;
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    stbi_image_free(pixels);
    return true;
}

bool AVSource::uploadStreamedImage(ImageStream& stream) {
    const int width = stream.width(), height = stream.height();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    int newWidth = width, newHeight = height;
    if (maxSize > 0 && (width > maxSize || height > maxSize)) {
        newWidth = std::min(width, maxSize);
        newHeight = std::min(height, maxSize);
        QVPrint("AVSource %s: image of %dx%d shrunk to %dx%d, the largest texture size", key_.c_str(), width,
                height, newWidth, newHeight);
    }
    // The rows go to a texture of their own: a picture whose rows break off
    // is then drawn as any undecodable picture is, the one shown before kept
    // (or the transparent pixel when there was none).
    GLuint target = 0;
    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    setTextureParameters();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, newWidth, newHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Rows are averaged in boxes as shrinkImage does, band by band: the
    // boxes of one output row take source rows that no other row takes.
    const bool shrink = newWidth != width || newHeight != height;
    const size_t outStride = static_cast<size_t>(newWidth) * 4;
    std::vector<unsigned char> row(shrink ? static_cast<size_t>(width) * 4 : 0);
    std::vector<unsigned char> band(outStride * kBandRows);
    std::vector<unsigned> sums(shrink ? outStride : 0);
    bool ok = true;
    int bandStart = 0, bandRows = 0;
    for (int y = 0; y < newHeight && ok; ++y) {
        unsigned char* out = &band[bandRows * outStride];
        if (!shrink) {
            ok = stream.readRow(out);
        } else {
            const int64_t y0 = int64_t(y) * height / newHeight;
            const int64_t y1 = std::max(y0 + 1, int64_t(y + 1) * height / newHeight);
            std::fill(sums.begin(), sums.end(), 0u);
            for (int64_t sy = y0; sy < y1 && ok; ++sy) {
                ok = stream.readRow(row.data());
                for (int x = 0; x < newWidth && ok; ++x) {
                    const int64_t x0 = int64_t(x) * width / newWidth;
                    const int64_t x1 = std::max(x0 + 1, int64_t(x + 1) * width / newWidth);
                    for (int64_t i = x0 * 4; i < x1 * 4; ++i) sums[x * 4 + i % 4] += row[i];
                }
            }
            for (int x = 0; x < newWidth; ++x) {
                const int64_t x0 = int64_t(x) * width / newWidth;
                const int64_t x1 = std::max(x0 + 1, int64_t(x + 1) * width / newWidth);
                const unsigned count = static_cast<unsigned>((y1 - y0) * (x1 - x0));
                for (int c = 0; c < 4; ++c)
                    out[x * 4 + c] = static_cast<unsigned char>((sums[x * 4 + c] + count / 2) / count);
            }
        }
        if (ok && (++bandRows == kBandRows || y + 1 == newHeight)) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, bandStart, newWidth, bandRows, GL_RGBA, GL_UNSIGNED_BYTE,
                            band.data());
            bandStart += bandRows;
            bandRows = 0;
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (!ok) {
        // Half a picture is no picture.
        glDeleteTextures(1, &target);
        return false;
    }
    if (texture_ != 0) glDeleteTextures(1, &texture_);
    texture_ = target;
    textureWidth_ = newWidth;
    textureHeight_ = newHeight;
    return true;
}

bool AVSource::updateImageTexture(const std::string& path) {
    int w = 0, h = 0, n = 0;
    const int desired = desiredComponents(colorFormat_);
    unsigned char* pixels = nullptr;
    bool streamed = false;
    FILE* file = openForReading(readableMedia(path));
    if (file) {
        // PNG goes row by row into the texture, held there only;
        // other files are decoded whole, then uploaded.
        std::unique_ptr<ImageStream> stream = desired == 4 ? ImageStream::open(file) : nullptr;
        if (stream) {
            streamed = chargePicture(stream->width(), stream->height(), 1, "image " + path) &&
                       uploadStreamedImage(*stream);
        } else if (fseek(file, 0, SEEK_SET) == 0 && stbi_info_from_file(file, &w, &h, &n) &&
                   chargePicture(w, h, 1, "image " + path)) {
            pixels = stbi_load_from_file(file, &w, &h, &n, desired);
        }
        fclose(file);
    }
    if (streamed) return true;
    if (!pixels) {
        QVPrint("AVSource %s: cannot decode image %s", key_.c_str(), path.c_str());
        decodeFailed_ = true;
        if (context_) context_->sourceFailed(this);
        releasePicture();
        ensureFallbackTexture();
        return false;
    }
    return uploadDecodedImage(pixels, w, h, desired ? desired : n);
}

bool AVSource::updateImageTexture(const unsigned char* bytes, int64_t length) {
    int w = 0, h = 0, n = 0;
    const int desired = desiredComponents(colorFormat_);
    unsigned char* pixels = nullptr;
    if (bytes && length > 0 && length <= INT_MAX &&
        stbi_info_from_memory(bytes, static_cast<int>(length), &w, &h, &n) && chargePicture(w, h, 1, "image")) {
        pixels = stbi_load_from_memory(bytes, static_cast<int>(length), &w, &h, &n, desired);
    }
    if (!pixels) {
        QVPrint("AVSource %s: cannot decode image bytes", key_.c_str());
        decodeFailed_ = true;
        if (context_) context_->sourceFailed(this);
        releasePicture();
        ensureFallbackTexture();
        return false;
    }
    return uploadDecodedImage(pixels, w, h, desired ? desired : n);
}

}  // namespace Core
}  // namespace Quorvane
