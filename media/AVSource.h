// One piece of layer media as a GL texture per frame: a video file, a still
// image (file or encoded bytes in memory), an image sequence, a composition, a
// solid colour, a GL texture handed in by the host, or a custom frame provider.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Color.h"
#include "core/TimeUnit.h"
#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

class AVSource;
class BaseVideoSourceProvider;
class GLFrameBufferManager;
class ImageStream;
class InputScope;
class RenderComp;
class RenderPass;
class RotateRenderPass;
struct GLContext;

// Bytes of decoded pictures that one render holds at once. A picture is
// charged before its pixels are decoded, from the size its header gives: a
// file of a few kilobytes can announce gigabytes of pixels. 2 GiB takes two
// 16384 x 16384 pictures, or two phone photos of 200 megapixels and more.
class PictureBudget {
public:
    static constexpr uint64_t kDefaultBytes = 2ull << 30;
    explicit PictureBudget(uint64_t limit = kDefaultBytes) : limit_(limit) {}
    // False, holding nothing more, when the bytes would pass the limit.
    bool reserve(uint64_t bytes);
    void release(uint64_t bytes);
    uint64_t held() const { return held_; }
    uint64_t limit() const { return limit_; }

private:
    uint64_t limit_;
    uint64_t held_ = 0;
};

// What a source needs of the render context that owns it. The render context
// implements it; sources only ever reach their owner through it.
class AVSourceContext {
public:
    // Takes ownership; a key that is already registered keeps its first source.
    virtual void addSource(AVSource* source) = 0;
    // Frames per second of the render; layer frames count at this rate.
    virtual float frameRate() const = 0;
    virtual GLContext* glContext() = 0;
    virtual GLFrameBufferManager* frameBufferManager() = 0;
    // The files and the picture memory the render allows; none: no limit.
    virtual const InputScope* inputScope() const { return nullptr; }
    virtual PictureBudget* pictureBudget() { return nullptr; }
    // A source found its file undecodable or without a size after it was
    // made, so that the render need not ask every source after every frame.
    virtual void sourceFailed(const AVSource* source) { (void)source; }

protected:
    ~AVSourceContext() = default;
};

class AVSource : public GLBase {
public:
    enum ColorFormat {
        kColorFormatNone = 0,
        kColorFormatRGB24 = 1,
        kColorFormatRGBA = 2,
        kColorFormatYUV420P = 3
    };
    enum FileType { kFileTypeNone = 0, kFileTypeVideo = 1, kFileTypeImage = 2, kFileTypeImageSequence = 3 };
    enum SourceType {
        kSourceTypeFile = 1,
        kSourceTypeTexture = 2,
        kSourceTypeComp = 3,
        kSourceTypeSolid = 4,
        kSourceTypeProvider = 5,
    };

    // Every constructor registers the source with the context (addSource).
    // An encoded image in memory; the bytes are borrowed and must outlive the source.
    AVSource(std::string key, AVSourceContext* context, const char* bytes, int64_t length);
    // A texture of the host, borrowed.
    AVSource(std::string key, AVSourceContext* context, unsigned int texture, ColorFormat format, int width,
             int height);
    AVSource(std::string key, AVSourceContext* context, const Color& color, int width, int height);
    // A video or still image file; a frame rate of 0 shows source frame n at layer frame n.
    AVSource(std::string key, AVSourceContext* context, const std::string& path, float fps);
    // Frames of the host's provider, which stays the host's.
    AVSource(std::string key, AVSourceContext* context, BaseVideoSourceProvider* provider, float fps);
    // Layer frame n shows file n modulo the count.
    AVSource(std::string key, AVSourceContext* context, const std::vector<std::string>& files, float fps);
    AVSource(std::string key, AVSourceContext* context, RenderComp* comp);
    // A new unique key, the same media; GL data is loaded again on first update.
    AVSource(const AVSource& other);
    AVSource& operator=(const AVSource&) = delete;
    virtual ~AVSource();

    // Brings the source to a layer frame; does nothing without users. The
    // user that asks takes back its unload request; without one, every
    // request is dropped.
    void update(int frame, bool force, RenderPass* user = nullptr);
    unsigned int glTexture();

    void useThisSource(RenderPass* pass);
    void unuseThisSource(RenderPass* pass);
    bool noneUseThisSource() const { return users_.empty(); }
    std::vector<RenderPass*> passesUseThisSource() const { return users_; }
    // The GL data goes once every user has asked (and not updated since).
    void unload(RenderPass* pass);
    void forceUnload(bool withComp);

    // Length at the context's frame rate.
    TimeUnit sourceDuration();
    bool hasAnimatedSource();

    int width() const { return width_; }
    int height() const { return height_; }
    float pixelAspectRatio() const { return pixelAspectRatio_; }
    FileType fileType() const { return fileType_; }
    SourceType sourceType() const { return sourceType_; }
    const Color& sourceColor() const { return color_; }
    RenderComp* sourceComp() const { return comp_; }
    const std::string& key() const { return key_; }
    const std::string& mainFile() const { return mainFile_; }
    const std::vector<std::string>& imageSequenceFils() const { return sequenceFiles_; }
    const std::string& getConfigJson() const { return configJson_; }
    void setConfigJson(const std::string& text) { configJson_ = text; }
    void setFps(float fps) { fps_ = fps; }

    void setMainMediaFile(const std::string& path);
    void setImageSequenceFiles(const std::vector<std::string>& files);
    void setSourceComp(RenderComp* comp);
    void setMainTexture(unsigned int texture);

    // For a sequence the file at the index (clamped to the list); otherwise the main file.
    std::string getFullFilePath(int index) const;
    // An image file or image bytes of this source could not be read, were
    // refused or did not decode whole since it was made.
    bool decodeFailed() const { return decodeFailed_; }

private:
    AVSource(std::string key, AVSourceContext* context, SourceType type, float fps);
    void loadSourceInfo();
    void createVideoProvider();
    void adoptProviderMetadata();
    void prepareRotatePass();
    int mapFrame(int frame) const;
    void updateFromProvider(int frame);
    void updateFromLiveProvider(int frame);
    void uploadProviderFrame();
    void updateImageSequence(int frame);
    void updateStillImage(int frame);
    void updateSolid(int frame);
    bool updateImageTexture(const std::string& path);
    bool updateImageTexture(const unsigned char* bytes, int64_t length);
    bool uploadDecodedImage(unsigned char* pixels, int width, int height, int components);
    bool uploadStreamedImage(ImageStream& stream);
    void ensureFallbackTexture();
    unsigned int createEmptyTexture(int width, int height, bool alpha);
    void storeFrames(int layerFrame, int sourceFrame);
    // The name to open a media file by, or "" (logged) when it may not be read.
    std::string readableMedia(const std::string& path) const;
    // Charges the budget for a picture of that size, in place of the one
    // held; false, with a log line, when it does not fit.
    bool chargePicture(int64_t width, int64_t height, int copies, const std::string& what);
    void releasePicture();

    // The users that have asked to unload and not updated since.
    std::unordered_set<RenderPass*> unloadRequests_;
    // In the order they came, and as a set: a background is tiled in up to
    // 65536 layers of one source.
    std::vector<RenderPass*> users_;
    std::unordered_set<RenderPass*> userSet_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    float fps_ = 0.0f;
    std::string key_;
    std::string mainFile_;
    const char* memoryBytes_ = nullptr;
    int64_t memoryLength_ = 0;
    std::string configJson_;
    std::vector<std::string> sequenceFiles_;
    unsigned int texture_ = 0;
    int32_t lastLayerFrame_ = -1;
    int32_t lastSourceFrame_ = -1;
    BaseVideoSourceProvider* provider_ = nullptr;
    RotateRenderPass* rotatePass_ = nullptr;
    ColorFormat colorFormat_ = kColorFormatRGBA;
    FileType fileType_ = kFileTypeNone;
    SourceType sourceType_ = kSourceTypeFile;
    Color color_;
    RenderComp* comp_ = nullptr;
    float pixelAspectRatio_ = 1.0f;
    AVSourceContext* context_ = nullptr;
    // Frames of the video stream, kept while the provider is unloaded.
    long streamFrames_ = 0;
    // Size of the texture as last specified, so a file of another size is
    // re-specified instead of written past the texture's edge.
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    uint64_t pictureBytes_ = 0;
    bool decodeFailed_ = false;
};

}  // namespace Core
}  // namespace Quorvane
